// The reader settings dialog in the colour schemes operators pick, side by side with a plain
// system dialog (#32770) of the same controls in the same scheme: in High Contrast Black and
// White it draws with the system's colours only, every text at 7:1 or more against what
// lies behind it, no colour of the host skin left; in a dark scheme without High Contrast it
// keeps the skin and no text takes the colour of its background; High Contrast switched on
// or off while it is open is followed at once. Each case leaves its window images in the
// build's screens/colours folder.
//
// The scheme is set for the whole session (SetSysColors) and put back at the end of each
// case; this program runs in a Wine prefix of its own, so no other test sees it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "ColourScheme_win.h"
#include "Contrast_win.h"
#include "ReaderDialogWorld.h"
#include "host/HostApi.h"
#include "platform/Window.h"

namespace {

namespace fs = std::filesystem;

const fs::path kScreens = fs::current_path().parent_path() / "screens" / "colours";

const std::vector<std::string> kReaders = {"ACS ACR38U-CCID 00 00",
                                           "Generic Smart Card Reader 01 00"};
const std::string kCurrentReader = kReaders[1];  // selected when the dialog opens

HWND Hwnd(const TControl& c) { return reinterpret_cast<HWND>(c.Handle()); }

std::string Hex(COLORREF c) {
  char text[16];
  std::snprintf(text, sizeof text, "#%02X%02X%02X", GetRValue(c), GetGValue(c), GetBValue(c));
  return text;
}

// A text of a dialog: where it is drawn (in the dialog's client area) and what should lie
// behind it (kAnyBack: not checked).
constexpr COLORREF kAnyBack = 0xFFFFFFFFu;
struct TText {
  std::string Name;
  RECT Place;
  COLORREF Back = kAnyBack;
};

RECT Inset(RECT r, int by) {
  InflateRect(&r, -by, -by);
  return r;
}

// The list's lines, inside the focus rectangle that may frame one of them.
void AddListLines(std::vector<TText>& texts, HWND dialog, HWND list) {
  const int count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
  const int selected = static_cast<int>(SendMessageW(list, LB_GETCURSEL, 0, 0));
  for (int i = 0; i < count; ++i) {
    RECT item{};
    SendMessageW(list, LB_GETITEMRECT, i, reinterpret_cast<LPARAM>(&item));
    texts.push_back({"list line " + std::to_string(i) + (i == selected ? " (selected)" : ""),
                     MapToWindow(list, dialog, Inset(item, 1)),
                     GetSysColor(i == selected ? COLOR_HIGHLIGHT : COLOR_WINDOW)});
  }
}

// A button's caption, inside its edges and focus rectangle.
TText ButtonText(const char* name, HWND dialog, HWND button, COLORREF back) {
  RECT r;
  GetClientRect(button, &r);
  return {name, MapToWindow(button, dialog, Inset(r, 4)), back};
}

// A rectangle of the layouts (96 dpi) in screen pixels.
RECT LayoutRect(int left, int top, int width, int height) {
  const HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return RECT{MulDiv(left, dpi, 96), MulDiv(top, dpi, 96), MulDiv(left + width, dpi, 96),
              MulDiv(top + height, dpi, 96)};
}

// The texts of the reader settings dialog. highContrast: every background is the system's
// colour of its element; otherwise the header keeps the skin's top bar colour.
std::vector<TText> DialogTexts(Tfrm_option& dlg, bool highContrast) {
  const HWND dialog = Hwnd(dlg);
  auto layout = LayoutRect;
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  std::vector<TText> texts;
  // "请选择读卡器", six characters of 16 pixels, on the header.
  texts.push_back({"header prompt",
                   MapToWindow(Hwnd(*dlg.pnlTop), dialog, layout(15, 10, 6 * 16, 16)),
                   highContrast ? face : gclTopBarColor()});
  AddListLines(texts, dialog, Hwnd(*dlg.ListBox));
  texts.push_back(ButtonText("选择", dialog, Hwnd(*dlg.btn_reader), face));
  texts.push_back(ButtonText("测试连接", dialog, Hwnd(*dlg.btn_connect), face));
  texts.push_back(ButtonText("关闭", dialog, Hwnd(*dlg.sBtnClose), face));
  // The product mark is an ornament in the skin's colours; in High Contrast it is text in
  // the system's like every other.
  if (highContrast) texts.push_back({"product mark", layout(11, 232, 59, 13), face});
  return texts;
}

// A plain #32770 dialog of the same controls (a prompt, a group box with the list and two
// buttons, "关闭"), in 宋体 9 points, drawn by the system alone.
class TPlainDialog {
 public:
  enum : WORD { kPrompt = 100, kList = 101, kSelect = 102, kConnect = 103 };

  TPlainDialog() {
    Header(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT, 258, 172, L"读卡器设置",
           9, L"宋体");
    Item(0x0082, SS_LEFT | WS_VISIBLE, 0, 0, 258, 23, kPrompt, L"请选择读卡器");
    Item(0x0080, BS_GROUPBOX | WS_VISIBLE, 8, 28, 241, 105, 0xFFFF, L"");
    Item(0x0083,
         LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER | WS_TABSTOP | WS_VISIBLE, 9,
         36, 239, 76, kList, L"");
    Item(0x0080, BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 129, 116, 45, 14, kSelect, L"选择");
    Item(0x0080, BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 182, 116, 45, 14, kConnect, L"测试连接");
    Item(0x0080, BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 188, 154, 45, 14, IDCANCEL, L"关闭");
    FWindow = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                         reinterpret_cast<const DLGTEMPLATE*>(FWords.data()),
                                         nullptr, &Proc, 0);
    if (FWindow == nullptr) return;
    const HWND list = GetDlgItem(FWindow, kList);
    for (const std::string& reader : kReaders) {
      const std::wstring line(reader.begin(), reader.end());
      SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    }
    SendMessageW(list, LB_SETCURSEL, 1, 0);
    ShowWindow(FWindow, SW_SHOWNORMAL);
    SetForegroundWindow(FWindow);
    SetFocus(list);
    UpdateWindow(FWindow);
  }
  ~TPlainDialog() {
    if (FWindow != nullptr) DestroyWindow(FWindow);
  }
  TPlainDialog(const TPlainDialog&) = delete;
  TPlainDialog& operator=(const TPlainDialog&) = delete;

  HWND Window() const { return FWindow; }

  std::vector<TText> Texts() const {
    std::vector<TText> texts;
    RECT prompt;
    GetClientRect(GetDlgItem(FWindow, kPrompt), &prompt);
    texts.push_back({"prompt", MapToWindow(GetDlgItem(FWindow, kPrompt), FWindow, prompt)});
    AddListLines(texts, FWindow, GetDlgItem(FWindow, kList));
    texts.push_back(ButtonText("选择", FWindow, GetDlgItem(FWindow, kSelect), kAnyBack));
    texts.push_back(ButtonText("测试连接", FWindow, GetDlgItem(FWindow, kConnect), kAnyBack));
    texts.push_back(ButtonText("关闭", FWindow, GetDlgItem(FWindow, IDCANCEL), kAnyBack));
    return texts;
  }

 private:
  static INT_PTR CALLBACK Proc(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }

  void Align() {
    if (FWords.size() % 2 != 0) FWords.push_back(0);
  }
  void Put(DWORD v) {
    FWords.push_back(LOWORD(v));
    FWords.push_back(HIWORD(v));
  }
  void Put(const wchar_t* text) {
    for (; *text != 0; ++text) FWords.push_back(static_cast<WORD>(*text));
    FWords.push_back(0);
  }
  void Header(DWORD style, short cx, short cy, const wchar_t* title, WORD points,
              const wchar_t* face) {
    Put(style);
    Put(DWORD{0});        // extended style
    FWords.push_back(0);  // item count, set by Item
    for (short v : {short{0}, short{0}, cx, cy}) FWords.push_back(static_cast<WORD>(v));
    FWords.push_back(0);  // no menu
    FWords.push_back(0);  // the dialog class
    Put(title);
    FWords.push_back(points);
    Put(face);
  }
  void Item(WORD cls, DWORD style, short x, short y, short cx, short cy, WORD id,
            const wchar_t* text) {
    Align();
    Put(style | WS_CHILD);
    Put(DWORD{0});
    for (short v : {x, y, cx, cy}) FWords.push_back(static_cast<WORD>(v));
    FWords.push_back(id);
    FWords.push_back(0xFFFF);
    FWords.push_back(cls);
    Put(text);
    FWords.push_back(0);  // no creation data
    ++FWords[4];
  }

  std::vector<WORD> FWords;  // the template, DWORD-aligned items
  HWND FWindow = nullptr;
};

void SaveImage(HWND window, const std::string& name) {
  std::error_code ignored;
  fs::create_directories(kScreens, ignored);
  SaveWindowImage(reinterpret_cast<TWindowHandle>(window), (kScreens / (name + ".bmp")).string());
}

// Every text has ink at minimum or more against what lies behind it, which is the colour
// given where one is.
void ExpectReadable(const std::vector<TText>& texts, const TScreenImage& image, double minimum) {
  for (const TText& text : texts) {
    SCOPED_TRACE(text.Name);
    const TTextInk ink = TextInk(image, text.Place, minimum);
    // A character of these fonts has far more than this many pixels in its strokes.
    EXPECT_GE(ink.Pixels, 12) << "best ink " << Hex(ink.Ink) << " on " << Hex(ink.Back) << ": "
                              << ink.Contrast << ":1";
    if (text.Back != kAnyBack) {
      EXPECT_EQ(Hex(ink.Back), Hex(text.Back)) << "what lies behind the text";
    }
  }
}

// The colours of the host skin and of the layouts that no system colour of the scheme has.
std::vector<COLORREF> SkinColours(Tfrm_option& dlg, const TColourScheme& scheme) {
  std::vector<COLORREF> skin = {gclModuleBackColor(),   gclTopBarColor(),
                                gclSysFontColor(),      dlg.VELTA->EffectiveFont().Color(),
                                dlg.Shape1->PenColor(), dlg.ListBox->SelectedBorderColor()};
  std::vector<COLORREF> left;
  for (COLORREF c : skin) {
    bool system = (c & 0xFF000000u) != 0;
    for (const TSchemeColour& s : scheme.Colours) system = system || s.Value == c;
    if (!system) left.push_back(c);
  }
  return left;
}

std::string Slug(const char* name) {
  std::string slug;
  for (const char* p = name; *p != 0; ++p)
    slug += *p == ' ' || *p == ',' ? '-' : static_cast<char>(tolower(*p));
  return slug;
}

void OpenWorld(TReaderDialogWorld& world) {
  std::vector<std::string> config;
  for (const std::string& reader : kReaders) config.push_back("reader=" + reader);
  world.InstallReader("lurmScard_old.dll", config);
  world.AddParam("Global_nuvreader", kCurrentReader);
  world.Open();
}

TEST(ReaderDialogColours, EveryTextIsReadableInTheSchemeAsInAPlainDialog) {
  struct Case {
    const char* name;
    const TColourScheme* scheme;
    bool highContrast;
    double minimum;  // contrast of every text against what lies behind it
  };
  const Case cases[] = {
      {"High Contrast Black", &kHighContrastBlack, true, 7.0},
      {"High Contrast White", &kHighContrastWhite, true, 7.0},
      // The skin stays; the texts on the system's backgrounds follow the scheme.
      {"dark scheme", &kDarkScheme, false, 4.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TColourSchemeScope scope;
    scope.Apply(*c.scheme);
    THighContrastAnswer answer(c.highContrast);
    if (c.highContrast && !answer.Installed()) {
      ADD_FAILURE() << "nothing in the program asks SystemParametersInfoW";
      continue;
    }

    {
      SCOPED_TRACE("plain dialog");
      TPlainDialog plain;
      ASSERT_NE(plain.Window(), nullptr);
      const TScreenImage image = CaptureClient(plain.Window());
      SaveImage(plain.Window(), Slug(c.name) + "-plain");
      ExpectReadable(plain.Texts(), image, c.minimum);
    }

    TReaderDialogWorld world;
    OpenWorld(world);
    world.Run([&](Tfrm_option& dlg) {
      const HWND dialog = Hwnd(dlg);
      const TScreenImage image = CaptureClient(dialog);
      SaveImage(dialog, Slug(c.name) + "-module");
      ExpectReadable(DialogTexts(dlg, c.highContrast), image, c.minimum);
      if (c.highContrast) {
        for (COLORREF skin : SkinColours(dlg, *c.scheme))
          EXPECT_EQ(image.Count(skin), 0) << "pixels of the skin's " << Hex(skin);
      } else {
        // Where nothing is drawn: beside the footer line, and the header's right end.
        const RECT form = LayoutRect(5, 225, 1, 1);
        const RECT header = MapToWindow(Hwnd(*dlg.pnlTop), dialog, LayoutRect(380, 2, 1, 1));
        EXPECT_EQ(Hex(image.At(form.left, form.top)), Hex(gclModuleBackColor()))
            << "the skin's background";
        EXPECT_EQ(Hex(image.At(header.left, header.top)), Hex(gclTopBarColor()))
            << "the skin's top bar";
      }
    });
    EXPECT_GE(answer.Questions(), 1) << "asked at the open";
  }
}

TEST(ReaderDialogColours, HighContrastSwitchedWhileOpenIsFollowedAtOnce) {
  // Windows tells every top-level window of a change of colours (WM_SYSCOLORCHANGE) and of
  // the High Contrast setting (WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST), in either order.
  struct Case {
    const char* name;
    bool settingLast;  // the setting's message comes after the colours have changed
  };
  const Case cases[] = {{"told by WM_SYSCOLORCHANGE", false}, {"told by WM_SETTINGCHANGE", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TColourSchemeScope scope;
    THighContrastAnswer answer(false);
    ASSERT_TRUE(answer.Installed());
    TReaderDialogWorld world;
    OpenWorld(world);
    int skinAtOpen = 0, skinWhileOn = -1, skinAfterOff = 0;
    world.Run([&](Tfrm_option& dlg) {
      const HWND dialog = Hwnd(dlg);
      const COLORREF back = gclModuleBackColor();
      skinAtOpen = CaptureClient(dialog).Count(back);

      if (!c.settingLast) answer.Set(true);
      scope.Apply(kHighContrastBlack);
      if (c.settingLast) {
        answer.Set(true);
        SendMessageW(dialog, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
      }
      const TScreenImage on = CaptureClient(dialog);
      SaveImage(dialog, Slug(c.name) + "-on");
      skinWhileOn = on.Count(back);
      ExpectReadable(DialogTexts(dlg, true), on, 7.0);

      // Off again: the colours as they were, then the setting.
      scope.Restore();
      answer.Set(false);
      SendMessageW(dialog, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
      skinAfterOff = CaptureClient(dialog).Count(back);
    });
    EXPECT_GT(skinAtOpen, 0) << "the skin's background at the open";
    EXPECT_EQ(skinWhileOn, 0) << "the skin's background while High Contrast is on";
    EXPECT_EQ(skinAfterOff, skinAtOpen) << "the skin's background back once it is off";
  }
}

TEST(ReaderDialogColours, ASchemeLeftByARunThatDiedIsPutBackFirst) {
  const COLORREF window = GetSysColor(COLOR_WINDOW), face = GetSysColor(COLOR_BTNFACE);
  // A run that died inside its scope: its scheme stays in place, its scope never ends.
  auto* died = new TColourSchemeScope;
  died->Apply(kHighContrastBlack);
  {
    TColourSchemeScope next;
    next.Apply(kDarkScheme);
  }
  EXPECT_EQ(Hex(GetSysColor(COLOR_WINDOW)), Hex(window));
  EXPECT_EQ(Hex(GetSysColor(COLOR_BTNFACE)), Hex(face));
}

}  // namespace
