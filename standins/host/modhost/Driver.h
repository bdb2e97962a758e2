#pragma once
// The two ways the host simulator reaches the dialog: real windows on Windows, the
// in-memory toolkit natively.
#include <memory>
#include <string>

#include "Script.h"

#if defined(_WIN32)
#include <windows.h>
// The first visible top-level window of the class, waited for at most timeoutMs.
HWND WaitForDialog(const wchar_t* className, int timeoutMs);
std::unique_ptr<TDialogDriver> MakeWin32Driver(HWND dialog);
#endif
