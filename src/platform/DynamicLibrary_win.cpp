#include <windows.h>

#include "platform/DynamicLibrary.h"
#include "platform/ErrorTexts.h"
#include "platform/SystemError.h"

TModuleHandle LoadDynamicLibrary(const char* path, std::string* failure) {
  const HMODULE module = LoadLibraryA(path);
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
