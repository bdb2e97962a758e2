// Panels: a coloured area with an optional raised or lowered edge and a centred caption.
#include "toolkit/win32/Peer_win.h"

namespace {

class TPanelPeer : public TWindowPeer {
 public:
  explicit TPanelPeer(TPanel& panel) : TWindowPeer(panel), FPanel(panel) {}

 protected:
  DWORD Style() const override { return TWindowPeer::Style() | WS_CLIPCHILDREN; }
  // Tab moves into the controls on the panel.
  DWORD ExStyle() const override { return WS_EX_CONTROLPARENT; }

  void Paint(HDC dc, const RECT& area) override {
    RECT r = area;
    const TTextColors colors = ColorsOf(FPanel, clBtnFace);
    Fill(dc, r, colors.Back);
    if (FPanel.BevelOuter() == TBevelCut::bvRaised) DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
    if (FPanel.BevelOuter() == TBevelCut::bvLowered) DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
    DrawCaptionText(dc, FPanel.Caption(), Font(), Rgb(colors.Text), r,
                    DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  }

 private:
  TPanel& FPanel;
};

}  // namespace

TWindowPeer* NewPanelPeer(TPanel& panel) { return new TPanelPeer(panel); }
