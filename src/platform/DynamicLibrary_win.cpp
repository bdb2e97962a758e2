#include <windows.h>

#include <string>

#include "platform/DynamicLibrary.h"
#include "platform/ErrorTexts.h"
#include "platform/LibraryFile.h"
#include "platform/LongPaths.h"
#include "platform/SystemError.h"
#include "platform/WinHandles.h"

// This DLL's (or program's) own image, as the linker places it.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

// The path as the wide API takes it: text in the system code page, as LoadLibraryA takes
// it; empty when it does not convert.
std::wstring WidePath(const char* path) {
  const int size = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<size_t>(size), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), size) != size) return {};
  wide.resize(static_cast<size_t>(size - 1));
  return wide;
}

// The library at path, loaded as LoadDynamicLibrary describes; null with the system's
// error code left in GetLastError when it fails.
HMODULE LoadByPath(const char* path) {
  const std::wstring wide = WidePath(path);
  if (wide.empty()) return nullptr;
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

// The machine this code is built for, from its own image's header: a library for another
// one cannot be loaded into this process.
uint16_t OwnMachine() {
  const auto* dos = &__ImageBase;
  const auto* nt =
      reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const char*>(dos) + dos->e_lfanew);
  return nt->FileHeader.Machine;
}

// What the header of the file at path says is wrong with it; None when it cannot be read
// (a missing file, a folder, no access: the system's own reason says it then).
TLibraryFileCheck CheckLibraryFile(const char* path) {
  const std::wstring wide = WidePath(path);
  if (wide.empty()) return {};
  const UniqueKernelHandle file(ValidOrNull(CreateFileW(
      wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, 0, nullptr)));
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.Get(), &size)) return {};
  std::string header(4096, '\0');
  DWORD got = 0;
  if (!ReadFile(file.Get(), header.data(), static_cast<DWORD>(header.size()), &got, nullptr))
    return {};
  header.resize(got);
  return CheckLibraryHeader(header, static_cast<uint64_t>(size.QuadPart), OwnMachine());
}

// The system's description of error with its insert "%1" (the file, in "%1 is not a valid
// Win32 application") naming path, as the system's own dialogs fill it.
std::string DescriptionNaming(long error, std::string_view path) {
  std::string description = SystemErrorDescription(error);
  for (size_t at = description.find("%1"); at != std::string::npos;
       at = description.find("%1", at + path.size()))
    description.replace(at, 2, path);
  return description;
}

}  // namespace

TModuleHandle LoadDynamicLibrary(const char* path, std::string* failure) {
  // A path too long for the system is named as that, and not handed to a system that may
  // take it all the same (Wine does) where Windows refuses it.
  const std::string_view text(path);
  const std::string tooLong = text.find_first_of("\\/:") == std::string_view::npos
                                  ? std::string()
                                  : PathLengthProblem(text, TPathKind::File);
  if (!tooLong.empty()) {
    if (failure != nullptr) *failure = tooLong;
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return 0;
  }
  const HMODULE module = LoadByPath(path);
  if (module == nullptr && failure != nullptr) {
    const long error = static_cast<long>(GetLastError());
    // A file whose header shows what is wrong is named by that, with the system's number
    // for the engineer; its description would mislead (1006 for an empty file).
    const std::string problem = LibraryFileProblemText(CheckLibraryFile(path), OwnMachine());
    *failure = problem.empty() ? errortext::SystemErrorText(error, DescriptionNaming(error, path))
                               : problem + "，" + errortext::SystemErrorText(error, {});
  }
  return reinterpret_cast<TModuleHandle>(module);
}

TModuleHandle LoadSystemLibrary(const char* fileName) {
  const std::wstring name = WidePath(fileName);
  if (name.empty()) return 0;
  // The search flags came with AddDllDirectory (Windows 8, and Windows 7 with KB2533623);
  // a system without it would take the flag for an unknown one and fail the load.
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (kernel32 != nullptr && GetProcAddress(kernel32, "AddDllDirectory") != nullptr)
    return reinterpret_cast<TModuleHandle>(
        LoadLibraryExW(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  const UINT length = GetSystemDirectoryW(nullptr, 0);
  if (length == 0) return 0;
  std::wstring path(length, L'\0');
  const UINT got = GetSystemDirectoryW(path.data(), length);
  if (got == 0 || got >= length) return 0;
  path.resize(got);
  path.append(L"\\").append(name);
  // Its own imports are then looked for in the system folder first, too.
  return reinterpret_cast<TModuleHandle>(
      LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

void* FindLibraryExport(TModuleHandle module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(module), name));
}

void FreeDynamicLibrary(TModuleHandle module) {
  if (module != 0) FreeLibrary(reinterpret_cast<HMODULE>(module));
}
