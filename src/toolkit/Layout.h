#pragma once
// Layout tables: a form's stored layout as data, in pixels at 96 dpi.
//
// One item per control (or the form itself, Name ""). An item with a Class adds a new
// control of that class, owned by the form, on Parent (a control name; null = the form);
// an item without a Class changes an inherited control. Only the values an item sets
// change: a descendant's table lists only what it changes, as designed forms do.
// Fields are designated in declaration order:
//
//   constexpr TLayoutItem kAboutLayout[] = {
//       {.Name = "", .Width = 300, .Height = 200, .Caption = "关于"},
//       {.Name = "lbText", .Class = "TLabel", .Left = 8, .Top = 8, .Width = 200,
//        .Height = 12, .Caption = "版本 1"},
//       {.Name = "pnlTop", .Visible = true},
//   };
//   ApplyLayout(kAboutLayout);
#include <optional>

#include "toolkit/Controls.h"
#include "toolkit/XPTolvik.h"

enum class TFormBorderStyle : uint8_t { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow };
enum TBorderIcon : uint8_t { biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8 };
enum class TPosition : uint8_t { poDesigned, poDefault, poScreenCenter, poDesktopCenter };

// A font of a layout item; Height is the character height in pixels at 96 dpi.
struct TFontSpec {
  const char* Name;
  uint8_t Charset;
  TColor Color;
  int Height;
  uint8_t Style = 0;
};

struct TLayoutItem {
  const char* Name = "";         // "" = the form
  const char* Class = nullptr;   // a new control's class: TLabel, TPanel, TBevel, TShape,
                                 // TXPTolvikEdit, TXPTolvikListBox, TXPTolvikGroupBox,
                                 // TModalSpeedButton
  const char* Parent = nullptr;  // a new control's parent control; null = the form
  std::optional<int> Left{}, Top{}, Width{}, Height{};  // the form: Width/Height = client area
  std::optional<TAlign> Align{};
  const char* Caption = nullptr;  // null = unchanged
  std::optional<TColor> Color{};  // an own colour (ParentColor off)
  std::optional<bool> ParentColor{};
  std::optional<TFontSpec> Font{};  // an own font (ParentFont off)
  std::optional<bool> Visible{}, Enabled{}, Transparent{};
  std::optional<int> TabOrder{};
  std::optional<bool> TabStop{};
  // TPanel
  std::optional<TBevelCut> BevelOuter{};
  // TBevel
  std::optional<TBevelShape> BevelShape{};
  // TShape
  std::optional<TColor> PenColor{};
  std::optional<TPenStyle> PenStyle{};
  std::optional<TColor> BrushColor{};
  // TXPTolvikListBox
  std::optional<int> ItemHeight{};
  std::optional<TColor> UnfocusedBorderColor{}, SelectedBorderColor{};
  // TXPTolvikEdit, TXPTolvikListBox, the form
  const char* ImeName = nullptr;
  std::optional<TImeMode> ImeMode{};
  // TXPTolvikGroupBox
  std::optional<bool> Ctl3D{}, ParentCtl3D{};
  // TModalSpeedButton
  std::optional<int> ModalResult{};
  // the form
  std::optional<TFormBorderStyle> BorderStyle{};
  std::optional<uint8_t> BorderIcons{};
  std::optional<TPosition> Position{};
  std::optional<bool> KeyPreview{};
  const char* ActiveControl = nullptr;  // the control that has the focus when the form opens
};
