// Applying layout tables to a form.
#include <cstring>

#include "toolkit/Forms.h"

namespace {

TControl* NewControl(const char* className, TComponent* owner) {
  struct TFactory {
    const char* Name;
    TControl* (*Make)(TComponent*);
  };
  static const TFactory kFactories[] = {
      {"TLabel", [](TComponent* o) -> TControl* { return new TLabel(o); }},
      {"TPanel", [](TComponent* o) -> TControl* { return new TPanel(o); }},
      {"TBevel", [](TComponent* o) -> TControl* { return new TBevel(o); }},
      {"TShape", [](TComponent* o) -> TControl* { return new TShape(o); }},
      {"TXPTolvikEdit", [](TComponent* o) -> TControl* { return new TXPTolvikEdit(o); }},
      {"TXPTolvikListBox", [](TComponent* o) -> TControl* { return new TXPTolvikListBox(o); }},
      {"TXPTolvikGroupBox", [](TComponent* o) -> TControl* { return new TXPTolvikGroupBox(o); }},
      {"TModalSpeedButton", [](TComponent* o) -> TControl* { return new TModalSpeedButton(o); }},
  };
  for (const auto& f : kFactories) {
    if (std::strcmp(f.Name, className) == 0) return f.Make(owner);
  }
  throw EInvalidOperation(std::string("Class ") + className + " not found");
}

template <class T>
T* As(TControl* c, const TLayoutItem& item, const char* what) {
  auto* t = dynamic_cast<T*>(c);
  if (t == nullptr) {
    throw EInvalidOperation(std::string("Property ") + what + " does not exist on " + item.Name);
  }
  return t;
}

}  // namespace

void TCustomForm::ApplyLayout(std::span<const TLayoutItem> items) {
  const char* activeControl = nullptr;
  for (const TLayoutItem& item : items) {
    if (item.ActiveControl != nullptr) activeControl = item.ActiveControl;
    const bool isForm = item.Name == nullptr || item.Name[0] == '\0';
    TControl* c = this;
    if (!isForm && item.Class != nullptr) {
      if (FindComponent(item.Name) != nullptr) {
        throw EInvalidOperation(std::string("A component named ") + item.Name + " already exists");
      }
      TWinControl* parent = this;
      if (item.Parent != nullptr) {
        parent = dynamic_cast<TWinControl*>(FindComponent(item.Parent));
        if (parent == nullptr) throw EInvalidOperation(std::string("No parent ") + item.Parent);
      }
      c = NewControl(item.Class, this);
      c->SetName(item.Name);
      c->SetParent(parent);
    } else if (!isForm) {
      c = dynamic_cast<TControl*>(FindComponent(item.Name));
      if (c == nullptr) throw EInvalidOperation(std::string("Control ") + item.Name + " not found");
    }

    c->SetBounds(item.Left.value_or(c->Left()), item.Top.value_or(c->Top()),
                 item.Width.value_or(c->Width()), item.Height.value_or(c->Height()));
    if (item.Align) c->SetAlign(*item.Align);
    if (item.Caption != nullptr) c->SetCaption(item.Caption);
    if (item.Color) c->SetColor(*item.Color);
    if (item.ParentColor) c->SetParentColor(*item.ParentColor);
    if (item.Font) {
      TFont& f = c->Font();
      f.SetName(item.Font->Name);
      f.SetCharset(item.Font->Charset);
      f.SetColor(item.Font->Color);
      f.SetHeight(item.Font->Height);
      f.SetStyle(item.Font->Style);
      c->SetParentFont(false);
    }
    if (item.Visible) c->SetVisible(*item.Visible);
    if (item.Enabled) c->SetEnabled(*item.Enabled);
    if (item.Transparent) c->SetTransparent(*item.Transparent);
    if (item.TabOrder) c->SetTabOrder(*item.TabOrder);
    if (item.TabStop) c->SetTabStop(*item.TabStop);
    if (item.BevelOuter) As<TPanel>(c, item, "BevelOuter")->SetBevelOuter(*item.BevelOuter);
    if (item.BevelShape) As<TBevel>(c, item, "Shape")->SetShape(*item.BevelShape);
    if (item.PenColor) As<TShape>(c, item, "Pen.Color")->SetPenColor(*item.PenColor);
    if (item.PenStyle) As<TShape>(c, item, "Pen.Style")->SetPenStyle(*item.PenStyle);
    if (item.BrushColor) As<TShape>(c, item, "Brush.Color")->SetBrushColor(*item.BrushColor);
    if (item.ItemHeight)
      As<TXPTolvikListBox>(c, item, "ItemHeight")->SetItemHeight(*item.ItemHeight);
    if (item.UnfocusedBorderColor) {
      As<TXPTolvikListBox>(c, item, "UnfocusedBorderColor")
          ->SetUnfocusedBorderColor(*item.UnfocusedBorderColor);
    }
    if (item.SelectedBorderColor) {
      As<TXPTolvikListBox>(c, item, "SelectedBorderColor")
          ->SetSelectedBorderColor(*item.SelectedBorderColor);
    }
    if (item.ImeName != nullptr) {
      if (auto* e = dynamic_cast<TXPTolvikEdit*>(c)) {
        e->SetImeName(item.ImeName);
      } else if (auto* l = dynamic_cast<TXPTolvikListBox*>(c)) {
        l->SetImeName(item.ImeName);
      } else {
        As<TCustomForm>(c, item, "ImeName")->SetImeName(item.ImeName);
      }
    }
    if (item.ImeMode) As<TXPTolvikEdit>(c, item, "ImeMode")->SetImeMode(*item.ImeMode);
    if (item.Ctl3D) As<TXPTolvikGroupBox>(c, item, "Ctl3D")->SetCtl3D(*item.Ctl3D);
    if (item.ParentCtl3D)
      As<TXPTolvikGroupBox>(c, item, "ParentCtl3D")->SetParentCtl3D(*item.ParentCtl3D);
    if (item.ModalResult)
      As<TModalSpeedButton>(c, item, "ModalResult")->SetModalResult(*item.ModalResult);
    if (item.BorderStyle)
      As<TCustomForm>(c, item, "BorderStyle")->SetBorderStyle(*item.BorderStyle);
    if (item.BorderIcons)
      As<TCustomForm>(c, item, "BorderIcons")->SetBorderIcons(*item.BorderIcons);
    if (item.Position) As<TCustomForm>(c, item, "Position")->SetPosition(*item.Position);
    if (item.KeyPreview) As<TCustomForm>(c, item, "KeyPreview")->SetKeyPreview(*item.KeyPreview);
  }
  // Named last in the table or not, the control exists once the whole table is applied.
  if (activeControl != nullptr) {
    auto* control = dynamic_cast<TWinControl*>(FindComponent(activeControl));
    if (control == nullptr) {
      throw EInvalidOperation(std::string("ActiveControl ") + activeControl + " not found");
    }
    FocusEntered(control);
  }
}
