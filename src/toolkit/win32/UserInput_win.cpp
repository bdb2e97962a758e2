// User input as real window messages to the real windows.
#include "toolkit/UserInput.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "toolkit/win32/Win32Util.h"

namespace {

HWND Hwnd(const TControl& c) { return reinterpret_cast<HWND>(c.Handle()); }

}  // namespace

void UserClick(TControl& control) {
  if (!control.HandleAllocated()) return;
  SendMessageW(Hwnd(control), BM_CLICK, 0, 0);
}

void UserSelectLine(TXPTolvikListBox& list, int index) {
  HWND hwnd = Hwnd(list);
  if (hwnd == nullptr || !IsWindowVisible(hwnd) || !IsWindowEnabled(hwnd)) return;
  SetFocus(hwnd);
  SendMessageW(hwnd, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
  // A click on a line tells the parent, which LB_SETCURSEL alone does not.
  SendMessageW(GetParent(hwnd), WM_COMMAND,
               MAKEWPARAM(GetDlgCtrlID(hwnd), LBN_SELCHANGE), reinterpret_cast<LPARAM>(hwnd));
}

void UserKeyDown(TCustomForm& form, uint16_t key, TShiftState shift) {
  BYTE saved[256];
  GetKeyboardState(saved);
  BYTE state[256];
  GetKeyboardState(state);
  auto set = [&](int vk, bool down) { state[vk] = down ? 0x80 : 0; };
  set(VK_SHIFT, shift & ssShift);
  set(VK_CONTROL, shift & ssCtrl);
  set(VK_MENU, shift & ssAlt);
  SetKeyboardState(state);
  SendMessageW(reinterpret_cast<HWND>(form.WindowHandle()), WM_KEYDOWN, key, 1);
  SetKeyboardState(saved);
}

void UserCloseBox(TCustomForm& form) {
  SendMessageW(reinterpret_cast<HWND>(form.WindowHandle()), WM_CLOSE, 0, 0);
}

void UserSystemMenuClose(TCustomForm& form) {
  SendMessageW(reinterpret_cast<HWND>(form.WindowHandle()), WM_SYSCOMMAND, SC_CLOSE, 0);
}

void UserFocus(TWinControl& control) {
  if (control.HandleAllocated()) SetFocus(Hwnd(control));
}

intptr_t UserSendMessage(TCustomForm& form, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  return SendMessageW(reinterpret_cast<HWND>(form.WindowHandle()), msg, wParam, lParam);
}

bool CaptureFormImage(TCustomForm& form, const std::string& bmpPath) {
  HWND hwnd = reinterpret_cast<HWND>(form.WindowHandle());
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  RECT r;
  GetWindowRect(hwnd, &r);
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;
  HDC windowDc = GetWindowDC(hwnd);
  HDC memDc = CreateCompatibleDC(windowDc);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = h;  // bottom-up, as a BMP file stores it
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(windowDc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = dib != nullptr;
  if (ok) {
    HGDIOBJ old = SelectObject(memDc, dib);
    // What the screen shows; a window that is not on the screen draws itself instead.
    if (!BitBlt(memDc, 0, 0, w, h, windowDc, 0, 0, SRCCOPY)) PrintWindow(hwnd, memDc, 0);
    GdiFlush();
    SelectObject(memDc, old);
    DWORD stride = ((static_cast<DWORD>(w) * 3 + 3) & ~3u);
    DWORD imageSize = stride * static_cast<DWORD>(h);
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof(fh) + sizeof(BITMAPINFOHEADER);
    fh.bfSize = fh.bfOffBits + imageSize;
    bi.bmiHeader.biSizeImage = imageSize;
    FILE* f = std::fopen(bmpPath.c_str(), "wb");
    ok = f != nullptr;
    if (ok) {
      ok = std::fwrite(&fh, sizeof(fh), 1, f) == 1 &&
           std::fwrite(&bi.bmiHeader, sizeof(BITMAPINFOHEADER), 1, f) == 1 &&
           std::fwrite(bits, imageSize, 1, f) == 1;
      ok = std::fclose(f) == 0 && ok;
    }
    DeleteObject(dib);
  }
  DeleteDC(memDc);
  ReleaseDC(hwnd, windowDc);
  return ok;
}
