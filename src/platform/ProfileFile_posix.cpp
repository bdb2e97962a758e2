#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/ErrorTexts.h"
#include "platform/Profile.h"
#include "platform/ProfileFile.h"

namespace {

// One owned file descriptor; -1 is the empty value.
class TFd {
 public:
  explicit TFd(int fd) : FFd(fd) {}
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  ~TFd() { Close(); }
  int Get() const { return FFd; }
  int Release() {
    const int fd = FFd;
    FFd = -1;
    return fd;
  }
  int Close() {
    const int result = FFd >= 0 ? close(FFd) : 0;
    FFd = -1;
    return result;
  }

 private:
  int FFd;
};

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The file that path names: symbolic links are followed, the last of them possibly
// naming a file that does not exist yet (writing creates it there).
std::string FollowLinks(const std::string& path) {
  std::string current = path;
  for (int hops = 0;; ++hops) {
    struct stat st {};
    if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    if (hops == 40) throw IniWriteError(path, "readlink", ELOOP);
    std::vector<char> target(static_cast<size_t>(st.st_size) + 1);
    ssize_t n = 0;
    while ((n = readlink(current.c_str(), target.data(), target.size())) >=
           static_cast<ssize_t>(target.size()))
      target.resize(target.size() * 2);
    if (n < 0) throw IniWriteError(path, "readlink", errno);
    std::string link(target.data(), static_cast<size_t>(n));
    current = (!link.empty() && link[0] == '/') ? link : FolderOf(current) + link;
  }
}

// 0, or the errno of the failed write.
int WriteAt(int fd, std::string_view bytes, size_t offset) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<size_t>(n);
  }
  return 0;
}

// 0, or the errno of the failed read.
int ReadAll(int fd, std::string& bytes) {
  bytes.clear();
  std::vector<char> chunk(1 << 16);
  for (;;) {
    const ssize_t n = read(fd, chunk.data(), chunk.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return 0;
    bytes.append(chunk.data(), static_cast<size_t>(n));
  }
}

// Copies every extended attribute (access control lists among them); false when one
// cannot be copied.
bool CopyExtendedAttributes(int from, int to) {
  ssize_t size = flistxattr(from, nullptr, 0);
  if (size < 0) return errno == ENOTSUP;
  std::vector<char> names(static_cast<size_t>(size));
  size = flistxattr(from, names.data(), names.size());
  if (size < 0) return false;
  for (size_t i = 0; i < static_cast<size_t>(size); i += std::strlen(names.data() + i) + 1) {
    const char* name = names.data() + i;
    const ssize_t length = fgetxattr(from, name, nullptr, 0);
    if (length < 0) return false;
    std::vector<char> value(static_cast<size_t>(length));
    if (fgetxattr(from, name, value.data(), value.size()) != length) return false;
    if (fsetxattr(to, name, value.data(), value.size(), 0) != 0) return false;
  }
  return true;
}

// True when the open file is the one target names now: not replaced under its name or
// removed since it was opened.
bool IsNamed(int fd, const std::string& target) {
  struct stat held {};
  struct stat named {};
  return fstat(fd, &held) == 0 && stat(target.c_str(), &named) == 0 &&
         named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

// A temporary file beside a profile file, removed with the object unless Release says
// it was moved into place. Empty: none.
class TTempFile {
 public:
  TTempFile() = default;
  explicit TTempFile(std::string name) : FName(std::move(name)) {}
  TTempFile(TTempFile&& other) noexcept : FName(std::exchange(other.FName, {})) {}
  TTempFile& operator=(TTempFile&& other) noexcept {
    if (this != &other) {
      Remove();
      FName = std::exchange(other.FName, {});
    }
    return *this;
  }
  ~TTempFile() { Remove(); }
  bool Empty() const { return FName.empty(); }
  const char* Name() const { return FName.c_str(); }
  void Release() { FName.clear(); }

 private:
  void Remove() {
    if (!FName.empty()) unlink(FName.c_str());
  }
  std::string FName;
};

// Writes bytes to a new temporary file beside target, flushed, with the old file's
// owner, permissions and extended attributes (with no old file: the permissions a new
// file gets). Empty, with nothing left behind, when a step fails.
TTempFile WriteTemporary(const std::string& target, int oldFd, const struct stat* old,
                         std::string_view bytes) {
  std::string name = FolderOf(target) + ".ini-XXXXXX";
  TFd fd(mkstemp(name.data()));
  if (fd.Get() < 0) return {};
  TTempFile temp(std::move(name));
  if (WriteAt(fd.Get(), bytes, 0) != 0) return {};
  mode_t mode = 0;
  if (old != nullptr) {
    mode = old->st_mode & 07777;
    struct stat now {};
    if (fstat(fd.Get(), &now) != 0) return {};
    if ((now.st_uid != old->st_uid || now.st_gid != old->st_gid) &&
        fchown(fd.Get(), old->st_uid, old->st_gid) != 0)
      return {};
    if (!CopyExtendedAttributes(oldFd, fd.Get())) return {};
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  if (fchmod(fd.Get(), mode) != 0 || fsync(fd.Get()) != 0 || fd.Close() != 0) return {};
  return temp;
}

// Writes bytes into the file itself, as the system's profile writer does: first the
// part beyond the old end, flushed, so that a lack of space is found while the old
// bytes are still whole; then the bytes that differ, in one write; the cut of a file
// that shrinks last. oldBytes is null for a file just created, which goes again on
// failure.
void WriteInPlace(const std::string& path, const std::string& target, int fd,
                  const std::string* oldBytes, std::string_view bytes) {
  const bool create = oldBytes == nullptr;
  const std::string_view old = create ? std::string_view() : std::string_view(*oldBytes);
  const size_t overlap = std::min(old.size(), bytes.size());
  const size_t same = static_cast<size_t>(
      std::mismatch(old.begin(), old.begin() + static_cast<ptrdiff_t>(overlap), bytes.begin())
          .first -
      old.begin());
  // Puts the old bytes back after a failure (a created file goes again) and reports it.
  auto fail = [&](const char* operation, int error) {
    if (create) {
      unlink(target.c_str());
    } else {
      WriteAt(fd, old.substr(same), same);
      if (ftruncate(fd, static_cast<off_t>(old.size())) == 0) fsync(fd);
    }
    throw IniWriteError(path, operation, error);
  };
  if (bytes.size() > old.size()) {
    if (const int error = WriteAt(fd, bytes.substr(old.size()), old.size())) fail("write", error);
    if (same < overlap && fsync(fd) != 0) fail("fsync", errno);
  }
  if (same < overlap) {
    if (const int error = WriteAt(fd, bytes.substr(same, overlap - same), same))
      fail("write", error);
  }
  if (bytes.size() < old.size() && ftruncate(fd, static_cast<off_t>(bytes.size())) != 0)
    fail("ftruncate", errno);
  if (fsync(fd) != 0) fail("fsync", errno);
}

// The temporary files beside a profile file are named so: ".ini-" and six characters.
bool IsTemporaryName(const char* name) {
  return std::strncmp(name, ".ini-", 5) == 0 && std::strlen(name) == 11;
}

// Removes the temporary names that are links to the held file: a creation (CreateNew)
// that ended between linking its temporary file to the file's name and removing the
// temporary name (a crash) leaves one, and with it a second link that would keep every
// later write in place. A creation still under way loses nothing when its temporary name
// goes: the file keeps its name.
void RemoveCreationLeftovers(const std::string& target, int fd, struct stat& held) {
  const std::string folder = FolderOf(target);
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = readdir(dir)) {
    if (!IsTemporaryName(entry->d_name)) continue;
    const std::string name = folder + entry->d_name;
    struct stat st {};
    if (lstat(name.c_str(), &st) == 0 && st.st_dev == held.st_dev && st.st_ino == held.st_ino)
      unlink(name.c_str());
  }
  closedir(dir);
  fstat(fd, &held);
}

// What became of creating a file that did not exist.
enum class TCreated { Done, Exists };

// Creates target with bytes. A temporary file beside it is linked to the name, which,
// unlike a rename, never replaces a file that another writer created meanwhile. Where
// the folder refuses the temporary file or the link (a file system without hard links),
// the file is created in place and locked before its first byte is written, so that a
// writer that finds it meanwhile waits for it. Exists, with nothing changed, when
// target appeared meanwhile. Raises IniWriteError; then no file is left.
TCreated CreateNew(const std::string& path, const std::string& target, std::string_view bytes) {
  if (const TTempFile temp = WriteTemporary(target, -1, nullptr, bytes); !temp.Empty()) {
    // The temporary name goes either way: linked, the file keeps the name target.
    if (link(temp.Name(), target.c_str()) == 0) return TCreated::Done;
    if (errno == EEXIST) return TCreated::Exists;
  }
  TFd fd(open(target.c_str(), O_RDWR | O_CLOEXEC | O_CREAT | O_EXCL, 0666));
  if (fd.Get() < 0) {
    if (errno == EEXIST) return TCreated::Exists;
    throw IniWriteError(path, "open", errno);
  }
  // A writer that opened the new, empty file before it was locked holds it now, or has
  // replaced it already: that writer's version is edited instead.
  const bool taken =
      flock(fd.Get(), LOCK_EX | LOCK_NB) != 0 && (errno == EWOULDBLOCK || errno == EINTR);
  if (taken || !IsNamed(fd.Get(), target)) return TCreated::Exists;
  WriteInPlace(path, target, fd.Get(), nullptr, bytes);
  return TCreated::Done;
}

// How long a write waits for another writer to let go of the file, in milliseconds:
// one deadline for the whole write, however many passes it takes.
constexpr long kHoldWait = 1000;

long MonotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Opens the existing file named target to read, compare and write it through one
// descriptor, locked with an exclusive flock lock, so that no other writer that
// locks it as well (every writer of profile files through these functions) writes or
// replaces it meanwhile; a file system without such locks is written without. The file
// held is the one the name names: one that another writer replaced while this one
// opened it or waited for it is opened again under its name. A lock held by another
// writer is waited for until the deadline; the last attempt, past it, holds the file
// the name names then or refuses the write. Without the right to write the file it is
// opened for reading (writeError says why). -1 when the file does not exist. Raises
// IniWriteError.
int HoldFile(const std::string& path, const std::string& target, long deadline, int& writeError) {
  long pause = 1;
  for (;;) {
    const bool last = MonotonicMilliseconds() >= deadline;
    if (last) RunProfileDeadlineHook();
    writeError = 0;
    int opened = open(target.c_str(), O_RDWR | O_CLOEXEC);
    if (opened < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
      writeError = errno;
      opened = open(target.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (opened < 0) {
      if (errno == ENOENT) return -1;
      throw IniWriteError(path, "open", errno);
    }
    TFd fd(opened);
    // Locked, or on a file system without locks.
    const bool locked =
        flock(fd.Get(), LOCK_EX | LOCK_NB) == 0 || (errno != EWOULDBLOCK && errno != EINTR);
    if (locked && IsNamed(fd.Get(), target)) return fd.Release();
    // Held by another writer, or replaced under its name since it was opened.
    if (last) throw IniWriteError(path, "flock", EWOULDBLOCK);
    fd.Close();
    const long wait = std::clamp(deadline - MonotonicMilliseconds(), 0L, pause);
    const timespec sleep{0, wait * 1000000};
    nanosleep(&sleep, nullptr);
    pause = std::min(pause * 2, 16L);
  }
}

}  // namespace

TFileReadResult ReadProfileFile(const std::string& path, std::string& bytes, long& osError) {
  bytes.clear();
  TFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) {
    osError = errno;
    return (osError == ENOENT || osError == ENOTDIR) ? TFileReadResult::Missing
                                                     : TFileReadResult::Failed;
  }
  if (const int error = ReadAll(fd.Get(), bytes)) {
    osError = error;
    bytes.clear();
    return TFileReadResult::Failed;
  }
  return TFileReadResult::Read;
}

void UpdateProfileFile(const std::string& path,
                       const std::function<std::string(const std::string* oldBytes)>& edit) {
  const std::string target = FollowLinks(path);
  const long deadline = MonotonicMilliseconds() + kHoldWait;
  // Another pass follows when the file appeared, or was replaced, meanwhile; a pass
  // that starts past the deadline is the last.
  for (bool late = false;; late = MonotonicMilliseconds() >= deadline) {
    int writeError = 0;
    // Held, and locked, until the new content is in place.
    TFd held(HoldFile(path, target, deadline, writeError));
    if (held.Get() < 0) {
      const std::string bytes = edit(nullptr);
      if (CreateNew(path, target, bytes) == TCreated::Done) return;
      // Another writer created it meanwhile: its version is edited.
      if (late) throw IniWriteError(path, "open", EEXIST);
      continue;
    }
    struct stat old {};
    if (fstat(held.Get(), &old) != 0) throw IniWriteError(path, "fstat", errno);
    if (S_ISDIR(old.st_mode)) throw IniWriteError(path, "open", EISDIR);
    // A file without write permission stands for the Windows read-only attribute;
    // it is refused even where the process could write it (as root).
    if ((old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
      throw IniWriteError(path, std::string(errortext::kReadOnlyOperation), EACCES);
    if (S_ISREG(old.st_mode) && old.st_nlink > 1) RemoveCreationLeftovers(target, held.Get(), old);
    std::string oldBytes;
    if (const int error = ReadAll(held.Get(), oldBytes)) throw IniWriteError(path, "read", error);
    const std::string bytes = edit(&oldBytes);
    // A file with other hard links stays the same file only when written in place.
    TTempFile temp;
    if (S_ISREG(old.st_mode) && old.st_nlink == 1)
      temp = WriteTemporary(target, held.Get(), &old, bytes);
    // A program that replaces the file without the lock may have moved a new version
    // in since the file was held: that version is edited instead.
    if (!IsNamed(held.Get(), target)) {
      if (late) throw IniWriteError(path, "stat", ESTALE);
      continue;
    }
    if (!temp.Empty() && rename(temp.Name(), target.c_str()) == 0) {
      temp.Release();
      return;
    }
    if (writeError != 0) throw IniWriteError(path, "open", writeError);
    WriteInPlace(path, target, held.Get(), &oldBytes, bytes);
    return;
  }
}

namespace {

// One iconv conversion; closed with the object.
class TConverter {
 public:
  TConverter(const char* to, const char* from) : FHandle(iconv_open(to, from)) {}
  TConverter(const TConverter&) = delete;
  TConverter& operator=(const TConverter&) = delete;
  ~TConverter() {
    if (Valid()) iconv_close(FHandle);
  }
  bool Valid() const { return FHandle != reinterpret_cast<iconv_t>(-1); }
  iconv_t Get() const { return FHandle; }

 private:
  iconv_t FHandle;
};

}  // namespace

std::optional<std::u16string> AnsiToUtf16(std::string_view text) {
  TConverter converter("UTF-16LE", "CP936");
  if (!converter.Valid()) return std::nullopt;
  // Every character of the code page is one UTF-16 unit.
  std::string out(text.size() * 2, '\0');
  std::string in(text);
  char* inPtr = in.data();
  size_t inLeft = in.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  if (iconv(converter.Get(), &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1))
    return std::nullopt;
  out.resize(out.size() - outLeft);
  std::u16string units(out.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(static_cast<uint8_t>(out[2 * i]) |
                                     static_cast<uint8_t>(out[2 * i + 1]) << 8);
  return units;
}

std::string Utf16ToAnsi(std::u16string_view text) {
  TConverter converter("CP936", "UTF-16LE");
  std::string in(text.size() * 2, '\0');
  for (size_t i = 0; i < text.size(); ++i) {
    in[2 * i] = static_cast<char>(text[i] & 0xFF);
    in[2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
  std::string out(text.size() * 2, '\0');
  char* inPtr = in.data();
  size_t inLeft = in.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  while (inLeft > 0) {
    if (converter.Valid() &&
        iconv(converter.Get(), &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1))
      break;
    // A unit without a character of the code page: "?" in its place, one per unit.
    *outPtr++ = '?';
    --outLeft;
    inPtr += 2;
    inLeft -= 2;
  }
  out.resize(out.size() - outLeft);
  return out;
}
