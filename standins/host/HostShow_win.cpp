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

}  // namespace

void ShowOperatorBox(uintptr_t owner, const std::string& caption, const std::string& text) {
  // A box asked for while one of the thread's windows is active (a module's dialog in the
  // middle of a handler) belongs to that window: it is modal to it, and the activation
  // goes back to it when the box is dismissed.
  HWND active = GetActiveWindow();
  HWND boxOwner = active != nullptr ? active : reinterpret_cast<HWND>(owner);
  MessageBoxW(boxOwner, FromAnsi(text).c_str(), FromAnsi(caption).c_str(),
              MB_OK | MB_ICONINFORMATION);
}
