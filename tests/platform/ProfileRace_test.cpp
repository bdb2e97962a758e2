// Writing a profile file while another writer rewrites it: a rival with handles of its
// own reads the file, checks that it is one whole version, and writes the next whole
// version, in a loop, while the test selects readers through IniWriteString. Every
// version the rival reads must be whole (its own last version with our last value),
// none of its versions may be lost, and every select must be written. Under Windows
// the rival opens the file sharing nothing, or sharing reading and writing;
// elsewhere it takes an exclusive flock lock.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "../reader/ReaderWorld.h"
#include "platform/Profile.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
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
};

#if defined(_WIN32)
const RaceRow kRaceRows[] = {
    {"RivalSharingNothing", false, false},
    {"RivalSharingReadWrite", false, true},
    {"FileWithSecondHardLinkRivalSharingReadWrite", true, true},
};
#else
// The rival locks the file with flock; a file with one name is replaced as a whole,
// one with a second name is written in place.
const RaceRow kRaceRows[] = {
    {"OrdinaryFile", false, false},
    {"FileWithSecondHardLink", true, false},
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
    for (const std::string& value : values) {
      try {
        IniWriteString(path, "NuvReader", "nuvreader", value);
        lastWritten = value;
      } catch (const IniWriteError& e) {
        ++failed;
        EXPECT_EQ(e.OsError(), HeldError()) << e.what();
      }
    }
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
  }
}

}  // namespace
