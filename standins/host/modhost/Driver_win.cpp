// Drives the reader settings dialog the way an operator does: through its real
// windows, from a second thread, with the standard window messages.
#include <windows.h>

#include <cstdio>
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
    // Typed on the keyboard: the system delivers the keys to the focused control of the
    // active dialog, whose dialog manager sees them as any typed key.
    SetForegroundWindow(FDialog);
    std::vector<INPUT> keys;
    auto add = [&](WORD vk, bool up) {
      INPUT in{};
      in.type = INPUT_KEYBOARD;
      in.ki.wVk = vk;
      in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, 0 /* MAPVK_VK_TO_VSC */));
      in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
      keys.push_back(in);
    };
    if (shift) add(VK_SHIFT, false);
    if (ctrl) add(VK_CONTROL, false);
    if (alt) add(VK_MENU, false);
    add(static_cast<WORD>(virtualKey), false);
    add(static_cast<WORD>(virtualKey), true);
    if (alt) add(VK_MENU, true);
    if (ctrl) add(VK_CONTROL, true);
    if (shift) add(VK_SHIFT, true);
    SendInput(static_cast<UINT>(keys.size()), keys.data(), sizeof(INPUT));
    Settle();
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
