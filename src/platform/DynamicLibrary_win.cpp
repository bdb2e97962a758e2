#include <windows.h>

#include <string>

#include "platform/DynamicLibrary.h"
#include "platform/ErrorTexts.h"
#include "platform/SystemError.h"

namespace {

// The library at path, loaded as LoadDynamicLibrary describes; null with the system's
// error code left in GetLastError when it fails.
HMODULE LoadByPath(const char* path) {
  // The path is text in the system code page, as LoadLibraryA takes it.
  const int size = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
  if (size <= 0) return nullptr;
  std::wstring wide(static_cast<size_t>(size), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), size) != size) return nullptr;
  wide.resize(static_cast<size_t>(size - 1));
  // A bare file name is searched for as the system searches for any library.
  if (wide.find_first_of(L"\\/:") == std::wstring::npos) return LoadLibraryW(wide.c_str());
  // A path is made full (the altered search order wants one) and the library's own
  // folder takes the place of the program's folder in the search for its
  // dependencies, so that a library beside it is found where the current directory
  // is out of the search.
  DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  std::wstring full;
  while (length != 0) {
    full.assign(length, L'\0');
    const DWORD got = GetFullPathNameW(wide.c_str(), length, full.data(), nullptr);
    if (got < length) {
      full.resize(got);
      break;
    }
    length = got;
  }
  if (length == 0 || full.empty()) return nullptr;
  return LoadLibraryExW(full.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

TModuleHandle LoadDynamicLibrary(const char* path, std::string* failure) {
  const HMODULE module = LoadByPath(path);
  if (module == nullptr && failure != nullptr) {
    const long error = static_cast<long>(GetLastError());
    *failure = errortext::SystemErrorText(error, SystemErrorDescription(error));
  }
  return reinterpret_cast<TModuleHandle>(module);
}

void* FindLibraryExport(TModuleHandle module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(module), name));
}

void FreeDynamicLibrary(TModuleHandle module) {
  if (module != 0) FreeLibrary(reinterpret_cast<HMODULE>(module));
}
