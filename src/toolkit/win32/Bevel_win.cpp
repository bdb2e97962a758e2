// Bevels: an etched line or frame, drawn by the window they lie on.
#include "toolkit/win32/Peer_win.h"

namespace {

class TBevelPeer : public TGraphicPeer {
 public:
  explicit TBevelPeer(TBevel& bevel) : TGraphicPeer(bevel), FBevel(bevel) {}

  void Paint(HDC dc, const RECT& area) override {
    RECT r = area;
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW), light = GetSysColor(COLOR_BTNHIGHLIGHT);
    switch (FBevel.Shape()) {
      case TBevelShape::bsBottomLine:
        Line(dc, 0, r.bottom - 2, r.right, r.bottom - 2, shadow);
        Line(dc, 0, r.bottom - 1, r.right, r.bottom - 1, light);
        break;
      case TBevelShape::bsTopLine:
        Line(dc, 0, 0, r.right, 0, shadow);
        Line(dc, 0, 1, r.right, 1, light);
        break;
      default:
        DrawEdge(dc, &r, EDGE_ETCHED, BF_RECT);
    }
  }

 private:
  TBevel& FBevel;
};

}  // namespace

TGraphicPeer* NewBevelPeer(TBevel& bevel) { return new TBevelPeer(bevel); }
