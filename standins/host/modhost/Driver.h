#pragma once
// The two ways the host simulator reaches the dialog: real windows on Windows, the
// in-memory toolkit natively.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "Script.h"

#if defined(_WIN32)
#include <windows.h>
// The first visible top-level window of the class, waited for at most timeoutMs or until
// gaveUp is set (the call that would show it has returned).
HWND WaitForDialog(const wchar_t* className, int timeoutMs, const std::atomic<bool>& gaveUp);
std::unique_ptr<TDialogDriver> MakeWin32Driver(HWND dialog);

// The toolkit's error boxes up on a thread: its visible system dialog windows (#32770;
// while the host records, the module shows no other), each with its text in the system
// code page (the box's static texts, the icon's empty one left out).
struct TErrorBox {
  HWND Window;
  std::string Text;
};
std::vector<TErrorBox> FindErrorBoxes(DWORD threadId);
// Presses the box's OK button, as the operator would; the box ends its own loop.
void DismissErrorBox(HWND box);
#endif
