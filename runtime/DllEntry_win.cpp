// The entry point of every DLL built with rs_dll_runtime (DllRuntime.h). It runs under the
// system's loader lock: it loads and releases no library and waits for nothing, and at
// process exit it tears nothing down.
#include <windows.h>

#include "DllRuntime.h"

// The C runtime's entry point for a DLL: runs the static initialisers, then DllMain at
// attach; DllMain, then the static finalisers and exit handlers at detach.
extern "C" BOOL WINAPI DllMainCRTStartup(HANDLE instance, DWORD reason, LPVOID reserved);

// The C runtime's, followed at a thread's exit by the release of that thread's values of
// the runtime's thread-local keys, and at unload by the release of what the runtime still
// holds, once nothing of it runs any more. A non-null reserved argument at detach: the
// process is ending, not the DLL unloaded.
extern "C" BOOL WINAPI RuntimeDllEntry(HANDLE instance, DWORD reason, LPVOID reserved) {
  const BOOL result = DllMainCRTStartup(instance, reason, reserved);
  if (reason == DLL_THREAD_DETACH) ReleaseThreadValues();
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) ReleaseDllRuntime();
  return result;
}
