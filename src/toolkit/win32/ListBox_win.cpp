// List boxes: the system's LISTBOX, owner-drawn in the list's colours, with a frame in
// the unfocused or selected border colour. The system list handles the arrow keys, Home,
// End, Page Up and Page Down; a selection the user makes reaches the toolkit as a click.
#include "toolkit/win32/Accessible_win.h"
#include "toolkit/win32/Peer_win.h"
#include "toolkit/win32/Win32Util.h"

namespace {

class TListBoxPeer : public TWindowPeer {
 public:
  explicit TListBoxPeer(TXPTolvikListBox& list) : TWindowPeer(list), FList(list) {}

  void Update() override {
    TWindowPeer::Update();
    SendMessageW(FHwnd, LB_SETITEMHEIGHT, 0, Scale(FList.ItemHeight()));
    RedrawFrame();
  }

  bool Reflected(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override {
    switch (msg) {
      case WM_COMMAND:
        if (HIWORD(wp) == LBN_SELCHANGE) {
          FList.SetStoredItemIndex(static_cast<int>(SendMessageW(FHwnd, LB_GETCURSEL, 0, 0)));
          PerformUserClick(FList);
        }
        result = 0;
        return true;
      case WM_DRAWITEM:
        DrawItem(*reinterpret_cast<DRAWITEMSTRUCT*>(lp));
        result = TRUE;
        return true;
      case WM_CTLCOLORLISTBOX: {
        const TTextColors colors = ColorsOf(FList, clWindow);
        FBrush.Reset(CreateSolidBrush(Rgb(colors.Back)));
        HDC dc = reinterpret_cast<HDC>(wp);
        SetTextColor(dc, Rgb(colors.Text));
        SetBkColor(dc, Rgb(colors.Back));
        result = reinterpret_cast<LRESULT>(FBrush.Get());
        return true;
      }
      default:
        return false;
    }
  }

 protected:
  std::wstring WindowClass() const override { return L"LISTBOX"; }
  bool SystemClass() const override { return true; }
  DWORD Style() const override {
    return TWindowPeer::Style() | WS_BORDER | WS_VSCROLL | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS |
           LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
  }
  std::wstring InitialText() const override { return std::wstring(); }
  void Created() override {
    SendMessageW(FHwnd, LB_SETITEMHEIGHT, 0, Scale(FList.ItemHeight()));
    // A new list window is empty, with nothing selected.
    if (FList.Count() > 0) FillListWindow(FList);
  }

  // Whatever moved the selection (a key, the mouse, the toolkit), a screen reader is told
  // where it went, as the system's list tells it.
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override {
    const LRESULT result = Handle(msg, wp, lp);
    if (msg != WM_DESTROY) {
      const int selected = static_cast<int>(DefaultProc(LB_GETCURSEL, 0, 0));
      if (selected != FNotifiedSelection) {
        FNotifiedSelection = selected;
        NotifyListSelection(FHwnd, selected);
      }
    }
    return result;
  }

 private:
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
      case WM_NCPAINT: {
        const LRESULT r = DefaultProc(msg, wp, lp);
        RedrawFrame();
        return r;
      }
      case WM_SETFOCUS: {
        const LRESULT r = DefaultProc(msg, wp, lp);
        NotifyListFocus(FHwnd);
        RedrawFrame();
        Guarded([&] { FList.DoEnter(); });
        return r;
      }
      case WM_KILLFOCUS: {
        const LRESULT r = DefaultProc(msg, wp, lp);
        RedrawFrame();
        return r;
      }
      default:
        return DefaultProc(msg, wp, lp);
    }
  }

  // The frame in the focused or unfocused border colour, drawn over the system's border
  // at once: a change of focus asks for nothing else to be drawn again. In High Contrast
  // the system's own border stays, in its colour for window frames.
  void RedrawFrame() {
    if (HighContrastOn()) return;
    TWindowDc dc(FHwnd, TWindowDc::kWholeWindow);
    RECT wr;
    GetWindowRect(FHwnd, &wr);
    const RECT frame = {0, 0, wr.right - wr.left, wr.bottom - wr.top};
    const bool focused = GetFocus() == FHwnd;
    UniqueBrush border(CreateSolidBrush(
        Rgb(focused ? FList.SelectedBorderColor() : FList.UnfocusedBorderColor())));
    FrameRect(dc.Get(), &frame, border.Get());
  }

  void DrawItem(const DRAWITEMSTRUCT& di) {
    if (di.itemID == static_cast<UINT>(-1)) return;
    const bool selected = (di.itemState & ODS_SELECTED) != 0;
    // The selection as the system draws it, in every scheme.
    const TTextColors colors =
        selected ? TTextColors{clHighlight, clHighlightText} : ColorsOf(FList, clWindow);
    Fill(di.hDC, di.rcItem, colors.Back);
    const auto& lines = FList.Lines();
    if (di.itemID >= lines.size()) return;
    RECT r = di.rcItem;
    r.left += 2;
    // The characters fill the item from its top, as with 宋体, whose cell is just its
    // character height. A face with a taller cell (internal leading above the characters)
    // is moved up by that leading, so that no stroke falls below the item.
    TEXTMETRICW metrics{};
    {
      TSelectObject select(di.hDC, Font());
      GetTextMetricsW(di.hDC, &metrics);
    }
    r.top -= metrics.tmInternalLeading;
    DrawCaptionText(di.hDC, lines[di.itemID], Font(), Rgb(colors.Text), r,
                    DT_LEFT | DT_TOP | DT_SINGLELINE);
    if (di.itemState & ODS_FOCUS) DrawFocusRect(di.hDC, &di.rcItem);
  }

  TXPTolvikListBox& FList;
  UniqueBrush FBrush;           // the background handed out at WM_CTLCOLORLISTBOX
  int FNotifiedSelection = -1;  // the selected line a screen reader was last told of
};

}  // namespace

TWindowPeer* NewListBoxPeer(TXPTolvikListBox& list) { return new TListBoxPeer(list); }

void FillListWindow(TXPTolvikListBox& list) {
  HWND hwnd = reinterpret_cast<HWND>(list.Handle());
  if (hwnd == nullptr) return;
  // A list on the screen is drawn once, after the last line; one that is not (its form
  // is being opened) is drawn when it is shown.
  const bool shown = IsWindowVisible(hwnd) != FALSE;
  if (shown) SendMessageW(hwnd, WM_SETREDRAW, FALSE, 0);
  SendMessageW(hwnd, LB_RESETCONTENT, 0, 0);
  for (const auto& line : list.Lines()) {
    const std::wstring w = ToWide(line);
    SendMessageW(hwnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(w.c_str()));
  }
  SendMessageW(hwnd, LB_SETCURSEL, static_cast<WPARAM>(list.StoredItemIndex()), 0);
  if (shown) {
    SendMessageW(hwnd, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(hwnd, nullptr, TRUE);
  }
}
