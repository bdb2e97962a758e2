// Forms: top-level windows whose class name is the form's class name. Messages go to the
// form's WndProc; what it leaves goes to Default, which is the dialog behaviour every
// Windows user expects: the focused control kept across deactivation, Esc through the
// close path, Enter pressing the focused button, Tab through the tab order.
#include "toolkit/win32/Form_win.h"

#include "toolkit/win32/Win32Util.h"

namespace {

// No WS_CLIPCHILDREN, as with every dialog of the system: the form's background goes under
// its children at once and each child draws itself when the form is shown, in the
// message loop. With it, showing the form erased every child window there and then, one
// round of messages per child before the form was on the screen.
DWORD FormStyle(const TCustomForm& form) {
  DWORD style = WS_POPUP;
  if (form.BorderStyle() != TFormBorderStyle::bsNone) style |= WS_CAPTION;
  if (form.BorderStyle() == TFormBorderStyle::bsSizeable) style |= WS_THICKFRAME;
  if (form.BorderIcons() & biSystemMenu) style |= WS_SYSMENU;
  if (form.BorderIcons() & biMinimize) style |= WS_MINIMIZEBOX;
  if (form.BorderIcons() & biMaximize) style |= WS_MAXIMIZEBOX;
  return style;
}

constexpr DWORD kFormExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

class TFormPeer : public TWindowPeer {
 public:
  explicit TFormPeer(TCustomForm& form) : TWindowPeer(form), FForm(form) {}

  void Update() override {
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(FHwnd, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(FHwnd, GWL_EXSTYLE));
    RECT r = {0, 0, Scale(FForm.ClientWidth()), Scale(FForm.ClientHeight())};
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
    // Only a change of size moves the window; its place on the screen is its own.
    if (r.right - r.left != FAppliedBounds.right - FAppliedBounds.left ||
        r.bottom - r.top != FAppliedBounds.bottom - FAppliedBounds.top) {
      FAppliedBounds = r;
      SetWindowPos(FHwnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // Whether the form takes input belongs to modality (its own modal loop, a message box
    // over it), never to a property update such as a skin refresh.
    ApplyText();
    ApplyFont();
    RedrawWindow(FHwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  }

  void Default(TMessage& m) {
    LRESULT result = 0;
    if (ReflectToChild(m.Msg, m.WParam, m.LParam, result)) {
      m.Result = result;
      return;
    }
    m.Result = 0;
    switch (m.Msg) {
      case WM_ERASEBKGND:
      case WM_PRINTCLIENT: {
        RECT r;
        GetClientRect(FHwnd, &r);
        const HDC dc = reinterpret_cast<HDC>(m.WParam);
        Fill(dc, r, ColorsOf(FForm, clBtnFace).Back);
        if (m.Msg == WM_PRINTCLIENT) PaintGraphicControls(dc, FForm);
        m.Result = m.Msg == WM_ERASEBKGND ? 1 : 0;
        return;
      }
      case WM_PAINT: {
        // The background is the erase's; what is drawn on it is the labels, bevels and
        // shapes that lie on the form.
        PAINTSTRUCT ps;
        const HDC dc = BeginPaint(FHwnd, &ps);
        PaintGraphicControls(dc, FForm);
        EndPaint(FHwnd, &ps);
        return;
      }
      case WM_SYSCOLORCHANGE:
        // The scheme changed (High Contrast switched on or off changes it too): every
        // window draws again in the colours it has now.
        AskHighContrast();
        RedrawAll();
        break;
      case WM_SETTINGCHANGE:
        if (m.WParam == SPI_SETHIGHCONTRAST && AskHighContrast()) RedrawAll();
        break;
      case WM_ACTIVATE:
        // Activation gives the focus back to the control that had it, not to the form.
        if (LOWORD(m.WParam) != WA_INACTIVE && HIWORD(m.WParam) == 0) {
          FForm.FocusActiveControl();
          return;
        }
        break;
      case WM_NEXTDLGCTL:
        // The dialog manager's Tab: the next tab stop in the form's own tab order.
        if (LOWORD(m.LParam) == 0) {
          FForm.SelectNext(m.WParam == 0);
          return;
        }
        break;
      case WM_COMMAND:
        // Esc: the dialog manager's cancel command takes the close box's path.
        if (LOWORD(m.WParam) == IDCANCEL && m.LParam == 0) {
          SendMessageW(FHwnd, WM_CLOSE, 0, 0);
          return;
        }
        // Enter without a button of its own: the focused button, if it is one.
        if (LOWORD(m.WParam) == IDOK) {
          HWND focus = GetFocus();
          if (TWindowPeer* peer = FromHandle(focus); peer != nullptr && IsChild(FHwnd, focus)) {
            LRESULT ignored = 0;
            peer->Reflected(WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(focus), BN_CLICKED),
                            reinterpret_cast<LPARAM>(focus), ignored);
          }
          return;
        }
        break;
      default:
        break;
    }
    m.Result = DefWindowProcW(FHwnd, m.Msg, m.WParam, m.LParam);
  }

 protected:
  std::wstring WindowClass() const override { return ToWide(FForm.ClassName()); }
  DWORD Style() const override { return FormStyle(FForm); }
  DWORD ExStyle() const override { return kFormExStyle; }
  RECT Bounds(HWND) const override {
    RECT r = {0, 0, Scale(FForm.ClientWidth()), Scale(FForm.ClientHeight())};
    AdjustWindowRectEx(&r, Style(), FALSE, ExStyle());
    const int w = r.right - r.left, h = r.bottom - r.top;
    int x = Scale(FForm.Left()), y = Scale(FForm.Top());
    if (FForm.Position() == TPosition::poDesktopCenter ||
        FForm.Position() == TPosition::poScreenCenter) {
      x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
      y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    }
    return RECT{x, y, x + w, y + h};
  }

  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override {
    // The form may free itself inside (a release request): only the local record is used
    // after Dispatch.
    TMessage m{msg, wp, lp, 0};
    FForm.Dispatch(m);
    return m.Result;
  }

 private:
  void RedrawAll() {
    RedrawWindow(FHwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
  }

  TCustomForm& FForm;
};

}  // namespace

TWindowPeer* NewFormPeer(TCustomForm& form) { return new TFormPeer(form); }

void FormDefaultHandler(TCustomForm& form, TMessage& message) {
  auto* peer = static_cast<TFormPeer*>(static_cast<TWindowPeer*>(form.BackendData));
  if (peer == nullptr) return;
  peer->Default(message);
}
