#pragma once
// The operator's side of a message box in the dialog tests: waits (up to 10 s) for a
// visible message box of the process to appear, as an operator looks for it.
//
//   if (HWND box = WaitForMessageBox()) PostMessageW(box, WM_COMMAND, IDOK, 0);
#include <windows.h>

// The first visible message box ("#32770") found; null when none appeared within 10 s.
inline HWND WaitForMessageBox() {
  for (int i = 0; i < 200; ++i) {
    HWND w = FindWindowW(L"#32770", nullptr);
    if (w != nullptr && IsWindowVisible(w)) return w;
    Sleep(50);
  }
  return nullptr;
}
