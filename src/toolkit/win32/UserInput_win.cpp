// User input as real window messages to the real windows.
#include <windows.h>

#include <vector>

#include "platform/Window.h"
#include "toolkit/UserInput.h"
#include "toolkit/win32/Win32Util.h"

namespace {

HWND Hwnd(const TControl& c) { return reinterpret_cast<HWND>(c.Handle()); }

// The modifiers of shift are down in the thread's keyboard state for the scope, as the
// window procedures and the dialog manager read them (Shift+Tab, Alt+F4); the state before
// is put back afterwards.
class TModifierKeys {
 public:
  explicit TModifierKeys(TShiftState shift) {
    GetKeyboardState(FSaved);
    BYTE state[256];
    GetKeyboardState(state);
    auto set = [&](int vk, bool down) { state[vk] = down ? 0x80 : 0; };
    set(VK_SHIFT, shift & ssShift);
    set(VK_CONTROL, shift & ssCtrl);
    set(VK_MENU, shift & ssAlt);
    SetKeyboardState(state);
  }
  ~TModifierKeys() { SetKeyboardState(FSaved); }
  TModifierKeys(const TModifierKeys&) = delete;
  TModifierKeys& operator=(const TModifierKeys&) = delete;

 private:
  BYTE FSaved[256];
};

}  // namespace

void UserClick(TControl& control) {
  if (!control.HandleAllocated()) return;
  SendMessageW(Hwnd(control), BM_CLICK, 0, 0);
}

void UserSelectLine(TXPTolvikListBox& list, int index) {
  HWND hwnd = Hwnd(list);
  if (hwnd == nullptr || !IsWindowVisible(hwnd) || !IsWindowEnabled(hwnd)) return;
  SetFocus(hwnd);
  SendMessageW(hwnd, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
  // A click on a line tells the parent, which LB_SETCURSEL alone does not.
  SendMessageW(GetParent(hwnd), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), LBN_SELCHANGE),
               reinterpret_cast<LPARAM>(hwnd));
}

void UserKeyDown(TCustomForm& form, uint16_t key, TShiftState shift) {
  const TModifierKeys modifiers(shift);
  SendMessageW(reinterpret_cast<HWND>(form.WindowHandle()), WM_KEYDOWN, key, 1);
}

void UserTypeKey(TCustomForm& form, uint16_t key, TShiftState shift) {
  HWND root = reinterpret_cast<HWND>(form.WindowHandle());
  HWND target = GetFocus();
  if (target == nullptr || GetAncestor(target, GA_ROOT) != root) target = root;
  const TModifierKeys modifiers(shift);
  const bool alt = (shift & ssAlt) != 0;
  const LPARAM data = 1 |
                      (static_cast<LPARAM>(MapVirtualKeyW(key, 0 /* MAPVK_VK_TO_VSC */)) << 16) |
                      (alt ? (LPARAM{1} << 29) : 0);
  PostMessageW(target, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, key, data);
  PostMessageW(target, alt ? WM_SYSKEYUP : WM_KEYUP, key, data | static_cast<LPARAM>(0xC0000000u));
  Application->ProcessMessages();
}

void UserCloseBox(TCustomForm& form) {
  SendMessageW(reinterpret_cast<HWND>(form.WindowHandle()), WM_CLOSE, 0, 0);
}

void UserSystemMenuClose(TCustomForm& form) {
  SendMessageW(reinterpret_cast<HWND>(form.WindowHandle()), WM_SYSCOMMAND, SC_CLOSE, 0);
}

void UserFocus(TWinControl& control) {
  if (control.HandleAllocated()) SetFocus(Hwnd(control));
}

intptr_t UserSendMessage(TCustomForm& form, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  return SendMessageW(reinterpret_cast<HWND>(form.WindowHandle()), msg, wParam, lParam);
}

bool CaptureFormImage(TCustomForm& form, const std::string& bmpPath) {
  HWND hwnd = reinterpret_cast<HWND>(form.WindowHandle());
  RedrawWindow(hwnd, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  return SaveWindowImage(form.WindowHandle(), bmpPath);
}
