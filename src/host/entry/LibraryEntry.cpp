#include "host/entry/LibraryEntry.h"

#include "settings/f_option.h"
#include "toolkit/Forms.h"

namespace {

// The toolkit objects current when the library was loaded; not owned here.
TApplication* OldApplication = nullptr;
TScreen* OldScreen = nullptr;
bool HookInstalled = false;

}  // namespace

void LibraryAttach() {
  OldApplication = Application;
  OldScreen = Screen;
  HookInstalled = true;
}

void LibraryDetach(int Reason) {
  if (!HookInstalled || Reason != 0) return;
  Application = OldApplication;
  Screen = OldScreen;
  UnregisterWindowClasses();
}

void RS_STDCALL ShowFrmOption(THostHandle AppHandle, uint32_t, uint32_t) noexcept {
  try {
    Application->SetHandle(AppHandle);
    // Each call keeps its own dialog, so a nested call cannot make an outer call destroy
    // the wrong one.
    Tfrm_option* dialog = NewForm<Tfrm_option>(Application);
    try {
      dialog->ShowModal();
    } catch (...) {
      dialog->Free();
      throw;
    }
    dialog->Free();
  } catch (...) {
    // Nothing is thrown into the host: the toolkit's general error report shows it.
    try {
      Application->HandleException(nullptr);
    } catch (...) {
    }
  }
}

#if defined(_WIN32)
#include <windows.h>

// The runtime has initialised the library's units before this runs at attach and
// finalises them only after it has run at detach.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    LibraryAttach();
  } else {
    LibraryDetach(static_cast<int>(reason));
  }
  return TRUE;
}
#endif
