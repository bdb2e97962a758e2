#include "toolkit/Controls.h"

#include <algorithm>
#include <limits>

#include "toolkit/Backend.h"
#include "toolkit/Forms.h"

TControl::TControl(TComponent* owner) : TComponent(owner) {
  FFont.OnChange = [this] {
    FParentFont = false;
    Changed();
    ParentChanged();
  };
}

TControl::~TControl() { SetParent(nullptr); }

void TControl::SetParent(TWinControl* parent) {
  if (parent == FParent) return;
  if (FParent != nullptr) {
    // A control that leaves its form no longer holds the form's focus.
    if (TCustomForm* form = ParentForm()) form->ControlLeaving(*this);
    if (HasBackendState()) tkbackend::DestroyHandle(*this);
    auto& siblings = FParent->FControls;
    siblings.erase(std::find(siblings.begin(), siblings.end(), this));
  }
  FParent = parent;
  if (FParent != nullptr) {
    FParent->FControls.push_back(this);
    if (FParent->HandleAllocated()) CreateHandleTree();
  }
}

TCustomForm* TControl::ParentForm() const {
  const TControl* c = this;
  while (c->FParent != nullptr) c = c->FParent;
  return dynamic_cast<TCustomForm*>(const_cast<TControl*>(c));
}

void TControl::SetBounds(int left, int top, int width, int height) {
  if (left == FLeft && top == FTop && width == FWidth && height == FHeight) return;
  FLeft = left;
  FTop = top;
  FWidth = width;
  FHeight = height;
  Changed();
}

void TControl::SetAlign(TAlign align) {
  FAlign = align;
  Changed();
}

void TControl::SetVisible(bool visible) {
  if (visible == FVisible) return;
  FVisible = visible;
  Changed();
}

bool TControl::Showing() const {
  for (const TControl* c = this; c != nullptr; c = c->FParent) {
    if (!c->FVisible) return false;
  }
  return true;
}

void TControl::SetEnabled(bool enabled) {
  if (enabled == FEnabled) return;
  FEnabled = enabled;
  Changed();
}

bool TControl::EnabledInParents() const {
  for (const TControl* c = this; c != nullptr; c = c->FParent) {
    if (!c->FEnabled) return false;
  }
  return true;
}

void TControl::SetCaption(const std::string& caption) {
  if (caption == FCaption) return;
  FCaption = caption;
  Changed();
}

void TControl::SetColor(TColor color) {
  FColor = color;
  FParentColor = false;
  Changed();
  ParentChanged();
}

void TControl::SetParentColor(bool parentColor) {
  FParentColor = parentColor;
  Changed();
  ParentChanged();
}

TColor TControl::EffectiveColor() const {
  if (FParentColor && FParent != nullptr) return FParent->EffectiveColor();
  return FColor;
}

void TControl::SetParentFont(bool parentFont) {
  FParentFont = parentFont;
  Changed();
  ParentChanged();
}

TFont& TControl::Font() {
  // A control that follows its parent starts its own font from the parent's values.
  if (FParentFont && FParent != nullptr) {
    auto onChange = std::move(FFont.OnChange);
    FFont.OnChange = nullptr;
    FFont.Assign(FParent->EffectiveFont());
    FFont.OnChange = std::move(onChange);
  }
  return FFont;
}

const TFont& TControl::EffectiveFont() const {
  if (FParentFont && FParent != nullptr) return FParent->EffectiveFont();
  return FFont;
}

void TControl::SetTransparent(bool transparent) {
  FTransparent = transparent;
  Changed();
}

void TControl::Click() { OnClick(this); }

void TControl::CreateHandleTree() {
  if (!HasBackendState()) tkbackend::CreateHandle(*this);
}

void TControl::Changed() {
  if (HasBackendState()) tkbackend::UpdateControl(*this);
}

void TControl::ParentChanged() {}

TTextColors TextColors(const TControl& control, TColor systemBack, bool highContrast) {
  const TWinControl* parent = control.Parent();
  TColor back = control.Transparent() && parent != nullptr ? parent->EffectiveColor()
                                                           : control.EffectiveColor();
  if (highContrast) back = systemBack;
  if (IsSystemColor(back)) {
    return {back, control.Enabled() ? SystemTextColorFor(back) : clGrayText};
  }
  const TColor text = control.Enabled() ? control.EffectiveFont().Color() : clGrayText;
  return {back, ClassicColorToRGB(text)};
}

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl() {
  // Children that belong to other owners outlive this parent, without a parent.
  while (!FControls.empty()) FControls.back()->SetParent(nullptr);
}

std::vector<TControl*> TWinControl::TabOrderedControls() const {
  std::vector<TControl*> ordered = FControls;
  // Unnumbered controls (-1) go after every numbered one.
  auto key = [](const TControl* c) {
    return c->TabOrder() < 0 ? std::numeric_limits<int>::max() : c->TabOrder();
  };
  std::stable_sort(ordered.begin(), ordered.end(),
                   [&](const TControl* a, const TControl* b) { return key(a) < key(b); });
  return ordered;
}

void TWinControl::SetFocus() { tkbackend::SetFocus(*this); }

bool TWinControl::Focused() const { return tkbackend::Focused(*this); }

bool TWinControl::CanFocus() const { return Showing() && EnabledInParents(); }

void TWinControl::DoEnter() {
  if (TCustomForm* form = ParentForm(); form != nullptr && form != this) form->FocusEntered(this);
  OnEnter(this);
}

void TWinControl::CreateHandleTree() {
  TControl::CreateHandleTree();
  for (TControl* c : FControls) c->CreateHandleTree();
}

void TWinControl::ParentChanged() {
  for (TControl* c : FControls) {
    if (c->ParentColor() || c->ParentFont()) {
      c->Changed();
      c->ParentChanged();
    }
  }
}

TLabel::TLabel(TComponent* owner) : TControl(owner) {}

TPanel::TPanel(TComponent* owner) : TWinControl(owner) { SetParentColor(false); }

void TPanel::SetBevelOuter(TBevelCut cut) {
  FBevelOuter = cut;
  Changed();
}

TBevel::TBevel(TComponent* owner) : TControl(owner) {}

void TBevel::SetShape(TBevelShape shape) {
  FShape = shape;
  Changed();
}

TShape::TShape(TComponent* owner) : TControl(owner) {}

void TShape::SetPenColor(TColor color) {
  FPenColor = color;
  Changed();
}

void TShape::SetPenStyle(TPenStyle style) {
  FPenStyle = style;
  Changed();
}

void TShape::SetBrushColor(TColor color) {
  FBrushColor = color;
  Changed();
}

void TFont::Assign(const TFont& other) {
  bool same = *this == other;
  FName = other.FName;
  FCharset = other.FCharset;
  FHeight = other.FHeight;
  FColor = other.FColor;
  FStyle = other.FStyle;
  if (!same && OnChange) OnChange();
}
