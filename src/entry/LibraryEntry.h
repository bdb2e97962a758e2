#pragma once
// The library's one export and its load/unload hooks.
//
//   ShowFrmOption(hostAppWindow, 0, 0);   // returns once the dialog is closed and destroyed
//
// At load the library records the toolkit's application and screen objects; at process
// detach it puts those same objects back, whatever the variables hold by then.
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

// The library-notification hook: reason 0 is process detach; other reasons do nothing.
void LibraryDetach(int Reason);
// The library body, run once at load.
void LibraryAttach();
