#pragma once
// GDI helpers of the Windows backend: layout scaling, colours and the few drawing
// operations the controls share (the owned GDI handles are in platform/WinHandles.h).
//
//   UniqueBrush brush(CreateSolidBrush(Rgb(color)));
//   FillRect(dc, &r, brush.Get());          // the brush is deleted at the end of the scope
#include <windows.h>

#include <string>

#include "platform/WinHandles.h"
#include "toolkit/Graphics.h"

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

// The GDI font of a toolkit font, shared by every window that shows the same face, height,
// style and character set: one GDI object per distinct font however many windows use it,
// deleted when the last holder lets it go. The empty value holds no font.
//
//   TSharedFont font(control.EffectiveFont());
//   SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), FALSE);
class TSharedFont {
 public:
  TSharedFont() = default;
  explicit TSharedFont(const TFont& font);
  ~TSharedFont() { Release(); }
  TSharedFont(TSharedFont&& other) noexcept : FEntry(other.FEntry) { other.FEntry = nullptr; }
  TSharedFont& operator=(TSharedFont&& other) noexcept;
  TSharedFont(const TSharedFont&) = delete;
  TSharedFont& operator=(const TSharedFont&) = delete;

  HFONT Get() const;

  struct TEntry;

 private:
  void Release() noexcept;
  TEntry* FEntry = nullptr;
};

// Whether the system's High Contrast is on, as last asked: at the open of each form and
// when the system tells a form that its colours or that setting changed. While it is on,
// the windows draw with the system colours only (TextColors).
bool HighContrastOn();
// Asks the system again (SystemParametersInfo, SPI_GETHIGHCONTRAST); true when the answer
// differs from the last one.
bool AskHighContrast();

void Fill(HDC dc, const RECT& r, TColor color);
// A one-pixel line from (x0, y0) to (x1, y1).
void Line(HDC dc, int x0, int y0, int x1, int y1, COLORREF color, int style = PS_SOLID);
// Text drawn transparently in the font and colour given (grey when disabled).
void DrawCaptionText(HDC dc, const std::string& text, HFONT font, COLORREF color, RECT r,
                     UINT format);
