#pragma once
// The library's one export and its load/unload hooks.
//
//   ShowFrmOption(hostAppWindow, 0, 0);   // returns once the dialog is closed and destroyed
//
// At load the library records the toolkit's application and screen objects; when the
// library is unloaded it puts those same objects back, whatever the variables hold by
// then. When the process ends instead, nothing is torn down: no dialog is destroyed and
// no library is released while the system ends the process.
#include <cstdint>

#include "host/HostApi.h"

extern "C" {
#if defined(_WIN32)
__declspec(dllexport)
#else
__attribute__((visibility("default")))
#endif
    void RS_STDCALL
    ShowFrmOption(THostHandle AppHandle, uint32_t Reserved1, uint32_t Reserved2) noexcept;
}

// The library-notification hook: reason 0 is the library's unload; other reasons do
// nothing.
void LibraryDetach(int Reason);
// The library body, run once at load.
void LibraryAttach();
// The process is ending with the library still loaded: the toolkit's objects, and the
// dialogs and reader libraries they own, are left for the system to reclaim.
void LibraryProcessExit();
