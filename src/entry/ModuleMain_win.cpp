// The module's entry point and DllMain. Both run under the system's loader lock: they
// load and release no library and wait for nothing, and at process exit they tear
// nothing down.
#include <windows.h>

#include "entry/LibraryEntry.h"
#include "entry/ModuleRuntime.h"

// The C runtime's entry point for a DLL: runs the static initialisers, then DllMain at
// attach; DllMain, then the static finalisers and exit handlers at detach.
extern "C" BOOL WINAPI DllMainCRTStartup(HANDLE instance, DWORD reason, LPVOID reserved);

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    LibraryAttach();
  } else if (reason == DLL_PROCESS_DETACH) {
    // A non-null reserved argument: the process is ending, not the library unloaded.
    if (reserved != nullptr) {
      LibraryProcessExit();
    } else {
      LibraryDetach(0);
    }
  }
  return TRUE;
}

// The module's entry point (the linker's --entry): the C runtime's, followed at unload by
// the release of what the runtime still holds, once nothing of it runs any more.
extern "C" BOOL WINAPI ReaderSettingsEntry(HANDLE instance, DWORD reason, LPVOID reserved) {
  const BOOL result = DllMainCRTStartup(instance, reason, reserved);
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) ReleaseModuleRuntime();
  return result;
}
