#pragma once
// The skinned controls: edit with input-method mode and name, list box, group box and
// the modal speed button.
//
//   list->SetText("读卡器 A\r\n读卡器 B");   // two lines, none selected
//   list->SetItemIndex(list->IndexOf("读卡器 B"));
#include <string>
#include <vector>

#include "toolkit/Controls.h"

// Input-method modes (the toolkit's numbering).
enum TImeMode : uint8_t {
  imDisable = 0,
  imClose = 1,
  imOpen = 2,
  imDontCare = 3,
  imSAlpha = 4,
  imAlpha = 5,
  imHira = 6,
  imSKata = 7,
  imKata = 8,
  imChinese = 9,
  imSHanguel = 10,
  imHanguel = 11,
};

// A single-line edit. As it takes the focus, OnEnter runs, then the toolkit activates
// the installed input method named ImeName (when there is one) in mode ImeMode.
class TXPTolvikEdit : public TWinControl {
 public:
  explicit TXPTolvikEdit(TComponent* owner);
  const char* ClassName() const override { return "TXPTolvikEdit"; }

  TImeMode ImeMode() const { return FImeMode; }
  void SetImeMode(TImeMode mode) { FImeMode = mode; }
  const std::string& ImeName() const { return FImeName; }
  void SetImeName(const std::string& name) { FImeName = name; }

  // The edit's text (the window's text when it has a window).
  std::string Text() const;
  void SetText(const std::string& text);

  void DoEnter() override;

 private:
  TImeMode FImeMode = imDontCare;
  std::string FImeName;
  std::string FText;
};

// A list of lines with single selection.
class TXPTolvikListBox : public TWinControl {
 public:
  explicit TXPTolvikListBox(TComponent* owner);
  const char* ClassName() const override { return "TXPTolvikListBox"; }

  // Replaces every line: text is split at CR LF, CR or LF; clears the selection. An
  // empty text gives no lines; a final line break ends the last line (adds none).
  void SetText(const std::string& text);
  // The lines joined with CR LF after each.
  std::string Text() const;
  int Count() const { return static_cast<int>(FLines.size()); }
  // The text of line index (0-based); raises EInvalidOperation out of range.
  const std::string& Line(int index) const;
  void AddLine(const std::string& line);
  void Clear() { SetText(std::string()); }

  // The selected line, -1 when none (read from the window when it has one, so a
  // selection made there by the user or another program counts).
  int ItemIndex() const;
  // Selects a line; -1 (or any index out of range) clears the selection.
  void SetItemIndex(int index);
  // The first line equal to text, byte for byte; -1 when none.
  int IndexOf(const std::string& text) const;

  int ItemHeight() const { return FItemHeight; }
  void SetItemHeight(int height);
  TColor UnfocusedBorderColor() const { return FUnfocusedBorderColor; }
  void SetUnfocusedBorderColor(TColor color);
  TColor SelectedBorderColor() const { return FSelectedBorderColor; }
  void SetSelectedBorderColor(TColor color);
  const std::string& ImeName() const { return FImeName; }
  void SetImeName(const std::string& name) { FImeName = name; }

  // Backend use: the lines and the selection as stored.
  const std::vector<std::string>& Lines() const { return FLines; }
  int StoredItemIndex() const { return FItemIndex; }
  void SetStoredItemIndex(int index) { FItemIndex = index; }

 private:
  std::vector<std::string> FLines;
  int FItemIndex = -1;
  int FItemHeight = 13;
  TColor FUnfocusedBorderColor = clBtnShadow;
  TColor FSelectedBorderColor = clHighlight;
  std::string FImeName;
};

// A frame around other controls, with an optional caption.
class TXPTolvikGroupBox : public TWinControl {
 public:
  explicit TXPTolvikGroupBox(TComponent* owner);
  const char* ClassName() const override { return "TXPTolvikGroupBox"; }
  // 3-D look; off draws a flat one-pixel frame.
  bool Ctl3D() const { return FCtl3D; }
  void SetCtl3D(bool on);
  bool ParentCtl3D() const { return FParentCtl3D; }
  void SetParentCtl3D(bool on) { FParentCtl3D = on; }

 private:
  bool FCtl3D = true;
  bool FParentCtl3D = true;
};

// A flat push button that works inside modal dialogs: a click runs OnClick, then, when
// ModalResult is not 0, ends the modal loop of its form with that result. As a tab stop it
// takes the focus; Enter or Space then presses it, as they press any dialog button.
class TModalSpeedButton : public TWinControl {
 public:
  explicit TModalSpeedButton(TComponent* owner);
  const char* ClassName() const override { return "TModalSpeedButton"; }
  int ModalResult() const { return FModalResult; }
  void SetModalResult(int result) { FModalResult = result; }
  void Click() override;

 private:
  int FModalResult = 0;
};
