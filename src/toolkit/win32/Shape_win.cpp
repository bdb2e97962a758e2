// Shapes: a rectangle filled with the brush colour and outlined with the pen; the gaps
// of a dotted pen show the fill colour. Drawn by the window they lie on. In High Contrast
// they take the system's colours of a dialog: its face, and its text for the pen.
#include "toolkit/win32/Peer_win.h"

namespace {

int PenStyleOf(TPenStyle style) {
  switch (style) {
    case TPenStyle::psDot:
      return PS_DOT;
    case TPenStyle::psDash:
      return PS_DASH;
    default:
      return PS_SOLID;
  }
}

class TShapePeer : public TGraphicPeer {
 public:
  explicit TShapePeer(TShape& shape) : TGraphicPeer(shape), FShape(shape) {}

  void Paint(HDC dc, const RECT& r) override {
    const bool system = HighContrastOn();
    const TColor brush = system ? clBtnFace : FShape.BrushColor();
    Fill(dc, r, brush);
    if (FShape.PenStyle() == TPenStyle::psClear) return;
    const int style = PenStyleOf(FShape.PenStyle());
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, Rgb(brush));
    const COLORREF pen = Rgb(system ? SystemTextColorFor(clBtnFace) : FShape.PenColor());
    Line(dc, 0, 0, r.right, 0, pen, style);
    if (r.bottom > 1) {
      Line(dc, 0, r.bottom - 1, r.right, r.bottom - 1, pen, style);
      Line(dc, 0, 0, 0, r.bottom, pen, style);
      Line(dc, r.right - 1, 0, r.right - 1, r.bottom, pen, style);
    }
  }

 private:
  TShape& FShape;
};

}  // namespace

TGraphicPeer* NewShapePeer(TShape& shape) { return new TShapePeer(shape); }
