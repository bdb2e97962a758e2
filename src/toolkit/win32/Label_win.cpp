// Labels: text on the parent's colour (or their own), drawn by the window they lie on. A
// label is as wide as its text when that is wider than its stored width.
#include <algorithm>

#include "toolkit/win32/Peer_win.h"
#include "toolkit/win32/Win32Util.h"

namespace {

class TLabelPeer : public TGraphicPeer {
 public:
  explicit TLabelPeer(TLabel& label) : TGraphicPeer(label), FLabel(label) { TextChanged(); }

  RECT Place() const override {
    RECT r = TGraphicPeer::Place();
    // The designed layouts assume labels size themselves to their text: a caption set at
    // run time that is wider than the stored width still shows whole.
    if (FExtent.cx > r.right - r.left) {
      r.right = r.left + FExtent.cx;
      r.bottom = r.top + std::max<LONG>(r.bottom - r.top, FExtent.cy);
    }
    return r;
  }

  void Paint(HDC dc, const RECT& r) override {
    const TTextColors colors = ColorsOf(FLabel, clBtnFace);
    if (!FLabel.Transparent()) Fill(dc, r, colors.Back);
    DrawCaptionText(dc, FLabel.Caption(), Font(), Rgb(colors.Text), r,
                    DT_LEFT | DT_TOP | DT_SINGLELINE);
  }

 protected:
  void TextChanged() override {
    const std::wstring text = ToWide(FLabel.Caption());
    FExtent = SIZE{};
    if (text.empty()) return;
    TWindowDc dc(nullptr);
    TSelectObject select(dc.Get(), Font());
    GetTextExtentPoint32W(dc.Get(), text.c_str(), static_cast<int>(text.size()), &FExtent);
  }

 private:
  TLabel& FLabel;
  SIZE FExtent{};  // the caption's size in the label's font
};

}  // namespace

TGraphicPeer* NewLabelPeer(TLabel& label) { return new TLabelPeer(label); }
