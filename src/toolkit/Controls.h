#pragma once
// Controls: the visual components of a form. Positions and sizes are pixels at 96 dpi;
// the Windows backend scales them to the system's dpi. Texts are code-page-936 bytes.
//
//   auto* label = new TLabel(form);
//   label->SetParent(form);  label->SetBounds(15, 10, 64, 16);  label->SetCaption("模块名称");
//
// A control without a font of its own (ParentFont) draws with its parent's font; one
// with ParentColor takes its parent's colour. Every change reaches the window at once
// when the control has one.
#include <string>
#include <vector>

#include "toolkit/Classes.h"
#include "toolkit/Graphics.h"

class TWinControl;
class TCustomForm;

enum class TAlign : uint8_t { alNone, alTop, alBottom, alLeft, alRight, alClient };

class TControl : public TComponent {
 public:
  explicit TControl(TComponent* owner);
  const char* ClassName() const override { return "TControl"; }

  TWinControl* Parent() const { return FParent; }
  // Moves the control into parent's children (null: out of any); creates its window when
  // the parent has one.
  void SetParent(TWinControl* parent);
  // The form the control is on, or null.
  TCustomForm* ParentForm() const;

  int Left() const { return FLeft; }
  int Top() const { return FTop; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  void SetBounds(int left, int top, int width, int height);
  void SetLeft(int v) { SetBounds(v, FTop, FWidth, FHeight); }
  void SetTop(int v) { SetBounds(FLeft, v, FWidth, FHeight); }
  void SetWidth(int v) { SetBounds(FLeft, FTop, v, FHeight); }
  void SetHeight(int v) { SetBounds(FLeft, FTop, FWidth, v); }
  TAlign Align() const { return FAlign; }
  void SetAlign(TAlign align);

  bool Visible() const { return FVisible; }
  void SetVisible(bool visible);
  // Visible and every parent visible.
  bool Showing() const;
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool enabled);

  // Caption of labels, buttons, panels, group boxes and forms.
  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& caption);

  TColor Color() const { return FColor; }
  // Sets an own colour (ParentColor off).
  void SetColor(TColor color);
  bool ParentColor() const { return FParentColor; }
  void SetParentColor(bool parentColor);
  // The colour the control is drawn with: its own, or its parent's when ParentColor.
  TColor EffectiveColor() const;

  // The control's own font. Changing it turns ParentFont off.
  TFont& Font();
  const TFont& Font() const { return FFont; }
  bool ParentFont() const { return FParentFont; }
  void SetParentFont(bool parentFont);
  // The font the control draws with: its own, or its parent's when ParentFont.
  const TFont& EffectiveFont() const;

  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool transparent);

  // Position among the parent's controls when the focus moves with Tab (lowest first;
  // -1, the default, after every numbered control, in creation order). Read when the
  // windows are created: set it before the form is shown.
  int TabOrder() const { return FTabOrder; }
  void SetTabOrder(int order) { FTabOrder = order; }
  // Whether Tab stops at this control (only controls that can take the focus).
  bool TabStop() const { return FTabStop; }
  void SetTabStop(bool stop) { FTabStop = stop; }
  // Enabled, and every parent enabled.
  bool EnabledInParents() const;

  // Click event; Click() runs it (and what the control adds to a click).
  TNotifyEvent OnClick;
  virtual void Click();

  // The window of the control, created when needed (0 headless for plain controls, and
  // always 0 for labels, bevels and shapes on Windows: the window they lie on draws them).
  uintptr_t Handle() const { return FHandle; }
  bool HandleAllocated() const { return FHandle != 0; }

  // Backend data, owned by the backend.
  void* BackendData = nullptr;
  // Whether the backend has made what shows the control: its window, or (for a control
  // drawn by its parent's window) its drawing state.
  bool HasBackendState() const { return FHandle != 0 || BackendData != nullptr; }
  // Backend use: sets the window handle.
  void SetHandleValue(uintptr_t handle) { FHandle = handle; }
  // Creates the window of this control (and of its children) when its parent has one.
  virtual void CreateHandleTree();
  // Redraws / updates the window after a property change.
  void Changed();

 protected:
  ~TControl() override;
  // Called when the parent's colour or font changes, for controls that follow it.
  virtual void ParentChanged();

 private:
  TWinControl* FParent = nullptr;
  int FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
  TAlign FAlign = TAlign::alNone;
  bool FVisible = true;
  bool FEnabled = true;
  std::string FCaption;
  TColor FColor = clBtnFace;
  bool FParentColor = true;
  TFont FFont;
  bool FParentFont = true;
  bool FTransparent = false;
  int FTabOrder = -1;
  bool FTabStop = false;
  uintptr_t FHandle = 0;
  friend class TWinControl;
  friend class TCustomForm;
};

// The colours a control's text and what lies behind it are drawn in: both fixed colours
// (the host skin, the layouts) or both system colours, never one of each, so that no
// colour scheme makes a text the colour of its background.
//
//   TTextColors c = TextColors(*list, clWindow, false);   // {clWindow, clWindowText}
//
// Behind the text lies the control's colour, or its parent's when it is transparent. On a
// system colour the text takes the colour the system pairs with it (SystemTextColorFor);
// on a fixed colour the text keeps its own, a system colour taken as the layouts were
// designed (ClassicColorToRGB: clWindow is white). A disabled control's text is grey in
// the same source. highContrast (the system's High Contrast is on): only system colours,
// the background being systemBack, what the kind of control has in a system dialog
// (clWindow for lists and edits, clBtnFace for the rest).
struct TTextColors {
  TColor Back;
  TColor Text;
};
TTextColors TextColors(const TControl& control, TColor systemBack, bool highContrast);

// A control that holds other controls.
class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* owner);
  const char* ClassName() const override { return "TWinControl"; }

  int ControlCount() const { return static_cast<int>(FControls.size()); }
  TControl* Controls(int index) const { return FControls.at(index); }

  // The children in tab order: by TabOrder, unnumbered ones last, ties in creation order.
  std::vector<TControl*> TabOrderedControls() const;

  // Focus-entry event: runs when the control takes the focus.
  TNotifyEvent OnEnter;
  // Gives the control the focus: runs DoEnter (headless) or focuses the window.
  void SetFocus();
  // Whether the control has the keyboard focus now.
  bool Focused() const;
  // Showing and enabled (with every parent): a Tab or a click may give it the focus.
  bool CanFocus() const;
  // Backend use: the control has taken the focus; its form remembers it.
  virtual void DoEnter();

  void CreateHandleTree() override;

 protected:
  ~TWinControl() override;
  void ParentChanged() override;

 private:
  std::vector<TControl*> FControls;
  friend class TControl;
};

// Text on a form or panel.
class TLabel : public TControl {
 public:
  explicit TLabel(TComponent* owner);
  const char* ClassName() const override { return "TLabel"; }
  // The control this label names: a screen reader reads the label's caption as that
  // control's name (the prompt above a list). Null when it names none; not owned, only
  // compared.
  //   prompt->SetFocusControl(list);   // the list is read as "请选择读卡器"
  TWinControl* FocusControl() const { return FFocusControl; }
  void SetFocusControl(TWinControl* control) { FFocusControl = control; }
  // A mark or ornament (the product mark): a screen reader is told there is nothing in it
  // to read or focus.
  bool Decorative() const { return FDecorative; }
  void SetDecorative(bool decorative) { FDecorative = decorative; }

 private:
  TWinControl* FFocusControl = nullptr;
  bool FDecorative = false;
};

enum class TBevelCut : uint8_t { bvNone, bvLowered, bvRaised, bvSpace };

// A coloured area holding controls.
class TPanel : public TWinControl {
 public:
  explicit TPanel(TComponent* owner);
  const char* ClassName() const override { return "TPanel"; }
  TBevelCut BevelOuter() const { return FBevelOuter; }
  void SetBevelOuter(TBevelCut cut);

 private:
  TBevelCut FBevelOuter = TBevelCut::bvRaised;
};

enum class TBevelShape : uint8_t {
  bsBox,
  bsFrame,
  bsTopLine,
  bsBottomLine,
  bsLeftLine,
  bsRightLine
};

// An etched line or frame.
class TBevel : public TControl {
 public:
  explicit TBevel(TComponent* owner);
  const char* ClassName() const override { return "TBevel"; }
  TBevelShape Shape() const { return FShape; }
  void SetShape(TBevelShape shape);

 private:
  TBevelShape FShape = TBevelShape::bsBox;
};

enum class TPenStyle : uint8_t { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear };

// A rectangle drawn with a pen (outline) and a brush (fill).
class TShape : public TControl {
 public:
  explicit TShape(TComponent* owner);
  const char* ClassName() const override { return "TShape"; }
  TColor PenColor() const { return FPenColor; }
  void SetPenColor(TColor color);
  TPenStyle PenStyle() const { return FPenStyle; }
  void SetPenStyle(TPenStyle style);
  TColor BrushColor() const { return FBrushColor; }
  void SetBrushColor(TColor color);

 private:
  TColor FPenColor = clBlack;
  TPenStyle FPenStyle = TPenStyle::psSolid;
  TColor FBrushColor = clWhite;
};
