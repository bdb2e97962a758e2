#include "LiveStack.h"

#include <PCSC/winscard.h>
#include <dirent.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

namespace LiveStack {

bool Available() { return std::getenv("LIVESTACK_CTL") != nullptr; }

std::string Request(const std::string& request) {
  const char* path = std::getenv("LIVESTACK_CTL");
  if (!path) return "error LIVESTACK_CTL is not set";
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return "error socket";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path, sizeof address.sun_path - 1);
  // The supervisor bounds each request by its own timeouts; a reply always comes.
  timeval limit{30, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  std::string reply;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    std::string line = request + "\n";
    if (write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size())) {
      char chunk[256];
      ssize_t got;
      while ((got = read(fd, chunk, sizeof chunk)) > 0) reply.append(chunk, got);
    }
  }
  close(fd);
  while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) reply.pop_back();
  return reply.empty() ? "error no reply" : reply;
}

int ServicePid() {
  const std::string reply = Request("service-pid");
  if (reply.rfind("ok ", 0) != 0) return 0;
  return std::atoi(reply.c_str() + 3);
}

int CountEntries(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return -1;
  int count = 0;
  while (const dirent* entry = readdir(dir))
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) ++count;
  closedir(dir);
  return count;
}

long long NowMs() {
  // <chrono> does not compile under the project's code-page-936 execution charset.
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool WaitForCard(const char* reader, bool present, int timeoutMs) {
  const long long deadline = NowMs() + timeoutMs;
  while (NowMs() < deadline) {
    // A context of its own each round: the service may have restarted since the last.
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) == SCARD_S_SUCCESS) {
      SCARD_READERSTATE state{};
      state.szReader = reader;
      state.dwCurrentState = SCARD_STATE_UNAWARE;
      LONG rv = SCardGetStatusChange(context, 0, &state, 1);
      SCardReleaseContext(context);
      if (rv == SCARD_S_SUCCESS) {
        bool has = (state.dwEventState & SCARD_STATE_PRESENT) != 0 &&
                   (state.dwEventState & SCARD_STATE_MUTE) == 0;
        if (has == present) return true;
      }
    }
    usleep(50 * 1000);
  }
  return false;
}

std::string StartWithEmptyReaders() {
  for (const char* request : {"start-service", "remove-card 0", "remove-card 1"}) {
    const std::string reply = Request(request);
    if (reply != "ok") return std::string(request) + ": " + reply;
  }
  for (const char* reader : {kReader0, kReader1}) {
    if (!WaitForCard(reader, false)) return std::string(reader) + " still has a card";
  }
  return "";
}

}  // namespace LiveStack
