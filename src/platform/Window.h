#pragma once
// Window messages between top-level windows of the process and of the desktop.
//
// On Windows these are the real calls (FindWindowA, SendMessageA, PostMessageA) and a
// TMessageWindow is a real top-level window. Elsewhere windows live in an in-process
// registry: a TMessageWindow registers a class name and a message callback, and the
// same calls find it, send to it and post to it, so portable code and tests behave alike.
//
//   TMessageWindow frame("Tfrm_MainFrame", [&](uint32_t msg, uintptr_t, intptr_t) {
//     seen.push_back(msg); return intptr_t{0}; });
//   SendWindowMessage(FindTopLevelWindow("Tfrm_MainFrame"), 1296, 0, 0);
#include <cstdint>
#include <functional>
#include <string>

// A window handle; 0 is none.
using TWindowHandle = uintptr_t;

// The first top-level window of the class, any title; 0 when there is none.
TWindowHandle FindTopLevelWindow(const char* className);

// Sends a message and waits until it has been handled; the handler's result, or 0 when
// the window does not exist.
intptr_t SendWindowMessage(TWindowHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam);

// Queues a message for the window; false when the window does not exist. A queued
// message whose window is destroyed before its turn is dropped.
bool PostWindowMessage(TWindowHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam);

// Handles one queued message of this thread, if any, without waiting; false when none.
bool PumpOneWindowMessage();

// True while the window exists.
bool IsWindowAlive(TWindowHandle window);

// Writes the window, frame included, as the screen shows it to a 24-bit BMP file (a window
// that is not on the screen draws itself instead). False where there are no real windows,
// or when the capture or the file fails.
bool SaveWindowImage(TWindowHandle window, const std::string& bmpPath);

// A top-level window of a given class whose messages go to a callback. Not copyable; the
// window is destroyed with the object. Messages that the callback does not know should
// return 0. On Windows the window is hidden and its class is registered on first use.
class TMessageWindow {
 public:
  using THandler = std::function<intptr_t(uint32_t msg, uintptr_t wParam, intptr_t lParam)>;
  TMessageWindow(const char* className, THandler handler);
  ~TMessageWindow();
  TMessageWindow(const TMessageWindow&) = delete;
  TMessageWindow& operator=(const TMessageWindow&) = delete;

  TWindowHandle Handle() const { return FHandle; }

  struct TState;  // the backend's

 private:
  TState* FState = nullptr;
  TWindowHandle FHandle = 0;
};
