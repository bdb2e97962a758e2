#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Profile.h"

IniWriteError::IniWriteError(const std::string& path, const std::string& operation, long osError)
    : Exception("cannot write profile file \"" + path + "\": " + operation + " failed: " +
                std::strerror(static_cast<int>(osError)) + " (" + std::to_string(osError) + ")"),
      FOperation(operation),
      FOsError(osError) {}

TFileReadResult ReadProfileFile(const std::string& path, std::string& bytes, long& osError) {
  bytes.clear();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    osError = errno;
    return (osError == ENOENT || osError == ENOTDIR) ? TFileReadResult::Missing
                                                     : TFileReadResult::Failed;
  }
  char chunk[16384];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      osError = errno;
      close(fd);
      return TFileReadResult::Failed;
    }
    if (n == 0) break;
    bytes.append(chunk, static_cast<size_t>(n));
  }
  close(fd);
  return TFileReadResult::Read;
}

void ReplaceProfileFile(const std::string& path, std::string_view bytes) {
  // A file without write permission stands for the Windows read-only attribute:
  // renaming over it would succeed, so it is refused here.
  struct stat old {};
  const bool exists = stat(path.c_str(), &old) == 0;
  if (exists && (old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
    throw IniWriteError(path, "write permission", EACCES);

  const size_t slash = path.find_last_of('/');
  std::string temp =
      (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + ".ini-XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) throw IniWriteError(path, "mkstemp", errno);

  auto fail = [&](const char* operation) {
    const long error = errno;
    close(fd);
    unlink(temp.c_str());
    throw IniWriteError(path, operation, error);
  };
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail("write");
    }
    done += static_cast<size_t>(n);
  }
  mode_t mode = old.st_mode & 07777;
  if (!exists) {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  if (fchmod(fd, mode) != 0) fail("fchmod");
  if (fsync(fd) != 0) fail("fsync");
  if (close(fd) != 0) {
    const long error = errno;
    unlink(temp.c_str());
    throw IniWriteError(path, "close", error);
  }
  if (rename(temp.c_str(), path.c_str()) != 0) {
    const long error = errno;
    unlink(temp.c_str());
    throw IniWriteError(path, "rename", error);
  }
}
