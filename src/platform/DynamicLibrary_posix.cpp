#include <dlfcn.h>

#include "platform/DynamicLibrary.h"

TModuleHandle LoadDynamicLibrary(const char* path, std::string* failure) {
  // RTLD_NOW: a library with unresolved symbols fails here, as a Windows load does,
  // instead of at the first call.
  void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr && failure != nullptr) {
    const char* reason = dlerror();
    *failure = reason != nullptr ? reason : "";
  }
  return reinterpret_cast<TModuleHandle>(module);
}

TModuleHandle LoadSystemLibrary(const char* fileName) {
  return reinterpret_cast<TModuleHandle>(dlopen(fileName, RTLD_NOW | RTLD_LOCAL));
}

void* FindLibraryExport(TModuleHandle module, const char* name) {
  return dlsym(reinterpret_cast<void*>(module), name);
}

void FreeDynamicLibrary(TModuleHandle module) {
  if (module != 0) dlclose(reinterpret_cast<void*>(module));
}
