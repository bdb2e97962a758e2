// Group boxes: a frame (etched, or flat without 3-D look) around their controls, with an
// optional caption. Tab moves into the controls inside.
#include "toolkit/win32/Peer_win.h"

namespace {

class TGroupBoxPeer : public TWindowPeer {
 public:
  explicit TGroupBoxPeer(TXPTolvikGroupBox& group) : TWindowPeer(group), FGroup(group) {}

 protected:
  DWORD Style() const override { return TWindowPeer::Style() | WS_CLIPCHILDREN; }
  DWORD ExStyle() const override { return WS_EX_CONTROLPARENT; }

  void Paint(HDC dc, const RECT& area) override {
    RECT r = area;
    const TTextColors colors = ColorsOf(FGroup, clBtnFace);
    Fill(dc, r, colors.Back);
    if (FGroup.Ctl3D()) {
      DrawEdge(dc, &r, EDGE_ETCHED, BF_RECT);
    } else {
      UniqueBrush frame(CreateSolidBrush(GetSysColor(COLOR_BTNSHADOW)));
      FrameRect(dc, &r, frame.Get());
    }
    if (!FGroup.Caption().empty()) {
      const RECT t = {Scale(8), 0, r.right, Scale(14)};
      DrawCaptionText(dc, FGroup.Caption(), Font(), Rgb(colors.Text), t,
                      DT_LEFT | DT_TOP | DT_SINGLELINE);
    }
  }

 private:
  TXPTolvikGroupBox& FGroup;
};

}  // namespace

TWindowPeer* NewGroupBoxPeer(TXPTolvikGroupBox& group) { return new TGroupBoxPeer(group); }
