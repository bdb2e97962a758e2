// Labels: text on the parent's colour (or their own), sized to fit their text.
#include <algorithm>

#include "toolkit/win32/Peer_win.h"
#include "toolkit/win32/Win32Util.h"

namespace {

class TLabelPeer : public TWindowPeer {
 public:
  explicit TLabelPeer(TLabel& label) : TWindowPeer(label), FLabel(label) {}

  void Update() override {
    TWindowPeer::Update();
    AutoSize();
  }

 protected:
  void Created() override { AutoSize(); }
  bool MouseTransparent() const override { return true; }

  void Paint(HDC dc, const RECT& r) override {
    Fill(dc, r, FLabel.Transparent() ? ParentColor() : FLabel.EffectiveColor());
    const COLORREF color =
        FLabel.Enabled() ? Rgb(FLabel.EffectiveFont().Color()) : GetSysColor(COLOR_GRAYTEXT);
    DrawCaptionText(dc, FLabel.Caption(), Font(), color, r, DT_LEFT | DT_TOP | DT_SINGLELINE);
  }

 private:
  // The designed layouts assume labels size themselves to their text: a caption set at
  // run time that is wider than the stored width still shows whole.
  void AutoSize() {
    const std::wstring text = ToWide(FLabel.Caption());
    SIZE extent{};
    {
      TWindowDc dc(FHwnd);
      TSelectObject select(dc.Get(), Font());
      GetTextExtentPoint32W(dc.Get(), text.c_str(), static_cast<int>(text.size()), &extent);
    }
    if (extent.cx > Scale(FLabel.Width())) {
      SetWindowPos(FHwnd, nullptr, 0, 0, extent.cx,
                   std::max<int>(Scale(FLabel.Height()), extent.cy),
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }

  TLabel& FLabel;
};

}  // namespace

TWindowPeer* NewLabelPeer(TLabel& label) { return new TLabelPeer(label); }
