// User input without windows: each operation takes the path the window's message would.
#include "platform/Window.h"
#include "toolkit/Backend.h"
#include "toolkit/UserInput.h"

namespace tkbackend {
extern TShiftState gHeadlessShiftState;
}

namespace {

// Runs an action as a message handler runs: a failure goes to the error report.
template <class F>
void AsHandler(F action) {
  try {
    action();
  } catch (...) {
    Application->HandleException(nullptr);
  }
}

}  // namespace

void UserClick(TControl& control) {
  if (!control.Showing() || !control.Enabled()) return;
  AsHandler([&] { control.Click(); });
}

void UserSelectLine(TXPTolvikListBox& list, int index) {
  if (!list.Showing() || !list.Enabled()) return;
  AsHandler([&] {
    list.SetFocus();
    list.SetItemIndex(index);
    list.Click();
  });
}

void UserKeyDown(TCustomForm& form, uint16_t key, TShiftState shift) {
  tkbackend::gHeadlessShiftState = shift;
  constexpr uint32_t kWmKeyDownMsg = kWmKeyDown;
  SendWindowMessage(form.WindowHandle(), kWmKeyDownMsg, key, 0);
  tkbackend::gHeadlessShiftState = 0;
}

void UserCloseBox(TCustomForm& form) { SendWindowMessage(form.WindowHandle(), kWmClose, 0, 0); }

void UserSystemMenuClose(TCustomForm& form) {
  SendWindowMessage(form.WindowHandle(), 0x0112, 0xF060, 0);
}

void UserFocus(TWinControl& control) {
  AsHandler([&] { control.SetFocus(); });
}

intptr_t UserSendMessage(TCustomForm& form, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  return SendWindowMessage(form.WindowHandle(), msg, wParam, lParam);
}

bool CaptureFormImage(TCustomForm&, const std::string&) { return false; }
