#include "toolkit/win32/Gdi_win.h"

#include <vector>

#include "toolkit/Backend.h"
#include "toolkit/win32/Win32Util.h"

int Scale(int designPixels) {
  return MulDiv(designPixels, tkbackend::PixelsPerInch(), kDesignPixelsPerInch);
}

COLORREF Rgb(TColor color) { return static_cast<COLORREF>(ColorToRGB(color)); }

HFONT MakeFont(const TFont& f) {
  const std::wstring name = ToWide(f.Name());
  return CreateFontW(-Scale(f.Height()), 0, 0, 0, (f.Style() & fsBold) ? FW_BOLD : FW_NORMAL,
                     (f.Style() & fsItalic) != 0, (f.Style() & fsUnderline) != 0,
                     (f.Style() & fsStrikeOut) != 0, f.Charset(), OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, name.c_str());
}

struct TSharedFont::TEntry {
  std::string Name;
  int Height;
  uint8_t Style;
  uint8_t Charset;
  HFONT Font;
  int Holders;
};

namespace {

// The fonts in use now; each entry goes with its last holder.
std::vector<TSharedFont::TEntry*> gSharedFonts;

}  // namespace

TSharedFont::TSharedFont(const TFont& font) {
  for (TEntry* e : gSharedFonts) {
    if (e->Height == font.Height() && e->Style == font.Style() && e->Charset == font.Charset() &&
        e->Name == font.Name()) {
      ++e->Holders;
      FEntry = e;
      return;
    }
  }
  gSharedFonts.reserve(gSharedFonts.size() + 1);
  FEntry = new TEntry{font.Name(), font.Height(), font.Style(), font.Charset(), MakeFont(font), 1};
  gSharedFonts.push_back(FEntry);
}

TSharedFont& TSharedFont::operator=(TSharedFont&& other) noexcept {
  if (this != &other) {
    Release();
    FEntry = other.FEntry;
    other.FEntry = nullptr;
  }
  return *this;
}

HFONT TSharedFont::Get() const { return FEntry != nullptr ? FEntry->Font : nullptr; }

void TSharedFont::Release() noexcept {
  if (FEntry == nullptr) return;
  if (--FEntry->Holders == 0) {
    for (size_t i = 0; i < gSharedFonts.size(); ++i) {
      if (gSharedFonts[i] == FEntry) {
        gSharedFonts.erase(gSharedFonts.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    }
    if (FEntry->Font != nullptr) DeleteObject(FEntry->Font);
    delete FEntry;
  }
  FEntry = nullptr;
}

namespace {

// The last answer: every window of the module draws with it, so it is asked once per open
// and per change the system announces, not at every paint.
bool gHighContrast = false;

}  // namespace

bool HighContrastOn() { return gHighContrast; }

bool AskHighContrast() {
  HIGHCONTRASTW hc{};
  hc.cbSize = sizeof(hc);
  const bool on = SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(hc), &hc, 0) != FALSE &&
                  (hc.dwFlags & HCF_HIGHCONTRASTON) != 0;
  const bool changed = on != gHighContrast;
  gHighContrast = on;
  return changed;
}

void Fill(HDC dc, const RECT& r, TColor color) {
  UniqueBrush brush(CreateSolidBrush(Rgb(color)));
  FillRect(dc, &r, brush.Get());
}

void Line(HDC dc, int x0, int y0, int x1, int y1, COLORREF color, int style) {
  UniquePen pen(CreatePen(style, 1, color));
  TSelectObject select(dc, pen.Get());
  MoveToEx(dc, x0, y0, nullptr);
  LineTo(dc, x1, y1);
}

void DrawCaptionText(HDC dc, const std::string& text, HFONT font, COLORREF color, RECT r,
                     UINT format) {
  const std::wstring wide = ToWide(text);
  TSelectObject select(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, color);
  DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &r, format | DT_NOPREFIX);
}
