// The Windows backend: every form, and every control that takes input or holds others,
// is a real window, so another program can find and drive it with standard messages.
// Each kind of control has its own peer with its own window procedure (Form_win.cpp,
// Panel_win.cpp, GroupBox_win.cpp, SpeedButton_win.cpp, ListBox_win.cpp, Edit_win.cpp on
// top of Peer_win.cpp); labels, bevels and shapes are drawn by the window they lie on
// (Label_win.cpp, Bevel_win.cpp, Shape_win.cpp). This file picks the peer once per
// control and runs what is not one control's: the modal loop's message handling,
// modality, cursor, colours, input methods. Texts go through the wide API, converted from
// the ANSI code page; layout pixels (96 dpi) are scaled to the system dpi.
#include <windows.h>

#include <imm.h>

#include <map>
#include <string>
#include <vector>

#include "platform/ErrorTexts.h"
#include "toolkit/Backend.h"
#include "toolkit/win32/Accessible_win.h"
#include "toolkit/win32/Form_win.h"
#include "toolkit/win32/Peer_win.h"
#include "toolkit/win32/Win32Util.h"

namespace {

HWND Hwnd(const TControl& c) { return reinterpret_cast<HWND>(c.Handle()); }

// The drawing state of a control that has no window of its own; null for the others.
TGraphicPeer* NewGraphicPeer(TControl& c) {
  if (auto* label = dynamic_cast<TLabel*>(&c)) return NewLabelPeer(*label);
  if (auto* bevel = dynamic_cast<TBevel*>(&c)) return NewBevelPeer(*bevel);
  if (auto* shape = dynamic_cast<TShape*>(&c)) return NewShapePeer(*shape);
  return nullptr;
}

TWindowPeer* NewPeer(TControl& c) {
  if (auto* form = dynamic_cast<TCustomForm*>(&c)) return NewFormPeer(*form);
  if (auto* panel = dynamic_cast<TPanel*>(&c)) return NewPanelPeer(*panel);
  if (auto* group = dynamic_cast<TXPTolvikGroupBox*>(&c)) return NewGroupBoxPeer(*group);
  if (auto* button = dynamic_cast<TModalSpeedButton*>(&c)) return NewSpeedButtonPeer(*button);
  if (auto* list = dynamic_cast<TXPTolvikListBox*>(&c)) return NewListBoxPeer(*list);
  if (auto* edit = dynamic_cast<TXPTolvikEdit*>(&c)) return NewEditPeer(*edit);
  return NewPlainPeer(c);
}

// Puts a new child window in its place among its siblings, which stand in tab order, top
// first: the dialog manager's Tab follows the windows' order. The window goes right under
// the sibling before it in tab order (on top when it is the first); one that is in its
// place already is left alone, so a parent whose children are made in tab order costs no
// move at all.
void StackInTabOrder(const TControl& control) {
  HWND above = HWND_TOP;
  for (TControl* c : control.Parent()->TabOrderedControls()) {
    if (c == &control) break;
    if (c->HandleAllocated()) above = Hwnd(*c);
  }
  HWND hwnd = Hwnd(control);
  HWND previous = GetWindow(hwnd, GW_HWNDPREV);
  if (previous == (above == HWND_TOP ? nullptr : above)) return;
  SetWindowPos(hwnd, above, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
}

// Windows disabled for the modal loop of each form, enabled again at its end.
std::map<const TCustomForm*, std::vector<HWND>>& DisabledWindows() {
  static std::map<const TCustomForm*, std::vector<HWND>> disabled;
  return disabled;
}

// The window of the innermost form in a modal loop (the one its inner loops left enabled),
// or null when no form is in one. Unlike the active window it does not depend on the
// process owning the foreground: Windows gives a thread whose process is in the background
// no active window at all.
HWND ModalFormWindow() {
  for (const auto& [form, disabled] : DisabledWindows()) {
    HWND hwnd = form->HandleAllocated() ? Hwnd(*form) : nullptr;
    if (hwnd != nullptr && IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) return hwnd;
  }
  return nullptr;
}

HWND ApplicationWindow() {
  HWND app = reinterpret_cast<HWND>(Application->Handle());
  return app != nullptr && IsWindow(app) ? app : nullptr;
}

// A form opened while another of the module's forms is active or in its modal loop (a
// nested modal dialog) belongs to that form, so it stays above it and gives the activation
// back to it; otherwise to the application window.
HWND OwnerForNewForm() {
  HWND active = GetActiveWindow();
  if (active != nullptr && TWindowPeer::FromHandle(active) != nullptr && IsWindowVisible(active))
    return active;
  if (HWND modal = ModalFormWindow()) return modal;
  return ApplicationWindow();
}

// The owner of a message box: the dialog in its modal loop, whose handler is running,
// else the active window, else the host's application window; never none, so that the
// box is modal to its dialog and stays above it, also when it opens behind another
// program's window.
HWND BoxOwner() {
  if (HWND modal = ModalFormWindow()) return modal;
  if (HWND active = GetActiveWindow()) return active;
  return ApplicationWindow();
}

// Keys typed into one of the module's forms go to its dialog manager first: Tab,
// Shift+Tab, Enter, Esc and the arrow keys work as in every dialog. F1 typed in a control
// reaches the form's own key handling, as it did before any control had the focus.
bool PreTranslate(MSG& m) {
  if (m.message < WM_KEYFIRST || m.message > WM_KEYLAST || m.hwnd == nullptr) return false;
  HWND root = GetAncestor(m.hwnd, GA_ROOT);
  TWindowPeer* peer = TWindowPeer::FromHandle(root);
  if (peer == nullptr || dynamic_cast<TCustomForm*>(&peer->Control()) == nullptr) return false;
  if (m.message == WM_KEYDOWN && m.wParam == VK_F1) m.hwnd = root;
  return IsDialogMessageW(root, &m) != FALSE;
}

}  // namespace

namespace tkbackend {

void CreateHandle(TControl& control) {
  const bool form = dynamic_cast<TCustomForm*>(&control) != nullptr;
  HWND parent = nullptr;
  if (form) {
    // Whether the operator needs High Contrast is asked at every open: the form and its
    // controls draw with the answer.
    AskHighContrast();
    parent = OwnerForNewForm();
  } else if (control.Parent() != nullptr && control.Parent()->HandleAllocated()) {
    parent = Hwnd(*control.Parent());
  } else {
    return;
  }
  if (!form) {
    if (TGraphicPeer* graphic = NewGraphicPeer(control)) {
      control.BackendData = graphic;
      graphic->Update();
      return;
    }
  }
  TWindowPeer* peer = NewPeer(control);
  if (!peer->Create(parent)) {
    delete peer;
    return;
  }
  if (!form) StackInTabOrder(control);
}

void DestroyHandle(TControl& control) {
  if (TGraphicPeer* graphic = TGraphicPeer::Of(control)) {
    graphic->Erase();
    delete graphic;
    control.BackendData = nullptr;
    return;
  }
  HWND hwnd = Hwnd(control);
  // WM_NCDESTROY deletes the peer and clears the control's handle.
  if (hwnd != nullptr && IsWindow(hwnd)) DestroyWindow(hwnd);
  control.SetHandleValue(0);
  control.BackendData = nullptr;
}

void UpdateControl(TControl& c) {
  if (TGraphicPeer* graphic = TGraphicPeer::Of(c)) {
    graphic->Update();
    return;
  }
  auto* peer = static_cast<TWindowPeer*>(c.BackendData);
  if (peer != nullptr && IsWindow(peer->Hwnd())) peer->Update();
}

void ListChanged(TXPTolvikListBox& list) { FillListWindow(list); }

void ListSelectionChanged(TXPTolvikListBox& list) {
  SendMessageW(Hwnd(list), LB_SETCURSEL, static_cast<WPARAM>(list.StoredItemIndex()), 0);
}

int ListItemIndex(const TXPTolvikListBox& list, int) {
  return static_cast<int>(SendMessageW(Hwnd(list), LB_GETCURSEL, 0, 0));
}

std::string EditText(const TXPTolvikEdit& edit, const std::string& stored) {
  HWND hwnd = Hwnd(edit);
  if (hwnd == nullptr) return stored;
  const int n = GetWindowTextLengthW(hwnd);
  std::wstring w(static_cast<size_t>(n) + 1, L'\0');
  GetWindowTextW(hwnd, w.data(), n + 1);
  w.resize(static_cast<size_t>(n));
  return FromWide(w);
}

void SetEditText(TXPTolvikEdit& edit) { SetWindowTextW(Hwnd(edit), ToWide(edit.Text()).c_str()); }

void ShowForm(TCustomForm& form) {
  HWND hwnd = Hwnd(form);
  ShowWindow(hwnd, SW_SHOWNORMAL);
  UpdateWindow(hwnd);
  NotifyDialogShown(hwnd, true);
  // The activation puts the focus on the form's control (WM_ACTIVATE).
  SetForegroundWindow(hwnd);
}

void HideForm(TCustomForm& form) {
  HWND hwnd = Hwnd(form);
  const bool wasActive = GetActiveWindow() == hwnd;
  SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
               SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  NotifyDialogShown(hwnd, false);
  // The activation goes back to the owner (enabled again by now), also when the owner is
  // the host's hidden application window, which the system would pass over.
  HWND owner = GetWindow(hwnd, GW_OWNER);
  if (wasActive && owner != nullptr && IsWindowEnabled(owner)) SetActiveWindow(owner);
}

void SetFocus(TWinControl& control) {
  if (control.HandleAllocated()) {
    ::SetFocus(Hwnd(control));
  } else {
    control.DoEnter();
  }
}

bool Focused(const TWinControl& control) {
  return control.HandleAllocated() && GetFocus() == Hwnd(control);
}

void EnableOtherWindows(TCustomForm& modal, bool enable) {
  auto& disabled = DisabledWindows();
  if (!enable) {
    std::vector<HWND> windows;
    auto add = [&](HWND w) {
      if (w != nullptr && IsWindow(w) && IsWindowEnabled(w) && w != Hwnd(modal)) {
        EnableWindow(w, FALSE);
        windows.push_back(w);
      }
    };
    add(reinterpret_cast<HWND>(Application->Handle()));
    for (int i = 0; i < Screen->FormCount(); ++i) {
      TCustomForm* f = Screen->Forms(i);
      if (f != &modal && f->HandleAllocated() && IsWindowVisible(Hwnd(*f))) add(Hwnd(*f));
    }
    disabled[&modal] = std::move(windows);
  } else {
    auto it = disabled.find(&modal);
    if (it == disabled.end()) return;
    for (HWND w : it->second) {
      if (IsWindow(w)) EnableWindow(w, TRUE);
    }
    disabled.erase(it);
  }
}

bool HandleOneMessage(bool wait) {
  MSG m;
  if (wait) {
    const BOOL got = GetMessageW(&m, nullptr, 0, 0);
    if (got == -1) return false;
    if (got == 0) {
      // A quit request belongs to the outer loop of whoever owns the thread.
      PostQuitMessage(static_cast<int>(m.wParam));
      throw EInvalidOperation(errortext::kApplicationQuitting);
    }
  } else {
    if (!PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) return false;
    if (m.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(m.wParam));
      return false;
    }
  }
  if (PreTranslate(m)) return true;
  TranslateMessage(&m);
  DispatchMessageW(&m);
  return true;
}

void PostToForm(TCustomForm& form, uint32_t msg) {
  PostMessageW(reinterpret_cast<HWND>(form.WindowHandle()), msg, 0, 0);
}

void DefaultHandler(TCustomForm& form, TMessage& m) { FormDefaultHandler(form, m); }

TShiftState KeyShiftState() {
  TShiftState s = 0;
  if (GetKeyState(VK_SHIFT) < 0) s |= ssShift;
  if (GetKeyState(VK_CONTROL) < 0) s |= ssCtrl;
  if (GetKeyState(VK_MENU) < 0) s |= ssAlt;
  return s;
}

void SetScreenCursor(TCursor cursor) {
  // Shown at once: the thread is about to be busy and handles no WM_SETCURSOR meanwhile.
  SetCursor(LoadCursorW(
      nullptr, cursor == TCursor::crHourGlass ? MAKEINTRESOURCEW(32514) : MAKEINTRESOURCEW(32512)));
}

void UnregisterClasses() { UnregisterModuleClasses(); }

TColor SysColor(int index) { return GetSysColor(index); }

int PixelsPerInch() {
  static int dpi = [] {
    TWindowDc screen(nullptr);
    const int v = GetDeviceCaps(screen.Get(), LOGPIXELSY);
    return v > 0 ? v : kDesignPixelsPerInch;
  }();
  return dpi;
}

void ShowErrorBox(const std::string& title, const std::string& text) {
  const std::wstring t = ToWide(title), m = ToWide(text);
  // Owned by the dialog, which it disables until it is dismissed. Without a title the
  // system's caption for errors ("错误") heads it rather than an empty bar.
  MessageBoxW(BoxOwner(), m.c_str(), t.empty() ? nullptr : t.c_str(), MB_ICONERROR | MB_OK);
}

std::string WindowCaption(uintptr_t window) {
  const HWND hwnd = reinterpret_cast<HWND>(window);
  if (hwnd == nullptr || !IsWindow(hwnd)) return {};
  const int n = GetWindowTextLengthW(hwnd);
  if (n <= 0) return {};
  std::wstring w(static_cast<size_t>(n) + 1, L'\0');
  w.resize(static_cast<size_t>(GetWindowTextW(hwnd, w.data(), n + 1)));
  return FromWide(w);
}

std::vector<std::string> InstalledImes() {
  std::vector<std::string> names;
  for (const auto& layout : InstalledKeyboardLayouts()) names.push_back(layout.Name);
  return names;
}

void ActivateIme(const std::string& name, bool open) {
  for (const auto& layout : InstalledKeyboardLayouts()) {
    if (layout.Name != name) continue;
    ActivateKeyboardLayout(layout.Layout, 0);
    HWND focus = GetFocus();
    if (focus == nullptr) return;
    HIMC context = ImmGetContext(focus);
    if (context != nullptr) {
      ImmSetOpenStatus(context, open);
      ImmReleaseContext(focus, context);
    }
    return;
  }
}

}  // namespace tkbackend
