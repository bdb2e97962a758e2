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
  MessageBoxW(reinterpret_cast<HWND>(owner), FromAnsi(text).c_str(), FromAnsi(caption).c_str(),
              MB_OK | MB_ICONINFORMATION);
}
