// The dialog's fonts on real windows: the font the toolkit asks the system for is the one the
// stored layouts describe (face, character set, character height), and what the system
// draws with it keeps every stroke of small text. Thin horizontal strokes are the first to
// go when a face is rendered badly at 11-13 pixels: a "-" or "一" that leaves no ink makes
// "ACR38U-CCID" read "ACR38U CCID".
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/WinHandles.h"
#include "toolkit/Graphics.h"
#include "toolkit/win32/Gdi_win.h"

namespace {

struct TDialogFont {
  const char* name;
  const char* face;  // code-page-936 bytes, as the layouts hold it
  const wchar_t* wideFace;
  uint8_t charset;
  int height;  // character height in pixels
  bool chinese;
};

// The dialog's fonts at 96 dpi, and 宋体 as it is at 144 dpi.
const TDialogFont kDialogFonts[] = {
    {"宋体 12: the dialog, its list and buttons", "宋体", L"宋体", kGB2312Charset, 12, true},
    {"宋体 18: the same at 144 dpi", "宋体", L"宋体", kGB2312Charset, 18, true},
    {"宋体 11: the base dialog's hidden mark", "宋体", L"宋体", kGB2312Charset, 11, true},
    {"黑体 16: the module name on the top bar", "黑体", L"黑体", kGB2312Charset, 16, true},
    {"Arial 10: the VELTA mark", "Arial", L"Arial", kAnsiCharset, 10, false},
};

TFont FontOf(const TDialogFont& d) {
  TFont font;
  font.SetName(d.face);
  font.SetCharset(d.charset);
  font.SetHeight(d.height);
  return font;
}

// A white 64 x 64 bitmap with one text drawn on it in black, as the controls draw text.
class TInkSheet {
 public:
  static constexpr int kSize = 64;
  TInkSheet() {
    const HDC screen = GetDC(nullptr);
    FDc = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kSize;
    info.bmiHeader.biHeight = -kSize;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    FBitmap =
        CreateDIBSection(FDc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&FBits), nullptr, 0);
    FOldBitmap = SelectObject(FDc, FBitmap);
  }
  ~TInkSheet() {
    SelectObject(FDc, FOldBitmap);
    DeleteObject(FBitmap);
    DeleteDC(FDc);
  }
  TInkSheet(const TInkSheet&) = delete;
  TInkSheet& operator=(const TInkSheet&) = delete;

  // Draws text and returns, per row, the number of pixels darker than grey 200.
  std::vector<int> Draw(HFONT font, const std::wstring& text) {
    RECT all = {0, 0, kSize, kSize};
    FillRect(FDc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    const HGDIOBJ old = SelectObject(FDc, font);
    SetBkMode(FDc, TRANSPARENT);
    SetTextColor(FDc, RGB(0, 0, 0));
    TextOutW(FDc, 8, 8, text.c_str(), static_cast<int>(text.size()));
    SelectObject(FDc, old);
    GdiFlush();
    std::vector<int> rows(kSize, 0);
    for (int y = 0; y < kSize; ++y) {
      for (int x = 0; x < kSize; ++x) {
        const uint32_t p = FBits[y * kSize + x];
        const int grey = static_cast<int>(((p >> 16) & 255) + ((p >> 8) & 255) + (p & 255)) / 3;
        if (grey < 200) ++rows[y];
      }
    }
    return rows;
  }

 private:
  HDC FDc = nullptr;
  HBITMAP FBitmap = nullptr;
  HGDIOBJ FOldBitmap = nullptr;
  uint32_t* FBits = nullptr;
};

int Total(const std::vector<int>& rows) {
  int n = 0;
  for (int r : rows) n += r;
  return n;
}

// Runs of consecutive rows with ink: one per horizontal bar.
int Bars(const std::vector<int>& rows) {
  int bars = 0;
  for (size_t y = 0; y < rows.size(); ++y)
    if (rows[y] > 0 && (y == 0 || rows[y - 1] == 0)) ++bars;
  return bars;
}

TEST(DialogFonts, TheToolkitAsksForTheFontTheLayoutsDescribe) {
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  for (const TDialogFont& d : kDialogFonts) {
    SCOPED_TRACE(d.name);
    const UniqueFont font(MakeFont(FontOf(d)));
    ASSERT_NE(font.Get(), nullptr);
    LOGFONTW asked = {};
    ASSERT_EQ(GetObjectW(font.Get(), sizeof asked, &asked), static_cast<int>(sizeof asked));
    // A negative height asks for the character height, without the internal leading.
    EXPECT_EQ(asked.lfHeight, -MulDiv(d.height, dpi, 96));
    EXPECT_EQ(asked.lfCharSet, d.charset);
    EXPECT_EQ(asked.lfWeight, FW_NORMAL);
    EXPECT_EQ(std::wstring(asked.lfFaceName), std::wstring(d.wideFace));
    // What the system gives for it: the same character set and character height.
    const HGDIOBJ old = SelectObject(screen, font.Get());
    TEXTMETRICW got = {};
    ASSERT_TRUE(GetTextMetricsW(screen, &got));
    SelectObject(screen, old);
    EXPECT_EQ(got.tmCharSet, d.charset);
    EXPECT_NEAR(got.tmHeight - got.tmInternalLeading, MulDiv(d.height, dpi, 96), 1);
  }
  ReleaseDC(nullptr, screen);
}

TEST(DialogFonts, SmallTextKeepsEveryStroke) {
  struct TText {
    const wchar_t* text;
    bool chinese;
    int bars;  // horizontal bars that must stay apart; 0: not counted
  };
  const TText kTexts[] = {
      {L"-", false, 1}, {L"_", false, 1}, {L"=", false, 2}, {L"一", true, 1},
      {L"读", true, 0}, {L"卡", true, 0}, {L"测", true, 0},
  };
  TInkSheet sheet;
  for (const TDialogFont& d : kDialogFonts) {
    // Drawn at the character height given, whatever the screen's dpi.
    const UniqueFont font(CreateFontW(-d.height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, d.charset,
                                      OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                      DEFAULT_PITCH, d.wideFace));
    for (const TText& t : kTexts) {
      if (t.chinese && !d.chinese) continue;
      const std::string name = std::string(d.name) + ", U+" + std::to_string(t.text[0]);
      SCOPED_TRACE(name);
      const std::vector<int> rows = sheet.Draw(font.Get(), t.text);
      EXPECT_GT(Total(rows), 0) << "no pixel darker than grey 200";
      if (t.bars != 0) {
        EXPECT_EQ(Bars(rows), t.bars);
      }
    }
  }
}

}  // namespace
