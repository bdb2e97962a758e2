#pragma once
// Colours and fonts.
//
// A colour is 0x00BBGGRR (red in the lowest byte), or a system colour: 0x80000000 plus
// the Windows system-colour index, resolved with ColorToRGB.
//
// Text and what lies behind it come from one source: both fixed colours (the host skin,
// the layouts) or both system colours, matched as the system pairs them
// (SystemTextColorFor): a colour scheme can then never make a text the colour of its
// background. Controls.h's TextColors applies this to a control.
//
//   TFont f;  f.SetName("宋体");  f.SetCharset(kGB2312Charset);  f.SetHeight(12);
//   f.SetSize(9);  // 9 points = 12 pixels at 96 dpi
#include <cstdint>
#include <functional>
#include <string>

using TColor = uint32_t;

constexpr TColor RGBColor(uint8_t r, uint8_t g, uint8_t b) {
  return TColor(r) | (TColor(g) << 8) | (TColor(b) << 16);
}

// System colours (Windows COLOR_* index in the low byte).
constexpr TColor clScrollBar = 0x80000000;
constexpr TColor clBackground = 0x80000001;
constexpr TColor clActiveCaption = 0x80000002;
constexpr TColor clInactiveCaption = 0x80000003;
constexpr TColor clMenu = 0x80000004;
constexpr TColor clWindow = 0x80000005;
constexpr TColor clWindowFrame = 0x80000006;
constexpr TColor clMenuText = 0x80000007;
constexpr TColor clWindowText = 0x80000008;
constexpr TColor clCaptionText = 0x80000009;
constexpr TColor clHighlight = 0x8000000D;
constexpr TColor clHighlightText = 0x8000000E;
constexpr TColor clBtnFace = 0x8000000F;
constexpr TColor clBtnShadow = 0x80000010;
constexpr TColor clGrayText = 0x80000011;
constexpr TColor clBtnText = 0x80000012;
constexpr TColor clInactiveCaptionText = 0x80000013;
constexpr TColor clBtnHighlight = 0x80000014;
constexpr TColor clInfoText = 0x80000017;
constexpr TColor clInfoBk = 0x80000018;

constexpr bool IsSystemColor(TColor color) { return (color & 0xFF000000u) == 0x80000000u; }

// Fixed colours.
constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;

// A system colour's current value (the backend's: GetSysColor on Windows, the classic
// Windows scheme headless); other colours are returned unchanged.
TColor ColorToRGB(TColor color);
// A system colour's value in the classic Windows scheme, the one the layouts are designed
// in (clWindow: white, clBtnFace: grey); other colours are returned unchanged.
TColor ClassicColorToRGB(TColor color);
// The text colour the system pairs with a background system colour, readable on it in
// every scheme: clWindow -> clWindowText, clBtnFace -> clBtnText, clHighlight ->
// clHighlightText, and so on for menus, tooltips and captions; clWindowText for a system
// colour that is no background of text.
TColor SystemTextColorFor(TColor background);

// Character sets (the Windows values).
constexpr uint8_t kAnsiCharset = 0;
constexpr uint8_t kDefaultCharset = 1;
constexpr uint8_t kGB2312Charset = 134;

// Design resolution of every layout.
constexpr int kDesignPixelsPerInch = 96;

enum TFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

// A font: name (code-page-936 bytes), character set, character height in pixels at
// 96 dpi, colour and style. Setting any value calls OnChange.
class TFont {
 public:
  const std::string& Name() const { return FName; }
  uint8_t Charset() const { return FCharset; }
  // Character height in pixels at 96 dpi (positive).
  int Height() const { return FHeight; }
  // Size in points: Height at 96 dpi, rounded.
  int Size() const { return (FHeight * 72 + kDesignPixelsPerInch / 2) / kDesignPixelsPerInch; }
  TColor Color() const { return FColor; }
  uint8_t Style() const { return FStyle; }

  void SetName(const std::string& name) { Set(FName, name); }
  void SetCharset(uint8_t charset) { Set(FCharset, charset); }
  void SetHeight(int pixels) { Set(FHeight, pixels); }
  void SetSize(int points) { Set(FHeight, (points * kDesignPixelsPerInch + 36) / 72); }
  void SetColor(TColor color) { Set(FColor, color); }
  void SetStyle(uint8_t style) { Set(FStyle, style); }
  // Takes every value of another font.
  void Assign(const TFont& other);

  friend bool operator==(const TFont& a, const TFont& b) {
    return a.FName == b.FName && a.FCharset == b.FCharset && a.FHeight == b.FHeight &&
           a.FColor == b.FColor && a.FStyle == b.FStyle;
  }

  std::function<void()> OnChange;

 private:
  template <class T>
  void Set(T& field, const T& value) {
    if (field == value) return;
    field = value;
    if (OnChange) OnChange();
  }
  std::string FName = "宋体";
  uint8_t FCharset = kDefaultCharset;
  int FHeight = 12;
  TColor FColor = clWindowText;
  uint8_t FStyle = 0;
};
