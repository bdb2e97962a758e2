// Edits: the system's EDIT in the edit's colours. Focus entry runs the toolkit's
// focus-entry event (the input-method switching hangs on it).
#include "toolkit/win32/Peer_win.h"
#include "toolkit/win32/Win32Util.h"

namespace {

class TEditPeer : public TWindowPeer {
 public:
  explicit TEditPeer(TXPTolvikEdit& edit) : TWindowPeer(edit), FEdit(edit) {}

  void Update() override {
    ApplyPlace();
    // The text is the user's: a property change does not put the stored one back.
    ApplyFont();
    RedrawWindow(FHwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
  }

  bool Reflected(UINT msg, WPARAM wp, LPARAM, LRESULT& result) override {
    if (msg != WM_CTLCOLOREDIT) return false;
    const TTextColors colors = ColorsOf(FEdit, clWindow);
    FBrush.Reset(CreateSolidBrush(Rgb(colors.Back)));
    HDC dc = reinterpret_cast<HDC>(wp);
    SetTextColor(dc, Rgb(colors.Text));
    SetBkColor(dc, Rgb(colors.Back));
    result = reinterpret_cast<LRESULT>(FBrush.Get());
    return true;
  }

 protected:
  std::wstring WindowClass() const override { return L"EDIT"; }
  bool SystemClass() const override { return true; }
  DWORD Style() const override { return TWindowPeer::Style() | WS_BORDER | ES_AUTOHSCROLL; }
  std::wstring InitialText() const override { return ToWide(FEdit.Text()); }

  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override {
    if (msg == WM_SETFOCUS) {
      const LRESULT r = DefaultProc(msg, wp, lp);
      Guarded([&] { FEdit.DoEnter(); });
      return r;
    }
    return DefaultProc(msg, wp, lp);
  }

 private:
  TXPTolvikEdit& FEdit;
  UniqueBrush FBrush;  // the background handed out at WM_CTLCOLOREDIT
};

}  // namespace

TWindowPeer* NewEditPeer(TXPTolvikEdit& edit) { return new TEditPeer(edit); }
