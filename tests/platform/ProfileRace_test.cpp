// Writing a profile file while another writer rewrites it: a rival with handles of its
// own reads the file, checks that it is one whole version, and writes the next whole
// version, in a loop, while the test selects readers through IniWriteString. Every
// version the rival reads must be whole (its own last version with our last value),
// none of its versions may be lost, and every select must be written. Under Windows
// the rival opens the file sharing nothing, or sharing reading and writing, and the
// writes go in place or (forced, as NTFS would have them) replace the file as a whole;
// elsewhere it takes an exclusive flock lock.
//
// Two processes (profile_race_writer) creating the same missing file, round after
// round, each with a key of its own: every round must end with both keys.
//
// Elsewhere than Windows: a rival that moves its next version in under the file's name
// just as a write's wait for it ends (through the deadline hook), or while a write is
// under way without taking the lock; the write must go into the version the name
// names, never into the file moved away.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>  // steady_clock too: <chrono> does not compile with code-page-936 literals
#include <vector>

#include "../reader/ReaderWorld.h"
#include "platform/Profile.h"
#include "platform/ProfileFile.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

// The rival's version number k with our value v: lines of lengths that change with k,
// so that bytes written at offsets taken from another version show.
std::string Version(long k, const std::string& v) {
  return "[system]\r\nServerType=99\r\nstamp=" + std::to_string(k) +
         "\r\npad=" + std::string(static_cast<size_t>(k * 7 % 23), 'p') +
         "\r\n\r\n[NuvReader]\r\nnuvreader=" + v +
         "\r\n\r\n[tail]\r\nt=" + std::string(static_cast<size_t>(k * 5 % 17), 't') + "\r\n";
}

// The version and value the bytes are, when they are one whole version.
std::optional<std::pair<long, std::string>> WholeVersion(const std::string& bytes) {
  const std::optional<std::string> stamp = IniFindValue(bytes, "system", "stamp");
  const std::optional<std::string> value = IniFindValue(bytes, "NuvReader", "nuvreader");
  if (!stamp || !value || stamp->empty() || stamp->size() > 9 ||
      stamp->find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  const long k = std::stol(*stamp);
  if (Version(k, *value) != bytes) return std::nullopt;
  return std::make_pair(k, *value);
}

// What the rival holds while it reads and rewrites the file.
class TRivalHold {
 public:
  TRivalHold(const std::string& path, [[maybe_unused]] bool sharesWrite) {
#if defined(_WIN32)
    FFile = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                        sharesWrite ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (FFile == INVALID_HANDLE_VALUE) FBusy = GetLastError() == ERROR_SHARING_VIOLATION;
#else
    FFd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (FFd < 0) return;
    struct stat held {
    }, named{};
    if (flock(FFd, LOCK_EX | LOCK_NB) != 0 || fstat(FFd, &held) != 0 ||
        stat(path.c_str(), &named) != 0 || held.st_ino != named.st_ino) {
      // Locked by another writer, or replaced by a new file since it was opened.
      FBusy = true;
      close(FFd);
      FFd = -1;
    }
#endif
  }
  TRivalHold(const TRivalHold&) = delete;
  TRivalHold& operator=(const TRivalHold&) = delete;
  ~TRivalHold() {
#if defined(_WIN32)
    if (FFile != INVALID_HANDLE_VALUE) CloseHandle(FFile);
#else
    if (FFd >= 0) close(FFd);
#endif
  }
  bool Held() const {
#if defined(_WIN32)
    return FFile != INVALID_HANDLE_VALUE;
#else
    return FFd >= 0;
#endif
  }
  bool Busy() const { return FBusy; }
  std::string Read() const {
    std::string bytes;
    char chunk[4096];
#if defined(_WIN32)
    DWORD n = 0;
    while (ReadFile(FFile, chunk, sizeof chunk, &n, nullptr) && n != 0) bytes.append(chunk, n);
#else
    ssize_t n = 0;
    while ((n = read(FFd, chunk, sizeof chunk)) > 0) bytes.append(chunk, static_cast<size_t>(n));
#endif
    return bytes;
  }
  // Replaces the whole content; false when a step fails.
  bool Write(const std::string& bytes) const {
#if defined(_WIN32)
    DWORD n = 0;
    return SetFilePointer(FFile, 0, nullptr, FILE_BEGIN) == 0 &&
           WriteFile(FFile, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) &&
           n == bytes.size() && SetEndOfFile(FFile);
#else
    return pwrite(FFd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()) &&
           ftruncate(FFd, static_cast<off_t>(bytes.size())) == 0;
#endif
  }

 private:
#if defined(_WIN32)
  HANDLE FFile = INVALID_HANDLE_VALUE;
#else
  int FFd = -1;
#endif
  bool FBusy = false;
};

// After a version: a moment in which others may take the file.
void Pause() {
#if defined(_WIN32)
  Sleep(1);
#else
  usleep(1000);
#endif
}
// After finding the file held: straight back, as a program that waits for it would.
void GiveWay() {
#if defined(_WIN32)
  SwitchToThread();
#else
  sched_yield();
#endif
}

// The error a write refused because another writer holds the file gives.
long HeldError() {
#if defined(_WIN32)
  return ERROR_SHARING_VIOLATION;
#else
  return EWOULDBLOCK;
#endif
}

struct TRivalCounts {
  long Read = 0;    // versions the rival read
  long Mixed = 0;   // of them, not one whole version
  long Lost = 0;    // of them, whole but not the rival's last version
  long Busy = 0;    // times the rival found the file held by us
  long Failed = 0;  // steps that failed for another reason
};

// Rewrites the file in a loop until stop; every version keeps the value it found.
void Rival(const std::string& path, bool sharesWrite, const std::atomic<bool>& stop,
           TRivalCounts& counts) {
  long last = 0;
  while (!stop.load()) {
    {
      TRivalHold hold(path, sharesWrite);
      if (!hold.Held()) {
        ++(hold.Busy() ? counts.Busy : counts.Failed);
        GiveWay();
        continue;
      }
      const std::string bytes = hold.Read();
      ++counts.Read;
      std::optional<std::pair<long, std::string>> whole = WholeVersion(bytes);
      if (!whole) {
        ++counts.Mixed;
        std::printf("mixed version: [%s]\n", bytes.c_str());
        // Starts again from a whole version of its own.
        whole = std::make_pair(last, std::string("?"));
      } else if (whole->first != last) {
        ++counts.Lost;
      }
      if (hold.Write(Version(last + 1, whole->second)))
        ++last;
      else
        ++counts.Failed;
    }
    Pause();
  }
}

struct RaceRow {
  const char* name;
  bool secondHardLink;    // a second name keeps the file from being replaced as a whole
  bool rivalSharesWrite;  // Windows: the rival lets others open the file for writing
  bool replaceForced;     // Windows: files are replaced as a whole where NTFS would do so
};

#if defined(_WIN32)
const RaceRow kRaceRows[] = {
    {"RivalSharingNothing", false, false, false},
    {"RivalSharingReadWrite", false, true, false},
    {"FileWithSecondHardLinkRivalSharingReadWrite", true, true, false},
    {"ReplacedWholeRivalSharingNothing", false, false, true},
    {"ReplacedWholeRivalSharingReadWrite", false, true, true},
};
#else
// The rival locks the file with flock; a file with one name is replaced as a whole,
// one with a second name is written in place.
const RaceRow kRaceRows[] = {
    {"OrdinaryFile", false, false, false},
    {"FileWithSecondHardLink", true, false, false},
};
#endif

TEST(ProfileRace, EveryVersionStaysWholeWhileAnotherWriterRewritesTheFile) {
  for (const RaceRow& row : kRaceRows) {
    SCOPED_TRACE(row.name);
    TTempFolder folder;
    const std::string path = folder.PathOf("UserConfig.ini");
    WriteBytes(path, Version(0, "旧"));
    if (row.secondHardLink) fs::create_hard_link(path, folder.PathOf("other.ini"));

    constexpr int kSelects = 300;
    std::vector<std::string> values;
    for (int i = 0; i < kSelects; ++i)
      values.push_back("读卡器 " + std::to_string(i * 7919 % 100000));

    std::atomic<bool> stop{false};
    TRivalCounts rival;
    std::thread rivalThread(Rival, path, row.rivalSharesWrite, std::cref(stop), std::ref(rival));
    int failed = 0;
    std::optional<std::string> lastWritten;
    SetProfileReplaceForced(row.replaceForced);
    for (const std::string& value : values) {
      try {
        IniWriteString(path, "NuvReader", "nuvreader", value);
        lastWritten = value;
      } catch (const IniWriteError& e) {
        ++failed;
        EXPECT_EQ(e.OsError(), HeldError()) << e.what();
      }
    }
    SetProfileReplaceForced(false);
    stop = true;
    rivalThread.join();
    std::printf(
        "%s: the rival read %ld versions, %ld mixed, %ld lost, found the file held %ld "
        "times; %d of %d selects failed\n",
        row.name, rival.Read, rival.Mixed, rival.Lost, rival.Busy, failed, kSelects);

    // The rival holds the file for a moment at a time: a write that waits up to a second
    // for it always finds it free.
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(rival.Mixed, 0);
    EXPECT_EQ(rival.Lost, 0);
    EXPECT_EQ(rival.Failed, 0);
    const std::optional<std::pair<long, std::string>> final = WholeVersion(ReadBytes(path));
    ASSERT_TRUE(final.has_value()) << ReadBytes(path);
    if (lastWritten) {
      EXPECT_EQ(final->second, *lastWritten);
    }
    if (row.secondHardLink) {
      EXPECT_EQ(ReadBytes(folder.PathOf("other.ini")), ReadBytes(path));
    }
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.Path()))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    const std::vector<std::string> want =
        row.secondHardLink ? std::vector<std::string>{"UserConfig.ini", "other.ini"}
                           : std::vector<std::string>{"UserConfig.ini"};
    EXPECT_EQ(names, want) << "a file is left beside it";
  }
}

// A program started by the test, ended (by its own handle) if it still runs when the
// object goes.
class TChildProcess {
 public:
  TChildProcess(const std::string& program, const std::vector<std::string>& arguments) {
#if defined(_WIN32)
    std::string command = "\"" + program + "\"";
    for (const std::string& argument : arguments) command += " \"" + argument + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process)) {
      CloseHandle(process.hThread);
      FProcess = process.hProcess;
    }
#else
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&FPid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) FPid = -1;
#endif
  }
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;
  ~TChildProcess() {
    if (!Started()) return;
#if defined(_WIN32)
    if (WaitForSingleObject(FProcess, 0) == WAIT_TIMEOUT) TerminateProcess(FProcess, 1);
    WaitForSingleObject(FProcess, INFINITE);
    CloseHandle(FProcess);
#else
    if (!FEnded) {
      kill(FPid, SIGKILL);
      waitpid(FPid, nullptr, 0);
    }
#endif
  }
  bool Started() const {
#if defined(_WIN32)
    return FProcess != nullptr;
#else
    return FPid > 0;
#endif
  }
  // The exit code once the program ended within the wait, or -1.
  int Wait(std::chrono::milliseconds wait) {
#if defined(_WIN32)
    DWORD code = 0;
    if (WaitForSingleObject(FProcess, static_cast<DWORD>(wait.count())) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(FProcess, &code))
      return -1;
    return static_cast<int>(code);
#else
    const auto giveUp = std::chrono::steady_clock::now() + wait;
    for (;;) {
      int status = 0;
      if (waitpid(FPid, &status, WNOHANG) == FPid) {
        FEnded = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      if (std::chrono::steady_clock::now() > giveUp) return -1;
      usleep(10000);
    }
#endif
  }

 private:
#if defined(_WIN32)
  HANDLE FProcess = nullptr;
#else
  pid_t FPid = -1;
  bool FEnded = false;
#endif
};

// Two instances of the host select a reader at the same moment, and neither finds
// UserConfig.ini yet: each creates it with its own key. Creating never replaces a file
// that appeared meanwhile, and a writer that lost the race edits the winner's file, so
// both keys are kept every round and no write fails for having lost the race.
TEST(ProfileRace, TwoProcessesCreatingTheMissingFileKeepBothKeys) {
  constexpr int kRounds = 200;
  const std::vector<std::string> keys = {"writerA", "writerB"};
#if defined(_WIN32)
  const std::string writer = (ProgramFolder() / "profile_race_writer.exe").string();
#else
  const std::string writer = (ProgramFolder() / "profile_race_writer").string();
#endif
  TTempFolder folder;
  std::vector<std::unique_ptr<TChildProcess>> writers;
  for (const std::string& key : keys) {
    writers.push_back(std::make_unique<TChildProcess>(
        writer, std::vector<std::string>{folder.Path().string(), key, std::to_string(kRounds)}));
    ASSERT_TRUE(writers.back()->Started()) << writer;
  }

  int roundsWithAKeyLost = 0, failedWrites = 0;
  for (int round = 0; round < kRounds; ++round) {
    const fs::path roundFolder = folder.Path() / ("round-" + std::to_string(round));
    fs::create_directory(roundFolder);  // both writers start now
    std::vector<std::string> results;
    for (const std::string& key : keys) {
      // A result is never empty; under Windows it cannot be opened while it is moved in.
      const fs::path result = roundFolder / (key + ".result");
      const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      std::string text;
      while ((text = ReadBytes(result)).empty() && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      ASSERT_FALSE(text.empty()) << "round " << round << ": no result from " << key;
      results.push_back(text);
    }
    const std::string bytes = ReadBytes(roundFolder / "UserConfig.ini");
    bool lost = false;
    for (size_t i = 0; i < keys.size(); ++i) {
      if (results[i] != "ok") {
        ++failedWrites;
        ADD_FAILURE() << "round " << round << ", " << keys[i] << ": " << results[i];
      }
      const std::string want = keys[i] + " " + std::to_string(round);
      if (IniFindValue(bytes, "NuvReader", keys[i]) != std::optional<std::string>(want))
        lost = true;
    }
    if (lost) {
      ++roundsWithAKeyLost;
      ADD_FAILURE() << "round " << round << ": a key is lost: [" << bytes << "]";
    }
    // No temporary file is left beside it.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(roundFolder))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"UserConfig.ini", "writerA.result", "writerB.result"}))
        << "round " << round;
  }
  for (auto& w : writers) EXPECT_EQ(w->Wait(std::chrono::seconds(30)), 0);
  std::printf("%d rounds: %d kept both keys, %d lost one; %d writes failed\n", kRounds,
              kRounds - roundsWithAKeyLost, roundsWithAKeyLost, failedWrites);
  EXPECT_EQ(roundsWithAKeyLost, 0);
  EXPECT_EQ(failedWrites, 0);
}

// A write waits for other writers one second in all, whatever passes it takes (the
// dialog waits for it on its thread); the rest of the bound is slack for a busy machine.
constexpr auto kWriteBound = std::chrono::milliseconds(1750);
// A duration in whole milliseconds, as a failed check shows it.
template <class Duration>
long long Milliseconds(Duration duration) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
}

// The rival of the one-deadline test: it holds the file until the writer's wait ends,
// then removes it; when the writer goes on to create the file, the rival creates it
// first and holds it again.
struct TVanishingRival {
  std::string path;
  std::optional<TRivalHold> hold = std::nullopt;
  bool removed = false;

  static void Remove(void* context) {
    auto* rival = static_cast<TVanishingRival*>(context);
    if (rival->removed) return;
    rival->removed = true;
    rival->hold.reset();
    fs::remove(rival->path);
  }
};

// The write waits for the file until its deadline, finds it gone, and, as it creates
// it, finds it there again and held: it goes back to edit that file but waits for it
// no more. It is refused as a held file is, within the bound, and the file that
// appeared is kept.
TEST(ProfileRace, AWriteWaitsOneSecondInAllHoweverManyPassesItTakes) {
  TTempFolder folder;
  TVanishingRival rival{.path = folder.PathOf("UserConfig.ini")};
  WriteBytes(rival.path, Version(0, "旧"));
  rival.hold.emplace(rival.path, false);
  ASSERT_TRUE(rival.hold->Held());
  SetProfileDeadlineHook(TVanishingRival::Remove, &rival);
  int edits = 0;
  long error = 0;
  const auto start = std::chrono::steady_clock::now();
  try {
    UpdateProfileFile(rival.path, [&](const std::string* oldBytes) {
      ++edits;
      if (oldBytes == nullptr) {
        WriteBytes(rival.path, Version(1, "旧"));
        rival.hold.emplace(rival.path, false);
      }
      return IniWithValue(oldBytes != nullptr ? *oldBytes : std::string(), "NuvReader", "nuvreader",
                          "读卡器 1");
    });
  } catch (const IniWriteError& e) {
    error = e.OsError();
  }
  const auto took = std::chrono::steady_clock::now() - start;
  SetProfileDeadlineHook(nullptr, nullptr);
  const bool heldAgain = rival.hold && rival.hold->Held();
  rival.hold.reset();
  ASSERT_TRUE(rival.removed) << "the write never reached its deadline";
  EXPECT_EQ(edits, 1);
  EXPECT_TRUE(heldAgain);
  EXPECT_EQ(error, HeldError());
  EXPECT_LT(Milliseconds(took), Milliseconds(kWriteBound)) << "the write took too long";
  EXPECT_EQ(ReadBytes(rival.path), Version(1, "旧"));
}

#if !defined(_WIN32)

// An open, exclusively locked file as a rival holds it.
int OpenLocked(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd >= 0 && flock(fd, LOCK_EX) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Moves bytes in under path through a new file renamed over it, as a writer that
// replaces files whole does.
void MoveIn(const std::string& path, const std::string& bytes) {
  WriteBytes(path + ".new", bytes);
  ASSERT_EQ(rename((path + ".new").c_str(), path.c_str()), 0);
}

// The rival of the deadline rows: it holds the file locked for the write's whole wait;
// as the wait ends it moves its next version in, locked or not, and lets go of the old
// file.
struct TDeadlineRival {
  std::string path;
  int oldFd = -1;
  bool keepsNewLocked = false;
  int newFd = -1;
  bool finished = false;

  static void Finish(void* context) {
    auto* rival = static_cast<TDeadlineRival*>(context);
    if (rival->finished) return;
    rival->finished = true;
    MoveIn(rival->path, Version(1, "旧"));
    if (rival->keepsNewLocked) rival->newFd = OpenLocked(rival->path);
    close(rival->oldFd);
    rival->oldFd = -1;
  }
};

struct DeadlineRow {
  const char* name;
  bool secondHardLink;  // the old file has a second name, so it is written in place
  bool keepsNewLocked;
  bool written;  // what the write does: the new version is free, or held as well
};

const DeadlineRow kDeadlineRows[] = {
    {"RivalLetsGoAsItMovesItsVersionIn", false, false, true},
    {"RivalLetsGoAsItMovesItsVersionInOverAFileWithTwoNames", true, false, true},
    {"RivalKeepsItsNewVersionLocked", false, true, false},
};

// The old file, which the write held while it waited, is not the file any more: the
// write goes into the version the name names now, or is refused; the moved-away file is
// never written.
TEST(ProfileRace, AWriteWhoseWaitEndsAsTheFileIsReplacedWritesTheNamedFile) {
  for (const DeadlineRow& row : kDeadlineRows) {
    SCOPED_TRACE(row.name);
    TTempFolder folder;
    const std::string path = folder.PathOf("UserConfig.ini");
    WriteBytes(path, Version(0, "旧"));
    if (row.secondHardLink) fs::create_hard_link(path, folder.PathOf("other.ini"));
    TDeadlineRival rival{
        .path = path, .oldFd = OpenLocked(path), .keepsNewLocked = row.keepsNewLocked};
    ASSERT_GE(rival.oldFd, 0);
    SetProfileDeadlineHook(TDeadlineRival::Finish, &rival);
    bool written = false;
    try {
      IniWriteString(path, "NuvReader", "nuvreader", "读卡器 1");
      written = true;
    } catch (const IniWriteError& e) {
      EXPECT_EQ(e.OsError(), EWOULDBLOCK) << e.what();
    }
    SetProfileDeadlineHook(nullptr, nullptr);
    if (rival.oldFd >= 0) close(rival.oldFd);
    if (rival.newFd >= 0) close(rival.newFd);
    EXPECT_TRUE(rival.finished) << "the write never reached its deadline";
    EXPECT_EQ(written, row.written);
    EXPECT_EQ(ReadBytes(path), Version(1, written ? "读卡器 1" : "旧"));
    if (row.secondHardLink) {
      EXPECT_EQ(ReadBytes(folder.PathOf("other.ini")), Version(0, "旧"))
          << "the file moved away was written";
    }
  }
}

// A program that does not lock the file (an editor saving it) moves a new version in
// while a write has the file held, between the read and the write: the write starts
// again from the new version, so that neither its value nor the new version is lost.
TEST(ProfileRace, AFileReplacedWithoutTheLockDuringAWriteIsReadAgain) {
  struct Row {
    const char* name;
    bool secondHardLink;
  };
  const Row rows[] = {{"ReplacedWhole", false}, {"WrittenInPlaceForItsSecondName", true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TTempFolder folder;
    const std::string path = folder.PathOf("UserConfig.ini");
    WriteBytes(path, Version(0, "旧"));
    if (row.secondHardLink) fs::create_hard_link(path, folder.PathOf("other.ini"));
    int edits = 0;
    UpdateProfileFile(path, [&](const std::string* oldBytes) {
      if (edits++ == 0) MoveIn(path, Version(1, "旧"));
      return IniWithValue(oldBytes != nullptr ? *oldBytes : std::string(), "NuvReader", "nuvreader",
                          "读卡器 1");
    });
    EXPECT_EQ(edits, 2);
    EXPECT_EQ(ReadBytes(path), Version(1, "读卡器 1"));
    if (row.secondHardLink) {
      EXPECT_EQ(ReadBytes(folder.PathOf("other.ini")), Version(0, "旧"));
    }
  }
}

#endif

}  // namespace
