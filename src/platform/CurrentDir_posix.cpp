#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/CurrentDir.h"

std::string GetCurrentDir() {
  std::vector<char> buf(256);
  while (getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE || buf.size() > (1u << 20)) return {};
    buf.resize(buf.size() * 2);
  }
  return std::string(buf.data());
}

bool SetCurrentDir(std::string_view dir) {
  const std::string path(dir);
  return !path.empty() && chdir(path.c_str()) == 0;
}
