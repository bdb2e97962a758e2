#pragma once
// GDI helpers of the Windows backend: owned GDI handles, layout scaling, colours and the
// few drawing operations the controls share.
//
//   UniqueBrush brush(CreateSolidBrush(Rgb(color)));
//   FillRect(dc, &r, brush.Get());          // the brush is deleted at the end of the scope
#include <windows.h>

#include <string>

#include "platform/UniqueHandle.h"
#include "toolkit/Graphics.h"

struct DeleteGdiObject {
  void operator()(HGDIOBJ object) const noexcept { DeleteObject(object); }
};
struct DeleteMemoryDc {
  void operator()(HDC dc) const noexcept { DeleteDC(dc); }
};
using UniqueFont = UniqueHandle<HFONT, DeleteGdiObject>;
using UniqueBrush = UniqueHandle<HBRUSH, DeleteGdiObject>;
using UniquePen = UniqueHandle<HPEN, DeleteGdiObject>;
using UniqueBitmap = UniqueHandle<HBITMAP, DeleteGdiObject>;
using UniqueMemoryDc = UniqueHandle<HDC, DeleteMemoryDc>;

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

// Selects an object into a DC for the scope and puts the old one back.
class TSelectObject {
 public:
  TSelectObject(HDC dc, HGDIOBJ object) : FDc(dc), FOld(SelectObject(dc, object)) {}
  ~TSelectObject() { SelectObject(FDc, FOld); }
  TSelectObject(const TSelectObject&) = delete;
  TSelectObject& operator=(const TSelectObject&) = delete;

 private:
  HDC FDc;
  HGDIOBJ FOld;
};

// Layout pixels (96 dpi) to screen pixels.
int Scale(int designPixels);
COLORREF Rgb(TColor color);

HFONT MakeFont(const TFont& font);
void Fill(HDC dc, const RECT& r, TColor color);
// A one-pixel line from (x0, y0) to (x1, y1).
void Line(HDC dc, int x0, int y0, int x1, int y1, COLORREF color, int style = PS_SOLID);
// Text drawn transparently in the font and colour given (grey when disabled).
void DrawCaptionText(HDC dc, const std::string& text, HFONT font, COLORREF color, RECT r,
                     UINT format);
