// User input without windows: each operation takes the path the window's message would.
#include <algorithm>

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

void UserClick(TControl& control) { PerformUserClick(control); }

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

namespace {

// What the system's list box does with a navigation key: the new selected line, or -2
// when the key is not one of them.
int ListKeyTarget(const TXPTolvikListBox& list, uint16_t key) {
  const int count = list.Count(), at = list.ItemIndex();
  const int page = std::max(1, list.Height() / std::max(1, list.ItemHeight()) - 1);
  switch (key) {
    case kVkUp:
      return at <= 0 ? 0 : at - 1;
    case kVkDown:
      return at < 0 ? 0 : std::min(count - 1, at + 1);
    case kVkHome:
      return 0;
    case kVkEnd:
      return count - 1;
    case kVkPrior:
      return std::max(0, at - page);
    case kVkNext:
      return std::min(count - 1, std::max(0, at) + page);
    default:
      return -2;
  }
}

}  // namespace

void UserTypeKey(TCustomForm& form, uint16_t key, TShiftState shift) {
  if ((shift & ssAlt) != 0 && key == kVkF4) {
    UserSystemMenuClose(form);
    return;
  }
  TWinControl* focus = form.ActiveControl();
  if (auto* list = dynamic_cast<TXPTolvikListBox*>(focus)) {
    const int target = ListKeyTarget(*list, key);
    if (target != -2) {
      if (list->Count() > 0 && target != list->ItemIndex()) {
        list->SetItemIndex(target);
        PerformUserClick(*list);
      }
      return;
    }
  }
  if (auto* button = dynamic_cast<TModalSpeedButton*>(focus);
      button != nullptr && key == kVkSpace) {
    PerformUserClick(*button);
    return;
  }
  bool used = false;
  AsHandler([&] { used = form.DialogKey(key, shift); });
  // F1, and every key while no control has the focus, reach the form's key handling.
  if (!used && (key == kVkF1 || focus == nullptr)) UserKeyDown(form, key, shift);
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
