#include <dlfcn.h>

#include "platform/DynamicLibrary.h"

TModuleHandle LoadDynamicLibrary(const char* path) {
  // RTLD_NOW: a library with unresolved symbols fails here, as a Windows load does,
  // instead of at the first call.
  return reinterpret_cast<TModuleHandle>(dlopen(path, RTLD_NOW | RTLD_LOCAL));
}

void* FindLibraryExport(TModuleHandle module, const char* name) {
  return dlsym(reinterpret_cast<void*>(module), name);
}

void FreeDynamicLibrary(TModuleHandle module) {
  if (module != 0) dlclose(reinterpret_cast<void*>(module));
}
