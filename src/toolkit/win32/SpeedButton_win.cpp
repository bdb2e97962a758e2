// Speed buttons: flat push buttons of our own class. A click (mouse, Space, Enter through
// the dialog manager, another program's BM_CLICK) runs the toolkit's user click, which a
// disabled dialog or a handler still running refuses.
#include "toolkit/win32/Peer_win.h"

namespace {

class TSpeedButtonPeer : public TWindowPeer {
 public:
  explicit TSpeedButtonPeer(TModalSpeedButton& button) : TWindowPeer(button), FButton(button) {}

  bool Reflected(UINT msg, WPARAM wp, LPARAM, LRESULT& result) override {
    if (msg == WM_COMMAND && HIWORD(wp) == BN_CLICKED) {
      Click();
      result = 0;
      return true;
    }
    return false;
  }

 protected:
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override {
    switch (msg) {
      case WM_GETDLGCODE:
        // A push button to the dialog manager: Enter presses it while it has the focus.
        return DLGC_BUTTON | (GetFocus() == FHwnd ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
      case WM_SETFOCUS:
        InvalidateRect(FHwnd, nullptr, FALSE);
        Guarded([&] { FButton.DoEnter(); });
        return 0;
      case WM_KILLFOCUS:
        SetPressed(false);
        InvalidateRect(FHwnd, nullptr, FALSE);
        return 0;
      case WM_LBUTTONDOWN:
      case WM_LBUTTONDBLCLK:
        if (FButton.TabStop()) SetFocus(FHwnd);
        SetPressed(true);
        SetCapture(FHwnd);
        return 0;
      case WM_LBUTTONUP:
        if (FPressed) {
          SetPressed(false);
          ReleaseCapture();
          RECT r;
          GetClientRect(FHwnd, &r);
          const POINT p = {static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
          if (PtInRect(&r, p)) Click();
        }
        return 0;
      case WM_KEYDOWN:
        // Space presses the button; it clicks when the key comes up, as a button does.
        if (wp == VK_SPACE && (lp & 0x40000000) == 0) SetPressed(true);
        return 0;
      case WM_KEYUP:
        if (wp == VK_SPACE && FPressed) {
          SetPressed(false);
          Click();
        }
        return 0;
      case BM_CLICK:
        Click();
        return 0;
      default:
        return TWindowPeer::WndProc(msg, wp, lp);
    }
  }

  void Paint(HDC dc, const RECT& area) override {
    RECT r = area;
    const TTextColors colors = ColorsOf(FButton, clBtnFace);
    Fill(dc, r, colors.Back);
    DrawEdge(dc, &r, FPressed ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT);
    RECT text = r;
    if (FPressed) OffsetRect(&text, 1, 1);
    DrawCaptionText(dc, FButton.Caption(), Font(), Rgb(colors.Text), text,
                    DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    if (GetFocus() == FHwnd) {
      RECT focus = r;
      InflateRect(&focus, -3, -3);
      DrawFocusRect(dc, &focus);
    }
  }

 private:
  void SetPressed(bool pressed) {
    if (pressed == FPressed) return;
    FPressed = pressed;
    InvalidateRect(FHwnd, nullptr, FALSE);
  }

  // A dialog that another window has disabled (a message box over it) takes no click.
  void Click() {
    if (!IsWindowEnabled(FHwnd) || !IsWindowEnabled(GetAncestor(FHwnd, GA_ROOT))) return;
    PerformUserClick(FButton);
  }

  TModalSpeedButton& FButton;
  bool FPressed = false;
};

}  // namespace

TWindowPeer* NewSpeedButtonPeer(TModalSpeedButton& button) { return new TSpeedButtonPeer(button); }
