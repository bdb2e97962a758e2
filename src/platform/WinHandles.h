#pragma once
// The Windows handles the module owns, each as a UniqueHandle with the function that
// closes it, and a window's device context, which needs its window to be released.
// Windows code only (it includes <windows.h>).
//
//   UniqueKernelHandle file(ValidOrNull(CreateFileW(...)));  // closed at the end of the scope
//   UniqueBrush brush(CreateSolidBrush(RGB(0, 0, 0)));
#include <windows.h>

#include "platform/UniqueHandle.h"

struct DeleteGdiObject {
  void operator()(HGDIOBJ object) const noexcept { DeleteObject(object); }
};
struct DeleteMemoryDc {
  void operator()(HDC dc) const noexcept { DeleteDC(dc); }
};
struct CloseKernelHandle {
  void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
struct FreeLocalMemory {
  void operator()(void* memory) const noexcept { LocalFree(memory); }
};
struct CloseRegKey {
  void operator()(HKEY key) const noexcept { RegCloseKey(key); }
};

using UniqueFont = UniqueHandle<HFONT, DeleteGdiObject>;
using UniqueBrush = UniqueHandle<HBRUSH, DeleteGdiObject>;
using UniquePen = UniqueHandle<HPEN, DeleteGdiObject>;
using UniqueBitmap = UniqueHandle<HBITMAP, DeleteGdiObject>;
using UniqueMemoryDc = UniqueHandle<HDC, DeleteMemoryDc>;
using UniqueKernelHandle = UniqueHandle<HANDLE, CloseKernelHandle>;
using UniqueRegKey = UniqueHandle<HKEY, CloseRegKey>;
// Memory the system allocated with LocalAlloc for the caller (security descriptors).
using UniqueLocalMemory = UniqueHandle<void*, FreeLocalMemory>;

// CreateFile's failure value is INVALID_HANDLE_VALUE, not null: the empty value of an
// owner is null, so the result is stored through this.
inline HANDLE ValidOrNull(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

// A window's device context from GetDC or GetWindowDC, released with the window it came
// from. Move-only like UniqueHandle; a DC from ReleaseDC's family needs its window too.
class TWindowDc {
 public:
  enum TArea { kClient, kWholeWindow };
  explicit TWindowDc(HWND hwnd, TArea area = kClient)
      : FHwnd(hwnd), FDc(area == kClient ? GetDC(hwnd) : GetWindowDC(hwnd)) {}
  ~TWindowDc() {
    if (FDc != nullptr) ReleaseDC(FHwnd, FDc);
  }
  TWindowDc(const TWindowDc&) = delete;
  TWindowDc& operator=(const TWindowDc&) = delete;
  HDC Get() const { return FDc; }

 private:
  HWND FHwnd;
  HDC FDc;
};
