// The module look-up of our DLLs' start-up code. The compiler's start-up code registers the
// DLL's unwind tables and first asks the system whether the compiler's support library is
// loaded as a DLL of its own ("libgcc_s_dw2-1.dll"), to use that one's registry instead of
// the one linked in. Our DLLs link that library statically and never load it as a DLL, and
// the question is dear: a name the system has not loaded is searched for in every folder of
// the DLL search path, file by file (under Wine, about a millisecond of the DLL's load, more
// when the machine is busy). So the DLL's import slot of GetModuleHandleA is this function:
// it answers that name with "not loaded" at once and asks the system for every other name.
#include <windows.h>

namespace {

constexpr char kSharedSupportLibrary[] = "libgcc_s_dw2-1.dll";

bool SameNameIgnoringCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
    if (x == '\0') return true;
  }
}

HMODULE WINAPI LookUpModule(LPCSTR name) noexcept {
  if (name != nullptr && SameNameIgnoringCase(name, kSharedSupportLibrary)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  HMODULE module = nullptr;
  return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, name, &module) ? module
                                                                                         : nullptr;
}

}  // namespace

// The import slot that calls of GetModuleHandleA in the DLL go through; defined here, it
// keeps the import library's slot out of the link.
extern "C" HMODULE(WINAPI* const ImportedGetModuleHandleA)(LPCSTR) __asm__(
    "__imp__GetModuleHandleA@4");
extern "C" HMODULE(WINAPI* const ImportedGetModuleHandleA)(LPCSTR) = &LookUpModule;
