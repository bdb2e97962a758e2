#include <windows.h>

#include <string>

#include "platform/CurrentDir.h"

std::string GetCurrentDir() {
  DWORD size = GetCurrentDirectoryA(0, nullptr);
  if (size == 0) return {};
  std::string dir(size, '\0');
  DWORD got = GetCurrentDirectoryA(size, dir.data());
  if (got == 0 || got >= size) return {};
  dir.resize(got);
  return dir;
}

bool SetCurrentDir(std::string_view dir) {
  const std::string path(dir);
  return !path.empty() && SetCurrentDirectoryA(path.c_str()) != 0;
}
