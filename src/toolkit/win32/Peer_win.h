#pragma once
// The window behind each toolkit control: one peer object per window, one class of peer
// per kind of control (Form_win.cpp, Panel_win.cpp, ListBox_win.cpp, ...), each with its
// own window procedure. Only the factory (Backend_win.cpp) looks at a control's type;
// after that every message goes to the peer's virtual members.
//
//   TWindowPeer* peer = NewPeer(control);   // the kind's peer
//   peer->Create(parentWindow);             // the window owns the peer from here on
//
// The window owns its peer: WM_NCDESTROY deletes it and clears the control's handle.
// Windows of our own classes get the peer at WM_NCCREATE (GWLP_USERDATA); the system's
// LISTBOX and EDIT are subclassed right after creation.
//
// Labels, bevels and shapes have no window (as in the toolkit the host uses, where they
// are graphic controls): each has a TGraphicPeer (Label_win.cpp, Bevel_win.cpp,
// Shape_win.cpp), kept in the control's BackendData, and the window of its parent draws
// it after its own background, beneath its child windows. A window costs its creation,
// its own erase and paint at every show and its destruction; an ornament needs none of
// that.
#include <windows.h>

#include <string>

#include "toolkit/Forms.h"
#include "toolkit/win32/Gdi_win.h"

class TWindowPeer {
 public:
  explicit TWindowPeer(TControl& control) : FControl(control) {}
  virtual ~TWindowPeer() = default;
  TWindowPeer(const TWindowPeer&) = delete;
  TWindowPeer& operator=(const TWindowPeer&) = delete;

  // Creates the window (a child of parent, or a top-level window owned by it). False when
  // the system refused; the peer is then still the caller's to delete.
  bool Create(HWND parent);

  HWND Hwnd() const { return FHwnd; }
  TControl& Control() const { return FControl; }
  HFONT Font() const { return FFont.Get(); }

  // A property of the control changed: bring the window up to date.
  virtual void Update();
  // A message about this control that its parent received (WM_COMMAND, WM_DRAWITEM,
  // WM_CTLCOLOR...). True when handled, with the result in result.
  virtual bool Reflected(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

  // The peer of one of the module's windows; null for any other window.
  static TWindowPeer* FromHandle(HWND hwnd);
  // Passes a parent's child-control message to the child's peer.
  static bool ReflectToChild(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

 protected:
  // What CreateWindowEx gets: the class (registered by RegisterClass when it is ours), the
  // styles and, for the system's classes, none of our procedure.
  virtual std::wstring WindowClass() const;
  virtual bool SystemClass() const { return false; }
  virtual DWORD Style() const;
  virtual DWORD ExStyle() const { return 0; }
  virtual RECT Bounds(HWND parent) const;
  virtual std::wstring InitialText() const;
  virtual void Created() {}

  // The window procedure of the peer; DefaultProc for what it does not handle.
  virtual LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp);
  LRESULT DefaultProc(UINT msg, WPARAM wp, LPARAM lp);
  // Paints the client area (our own classes); the graphic controls on it follow.
  virtual void Paint(HDC, const RECT&) {}

  // The control's place, visibility and own enabled state to the window, each when it
  // changed.
  void ApplyPlace();
  // The control's font to the window, when it is another than the window has.
  void ApplyFont();
  // The control's caption to the window, when it is another than the window shows.
  void ApplyText();

  TControl& FControl;
  HWND FHwnd = nullptr;
  TSharedFont FFont;  // shared with the other windows of the same font
  // What the window was last given, so that an update changes only what changed (each
  // change is a round trip to the window system with messages of its own).
  bool FAppliedEnabled = true;
  bool FAppliedVisible = false;
  RECT FAppliedBounds{};
  std::wstring FAppliedText;

 private:
  static LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept;
  void Detach();

  WNDPROC FSystemProc = nullptr;
  bool FCreating = false;
};

// A control drawn by its parent's window. Made when the parent's window exists, deleted
// when the control leaves the parent (or goes).
class TGraphicPeer {
 public:
  explicit TGraphicPeer(TControl& control);
  virtual ~TGraphicPeer() = default;
  TGraphicPeer(const TGraphicPeer&) = delete;
  TGraphicPeer& operator=(const TGraphicPeer&) = delete;

  // The drawing state of a control that has no window of its own; null for any other
  // control, and for one not drawn (yet).
  static TGraphicPeer* Of(const TControl& control);

  TControl& Control() const { return FControl; }
  HFONT Font() const { return FFont.Get(); }
  // The window that draws the control: its parent's; null when that has none.
  HWND DrawingWindow() const;
  // Where the control is drawn, in the drawing window's client coordinates.
  virtual RECT Place() const;
  // Draws the control into r (its place, moved to the origin).
  virtual void Paint(HDC dc, const RECT& r) = 0;

  // A property of the control changed: the places it was and is drawn at are drawn again.
  void Update();
  // The place it was drawn at is drawn again without it (it is going).
  void Erase();

 protected:
  // Called when the caption or font may have changed (labels measure their text).
  virtual void TextChanged() {}

  TControl& FControl;
  TSharedFont FFont;

 private:
  void Invalidate(const RECT& r) const;
  RECT FShown{};  // the place last invalidated, for the next move
};

// The colours a control draws its text and background in, with the system's High Contrast
// as last asked (TextColors; systemBack: clWindow for lists and edits, clBtnFace for the
// rest).
inline TTextColors ColorsOf(const TControl& control, TColor systemBack) {
  return TextColors(control, systemBack, HighContrastOn());
}

// Draws the graphic controls that lie on parent (its children without windows), in
// their order among its children, each clipped to its place.
void PaintGraphicControls(HDC dc, const TControl& parent);

// Registers one of the module's window classes once, remembering it for
// UnregisterModuleClasses.
void RegisterModuleClass(const std::wstring& name, WNDPROC proc);
void UnregisterModuleClasses();

// Runs toolkit code from a window procedure: nothing leaves it as an exception.
template <class F>
void Guarded(F action) noexcept {
  try {
    action();
  } catch (...) {
    try {
      Application->HandleException(nullptr);
    } catch (...) {
    }
  }
}

// The peers, one factory per kind of control (each in its own file).
TWindowPeer* NewFormPeer(TCustomForm& form);
TGraphicPeer* NewLabelPeer(TLabel& label);
TWindowPeer* NewPanelPeer(TPanel& panel);
TGraphicPeer* NewBevelPeer(TBevel& bevel);
TGraphicPeer* NewShapePeer(TShape& shape);
TWindowPeer* NewGroupBoxPeer(TXPTolvikGroupBox& group);
TWindowPeer* NewSpeedButtonPeer(TModalSpeedButton& button);
TWindowPeer* NewListBoxPeer(TXPTolvikListBox& list);
TWindowPeer* NewEditPeer(TXPTolvikEdit& edit);
TWindowPeer* NewPlainPeer(TControl& control);

// The list box's lines and selection to its window (ListBox_win.cpp).
void FillListWindow(TXPTolvikListBox& list);
