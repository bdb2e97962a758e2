#include <dlfcn.h>

#include <cstdlib>

#include "PcscApi.h"

std::string ServiceErrorText(int32_t code) {
  // pcsc-lite's text lives in its own buffer; copy it before anything else calls it.
  const char* text = pcsc_stringify_error(static_cast<LONG>(static_cast<uint32_t>(code)));
  return text ? std::string(text) : std::string();
}

std::string EnvironmentText(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

void KeepLibraryLoaded() {
  static bool kept = false;
  if (kept) return;
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&KeepLibraryLoaded), &info) || !info.dli_fname) return;
  // RTLD_NOLOAD finds the copy already mapped; RTLD_NODELETE marks it to stay.
  kept = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
}

namespace {

// Runs when the library is unloaded (dlclose) and at process exit. The dynamic loader
// runs it before it unloads pcsc-lite, our dependency, and pcsc-lite takes none of the
// loader's locks, so releasing the context here is a plain request to pcscd.
__attribute__((destructor)) void OnUnload() { ReleaseHeldService(); }

}  // namespace
