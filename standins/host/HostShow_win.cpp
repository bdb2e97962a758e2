#include <windows.h>

#include "HostShow.h"

namespace {

std::wstring FromAnsi(const std::string& text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

// The thread's topmost visible, enabled top-level window (an owned window lies above its
// owner in the z-order, so a dialog comes before the host frame under it); null when none.
HWND TopInputWindowOfThread() {
  const DWORD thread = GetCurrentThreadId();
  for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
    if (GetWindowThreadProcessId(w, nullptr) == thread && IsWindowVisible(w) && IsWindowEnabled(w))
      return w;
  }
  return nullptr;
}

}  // namespace

void ShowOperatorBox(uintptr_t owner, const std::string& caption, const std::string& text) {
  // A box asked for while one of the thread's windows is active (a module's dialog in the
  // middle of a handler) belongs to that window: it is modal to it, and the activation
  // goes back to it when the box is dismissed. While the host is in the background Windows
  // leaves the thread no active window; the box then belongs to the thread's window that
  // takes input, topmost first (the dialog: a modal loop leaves only it enabled), so that
  // it never opens without an owner behind other programs' windows.
  HWND boxOwner = GetActiveWindow();
  if (boxOwner == nullptr) boxOwner = TopInputWindowOfThread();
  if (boxOwner == nullptr) boxOwner = reinterpret_cast<HWND>(owner);
  MessageBoxW(boxOwner, FromAnsi(text).c_str(), FromAnsi(caption).c_str(),
              MB_OK | MB_ICONINFORMATION);
}
