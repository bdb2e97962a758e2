// The Windows backend: every form and control is a real window, so another program can
// find and drive it with standard messages. Forms are top-level windows whose class name
// is the form's class name; the list box is a real LISTBOX (owner-drawn), the edit a real
// EDIT; labels, panels, bevels, shapes, group boxes and speed buttons are windows of
// classes named after the control class, painted here. Texts go through the wide API,
// converted from the ANSI code page. Layout pixels (96 dpi) are scaled to the system dpi.
#include <windows.h>

#include <imm.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "toolkit/Backend.h"
#include "toolkit/win32/Win32Util.h"

namespace {

const wchar_t* const kControlProp = L"RsToolkitControl";

// What the backend keeps per window; freed at WM_NCDESTROY.
struct TPeer {
  HFONT Font = nullptr;
  HBRUSH Brush = nullptr;  // background of an edit or list box
  WNDPROC OldProc = nullptr;
  bool Pressed = false;
};

TPeer* PeerOf(TControl& c) {
  if (c.BackendData == nullptr) c.BackendData = new TPeer;
  return static_cast<TPeer*>(c.BackendData);
}

void FreePeer(TControl& c) {
  auto* peer = static_cast<TPeer*>(c.BackendData);
  if (peer == nullptr) return;
  if (peer->Font != nullptr) DeleteObject(peer->Font);
  if (peer->Brush != nullptr) DeleteObject(peer->Brush);
  delete peer;
  c.BackendData = nullptr;
}

HWND Hwnd(const TControl& c) { return reinterpret_cast<HWND>(c.Handle()); }

TControl* ControlOf(HWND hwnd) { return static_cast<TControl*>(GetPropW(hwnd, kControlProp)); }

int Scale(int v) { return MulDiv(v, tkbackend::PixelsPerInch(), kDesignPixelsPerInch); }

COLORREF Rgb(TColor c) { return static_cast<COLORREF>(ColorToRGB(c)); }

// Runs control code from a window procedure: nothing may leave it as an exception.
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

HFONT MakeFont(const TFont& f) {
  std::wstring name = ToWide(f.Name());
  return CreateFontW(-Scale(f.Height()), 0, 0, 0, (f.Style() & fsBold) ? FW_BOLD : FW_NORMAL,
                     (f.Style() & fsItalic) != 0, (f.Style() & fsUnderline) != 0,
                     (f.Style() & fsStrikeOut) != 0, f.Charset(), OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, name.c_str());
}

void ApplyFont(TControl& c) {
  TPeer* peer = PeerOf(c);
  HFONT old = peer->Font;
  peer->Font = MakeFont(c.EffectiveFont());
  SendMessageW(Hwnd(c), WM_SETFONT, reinterpret_cast<WPARAM>(peer->Font), FALSE);
  if (old != nullptr) DeleteObject(old);
}

TColor ParentColorOf(const TControl& c) {
  return c.Parent() != nullptr ? c.Parent()->EffectiveColor() : c.EffectiveColor();
}

void Fill(HDC dc, const RECT& r, TColor color) {
  HBRUSH b = CreateSolidBrush(Rgb(color));
  FillRect(dc, &r, b);
  DeleteObject(b);
}

void HLine(HDC dc, int x0, int x1, int y, COLORREF color, int style = PS_SOLID) {
  HPEN pen = CreatePen(style, 1, color);
  HGDIOBJ old = SelectObject(dc, pen);
  MoveToEx(dc, x0, y, nullptr);
  LineTo(dc, x1, y);
  SelectObject(dc, old);
  DeleteObject(pen);
}

// Labels size themselves to their text (the designed layouts assume it): a caption set at
// run time that is wider than the stored width still shows whole.
void AutoSizeLabel(TControl& c, HWND hwnd) {
  const std::wstring text = ToWide(c.Caption());
  HDC dc = GetDC(hwnd);
  HGDIOBJ oldFont = SelectObject(dc, PeerOf(c)->Font);
  SIZE extent{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  SelectObject(dc, oldFont);
  ReleaseDC(hwnd, dc);
  if (extent.cx > Scale(c.Width())) {
    SetWindowPos(hwnd, nullptr, 0, 0, extent.cx, std::max<int>(Scale(c.Height()), extent.cy),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void DrawCaption(HDC dc, TControl& c, RECT r, UINT format) {
  std::wstring text = ToWide(c.Caption());
  HGDIOBJ oldFont = SelectObject(dc, PeerOf(c)->Font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, c.Enabled() ? Rgb(c.EffectiveFont().Color()) : GetSysColor(COLOR_GRAYTEXT));
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, format | DT_NOPREFIX);
  SelectObject(dc, oldFont);
}

void PaintControl(TControl& c, HDC dc) {
  RECT r;
  GetClientRect(Hwnd(c), &r);
  const std::string cls = c.ClassName();
  if (auto* label = dynamic_cast<TLabel*>(&c)) {
    Fill(dc, r, label->Transparent() ? ParentColorOf(c) : c.EffectiveColor());
    DrawCaption(dc, c, r, DT_LEFT | DT_TOP | DT_SINGLELINE);
  } else if (auto* panel = dynamic_cast<TPanel*>(&c)) {
    Fill(dc, r, c.EffectiveColor());
    if (panel->BevelOuter() == TBevelCut::bvRaised) DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
    if (panel->BevelOuter() == TBevelCut::bvLowered) DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
    DrawCaption(dc, c, r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  } else if (auto* bevel = dynamic_cast<TBevel*>(&c)) {
    Fill(dc, r, ParentColorOf(c));
    COLORREF shadow = GetSysColor(COLOR_BTNSHADOW), light = GetSysColor(COLOR_BTNHIGHLIGHT);
    switch (bevel->Shape()) {
      case TBevelShape::bsBottomLine:
        HLine(dc, 0, r.right, r.bottom - 2, shadow);
        HLine(dc, 0, r.right, r.bottom - 1, light);
        break;
      case TBevelShape::bsTopLine:
        HLine(dc, 0, r.right, 0, shadow);
        HLine(dc, 0, r.right, 1, light);
        break;
      default:
        DrawEdge(dc, &r, EDGE_ETCHED, BF_RECT);
    }
  } else if (auto* shape = dynamic_cast<TShape*>(&c)) {
    Fill(dc, r, shape->BrushColor());
    if (shape->PenStyle() != TPenStyle::psClear) {
      int style = shape->PenStyle() == TPenStyle::psDot    ? PS_DOT
                  : shape->PenStyle() == TPenStyle::psDash ? PS_DASH
                                                           : PS_SOLID;
      // The gaps of a dotted pen show the fill colour.
      SetBkMode(dc, OPAQUE);
      SetBkColor(dc, Rgb(shape->BrushColor()));
      COLORREF pen = Rgb(shape->PenColor());
      HLine(dc, 0, r.right, 0, pen, style);
      if (r.bottom > 1) {
        HLine(dc, 0, r.right, r.bottom - 1, pen, style);
        HPEN p = CreatePen(style, 1, pen);
        HGDIOBJ old = SelectObject(dc, p);
        MoveToEx(dc, 0, 0, nullptr);
        LineTo(dc, 0, r.bottom);
        MoveToEx(dc, r.right - 1, 0, nullptr);
        LineTo(dc, r.right - 1, r.bottom);
        SelectObject(dc, old);
        DeleteObject(p);
      }
    }
  } else if (auto* group = dynamic_cast<TXPTolvikGroupBox*>(&c)) {
    Fill(dc, r, c.EffectiveColor());
    if (group->Ctl3D()) {
      DrawEdge(dc, &r, EDGE_ETCHED, BF_RECT);
    } else {
      HBRUSH b = CreateSolidBrush(GetSysColor(COLOR_BTNSHADOW));
      FrameRect(dc, &r, b);
      DeleteObject(b);
    }
    if (!c.Caption().empty()) {
      RECT t = {Scale(8), 0, r.right, Scale(14)};
      DrawCaption(dc, c, t, DT_LEFT | DT_TOP | DT_SINGLELINE);
    }
  } else if (dynamic_cast<TModalSpeedButton*>(&c) != nullptr) {
    Fill(dc, r, c.EffectiveColor());
    bool pressed = PeerOf(c)->Pressed;
    DrawEdge(dc, &r, pressed ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT);
    if (pressed) OffsetRect(&r, 1, 1);
    DrawCaption(dc, c, r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  } else {
    Fill(dc, r, c.EffectiveColor());
  }
}

void DrawListItem(TXPTolvikListBox& list, const DRAWITEMSTRUCT& di) {
  if (di.itemID == static_cast<UINT>(-1)) return;
  bool selected = (di.itemState & ODS_SELECTED) != 0;
  Fill(di.hDC, di.rcItem, selected ? clHighlight : list.EffectiveColor());
  const auto& lines = list.Lines();
  if (di.itemID >= lines.size()) return;
  std::wstring text = ToWide(lines[di.itemID]);
  RECT r = di.rcItem;
  r.left += 2;
  HGDIOBJ oldFont = SelectObject(di.hDC, PeerOf(list)->Font);
  SetBkMode(di.hDC, TRANSPARENT);
  SetTextColor(di.hDC,
               selected ? GetSysColor(COLOR_HIGHLIGHTTEXT) : Rgb(list.EffectiveFont().Color()));
  DrawTextW(di.hDC, text.c_str(), static_cast<int>(text.size()), &r,
            DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(di.hDC, oldFont);
  if (di.itemState & ODS_FOCUS) DrawFocusRect(di.hDC, &di.rcItem);
}

// Messages a parent window handles for its child controls: notifications, owner drawing
// and colours. True when handled.
bool HandleChildMessages(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  switch (msg) {
    case WM_COMMAND: {
      TControl* child = ControlOf(reinterpret_cast<HWND>(lp));
      if (auto* list = dynamic_cast<TXPTolvikListBox*>(child)) {
        if (HIWORD(wp) == LBN_SELCHANGE) {
          int index = static_cast<int>(SendMessageW(Hwnd(*list), LB_GETCURSEL, 0, 0));
          list->SetStoredItemIndex(index);
          Guarded([&] { list->Click(); });
        }
        result = 0;
        return true;
      }
      return false;
    }
    case WM_DRAWITEM: {
      auto* di = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
      if (auto* list = dynamic_cast<TXPTolvikListBox*>(ControlOf(di->hwndItem))) {
        DrawListItem(*list, *di);
        result = TRUE;
        return true;
      }
      return false;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX: {
      TControl* child = ControlOf(reinterpret_cast<HWND>(lp));
      if (child == nullptr) return false;
      TPeer* peer = PeerOf(*child);
      if (peer->Brush != nullptr) DeleteObject(peer->Brush);
      peer->Brush = CreateSolidBrush(Rgb(child->EffectiveColor()));
      HDC dc = reinterpret_cast<HDC>(wp);
      SetTextColor(dc, Rgb(child->EffectiveFont().Color()));
      SetBkColor(dc, Rgb(child->EffectiveColor()));
      result = reinterpret_cast<LRESULT>(peer->Brush);
      return true;
    }
    default:
      return false;
  }
}

void Detach(HWND hwnd) {
  if (TControl* c = ControlOf(hwnd)) {
    c->SetHandleValue(0);
    FreePeer(*c);
  }
  RemovePropW(hwnd, kControlProp);
}

LRESULT CALLBACK ControlWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
  if (msg == WM_NCCREATE) {
    SetPropW(hwnd, kControlProp, reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
  }
  TControl* c = ControlOf(hwnd);
  if (c == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);
  LRESULT result = 0;
  if (HandleChildMessages(msg, wp, lp, result)) return result;
  auto* button = dynamic_cast<TModalSpeedButton*>(c);
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      PaintControl(*c, dc);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_PRINTCLIENT:
      PaintControl(*c, reinterpret_cast<HDC>(wp));
      return 0;
    case WM_NCHITTEST:
      // Labels, bevels and shapes let the mouse through to what lies beneath.
      if (button == nullptr && dynamic_cast<TWinControl*>(c) == nullptr) return HTTRANSPARENT;
      break;
    case WM_LBUTTONDOWN:
      if (button != nullptr) {
        PeerOf(*c)->Pressed = true;
        SetCapture(hwnd);
        InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
      }
      break;
    case WM_LBUTTONUP:
      if (button != nullptr && PeerOf(*c)->Pressed) {
        PeerOf(*c)->Pressed = false;
        ReleaseCapture();
        InvalidateRect(hwnd, nullptr, FALSE);
        RECT r;
        GetClientRect(hwnd, &r);
        POINT p = {static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
        if (PtInRect(&r, p)) Guarded([&] { button->Click(); });
        return 0;
      }
      break;
    case BM_CLICK:
      if (button != nullptr) {
        if (IsWindowEnabled(hwnd)) Guarded([&] { button->Click(); });
        return 0;
      }
      break;
    case WM_NCDESTROY:
      Detach(hwnd);
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

// The list box and the edit are the system's; this sees their messages first.
LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
  TControl* c = ControlOf(hwnd);
  if (c == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);
  WNDPROC old = PeerOf(*c)->OldProc;
  switch (msg) {
    case WM_NCPAINT:
      if (auto* list = dynamic_cast<TXPTolvikListBox*>(c)) {
        LRESULT r = CallWindowProcW(old, hwnd, msg, wp, lp);
        HDC dc = GetWindowDC(hwnd);
        RECT wr;
        GetWindowRect(hwnd, &wr);
        RECT frame = {0, 0, wr.right - wr.left, wr.bottom - wr.top};
        bool focused = GetFocus() == hwnd;
        HBRUSH b = CreateSolidBrush(
            Rgb(focused ? list->SelectedBorderColor() : list->UnfocusedBorderColor()));
        FrameRect(dc, &frame, b);
        DeleteObject(b);
        ReleaseDC(hwnd, dc);
        return r;
      }
      break;
    case WM_SETFOCUS: {
      LRESULT r = CallWindowProcW(old, hwnd, msg, wp, lp);
      if (dynamic_cast<TXPTolvikListBox*>(c) != nullptr) {
        SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
      }
      auto* wc = static_cast<TWinControl*>(c);
      Guarded([&] { wc->DoEnter(); });
      return r;
    }
    case WM_KILLFOCUS: {
      LRESULT r = CallWindowProcW(old, hwnd, msg, wp, lp);
      if (dynamic_cast<TXPTolvikListBox*>(c) != nullptr) {
        SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
      }
      return r;
    }
    case WM_NCDESTROY: {
      SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
      Detach(hwnd);
      return CallWindowProcW(old, hwnd, msg, wp, lp);
    }
    default:
      break;
  }
  return CallWindowProcW(old, hwnd, msg, wp, lp);
}

LRESULT CALLBACK FormWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
  if (msg == WM_NCCREATE) {
    auto* form = static_cast<TCustomForm*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    SetPropW(hwnd, kControlProp, form);
    form->SetHandleValue(reinterpret_cast<uintptr_t>(hwnd));
  }
  auto* form = dynamic_cast<TCustomForm*>(ControlOf(hwnd));
  if (form == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    Detach(hwnd);
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
  // The form may free itself inside (a release request); only the local record is used after.
  TMessage m{msg, wp, lp, 0};
  form->Dispatch(m);
  return m.Result;
}

void RegisterControlClass(const std::wstring& name, WNDPROC proc) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  HINSTANCE instance = ModuleInstance();
  if (GetClassInfoExW(instance, name.c_str(), &wc)) return;
  wc = WNDCLASSEXW{};
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
  wc.lpszClassName = name.c_str();
  RegisterClassExW(&wc);
}

RECT FormWindowRect(TCustomForm& form, DWORD style, DWORD exStyle) {
  RECT r = {0, 0, Scale(form.ClientWidth()), Scale(form.ClientHeight())};
  AdjustWindowRectEx(&r, style, FALSE, exStyle);
  int w = r.right - r.left, h = r.bottom - r.top;
  int x = Scale(form.Left()), y = Scale(form.Top());
  if (form.Position() == TPosition::poDesktopCenter ||
      form.Position() == TPosition::poScreenCenter) {
    x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
    y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
  }
  return RECT{x, y, x + w, y + h};
}

DWORD FormStyle(TCustomForm& form) {
  DWORD style = WS_POPUP | WS_CLIPCHILDREN;
  if (form.BorderStyle() != TFormBorderStyle::bsNone) style |= WS_CAPTION;
  if (form.BorderStyle() == TFormBorderStyle::bsSizeable) style |= WS_THICKFRAME;
  if (form.BorderIcons() & biSystemMenu) style |= WS_SYSMENU;
  if (form.BorderIcons() & biMinimize) style |= WS_MINIMIZEBOX;
  if (form.BorderIcons() & biMaximize) style |= WS_MAXIMIZEBOX;
  return style;
}

void CreateFormWindow(TCustomForm& form) {
  std::wstring cls = ToWide(form.ClassName());
  RegisterControlClass(cls, FormWndProc);
  DWORD style = FormStyle(form);
  DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  RECT r = FormWindowRect(form, style, exStyle);
  std::wstring caption = ToWide(form.Caption());
  HWND owner = reinterpret_cast<HWND>(Application->Handle());
  if (owner != nullptr && !IsWindow(owner)) owner = nullptr;
  CreateWindowExW(exStyle, cls.c_str(), caption.c_str(), style, r.left, r.top, r.right - r.left,
                  r.bottom - r.top, owner, nullptr, ModuleInstance(), &form);
  if (form.HandleAllocated()) ApplyFont(form);
}

void CreateChildWindow(TControl& c) {
  HWND parent = Hwnd(*c.Parent());
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  if (c.Visible()) style |= WS_VISIBLE;
  if (!c.Enabled()) style |= WS_DISABLED;
  if (c.TabStop()) style |= WS_TABSTOP;
  std::wstring cls;
  DWORD exStyle = 0;
  bool system = false;
  if (dynamic_cast<TXPTolvikListBox*>(&c) != nullptr) {
    cls = L"LISTBOX";
    style |= WS_BORDER | WS_VSCROLL | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOTIFY |
             LBS_NOINTEGRALHEIGHT;
    system = true;
  } else if (dynamic_cast<TXPTolvikEdit*>(&c) != nullptr) {
    cls = L"EDIT";
    style |= WS_BORDER | ES_AUTOHSCROLL;
    system = true;
  } else {
    cls = ToWide(c.ClassName());
    RegisterControlClass(cls, ControlWndProc);
    if (dynamic_cast<TWinControl*>(&c) != nullptr) style |= WS_CLIPCHILDREN;
  }
  std::wstring text = ToWide(c.Caption());
  auto* edit = dynamic_cast<TXPTolvikEdit*>(&c);
  if (edit != nullptr) text = ToWide(edit->Text());
  int id = 100;
  if (c.Owner() != nullptr) {
    for (int i = 0; i < c.Owner()->ComponentCount(); ++i) {
      if (c.Owner()->Components(i) == &c) id = 100 + i;
    }
  }
  HWND hwnd =
      CreateWindowExW(exStyle, cls.c_str(), text.c_str(), style, Scale(c.Left()), Scale(c.Top()),
                      Scale(c.Width()), Scale(c.Height()), parent,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ModuleInstance(), &c);
  if (hwnd == nullptr) return;
  if (system) {
    SetPropW(hwnd, kControlProp, &c);
    PeerOf(c)->OldProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SubclassProc)));
  }
  c.SetHandleValue(reinterpret_cast<uintptr_t>(hwnd));
  ApplyFont(c);
  if (dynamic_cast<TLabel*>(&c) != nullptr) AutoSizeLabel(c, hwnd);
  if (auto* list = dynamic_cast<TXPTolvikListBox*>(&c)) {
    SendMessageW(hwnd, LB_SETITEMHEIGHT, 0, Scale(list->ItemHeight()));
    tkbackend::ListChanged(*list);
  }
}

// Windows disabled for the modal loop of each form, enabled again at its end.
std::map<const TCustomForm*, std::vector<HWND>>& DisabledWindows() {
  static std::map<const TCustomForm*, std::vector<HWND>> disabled;
  return disabled;
}

}  // namespace

namespace tkbackend {

void CreateHandle(TControl& control) {
  if (auto* form = dynamic_cast<TCustomForm*>(&control)) {
    CreateFormWindow(*form);
  } else if (control.Parent() != nullptr && control.Parent()->HandleAllocated()) {
    CreateChildWindow(control);
  }
}

void DestroyHandle(TControl& control) {
  HWND hwnd = Hwnd(control);
  if (hwnd != nullptr && IsWindow(hwnd)) DestroyWindow(hwnd);
  // WM_NCDESTROY has detached it; a window destroyed with its parent earlier, too.
  control.SetHandleValue(0);
  FreePeer(control);
}

void UpdateControl(TControl& c) {
  HWND hwnd = Hwnd(c);
  if (!IsWindow(hwnd)) return;
  if (auto* form = dynamic_cast<TCustomForm*>(&c)) {
    DWORD style = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE));
    DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE));
    RECT r = {0, 0, Scale(form->ClientWidth()), Scale(form->ClientHeight())};
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
    SetWindowPos(hwnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  } else {
    MoveWindow(hwnd, Scale(c.Left()), Scale(c.Top()), Scale(c.Width()), Scale(c.Height()), TRUE);
    ShowWindow(hwnd, c.Visible() ? SW_SHOWNA : SW_HIDE);
  }
  EnableWindow(hwnd, c.Enabled());
  if (dynamic_cast<TXPTolvikEdit*>(&c) == nullptr) {
    SetWindowTextW(hwnd, ToWide(c.Caption()).c_str());
  }
  ApplyFont(c);
  if (dynamic_cast<TLabel*>(&c) != nullptr) AutoSizeLabel(c, hwnd);
  if (auto* list = dynamic_cast<TXPTolvikListBox*>(&c)) {
    SendMessageW(hwnd, LB_SETITEMHEIGHT, 0, Scale(list->ItemHeight()));
    SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  }
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void ListChanged(TXPTolvikListBox& list) {
  HWND hwnd = Hwnd(list);
  SendMessageW(hwnd, WM_SETREDRAW, FALSE, 0);
  SendMessageW(hwnd, LB_RESETCONTENT, 0, 0);
  for (const auto& line : list.Lines()) {
    std::wstring w = ToWide(line);
    SendMessageW(hwnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(w.c_str()));
  }
  SendMessageW(hwnd, LB_SETCURSEL, static_cast<WPARAM>(list.StoredItemIndex()), 0);
  SendMessageW(hwnd, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(hwnd, nullptr, TRUE);
}

int ListItemIndex(const TXPTolvikListBox& list, int) {
  return static_cast<int>(SendMessageW(Hwnd(list), LB_GETCURSEL, 0, 0));
}

std::string EditText(const TXPTolvikEdit& edit, const std::string& stored) {
  HWND hwnd = Hwnd(edit);
  if (hwnd == nullptr) return stored;
  int n = GetWindowTextLengthW(hwnd);
  std::wstring w(static_cast<size_t>(n) + 1, L'\0');
  GetWindowTextW(hwnd, w.data(), n + 1);
  w.resize(static_cast<size_t>(n));
  return FromWide(w);
}

void SetEditText(TXPTolvikEdit& edit) { SetWindowTextW(Hwnd(edit), ToWide(edit.Text()).c_str()); }

void ShowForm(TCustomForm& form) {
  HWND hwnd = Hwnd(form);
  ShowWindow(hwnd, SW_SHOWNORMAL);
  UpdateWindow(hwnd);
  SetForegroundWindow(hwnd);
  // Keys typed into the dialog reach the form itself until a control is chosen.
  ::SetFocus(hwnd);
}

void HideForm(TCustomForm& form) {
  HWND hwnd = Hwnd(form);
  // Activation goes back to the owner before the window disappears, not to another program.
  SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
               SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  HWND owner = GetWindow(hwnd, GW_OWNER);
  if (owner != nullptr && IsWindowEnabled(owner)) SetActiveWindow(owner);
}

void SetFocus(TWinControl& control) {
  if (control.HandleAllocated()) {
    ::SetFocus(Hwnd(control));
  } else {
    control.DoEnter();
  }
}

void EnableOtherWindows(TCustomForm& modal, bool enable) {
  auto& disabled = DisabledWindows();
  if (!enable) {
    std::vector<HWND> windows;
    auto add = [&](HWND w) {
      if (w != nullptr && IsWindow(w) && IsWindowEnabled(w) && w != Hwnd(modal)) {
        EnableWindow(w, FALSE);
        windows.push_back(w);
      }
    };
    add(reinterpret_cast<HWND>(Application->Handle()));
    for (int i = 0; i < Screen->FormCount(); ++i) {
      TCustomForm* f = Screen->Forms(i);
      if (f != &modal && f->HandleAllocated() && IsWindowVisible(Hwnd(*f))) add(Hwnd(*f));
    }
    disabled[&modal] = std::move(windows);
  } else {
    auto it = disabled.find(&modal);
    if (it == disabled.end()) return;
    for (HWND w : it->second) {
      if (IsWindow(w)) EnableWindow(w, TRUE);
    }
    disabled.erase(it);
  }
}

bool HandleOneMessage() {
  MSG m;
  BOOL got = GetMessageW(&m, nullptr, 0, 0);
  if (got == 0) {
    // A quit request belongs to the outer loop of whoever owns the thread.
    PostQuitMessage(static_cast<int>(m.wParam));
    throw EInvalidOperation("The application is quitting");
  }
  if (got == -1) return false;
  TranslateMessage(&m);
  DispatchMessageW(&m);
  return true;
}

void PostToForm(TCustomForm& form, uint32_t msg) {
  PostMessageW(reinterpret_cast<HWND>(form.WindowHandle()), msg, 0, 0);
}

void DefaultHandler(TCustomForm& form, TMessage& m) {
  HWND hwnd = Hwnd(form);
  LRESULT result = 0;
  if (HandleChildMessages(m.Msg, m.WParam, m.LParam, result)) {
    m.Result = result;
    return;
  }
  switch (m.Msg) {
    case WM_ERASEBKGND: {
      RECT r;
      GetClientRect(hwnd, &r);
      Fill(reinterpret_cast<HDC>(m.WParam), r, form.EffectiveColor());
      m.Result = 1;
      return;
    }
    case WM_PRINTCLIENT: {
      RECT r;
      GetClientRect(hwnd, &r);
      Fill(reinterpret_cast<HDC>(m.WParam), r, form.EffectiveColor());
      m.Result = 0;
      return;
    }
    default:
      m.Result = DefWindowProcW(hwnd, m.Msg, m.WParam, m.LParam);
  }
}

TShiftState KeyShiftState() {
  TShiftState s = 0;
  if (GetKeyState(VK_SHIFT) < 0) s |= ssShift;
  if (GetKeyState(VK_CONTROL) < 0) s |= ssCtrl;
  if (GetKeyState(VK_MENU) < 0) s |= ssAlt;
  return s;
}

TColor SysColor(int index) { return GetSysColor(index); }

int PixelsPerInch() {
  static int dpi = [] {
    HDC dc = GetDC(nullptr);
    int v = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    return v > 0 ? v : kDesignPixelsPerInch;
  }();
  return dpi;
}

void ShowErrorBox(const std::string& title, const std::string& text) {
  std::wstring t = ToWide(title), m = ToWide(text);
  MessageBoxW(GetActiveWindow(), m.c_str(), t.c_str(), MB_ICONERROR | MB_OK);
}

std::vector<std::string> InstalledImes() {
  std::vector<std::string> names;
  for (const auto& layout : InstalledKeyboardLayouts()) names.push_back(layout.Name);
  return names;
}

void ActivateIme(const std::string& name, bool open) {
  for (const auto& layout : InstalledKeyboardLayouts()) {
    if (layout.Name != name) continue;
    ActivateKeyboardLayout(layout.Layout, 0);
    HWND focus = GetFocus();
    if (focus == nullptr) return;
    HIMC context = ImmGetContext(focus);
    if (context != nullptr) {
      ImmSetOpenStatus(context, open);
      ImmReleaseContext(focus, context);
    }
    return;
  }
}

}  // namespace tkbackend
