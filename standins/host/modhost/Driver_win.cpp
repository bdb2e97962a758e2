// Drives the reader settings dialog the way an operator does: through its real
// windows, from a second thread, with the standard window messages.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <thread>
#include <vector>

#include "Driver.h"
#include "platform/Window.h"

namespace {

std::wstring Wide(const std::string& ansi) {
  if (ansi.empty()) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring w(n, L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), w.data(), n);
  return w;
}

std::string Ansi(const std::wstring& wide) {
  if (wide.empty()) return {};
  int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string a(n, '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), a.data(), n, nullptr,
                      nullptr);
  return a;
}

std::wstring WindowTextOf(HWND w) {
  wchar_t buf[1024];
  // WM_GETTEXT through SendMessageTimeout: a hung dialog must not hang the driver.
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(w, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG,
                           5000, &got))
    return {};
  return std::wstring(buf, got);
}

std::wstring ClassOf(HWND w) {
  wchar_t buf[256];
  int n = GetClassNameW(w, buf, 256);
  return std::wstring(buf, n > 0 ? n : 0);
}

struct TFind {
  std::wstring Class;
  std::wstring Text;
  HWND Found = nullptr;
};

BOOL CALLBACK FindChild(HWND w, LPARAM p) {
  auto* f = reinterpret_cast<TFind*>(p);
  if (!IsWindowVisible(w)) return TRUE;
  const bool classOk = f->Class.empty() || _wcsicmp(ClassOf(w).c_str(), f->Class.c_str()) == 0;
  const bool textOk = f->Text.empty() || WindowTextOf(w) == f->Text;
  if (classOk && textOk) {
    f->Found = w;
    return FALSE;
  }
  return TRUE;
}

class TWin32Driver : public TDialogDriver {
 public:
  explicit TWin32Driver(HWND dialog) : FDialog(dialog) {}

  std::string Caption() override { return Ansi(WindowTextOf(FDialog)); }

  std::vector<std::string> Lines() override {
    std::vector<std::string> lines;
    HWND list = List();
    if (list == nullptr) return lines;
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      const LRESULT len = SendMessageW(list, LB_GETTEXTLEN, i, 0);
      std::wstring text(len > 0 ? len : 0, L'\0');
      std::vector<wchar_t> buf(len + 1);
      SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(buf.data()));
      lines.push_back(Ansi(std::wstring(buf.data(), len > 0 ? len : 0)));
    }
    return lines;
  }

  int Selected() override {
    HWND list = List();
    return list == nullptr ? -1 : static_cast<int>(SendMessageW(list, LB_GETCURSEL, 0, 0));
  }

  bool Select(int index) override {
    HWND list = List();
    if (list == nullptr) return false;
    // A mouse click on the line, as the operator makes it, with the pointer moved onto
    // the line first: the system list follows the pointer while the button is down, so a
    // pointer left elsewhere (over another line) would pick that line instead.
    RECT r{};
    SendMessageW(list, LB_SETTOPINDEX, index, 0);
    if (SendMessageW(list, LB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&r)) == LB_ERR)
      return false;
    POINT at = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    POINT onScreen = at;
    ClientToScreen(list, &onScreen);
    SetCursorPos(onScreen.x, onScreen.y);
    const LPARAM where = MAKELPARAM(at.x, at.y);
    SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, where);
    SendMessageW(list, WM_LBUTTONUP, 0, where);
    if (Selected() == index) return true;
    // Should the pointer still have been elsewhere, the list's own messages do what the
    // click would have: select the line and tell the dialog.
    SendMessageW(list, LB_SETCURSEL, index, 0);
    SendMessageW(GetParent(list), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
    return Selected() == index;
  }

  bool Press(const std::string& caption) override {
    TFind f{L"", Wide(caption)};
    EnumChildWindows(FDialog, FindChild, reinterpret_cast<LPARAM>(&f));
    if (f.Found == nullptr) return false;
    // Sent, not posted: the handler has run (and shown its message) when this returns.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(f.Found, BM_CLICK, 0, 0, SMTO_NORMAL, 30000, &ignored);
    return true;
  }

  void CloseBox() override {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(FDialog, WM_SYSCOMMAND, SC_CLOSE, 0, SMTO_NORMAL, 30000, &ignored);
  }

  void Key(int virtualKey, bool shift, bool ctrl, bool alt) override {
    // Posted to the focused control of the dialog's thread, as the system delivers a typed
    // key there. Typed input (SendInput) goes to whatever window is in front, and Windows
    // may refuse the dialog the foreground (its process in the background), so the keys
    // would reach another program. The modifiers go into the key state the dialog's thread
    // reads (shared with this thread for the moment), where the dialog manager looks for
    // Shift and the form for Shift and Ctrl.
    const DWORD dialogThread = GetWindowThreadProcessId(FDialog, nullptr);
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    HWND target = FDialog;
    if (GetGUIThreadInfo(dialogThread, &info) && info.hwndFocus != nullptr &&
        GetAncestor(info.hwndFocus, GA_ROOT) == FDialog)
      target = info.hwndFocus;
    const DWORD self = GetCurrentThreadId();
    const bool attached = AttachThreadInput(self, dialogThread, TRUE) != FALSE;
    BYTE before[256] = {};
    GetKeyboardState(before);
    BYTE state[256];
    std::copy(std::begin(before), std::end(before), std::begin(state));
    auto press = [&](int vk, bool down) {
      state[vk] = down ? static_cast<BYTE>(state[vk] | 0x80) : static_cast<BYTE>(state[vk] & 0x7F);
    };
    press(VK_SHIFT, shift);
    press(VK_CONTROL, ctrl);
    press(VK_MENU, alt);
    SetKeyboardState(state);
    // Alt makes a system key; its context bit (29) is what the default window procedure
    // reads for Alt+F4.
    const UINT down = alt ? WM_SYSKEYDOWN : WM_KEYDOWN;
    const UINT up = alt ? WM_SYSKEYUP : WM_KEYUP;
    const auto scan = static_cast<LPARAM>(MapVirtualKeyW(static_cast<UINT>(virtualKey), 0)) << 16;
    const LPARAM context = alt ? LPARAM{1} << 29 : 0;
    PostMessageW(target, down, static_cast<WPARAM>(virtualKey), 1 | scan | context);
    // A release: previous state down (bit 30), transition (bit 31).
    const auto release = static_cast<LPARAM>(static_cast<DWORD>(0xC0000000u));
    PostMessageW(target, up, static_cast<WPARAM>(virtualKey), 1 | scan | context | release);
    Settle();
    SetKeyboardState(before);
    if (attached) AttachThreadInput(self, dialogThread, FALSE);
  }

  void SkinRefresh() override {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(FDialog, 0x517, 0, 0, SMTO_NORMAL, 30000, &ignored);
  }

  bool Screenshot(const std::string& path) override {
    // Let the last click's repaint reach the screen first.
    RedrawWindow(FDialog, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return SaveWindowImage(reinterpret_cast<TWindowHandle>(FDialog), path);
  }

  bool Closed() override { return !IsWindow(FDialog); }

 private:
  // Waits until the dialog's thread has taken the typed keys and handled them: a sent
  // message is answered only between two handled messages.
  void Settle() {
    for (int i = 0; i < 3; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      DWORD_PTR ignored = 0;
      if (!IsWindow(FDialog)) return;
      SendMessageTimeoutW(FDialog, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &ignored);
    }
  }

  HWND List() {
    TFind f{L"ListBox", L""};
    EnumChildWindows(FDialog, FindChild, reinterpret_cast<LPARAM>(&f));
    return f.Found;
  }

  HWND FDialog;
};

}  // namespace

HWND WaitForDialog(const wchar_t* className, int timeoutMs, const std::atomic<bool>& gaveUp) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < until && !gaveUp) {
    HWND w = FindWindowW(className, nullptr);
    if (w != nullptr && IsWindowVisible(w)) return w;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return nullptr;
}

std::unique_ptr<TDialogDriver> MakeWin32Driver(HWND dialog) {
  return std::make_unique<TWin32Driver>(dialog);
}

namespace {

BOOL CALLBACK CollectBox(HWND w, LPARAM p) {
  auto* boxes = reinterpret_cast<std::vector<TErrorBox>*>(p);
  if (IsWindowVisible(w) && ClassOf(w) == L"#32770") boxes->push_back({w, {}});
  return TRUE;
}

BOOL CALLBACK CollectStaticText(HWND w, LPARAM p) {
  auto* text = reinterpret_cast<std::wstring*>(p);
  if (_wcsicmp(ClassOf(w).c_str(), L"Static") != 0) return TRUE;
  const std::wstring part = WindowTextOf(w);
  if (!part.empty()) *text += (text->empty() ? L"" : L"\n") + part;
  return TRUE;
}

}  // namespace

std::vector<TErrorBox> FindErrorBoxes(DWORD threadId) {
  std::vector<TErrorBox> boxes;
  EnumThreadWindows(threadId, CollectBox, reinterpret_cast<LPARAM>(&boxes));
  for (TErrorBox& box : boxes) {
    std::wstring text;
    EnumChildWindows(box.Window, CollectStaticText, reinterpret_cast<LPARAM>(&text));
    box.Text = Ansi(text);
  }
  return boxes;
}

void DismissErrorBox(HWND box) {
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
}
