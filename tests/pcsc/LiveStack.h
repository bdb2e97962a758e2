#pragma once
// A test's handle on the live reader stack that tests/pcsc/livestack.py runs it in:
// pcscd with the vpcd driver (readers "Virtual PCD 00 00" and "Virtual PCD 00 01") and
// virtual cards on loopback. Requests go over the supervisor's control socket
// (LIVESTACK_CTL); the card state is read from the service itself through pcsc-lite.
//
//   LiveStack::Request("insert-card 0");  LiveStack::WaitForCard(kReader0, true);
//
// A program using it runs as `livestack.py run [--card SLOT] -- PROGRAM`; see the CMake
// file of this folder for the CTest form.
#include <string>

namespace LiveStack {

constexpr const char* kReader0 = "Virtual PCD 00 00";
constexpr const char* kReader1 = "Virtual PCD 00 01";

// True when the program runs under the supervisor.
bool Available();

// Sends one request ("stop-service", "start-service", "insert-card 0", "insert-card 0 mute",
// "remove-card 0", "service-pid") and returns the supervisor's reply, "ok", "ok DETAIL" or
// "error ...". Safe to call from a second thread while the first waits in the library.
std::string Request(const std::string& request);

// pcscd's process id, or 0 when the service does not run.
int ServicePid();

// The number of entries of a folder such as /proc/self/fd or /proc/PID/task; -1 when it
// cannot be read.
int CountEntries(const std::string& folder);

// Milliseconds of a monotonic clock.
long long NowMs();

// Waits up to timeoutMs until the service reports the reader with (present) or without
// a card; false when it did not within the time.
bool WaitForCard(const char* reader, bool present, int timeoutMs = 10000);

// Brings the stack to where each test starts: the service running and both readers
// empty. Returns "" when it is there, otherwise the step that failed and its reply.
std::string StartWithEmptyReaders();

}  // namespace LiveStack
