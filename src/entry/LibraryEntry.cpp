#include "entry/LibraryEntry.h"

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

void LibraryProcessExit() { LeaveToolkitObjectsAtExit(); }

void RS_STDCALL ShowFrmOption(THostHandle AppHandle, uint32_t, uint32_t) noexcept {
  try {
    Application->SetHandle(AppHandle);
    // Each call keeps its own dialog, so a nested call cannot make an outer call destroy
    // the wrong one; the owner frees it on every way out of this block.
    TOwned<Tfrm_option> dialog(NewForm<Tfrm_option>(Application));
    dialog->ShowModal();
  } catch (...) {
    // Nothing is thrown into the host: the toolkit's general error report shows it.
    try {
      Application->HandleException(nullptr);
    } catch (...) {
    }
  }
}
