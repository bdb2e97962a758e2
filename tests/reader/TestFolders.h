#pragma once
// Temporary folders of test worlds, named after the process that made them:
// "rs-<kind>-<process id>.<its start>-<stamp>". A world removes its folder when it ends, but a
// reader library the module marked faulted is never unloaded, and on Windows the folder holding a
// loaded library cannot be removed while its process runs. So each new world first removes
// the folders that processes which have ended left behind.
//
//   const fs::path root = MakeTestFolder("dialog");   // %TEMP%\rs-dialog-4242.1337-...
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>

#include <cerrno>
#include <csignal>
#endif

namespace testfolders {

// A running process as test folders name it: its id and when it started (process ids are
// used again, soon under Wine).
struct TProcessMark {
  unsigned long Id = 0;
  unsigned long long Start = 0;
  friend bool operator==(const TProcessMark&, const TProcessMark&) = default;
};

// The start of the process of that id while it runs; 0 when no such process runs, and
// ~0 when it cannot be told (a folder in use is then never taken for left behind).
inline unsigned long long ProcessStart(unsigned long pid) {
#if defined(_WIN32)
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER ? 0 : ~0ull;
  FILETIME created{}, exited{}, kernel{}, user{};
  DWORD code = 0;
  unsigned long long start = ~0ull;
  if (GetExitCodeProcess(process, &code) && code != STILL_ACTIVE) {
    start = 0;
  } else if (GetProcessTimes(process, &created, &exited, &kernel, &user)) {
    start = (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
  }
  CloseHandle(process);
  return start;
#else
  // Field 22 of /proc/<pid>/stat, after the command in parentheses.
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(stat, text))
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH ? ~0ull : 0;
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return ~0ull;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  for (int i = 3; i < 22 && fields >> field; ++i) {
  }
  unsigned long long start = 0;
  return fields >> start ? start : ~0ull;
#endif
}

inline TProcessMark CurrentProcess() {
#if defined(_WIN32)
  const unsigned long id = GetCurrentProcessId();
#else
  const unsigned long id = static_cast<unsigned long>(getpid());
#endif
  return {id, ProcessStart(id)};
}

// The process mark in a test folder's name ("rs-<kind>-<id>.<start>-..."); false when the
// name is not one of ours.
inline bool OwnerOf(const std::string& name, TProcessMark& owner) {
  if (name.rfind("rs-", 0) != 0) return false;
  const size_t kindEnd = name.find('-', 3);
  if (kindEnd == std::string::npos) return false;
  const size_t dot = name.find('.', kindEnd + 1);
  const size_t end = name.find('-', kindEnd + 1);
  if (dot == std::string::npos || end == std::string::npos || dot > end) return false;
  const std::string id = name.substr(kindEnd + 1, dot - kindEnd - 1);
  const std::string start = name.substr(dot + 1, end - dot - 1);
  const auto digits = [](const std::string& t) {
    return !t.empty() && t.size() <= 20 && t.find_first_not_of("0123456789") == std::string::npos;
  };
  if (!digits(id) || !digits(start) || id.size() > 10) return false;
  owner = {std::stoul(id), std::stoull(start)};
  return true;
}

// Removes the test folders under parent whose process has ended.
inline void RemoveFoldersOfEndedProcesses(const std::filesystem::path& parent) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(parent, ec), end; !ec && it != end;
       it.increment(ec)) {
    TProcessMark owner;
    if (!OwnerOf(it->path().filename().string(), owner)) continue;
    const unsigned long long start = ProcessStart(owner.Id);
    if (start == ~0ull || start == owner.Start) continue;  // it may still run
    std::error_code ignored;
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(it->path(), ignored);
  }
}

// The part of a test folder's name that names this process: "<id>.<start>".
inline std::string CurrentProcessPart() {
  const TProcessMark self = CurrentProcess();
  return std::to_string(self.Id) + "." + std::to_string(self.Start);
}

// A new empty folder "rs-<kind>-<id>.<start>-<stamp>-<n>" under the system's temporary
// folder, made after the folders of ended processes are removed.
inline std::filesystem::path MakeTestFolder(const std::string& kind) {
  static std::atomic<int> counter{0};
  const auto parent = std::filesystem::temp_directory_path();
  RemoveFoldersOfEndedProcesses(parent);
  const auto stamp = std::random_device{}();
  const auto path = parent / ("rs-" + kind + "-" + CurrentProcessPart() + "-" +
                              std::to_string(stamp) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(path);
  return path;
}

}  // namespace testfolders
