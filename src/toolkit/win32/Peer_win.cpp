// The common part of every control's window: creation, the window procedure that hands
// messages to the peer, property updates, messages reflected from parents to children,
// and the module's window classes.
#include "toolkit/win32/Peer_win.h"

#include <vector>

#include "toolkit/win32/Accessible_win.h"
#include "toolkit/win32/Win32Util.h"

namespace {

// Marks the module's windows, so a window handle from anywhere (a message's target, a
// notification's sender) can be told apart from other programs' windows.
const wchar_t* const kPeerProp = L"RsToolkitPeer";

// The classes this module registered, for unregistering them at unload.
std::vector<std::wstring>& RegisteredClasses() {
  static std::vector<std::wstring> classes;
  return classes;
}

// A child's control id: its index among its owner's components, from 100 up (0 to 99 stay
// free for the dialog manager's IDOK, IDCANCEL and the like).
int ChildId(const TControl& c) {
  if (c.Owner() == nullptr) return 100;
  for (int i = 0; i < c.Owner()->ComponentCount(); ++i) {
    if (c.Owner()->Components(i) == &c) return 100 + i;
  }
  return 100;
}

// Controls of no special kind: a window in the control's colour.
class TPlainPeer : public TWindowPeer {
 public:
  explicit TPlainPeer(TControl& control) : TWindowPeer(control) {}

 protected:
  void Paint(HDC dc, const RECT& r) override { Fill(dc, r, ColorsOf(FControl, clBtnFace).Back); }
};

}  // namespace

TWindowPeer* NewPlainPeer(TControl& control) { return new TPlainPeer(control); }

void RegisterModuleClass(const std::wstring& name, WNDPROC proc) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  HINSTANCE instance = ModuleInstance();
  if (GetClassInfoExW(instance, name.c_str(), &wc)) return;
  wc = WNDCLASSEXW{};
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  wc.lpszClassName = name.c_str();
  if (RegisterClassExW(&wc) != 0) RegisteredClasses().push_back(name);
}

void UnregisterModuleClasses() {
  auto& classes = RegisteredClasses();
  std::vector<std::wstring> kept;
  // A class whose windows still exist cannot go; it stays listed for a later try.
  for (const std::wstring& name : classes) {
    if (!UnregisterClassW(name.c_str(), ModuleInstance())) kept.push_back(name);
  }
  classes = std::move(kept);
}

bool TWindowPeer::Create(HWND parent) {
  const std::wstring cls = WindowClass();
  if (!SystemClass()) RegisterModuleClass(cls, StaticWndProc);
  const RECT r = Bounds(parent);
  const DWORD style = Style();
  HMENU id = (style & WS_CHILD) ? reinterpret_cast<HMENU>(static_cast<INT_PTR>(ChildId(FControl)))
                                : nullptr;
  FAppliedEnabled = FControl.Enabled();
  FAppliedVisible = (style & WS_VISIBLE) != 0;
  FAppliedBounds = r;
  FAppliedText = InitialText();
  // A window that fails after WM_NCCREATE is destroyed at once; the peer stays ours then.
  FCreating = true;
  // Child windows do not tell their parents of their creation and destruction
  // (WM_PARENTNOTIFY), as a dialog's controls do not: nothing here listens.
  const DWORD exStyle = ExStyle() | ((style & WS_CHILD) ? WS_EX_NOPARENTNOTIFY : 0);
  HWND hwnd = CreateWindowExW(exStyle, cls.c_str(), FAppliedText.c_str(), style, r.left, r.top,
                              r.right - r.left, r.bottom - r.top, parent, id, ModuleInstance(),
                              SystemClass() ? nullptr : this);
  FCreating = false;
  if (hwnd == nullptr) {
    FControl.SetHandleValue(0);
    FControl.BackendData = nullptr;
    return false;
  }
  if (SystemClass()) {
    FHwnd = hwnd;
    SetPropW(hwnd, kPeerProp, this);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    FControl.SetHandleValue(reinterpret_cast<uintptr_t>(hwnd));
    FControl.BackendData = this;
    FSystemProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&StaticWndProc)));
  }
  ApplyFont();
  Created();
  return true;
}

std::wstring TWindowPeer::WindowClass() const { return ToWide(FControl.ClassName()); }

DWORD TWindowPeer::Style() const {
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  if (FControl.Visible()) style |= WS_VISIBLE;
  if (!FControl.Enabled()) style |= WS_DISABLED;
  if (FControl.TabStop()) style |= WS_TABSTOP;
  return style;
}

RECT TWindowPeer::Bounds(HWND) const {
  const int x = Scale(FControl.Left()), y = Scale(FControl.Top());
  return RECT{x, y, x + Scale(FControl.Width()), y + Scale(FControl.Height())};
}

std::wstring TWindowPeer::InitialText() const { return ToWide(FControl.Caption()); }

void TWindowPeer::Update() {
  ApplyPlace();
  ApplyText();
  ApplyFont();
  // Colours and the rest are read when the window draws itself.
  RedrawWindow(FHwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void TWindowPeer::ApplyPlace() {
  const RECT bounds = TWindowPeer::Bounds(nullptr);
  if (!EqualRect(&bounds, &FAppliedBounds)) {
    FAppliedBounds = bounds;
    MoveWindow(FHwnd, bounds.left, bounds.top, bounds.right - bounds.left,
               bounds.bottom - bounds.top, TRUE);
  }
  if (FControl.Visible() != FAppliedVisible) {
    FAppliedVisible = FControl.Visible();
    ShowWindow(FHwnd, FAppliedVisible ? SW_SHOWNA : SW_HIDE);
  }
  // Only a change of the control's own property reaches the window: a window disabled by
  // someone else (a modal box over its form) stays as it is.
  if (FControl.Enabled() != FAppliedEnabled) {
    FAppliedEnabled = FControl.Enabled();
    EnableWindow(FHwnd, FAppliedEnabled);
  }
}

bool TWindowPeer::Reflected(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

TWindowPeer* TWindowPeer::FromHandle(HWND hwnd) {
  return hwnd == nullptr ? nullptr : static_cast<TWindowPeer*>(GetPropW(hwnd, kPeerProp));
}

bool TWindowPeer::ReflectToChild(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  HWND child = nullptr;
  switch (msg) {
    case WM_COMMAND:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
      child = reinterpret_cast<HWND>(lp);
      break;
    case WM_DRAWITEM:
      child = reinterpret_cast<DRAWITEMSTRUCT*>(lp)->hwndItem;
      break;
    default:
      return false;
  }
  TWindowPeer* peer = FromHandle(child);
  return peer != nullptr && peer->Reflected(msg, wp, lp, result);
}

LRESULT TWindowPeer::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  LRESULT result = 0;
  if (ReflectToChild(msg, wp, lp, result)) return result;
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(FHwnd, &ps);
      RECT r;
      GetClientRect(FHwnd, &r);
      Paint(dc, r);
      PaintGraphicControls(dc, FControl);
      EndPaint(FHwnd, &ps);
      return 0;
    }
    case WM_PRINTCLIENT: {
      RECT r;
      GetClientRect(FHwnd, &r);
      Paint(reinterpret_cast<HDC>(wp), r);
      PaintGraphicControls(reinterpret_cast<HDC>(wp), FControl);
      return 0;
    }
    default:
      break;
  }
  return DefaultProc(msg, wp, lp);
}

LRESULT TWindowPeer::DefaultProc(UINT msg, WPARAM wp, LPARAM lp) {
  if (FSystemProc != nullptr) return CallWindowProcW(FSystemProc, FHwnd, msg, wp, lp);
  return DefWindowProcW(FHwnd, msg, wp, lp);
}

void TWindowPeer::ApplyFont() {
  TSharedFont font(FControl.EffectiveFont());
  if (font.Get() == FFont.Get()) return;
  SendMessageW(FHwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), FALSE);
  // The old font is let go only now that the window no longer uses it.
  FFont = std::move(font);
}

void TWindowPeer::ApplyText() {
  std::wstring text = ToWide(FControl.Caption());
  if (text == FAppliedText) return;
  SetWindowTextW(FHwnd, text.c_str());
  FAppliedText = std::move(text);
}

TGraphicPeer::TGraphicPeer(TControl& control) : FControl(control), FFont(control.EffectiveFont()) {}

TGraphicPeer* TGraphicPeer::Of(const TControl& control) {
  return control.HandleAllocated() ? nullptr : static_cast<TGraphicPeer*>(control.BackendData);
}

HWND TGraphicPeer::DrawingWindow() const {
  const TWinControl* parent = FControl.Parent();
  return parent != nullptr ? reinterpret_cast<HWND>(parent->Handle()) : nullptr;
}

RECT TGraphicPeer::Place() const {
  const int x = Scale(FControl.Left()), y = Scale(FControl.Top());
  return RECT{x, y, x + Scale(FControl.Width()), y + Scale(FControl.Height())};
}

void TGraphicPeer::Invalidate(const RECT& r) const {
  HWND window = DrawingWindow();
  // A hidden window is drawn whole when it is shown: nothing to do before.
  if (window != nullptr && !IsRectEmpty(&r) && IsWindowVisible(window))
    InvalidateRect(window, &r, TRUE);
}

void TGraphicPeer::Update() {
  FFont = TSharedFont(FControl.EffectiveFont());
  TextChanged();
  const RECT now = Place();
  if (!EqualRect(&now, &FShown)) Invalidate(FShown);
  Invalidate(now);
  FShown = now;
}

void TGraphicPeer::Erase() {
  Invalidate(FShown);
  Invalidate(Place());
}

void PaintGraphicControls(HDC dc, const TControl& parent) {
  const auto* holder = dynamic_cast<const TWinControl*>(&parent);
  if (holder == nullptr) return;
  for (int i = 0; i < holder->ControlCount(); ++i) {
    const TControl* c = holder->Controls(i);
    TGraphicPeer* peer = TGraphicPeer::Of(*c);
    if (peer == nullptr || !c->Visible()) continue;
    const RECT place = peer->Place();
    if (IsRectEmpty(&place) || !RectVisible(dc, &place)) continue;
    // Each control draws at the origin, clipped to its place; the DC is as it was after.
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, place.left, place.top, place.right, place.bottom);
    OffsetViewportOrgEx(dc, place.left, place.top, nullptr);
    peer->Paint(dc, RECT{0, 0, place.right - place.left, place.bottom - place.top});
    RestoreDC(dc, saved);
  }
}

void TWindowPeer::Detach() {
  if (FSystemProc != nullptr) {
    SetWindowLongPtrW(FHwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FSystemProc));
  }
  RemovePropW(FHwnd, kPeerProp);
  SetWindowLongPtrW(FHwnd, GWLP_USERDATA, 0);
  if (FControl.BackendData == this) {
    FControl.SetHandleValue(0);
    FControl.BackendData = nullptr;
  }
}

LRESULT CALLBACK TWindowPeer::StaticWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
  if (msg == WM_NCCREATE) {
    auto* created = static_cast<TWindowPeer*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    if (created != nullptr) {
      created->FHwnd = hwnd;
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
      SetPropW(hwnd, kPeerProp, created);
      created->FControl.SetHandleValue(reinterpret_cast<uintptr_t>(hwnd));
      created->FControl.BackendData = created;
    }
  }
  auto* peer = reinterpret_cast<TWindowPeer*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (peer == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    ForgetAccessible(hwnd);
    const WNDPROC system = peer->FSystemProc;
    peer->Detach();
    if (!peer->FCreating) delete peer;
    return system != nullptr ? CallWindowProcW(system, hwnd, msg, wp, lp)
                             : DefWindowProcW(hwnd, msg, wp, lp);
  }
  // While the module is busy with the reader library, the pointer over its windows says so.
  if (msg == WM_SETCURSOR && Screen != nullptr && Screen->Cursor() == TCursor::crHourGlass) {
    SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));  // IDC_WAIT
    return TRUE;
  }
  LRESULT result = 0;
  // A screen reader asks what the window is (Accessible_win.h); 0 leaves it to the system.
  if (msg == WM_GETOBJECT) {
    Guarded([&] { result = AnswerGetObject(*peer, wp, lp); });
    if (result != 0) return result;
  }
  if (msg == WM_SETFOCUS) NotifyFocusTaken(hwnd, reinterpret_cast<HWND>(wp));
  Guarded([&] { result = peer->WndProc(msg, wp, lp); });
  return result;
}
