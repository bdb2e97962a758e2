// The PC/SC reader library loaded, used and unloaded many times in one process, as the
// dialog does once per opening, against a live stack. Its own program: a library that a
// test elsewhere made stay loaded would hide what an unload leaves behind.
#include <PCSC/winscard.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "LiveStack.h"
#include "ReaderLibrary.h"

namespace {

using LiveStack::kReader0;
using LiveStack::kReader1;

constexpr int kRounds = 300;

struct TCounts {
  int processFds;
  int serviceThreads;  // pcscd runs one thread per client connection
  int serviceFds;
};

TCounts Count(int servicePid) {
  const std::string service = "/proc/" + std::to_string(servicePid);
  return {LiveStack::CountEntries("/proc/self/fd"), LiveStack::CountEntries(service + "/task"),
          LiveStack::CountEntries(service + "/fd")};
}

// pcscd ends a client's thread a moment after the client closed its connection.
TCounts SettledCounts(int servicePid, const TCounts& baseline) {
  TCounts counts = Count(servicePid);
  const long long deadline = LiveStack::NowMs() + 5000;
  while (LiveStack::NowMs() < deadline && (counts.serviceThreads > baseline.serviceThreads ||
                                           counts.serviceFds > baseline.serviceFds)) {
    usleep(50 * 1000);
    counts = Count(servicePid);
  }
  return counts;
}

// The counts once pcscd has ended the threads of clients that have gone before (the
// round before the counting, the card waits): unchanged for half a second, within 5 s.
TCounts StableCounts(int servicePid) {
  TCounts counts = Count(servicePid);
  int unchanged = 0;
  const long long deadline = LiveStack::NowMs() + 5000;
  while (unchanged < 5 && LiveStack::NowMs() < deadline) {
    usleep(100 * 1000);
    const TCounts now = Count(servicePid);
    const bool same = now.processFds == counts.processFds &&
                      now.serviceThreads == counts.serviceThreads &&
                      now.serviceFds == counts.serviceFds;
    unchanged = same ? unchanged + 1 : 0;
    counts = now;
  }
  return counts;
}

// Another program asks the service for its readers: 0 when it got both, else a code.
int ListInAnotherProcess() {
  pid_t child = fork();
  if (child == 0) {
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS)
      _exit(2);
    char names[512] = {};
    DWORD length = sizeof names;
    LONG rv = SCardListReaders(context, nullptr, names, &length);
    SCardReleaseContext(context);
    if (rv != SCARD_S_SUCCESS) _exit(3);
    const std::string list(names, length);
    _exit(list.find(kReader0) != std::string::npos && list.find(kReader1) != std::string::npos ? 0
                                                                                               : 4);
  }
  if (child < 0) return -1;
  const long long deadline = LiveStack::NowMs() + 10000;
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (LiveStack::NowMs() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return -2;
    }
    usleep(20 * 1000);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -3;
}

TEST(PcscUnload, ThreeHundredLoadsLeaveNothingOpenInTheProcessOrTheService) {
  ASSERT_TRUE(LiveStack::Available()) << "run this program under tests/pcsc/livestack.py";
  ASSERT_EQ(LiveStack::Request("start-service"), "ok");
  ASSERT_EQ(LiveStack::Request("remove-card 1"), "ok");
  ASSERT_EQ(LiveStack::Request("insert-card 0"), "ok");
  ASSERT_TRUE(LiveStack::WaitForCard(kReader0, true));
  const int servicePid = LiveStack::ServicePid();
  ASSERT_GT(servicePid, 0);

  // One round the way every later one goes, so that whatever pcsc-lite opens once per
  // process is open before the counting starts.
  auto round = [](int index) {
    ReaderLibrary lib(ReaderLibrary::InstalledPath());
    std::vector<char> names(kReaderListSize);
    int32_t listed = lib.ListReaders(names.data());
    std::vector<char> area(kConnectAreaSize);
    int32_t connected = lib.ConnectReader(kReader0, area.data());
    // Every other round leaves its card connected: the unload releases it as well.
    if (index % 2 == 0) lib.DisConnectReader();
    return std::make_pair(listed, connected);
  };
  ASSERT_EQ(round(0), std::make_pair(0, 0));
  const TCounts before = StableCounts(servicePid);

  int failedRounds = 0;
  std::pair<int32_t, int32_t> firstFailure{0, 0};
  for (int i = 1; i <= kRounds; ++i) {
    std::pair<int32_t, int32_t> codes = round(i);
    if (codes != std::make_pair(0, 0) && failedRounds++ == 0) firstFailure = codes;
  }
  EXPECT_EQ(failedRounds, 0) << "first failing round's list and connect codes: " << std::hex
                             << firstFailure.first << ", " << firstFailure.second;

  const TCounts after = SettledCounts(servicePid, before);
  RecordProperty("process_fds",
                 std::to_string(before.processFds) + " -> " + std::to_string(after.processFds));
  RecordProperty("service_threads", std::to_string(before.serviceThreads) + " -> " +
                                        std::to_string(after.serviceThreads));
  RecordProperty("service_fds",
                 std::to_string(before.serviceFds) + " -> " + std::to_string(after.serviceFds));
  EXPECT_EQ(after.processFds, before.processFds);
  EXPECT_EQ(after.serviceThreads, before.serviceThreads);
  EXPECT_EQ(after.serviceFds, before.serviceFds);

  EXPECT_EQ(ListInAnotherProcess(), 0);
  // No round's card is still held: another program gets the card for itself.
  SCARDCONTEXT other = 0;
  ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &other), SCARD_S_SUCCESS);
  SCARDHANDLE card = 0;
  DWORD protocol = 0;
  EXPECT_EQ(SCardConnect(other, kReader0, SCARD_SHARE_EXCLUSIVE,
                         SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol),
            SCARD_S_SUCCESS);
  SCardDisconnect(card, SCARD_LEAVE_CARD);
  SCardReleaseContext(other);
}

}  // namespace
