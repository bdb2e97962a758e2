#include "toolkit/XPTolvik.h"

#include "toolkit/Backend.h"
#include "toolkit/Forms.h"
#include "toolkit/TextLines.h"

TXPTolvikEdit::TXPTolvikEdit(TComponent* owner) : TWinControl(owner) {
  SetParentColor(false);
  SetColor(clWindow);
  SetTabStop(true);
}

std::string TXPTolvikEdit::Text() const { return tkbackend::EditText(*this, FText); }

void TXPTolvikEdit::SetText(const std::string& text) {
  FText = text;
  if (HandleAllocated()) tkbackend::SetEditText(*this);
}

void TXPTolvikEdit::DoEnter() {
  TWinControl::DoEnter();
  // The focus-entry handler may just have chosen the name and the mode; the input method
  // follows what it left.
  bool open = FImeMode != imDisable && FImeMode != imClose && FImeMode != imDontCare;
  if (!FImeName.empty()) Screen->ActivateIme(FImeName, open);
}

TXPTolvikListBox::TXPTolvikListBox(TComponent* owner) : TWinControl(owner) {
  SetParentColor(false);
  SetColor(clWindow);
  SetTabStop(true);
}

void TXPTolvikListBox::SetText(const std::string& text) {
  FLines = SplitTextLines(text);
  FItemIndex = -1;
  if (HandleAllocated()) tkbackend::ListChanged(*this);
}

std::string TXPTolvikListBox::Text() const {
  std::string text;
  for (const auto& line : FLines) text += line + "\r\n";
  return text;
}

const std::string& TXPTolvikListBox::Line(int index) const {
  if (index < 0 || index >= Count()) {
    throw EInvalidOperation("List index out of bounds (" + std::to_string(index) + ")");
  }
  return FLines[index];
}

void TXPTolvikListBox::AddLine(const std::string& line) {
  FLines.push_back(line);
  if (HandleAllocated()) tkbackend::ListChanged(*this);
}

int TXPTolvikListBox::ItemIndex() const {
  int index = HandleAllocated() ? tkbackend::ListItemIndex(*this, FItemIndex) : FItemIndex;
  return index >= 0 && index < Count() ? index : -1;
}

void TXPTolvikListBox::SetItemIndex(int index) {
  FItemIndex = index >= 0 && index < Count() ? index : -1;
  if (HandleAllocated()) tkbackend::ListSelectionChanged(*this);
}

int TXPTolvikListBox::IndexOf(const std::string& text) const {
  for (int i = 0; i < Count(); ++i) {
    if (FLines[i] == text) return i;
  }
  return -1;
}

void TXPTolvikListBox::SetItemHeight(int height) {
  FItemHeight = height;
  Changed();
}

void TXPTolvikListBox::SetUnfocusedBorderColor(TColor color) {
  FUnfocusedBorderColor = color;
  Changed();
}

void TXPTolvikListBox::SetSelectedBorderColor(TColor color) {
  FSelectedBorderColor = color;
  Changed();
}

TXPTolvikGroupBox::TXPTolvikGroupBox(TComponent* owner) : TWinControl(owner) {}

void TXPTolvikGroupBox::SetCtl3D(bool on) {
  FCtl3D = on;
  Changed();
}

TModalSpeedButton::TModalSpeedButton(TComponent* owner) : TWinControl(owner) {}

void TModalSpeedButton::Click() {
  TControl::Click();
  if (FModalResult != mrNone) {
    if (TCustomForm* form = ParentForm()) form->SetModalResult(FModalResult);
  }
}
