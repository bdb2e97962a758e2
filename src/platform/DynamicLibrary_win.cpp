#include <windows.h>

#include "platform/DynamicLibrary.h"

TModuleHandle LoadDynamicLibrary(const char* path) {
  return reinterpret_cast<TModuleHandle>(LoadLibraryA(path));
}

void* FindLibraryExport(TModuleHandle module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(module), name));
}

void FreeDynamicLibrary(TModuleHandle module) {
  if (module != 0) FreeLibrary(reinterpret_cast<HMODULE>(module));
}
