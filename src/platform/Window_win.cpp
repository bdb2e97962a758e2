// Top-level windows through the Windows API.
#include <windows.h>

#include <string>

#include "platform/Window.h"

struct TMessageWindow::TState {
  THandler Handler;
};

namespace {

LRESULT CALLBACK MessageWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* state = reinterpret_cast<TMessageWindow::TState*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (state != nullptr && msg >= WM_USER) {
    try {
      return state->Handler(msg, wParam, lParam);
    } catch (...) {
      return 0;
    }
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

}  // namespace

TWindowHandle FindTopLevelWindow(const char* className) {
  return reinterpret_cast<TWindowHandle>(FindWindowA(className, nullptr));
}

intptr_t SendWindowMessage(TWindowHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  return SendMessageA(reinterpret_cast<HWND>(window), msg, wParam, lParam);
}

bool PostWindowMessage(TWindowHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  return PostMessageA(reinterpret_cast<HWND>(window), msg, wParam, lParam) != FALSE;
}

bool PumpOneWindowMessage() {
  MSG m;
  if (!PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) return false;
  TranslateMessage(&m);
  DispatchMessageW(&m);
  return true;
}

bool IsWindowAlive(TWindowHandle window) {
  return window != 0 && IsWindow(reinterpret_cast<HWND>(window)) != FALSE;
}

// Only messages from WM_USER up reach the handler; the window's own housekeeping stays
// with the system.
TMessageWindow::TMessageWindow(const char* className, THandler handler)
    : FState(new TState{std::move(handler)}) {
  WNDCLASSA wc{};
  HINSTANCE instance = GetModuleHandleA(nullptr);
  if (!GetClassInfoA(instance, className, &wc)) {
    wc = WNDCLASSA{};
    wc.lpfnWndProc = MessageWindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = className;
    RegisterClassA(&wc);
  }
  HWND hwnd = CreateWindowExA(0, className, "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                              instance, FState);
  FHandle = reinterpret_cast<TWindowHandle>(hwnd);
}

TMessageWindow::~TMessageWindow() {
  if (FHandle != 0) DestroyWindow(reinterpret_cast<HWND>(FHandle));
  delete FState;
}
