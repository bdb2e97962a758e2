#include <windows.h>

#include <algorithm>

#include "platform/Profile.h"

namespace {

std::string SystemMessage(DWORD error) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = n != 0 && text != nullptr ? std::string(text, n) : "system error";
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  return message;
}

}  // namespace

IniWriteError::IniWriteError(const std::string& path, const std::string& operation, long osError)
    : Exception("cannot write profile file \"" + path + "\": " + operation + " failed: " +
                SystemMessage(static_cast<DWORD>(osError)) + " (" + std::to_string(osError) + ")"),
      FOperation(operation),
      FOsError(osError) {}

TFileReadResult ReadProfileFile(const std::string& path, std::string& bytes, long& osError) {
  bytes.clear();
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    osError = static_cast<long>(GetLastError());
    return (osError == ERROR_FILE_NOT_FOUND || osError == ERROR_PATH_NOT_FOUND)
               ? TFileReadResult::Missing
               : TFileReadResult::Failed;
  }
  char chunk[16384];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(file, chunk, sizeof chunk, &n, nullptr)) {
      osError = static_cast<long>(GetLastError());
      CloseHandle(file);
      return TFileReadResult::Failed;
    }
    if (n == 0) break;
    bytes.append(chunk, n);
  }
  CloseHandle(file);
  return TFileReadResult::Read;
}

void ReplaceProfileFile(const std::string& path, std::string_view bytes) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
      throw IniWriteError(path, "GetFileAttributesA", ERROR_ACCESS_DENIED);
    if (attributes & FILE_ATTRIBUTE_READONLY)
      throw IniWriteError(path, "GetFileAttributesA", ERROR_ACCESS_DENIED);
  }

  const size_t slash = path.find_last_of("\\/");
  const std::string folder =
      slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
  char temp[MAX_PATH];
  if (GetTempFileNameA(folder.c_str(), "ini", 0, temp) == 0)
    throw IniWriteError(path, "GetTempFileNameA", static_cast<long>(GetLastError()));

  HANDLE file =
      CreateFileA(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const long error = static_cast<long>(GetLastError());
    DeleteFileA(temp);
    throw IniWriteError(path, "CreateFileA", error);
  }
  auto fail = [&](const char* operation) {
    const long error = static_cast<long>(GetLastError());
    CloseHandle(file);
    DeleteFileA(temp);
    throw IniWriteError(path, operation, error);
  };
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    if (!WriteFile(file, bytes.data() + done, want, &n, nullptr)) fail("WriteFile");
    done += n;
  }
  if (!FlushFileBuffers(file)) fail("FlushFileBuffers");
  CloseHandle(file);
  if (!MoveFileExA(temp, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const long error = static_cast<long>(GetLastError());
    DeleteFileA(temp);
    throw IniWriteError(path, "MoveFileExA", error);
  }
}
