#include <windows.h>

#include <string>

#include "platform/CurrentDir.h"
#include "platform/LongPaths.h"

namespace {

// Text in the system code page to UTF-16 and back; empty when it does not convert.
std::wstring Wide(std::string_view text) {
  const int size =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

std::string Narrow(std::wstring_view wide) {
  const int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string text(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size,
                      nullptr, nullptr);
  return text;
}

}  // namespace

// The wide functions: only they take a long path where the process has opted in.
std::string GetCurrentDir() {
  DWORD size = GetCurrentDirectoryW(0, nullptr);
  if (size == 0) return {};
  std::wstring dir(size, L'\0');
  DWORD got = GetCurrentDirectoryW(size, dir.data());
  if (got == 0 || got >= size) return {};
  dir.resize(got);
  return Narrow(dir);
}

bool SetCurrentDir(std::string_view dir) {
  if (dir.empty()) return false;
  // Refused here as Windows refuses it (Wine takes it).
  if (!PathLengthProblem(dir, TPathKind::Folder).empty()) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  const std::wstring wide = Wide(dir);
  return !wide.empty() && SetCurrentDirectoryW(wide.c_str()) != 0;
}
