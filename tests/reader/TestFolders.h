#pragma once
// Temporary folders of test worlds, named after the process that made them:
// "rs-<kind>-<process id>.<its start>-<stamp>". A world removes its folder when it ends, but a
// reader library the module marked faulted is never unloaded, and on Windows the folder holding a
// loaded library cannot be removed while its process runs. So each new world first removes
// the folders that no process holds any more: a world holds a lock in its folder for its life
// (FolderUse), which every process sharing the folder sees, in any PID namespace.
//
//   const fs::path root = MakeTestFolder("dialog");   // %TEMP%\rs-dialog-4242.1337-...
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
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

// Whether a test world's folder is in use. Each world holds a lock on a file beside its
// folder, "<folder>.lock", for its whole life: an exclusive flock (POSIX), or the file kept
// open without write sharing (Windows). Beside, not inside, so that what a test finds in its
// folder is only what it put there. The system lets go of it when the process ends, however it
// ends, and every process that shares the folder sees it, whatever its process ids look like
// there (two runs in different PID namespaces sharing /tmp see different ids for one process).
enum class TFolderUse { Held, Free, NoLock };

inline std::filesystem::path LockFileOf(const std::filesystem::path& folder) {
  std::filesystem::path file = folder;
  file += ".lock";
  return file;
}

#if defined(_WIN32)
using TLockHandle = HANDLE;
#else
using TLockHandle = int;
#endif

// The locks this process holds, by folder, until the world lets go of its folder.
struct THeldLock {
  std::string Folder;
  TLockHandle Lock;
};
inline std::mutex& HeldLocksMutex() {
  static std::mutex m;
  return m;
}
inline std::vector<THeldLock>& HeldLocks() {
  static std::vector<THeldLock> locks;
  return locks;
}

// Takes the folder's lock for this process; false when it cannot be taken.
inline bool HoldFolder(const std::filesystem::path& folder) {
  const std::filesystem::path file = LockFileOf(folder);
#if defined(_WIN32)
  // Read and delete sharing only: a look with write access is refused while we hold it.
  HANDLE lock = CreateFileW(file.wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (lock == INVALID_HANDLE_VALUE) return false;
#else
  const int lock = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0) return false;
  if (flock(lock, LOCK_EX | LOCK_NB) != 0) {
    close(lock);
    return false;
  }
#endif
  std::lock_guard<std::mutex> guard(HeldLocksMutex());
  HeldLocks().push_back({folder.string(), lock});
  return true;
}

// Lets go of the folder's lock and removes the lock file, once the folder is removed (or
// could not be: a later world removes it when no process holds it); nothing when this
// process holds none for it.
inline void ReleaseFolder(const std::filesystem::path& folder) {
  std::lock_guard<std::mutex> guard(HeldLocksMutex());
  auto& locks = HeldLocks();
  for (auto it = locks.begin(); it != locks.end(); ++it) {
    if (it->Folder != folder.string()) continue;
#if defined(_WIN32)
    CloseHandle(it->Lock);
#else
    close(it->Lock);
#endif
    locks.erase(it);
    std::error_code ignored;
    if (!std::filesystem::exists(folder, ignored))
      std::filesystem::remove(LockFileOf(folder), ignored);
    return;
  }
}

// Whether some process, this one included, holds the folder's lock.
inline TFolderUse FolderUse(const std::filesystem::path& folder) {
  const std::filesystem::path file = LockFileOf(folder);
#if defined(_WIN32)
  HANDLE probe = CreateFileW(file.wstring().c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    return TFolderUse::Free;
  }
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? TFolderUse::NoLock
                                                                        : TFolderUse::Held;
#else
  const int probe = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (probe < 0) return errno == ENOENT ? TFolderUse::NoLock : TFolderUse::Held;
  // A lock of this process's own is refused too: flock locks belong to each opening.
  const bool free = flock(probe, LOCK_EX | LOCK_NB) == 0;
  close(probe);
  return free ? TFolderUse::Free : TFolderUse::Held;
#endif
}

// A folder without its lock file is in the moment between being made and being locked, or
// was left by a program that never locked: removed only once it is this old.
inline constexpr std::chrono::hours kUnlockedFolderAge{1};

// Removes the test folders under parent that no process holds any more.
inline void RemoveFoldersOfEndedProcesses(const std::filesystem::path& parent) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(parent, ec), end; !ec && it != end;
       it.increment(ec)) {
    TProcessMark owner;
    std::filesystem::path folder = it->path();
    if (!OwnerOf(folder.filename().string(), owner)) continue;
    std::error_code kindError;
    if (folder.extension() == ".lock" && !it->is_directory(kindError)) {
      folder.replace_extension();  // the lock of a folder removed already, or of one below
      if (std::filesystem::exists(folder, kindError)) continue;
      if (FolderUse(folder) == TFolderUse::Free) {
        std::error_code ignored;
        std::filesystem::remove(it->path(), ignored);
      }
      continue;
    }
    switch (FolderUse(folder)) {
      case TFolderUse::Held:
        continue;
      case TFolderUse::NoLock: {
        std::error_code timeError;
        const auto written = std::filesystem::last_write_time(folder, timeError);
        if (timeError ||
            std::filesystem::file_time_type::clock::now() - written < kUnlockedFolderAge)
          continue;
        break;
      }
      case TFolderUse::Free:
        break;
    }
    std::error_code ignored;
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    if (std::filesystem::remove_all(folder, ignored) != static_cast<std::uintmax_t>(-1) &&
        !std::filesystem::exists(folder, ignored))
      std::filesystem::remove(LockFileOf(folder), ignored);
  }
}

// The part of a test folder's name that names this process: "<id>.<start>".
inline std::string CurrentProcessPart() {
  const TProcessMark self = CurrentProcess();
  return std::to_string(self.Id) + "." + std::to_string(self.Start);
}

// A new empty folder "rs-<kind>-<id>.<start>-<stamp>-<n>" under the system's temporary
// folder, whose lock this process holds until ReleaseFolder; made after the folders that no
// process holds any more are removed.
inline std::filesystem::path MakeTestFolder(const std::string& kind) {
  static std::atomic<int> counter{0};
  const auto parent = std::filesystem::temp_directory_path();
  RemoveFoldersOfEndedProcesses(parent);
  const auto stamp = std::random_device{}();
  const auto path = parent / ("rs-" + kind + "-" + CurrentProcessPart() + "-" +
                              std::to_string(stamp) + "-" + std::to_string(counter++));
  // Locked first, so that no other process ever finds the folder without its lock.
  if (!HoldFolder(path))
    throw std::filesystem::filesystem_error("cannot lock the test folder", path,
                                            std::make_error_code(std::errc::io_error));
  std::filesystem::create_directories(path);
  return path;
}

}  // namespace testfolders
