// The module's DllMain, called by the entry point of our DLLs (runtime/DllRuntime.h) after
// the static initialisers at attach and before the static finalisers at detach. It runs
// under the system's loader lock: it loads and releases no library and waits for nothing,
// and at process exit it tears nothing down.
#include <windows.h>

#include "entry/LibraryEntry.h"

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
