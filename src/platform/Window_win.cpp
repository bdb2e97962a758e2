// Top-level windows through the Windows API.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/WinHandles.h"
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

namespace {

struct CloseFile {
  void operator()(FILE* file) const noexcept { std::fclose(file); }
};

}  // namespace

bool SaveWindowImage(TWindowHandle window, const std::string& bmpPath) {
  HWND hwnd = reinterpret_cast<HWND>(window);
  if (!IsWindow(hwnd)) return false;
  RECT r;
  GetWindowRect(hwnd, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;
  // The window's DC goes back to the window (ReleaseDC needs both), after the memory DC.
  const TWindowDc windowDcOwner(hwnd, TWindowDc::kWholeWindow);
  HDC windowDc = windowDcOwner.Get();
  if (windowDc == nullptr) return false;
  const UniqueMemoryDc memDc(CreateCompatibleDC(windowDc));
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = h;  // bottom-up, as a BMP file stores it
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const UniqueBitmap dib(CreateDIBSection(windowDc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!memDc || !dib) return false;
  HGDIOBJ old = SelectObject(memDc.Get(), dib.Get());
  // What the screen shows; a window that is not on the screen draws itself instead.
  if (!BitBlt(memDc.Get(), 0, 0, w, h, windowDc, 0, 0, SRCCOPY)) PrintWindow(hwnd, memDc.Get(), 0);
  GdiFlush();
  SelectObject(memDc.Get(), old);
  const DWORD stride = ((static_cast<DWORD>(w) * 3 + 3) & ~3u);
  const DWORD imageSize = stride * static_cast<DWORD>(h);
  BITMAPFILEHEADER fh{};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof(fh) + sizeof(BITMAPINFOHEADER);
  fh.bfSize = fh.bfOffBits + imageSize;
  bi.bmiHeader.biSizeImage = imageSize;
  UniqueHandle<FILE*, CloseFile> file(std::fopen(bmpPath.c_str(), "wb"));
  if (!file) return false;
  const bool written = std::fwrite(&fh, sizeof(fh), 1, file.Get()) == 1 &&
                       std::fwrite(&bi.bmiHeader, sizeof(BITMAPINFOHEADER), 1, file.Get()) == 1 &&
                       std::fwrite(bits, imageSize, 1, file.Get()) == 1;
  // Closing flushes: its failure is a failed write too.
  return std::fclose(file.Release()) == 0 && written;
}
