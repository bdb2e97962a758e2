// The reader settings dialog as a Windows dialog, on real windows: where the activation
// goes when it closes, message boxes modal to it, a skin refresh over a disabled dialog,
// the focus across deactivation, a nested call, the module's window classes at unload, the
// toolkit's error box, the list's font and the ornaments drawn by the windows they lie on,
// a sub-application folder longer than Windows takes, and what a host sees of the dialog
// while a reader library call blocks it.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "HostProfile.h"
#include "ReaderDialogWorld.h"
#include "WaitForBox_win.h"
#include "entry/LibraryEntry.h"
#include "platform/LongPaths.h"
#include "toolkit/UserInput.h"

namespace {

using Lines = std::vector<std::string>;

HWND Hwnd(const TControl& c) { return reinterpret_cast<HWND>(c.Handle()); }

// A visible top-level window of the test: the host's application window, or another
// program's window the operator switches to.
class TTopWindow {
 public:
  explicit TTopWindow(const wchar_t* title) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"RsTestTopWindow";
    RegisterClassW(&wc);
    FHwnd = CreateWindowExW(0, wc.lpszClassName, title, WS_POPUP | WS_VISIBLE, 0, 0, 60, 40,
                            nullptr, nullptr, wc.hInstance, nullptr);
    SetForegroundWindow(FHwnd);
  }
  ~TTopWindow() { DestroyWindow(FHwnd); }
  TTopWindow(const TTopWindow&) = delete;
  TTopWindow& operator=(const TTopWindow&) = delete;
  HWND Get() const { return FHwnd; }
  uintptr_t Handle() const { return reinterpret_cast<uintptr_t>(FHwnd); }

 private:
  HWND FHwnd = nullptr;
};

// The active window at the moment each reader settings dialog's window is destroyed,
// which is when ShowFrmOption is about to return to the host.
class TActiveAtDestruction {
 public:
  TActiveAtDestruction() {
    gSeen = &FSeen;
    FHook = SetWindowsHookExW(WH_CBT, &Hook, nullptr, GetCurrentThreadId());
  }
  ~TActiveAtDestruction() {
    UnhookWindowsHookEx(FHook);
    gSeen = nullptr;
  }
  TActiveAtDestruction(const TActiveAtDestruction&) = delete;
  TActiveAtDestruction& operator=(const TActiveAtDestruction&) = delete;
  // (dialog window, active window) in the order the dialogs were destroyed.
  const std::vector<std::pair<HWND, HWND>>& Seen() const { return FSeen; }

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_DESTROYWND && gSeen != nullptr) {
      HWND w = reinterpret_cast<HWND>(wp);
      wchar_t cls[64] = {};
      GetClassNameW(w, cls, 64);
      if (std::wstring(cls) == L"Tfrm_option") gSeen->emplace_back(w, GetActiveWindow());
    }
    return CallNextHookEx(nullptr, code, wp, lp);
  }
  static inline std::vector<std::pair<HWND, HWND>>* gSeen = nullptr;
  HHOOK FHook = nullptr;
  std::vector<std::pair<HWND, HWND>> FSeen;
};

TEST(ReaderDialogWindows, TheHostIsActiveAgainAfterEveryClosePath) {
  struct Case {
    const char* name;
    void (*close)(Tfrm_option&);
  };
  const Case cases[] = {
      {"close button", [](Tfrm_option& dlg) { UserClick(*dlg.sBtnClose); }},
      {"close box", [](Tfrm_option& dlg) { UserSystemMenuClose(dlg); }},
      {"Esc", [](Tfrm_option& dlg) { UserTypeKey(dlg, kVkEscape); }},
      {"Alt+F4", [](Tfrm_option& dlg) { UserTypeKey(dlg, kVkF4, ssAlt); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TReaderDialogWorld world;
    world.InstallReader("lurmScard_old.dll", {"reader=A"});
    world.Open();
    TTopWindow app(L"host");
    TActiveAtDestruction watch;
    bool closed = false;
    world.Run(
        [&](Tfrm_option& dlg) {
          c.close(dlg);
          closed = dlg.ModalResult() == mrCancel;
        },
        app.Handle());
    EXPECT_TRUE(closed);
    ASSERT_EQ(watch.Seen().size(), 1u);
    // Already while the dialog still exists, the host window has the activation back.
    EXPECT_EQ(watch.Seen()[0].second, app.Get());
    EXPECT_TRUE(IsWindowEnabled(app.Get()));
    EXPECT_EQ(GetActiveWindow(), app.Get());
  }
}

TEST(ReaderDialogWindows, HostMessageBoxIsModalToTheDialogAndRefusesANestedClick) {
  TReaderDialogWorld world;
  world.InstallReader("lurmScard_old.dll", {"reader=R", "connect=0 R"});
  world.Open(true);  // the host shows its messages in message boxes
  TTopWindow app(L"host");
  HWND boxOwner = nullptr, dialogWindow = nullptr;
  bool dialogEnabledUnderBox = true;
  HWND activeAfterBox = nullptr;
  bool focusKept = false;
  world.Run(
      [&](Tfrm_option& dlg) {
        HWND dialog = Hwnd(dlg);
        dialogWindow = dialog;
        HWND connect = Hwnd(*dlg.btn_connect);
        // The operator, while the box is up: a second click on "测试连接", then OK.
        std::thread operatorThread([&] {
          HWND box = WaitForMessageBox();
          if (box == nullptr) return;
          boxOwner = GetWindow(box, GW_OWNER);
          dialogEnabledUnderBox = IsWindowEnabled(dialog) != FALSE;
          DWORD_PTR ignored = 0;
          SendMessageTimeoutW(connect, BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &ignored);
          PostMessageW(box, WM_COMMAND, IDOK, 0);
        });
        UserClick(*dlg.btn_connect);  // returns once the box is dismissed
        operatorThread.join();
        activeAfterBox = GetActiveWindow();
        focusKept = dlg.ListBox->Focused();
      },
      app.Handle());
  EXPECT_EQ(boxOwner, dialogWindow) << "the box belongs to the dialog";
  EXPECT_EQ(activeAfterBox, dialogWindow) << "the dialog is active again after the box";
  EXPECT_FALSE(dialogEnabledUnderBox);
  EXPECT_TRUE(focusKept) << "the list has the focus again after the box";
  EXPECT_EQ(world.Calls(),
            (Lines{"SCListReaders zeroed=1", "SCConnectReader name=R", "SCDisConnectReader"}));
}

// Another program's window in front, on a thread of its own: the operator switched away
// while the dialog listed the readers. Windows then leaves the dialog's thread no active
// window (and refuses it the foreground); the window stays until the object goes.
class TOtherProgramInFront {
 public:
  TOtherProgramInFront() {
    FThread = std::thread([this] {
      TTopWindow other(L"other program");
      FWindow = other.Get();
      FReady = true;
      MSG m;
      while (!FDone) {
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
        Sleep(10);
      }
    });
    while (!FReady) Sleep(10);
  }
  ~TOtherProgramInFront() {
    FDone = true;
    FThread.join();
  }
  TOtherProgramInFront(const TOtherProgramInFront&) = delete;
  TOtherProgramInFront& operator=(const TOtherProgramInFront&) = delete;
  HWND Window() const { return FWindow; }

 private:
  std::thread FThread;
  std::atomic<bool> FReady{false}, FDone{false};
  HWND FWindow = nullptr;
};

// Handles the calling thread's pending messages until it has no active window (the
// deactivation reaches it as a message), 2 s at most; true when it has none.
bool LoseActivation() {
  for (int i = 0; i < 200 && GetActiveWindow() != nullptr; ++i) {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    Sleep(10);
  }
  return GetActiveWindow() == nullptr;
}

// The owner of every message box created on this thread while it lives.
class TBoxOwners {
 public:
  TBoxOwners() {
    gOwners = &FOwners;
    FHook = SetWindowsHookExW(WH_CBT, &Hook, nullptr, GetCurrentThreadId());
  }
  ~TBoxOwners() {
    UnhookWindowsHookEx(FHook);
    gOwners = nullptr;
  }
  TBoxOwners(const TBoxOwners&) = delete;
  TBoxOwners& operator=(const TBoxOwners&) = delete;
  const std::vector<HWND>& Owners() const { return FOwners; }

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && gOwners != nullptr) {
      wchar_t cls[16] = {};
      GetClassNameW(reinterpret_cast<HWND>(wParam), cls, 16);
      if (std::wstring(cls) == L"#32770")
        gOwners->push_back(reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs->hwndParent);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
  static inline std::vector<HWND>* gOwners = nullptr;
  std::vector<HWND> FOwners;
  HHOOK FHook = nullptr;
};

// With another program in front (the dialog's thread has no active window, as Windows
// leaves it), every box the operator gets is owned by the dialog: the host's message box
// and the toolkit's error box, modal to it and kept above it.
TEST(ReaderDialogWindows, EveryBoxIsOwnedByTheDialogAlsoWithAnotherProgramInFront) {
  struct Case {
    const char* name;
    const char* variant;
    Lines config;
    std::wstring wantText;
  };
  const Case cases[] = {
      {"host message, no line selected", "lurmScard.dll", {"reader=R1", "reader=R2"}, L""},
      {"toolkit error box",
       "lurmScard_listonly.dll",
       {"reader=R"},
       L"读卡器库缺少函数 SCConnectReader"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TReaderDialogWorld world;
    world.InstallReader("lurmScard_old.dll", c.config, c.variant);
    world.Open(true);  // the host shows its messages in message boxes
    TTopWindow app(L"host");
    HWND dialogWindow = nullptr;
    bool inBackground = false;
    std::vector<HWND> owners;
    std::wstring boxText;
    world.Run(
        [&](Tfrm_option& dlg) {
          Application->OnException = nullptr;  // the report goes to the real error box
          dialogWindow = Hwnd(dlg);
          const TOtherProgramInFront other;
          inBackground = LoseActivation();
          const TBoxOwners boxes;
          std::thread operatorThread([&] {
            HWND box = WaitForMessageBox();
            if (box == nullptr) return;
            wchar_t text[256] = {};
            GetDlgItemTextW(box, 0xFFFF, text, 256);
            boxText = text;
            PostMessageW(box, WM_COMMAND, IDOK, 0);
          });
          UserClick(*dlg.btn_connect);  // returns once the box is dismissed
          operatorThread.join();
          owners = boxes.Owners();
        },
        app.Handle());
    ASSERT_TRUE(inBackground) << "the dialog's thread kept an active window";
    EXPECT_EQ(owners, std::vector<HWND>{dialogWindow});
    if (!c.wantText.empty()) {
      EXPECT_EQ(boxText, c.wantText);
    }
  }
}

TEST(ReaderDialogWindows, TheToolkitsErrorBoxShowsTheReportInChinese) {
  // The box is headed by the application's title, the caption of the host's application
  // window; a host that passes no window gets the system's caption for errors, never an
  // empty bar.
  struct Case {
    const char* name;
    const wchar_t* appTitle;  // null: no application window
  };
  const Case cases[] = {{"host window", L"医保结算系统"}, {"no host window", nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TReaderDialogWorld world;
    world.InstallReader("lurmScard_old.dll", {"reader=R"}, "lurmScard_listonly.dll");
    world.Open();
    std::unique_ptr<TTopWindow> app;
    if (c.appTitle != nullptr) app = std::make_unique<TTopWindow>(c.appTitle);
    std::wstring boxText, buttonText, caption;
    world.Run(
        [&](Tfrm_option& dlg) {
          Application->OnException = nullptr;  // the report goes to the real error box
          // The operator reads the box and presses its button.
          std::thread operatorThread([&] {
            HWND box = WaitForMessageBox();
            if (box == nullptr) return;
            wchar_t text[256] = {};
            GetDlgItemTextW(box, 0xFFFF, text, 256);  // the message box's text control
            boxText = text;
            GetDlgItemTextW(box, IDOK, text, 256);
            buttonText = text;
            GetWindowTextW(box, text, 256);
            caption = text;
            PostMessageW(box, WM_COMMAND, IDOK, 0);
          });
          UserClick(*dlg.btn_connect);  // returns once the box is dismissed
          operatorThread.join();
        },
        app != nullptr ? reinterpret_cast<uintptr_t>(app->Get()) : 0);
    EXPECT_EQ(boxText, L"读卡器库缺少函数 SCConnectReader");
    EXPECT_EQ(buttonText, L"确定");
    if (c.appTitle != nullptr) {
      EXPECT_EQ(caption, c.appTitle);
    } else {
      EXPECT_FALSE(caption.empty());
    }
  }
}

TEST(ReaderDialogWindows, TheListIsDrawnInTheFontTheLayoutsGiveIt) {
  TReaderDialogWorld world;
  world.InstallReader("lurmScard_old.dll", {"reader=R"});
  world.Open();
  LOGFONTW font = {};
  int dpi = 0;
  world.Run([&](Tfrm_option& dlg) {
    // The list is a system list box, so it says which font it was given.
    const HWND list = Hwnd(*dlg.ListBox);
    const auto given = reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0));
    ASSERT_NE(given, nullptr);
    GetObjectW(given, sizeof font, &font);
    const HDC dc = GetDC(list);
    dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(list, dc);
  });
  // The dialog's font: 宋体, the skin's character set (GB2312) and size (9 points, that is
  // a character height of 12 pixels at 96 dpi).
  EXPECT_EQ(std::wstring(font.lfFaceName), L"宋体");
  EXPECT_EQ(font.lfCharSet, GB2312_CHARSET);
  EXPECT_EQ(font.lfHeight, -MulDiv(12, dpi, 96));
}

TEST(ReaderDialogWindows, EachLineOfTheListIsDrawnWithinItsItem) {
  // Thin strokes at the top and at the foot of the character box: an underscore falls
  // outside a 12-pixel item when a face with a taller cell is centred in it.
  // The first line has the focus rectangle, which is ink of its own: it is not counted.
  const Lines names = {"R", "_", "-", "一"};
  TReaderDialogWorld world;
  Lines config;
  for (const std::string& name : names) config.push_back("reader=" + name);
  world.InstallReader("lurmScard_old.dll", config);
  world.Open();
  std::vector<int> inkPerLine;
  world.Run([&](Tfrm_option& dlg) {
    const HWND list = Hwnd(*dlg.ListBox);
    UpdateWindow(list);
    const HDC dc = GetDC(list);
    for (size_t i = 0; i < names.size(); ++i) {
      RECT item{};
      SendMessageW(list, LB_GETITEMRECT, i, reinterpret_cast<LPARAM>(&item));
      int ink = 0;
      for (int y = item.top; y < item.bottom; ++y)
        for (int x = item.left; x < item.right; ++x) {
          const COLORREF c = GetPixel(dc, x, y);
          if ((GetRValue(c) + GetGValue(c) + GetBValue(c)) / 3 < 200) ++ink;
        }
      inkPerLine.push_back(ink);
    }
    ReleaseDC(list, dc);
  });
  ASSERT_EQ(inkPerLine.size(), names.size());
  for (size_t i = 1; i < names.size(); ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_GT(inkPerLine[i], 0) << "no pixel darker than grey 200 inside the line's item";
  }
}

// Pixels of r (96-dpi layout pixels, in window's client area) other than the colour at
// the empty point given: the ink of what is drawn there.
int InkIn(HWND window, RECT r, POINT empty) {
  const HDC dc = GetDC(window);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  auto scale = [dpi](LONG v) { return MulDiv(v, dpi, 96); };
  const COLORREF background = GetPixel(dc, scale(empty.x), scale(empty.y));
  int ink = 0;
  for (int y = scale(r.top); y < scale(r.bottom); ++y)
    for (int x = scale(r.left); x < scale(r.right); ++x)
      if (GetPixel(dc, x, y) != background) ++ink;
  ReleaseDC(window, dc);
  return ink;
}

TEST(ReaderDialogWindows, LabelsLinesAndMarksAreDrawnByTheWindowsTheyLieOn) {
  // They have no windows of their own: the top panel draws the prompt, the form the
  // product mark and the dotted footer line. What changes at run time is drawn again.
  TReaderDialogWorld world;
  world.InstallReader("lurmScard_old.dll", {"reader=A"});
  world.Open();
  struct {
    int prompt, promptTail, mark, line;
  } shown{}, changed{};
  world.Run([&](Tfrm_option& dlg) {
    const HWND form = Hwnd(dlg), top = Hwnd(*dlg.pnlTop);
    auto measure = [&] {
      UpdateWindow(form);
      const POINT topEmpty = {380, 2}, formEmpty = {5, 225};
      return decltype(shown){
          InkIn(top, RECT{15, 10, 15 + 6 * 16, 26}, topEmpty),
          // Beyond the six characters of "请选择读卡器".
          InkIn(top, RECT{15 + 6 * 16 + 4, 10, 370, 26}, topEmpty),
          InkIn(form, RECT{11, 232, 11 + 59, 232 + 13}, formEmpty),
          InkIn(form, RECT{78, 238, 78 + 293, 239}, formEmpty),
      };
    };
    shown = measure();
    dlg.lbBusinessName->SetCaption("请选择读卡器，再按选择或测试连接");
    dlg.VELTA->SetVisible(false);
    changed = measure();
  });
  EXPECT_GT(shown.prompt, 50) << "the prompt, drawn on the top panel";
  EXPECT_EQ(shown.promptTail, 0);
  EXPECT_GT(shown.mark, 20) << "the product mark, drawn on the form";
  EXPECT_GT(shown.line, 50) << "the dotted line, drawn on the form";
  EXPECT_GT(changed.promptTail, 50) << "a longer prompt shows whole";
  EXPECT_EQ(changed.mark, 0) << "a hidden mark is drawn no more";
  EXPECT_EQ(changed.line, shown.line);
}

TEST(ReaderDialogWindows, SkinRefreshLeavesADisabledDialogDisabled) {
  TReaderDialogWorld world;
  world.InstallReader("lurmScard_old.dll", {"reader=A"});
  world.Open();
  bool enabledAfterRefresh = true;
  int skinRequests = 0;
  world.Run([&](Tfrm_option& dlg) {
    HWND dialog = Hwnd(dlg);
    EnableWindow(dialog, FALSE);  // as a box over it does
    UserSendMessage(dlg, WM_SKINREFRESH, 0, 0);
    ++skinRequests;
    enabledAfterRefresh = IsWindowEnabled(dialog) != FALSE;
    EnableWindow(dialog, TRUE);
  });
  EXPECT_EQ(skinRequests, 1);
  EXPECT_FALSE(enabledAfterRefresh);
}

TEST(ReaderDialogWindows, FocusedControlIsKeptAcrossDeactivation) {
  TReaderDialogWorld world;
  world.InstallReader("lurmScard_old.dll", {"reader=A"});
  world.Open();
  bool focusLeft = false, focusBack = false;
  world.Run([&](Tfrm_option& dlg) {
    UserTypeKey(dlg, kVkTab);
    UserTypeKey(dlg, kVkTab);  // "测试连接"
    {
      TTopWindow other(L"another program");
      SetActiveWindow(other.Get());
      Application->ProcessMessages();
      focusLeft = !dlg.btn_connect->Focused();
      SetActiveWindow(Hwnd(dlg));
      Application->ProcessMessages();
      focusBack = dlg.btn_connect->Focused();
    }
  });
  EXPECT_TRUE(focusLeft);
  EXPECT_TRUE(focusBack);
}

TEST(ReaderDialogWindows, NestedCallOpensAboveTheOuterDialogAndGivesItBackTheActivation) {
  TReaderDialogWorld world;
  world.InstallReader("lurmScard_old.dll", {"reader=A", "reader=B"});
  world.Open();
  TTopWindow app(L"host");
  TActiveAtDestruction watch;
  int depth = 0;
  HWND outer = nullptr, innerOwner = nullptr;
  bool outerEnabledWhileInner = true, outerEnabledAfter = false;
  std::string focusAfterTab;
  int outerLines = 0;
  world.Run(
      [&](Tfrm_option& dlg) {
        if (++depth == 2) {
          innerOwner = GetWindow(Hwnd(dlg), GW_OWNER);
          outerEnabledWhileInner = IsWindowEnabled(outer) != FALSE;
          UserClick(*dlg.sBtnClose);
          return;
        }
        outer = Hwnd(dlg);
        ShowFrmOption(app.Handle(), 0, 0);  // the host calls again from inside the loop
        outerEnabledAfter = IsWindowEnabled(outer) != FALSE;
        outerLines = dlg.ListBox->Count();
        UserTypeKey(dlg, kVkTab);
        focusAfterTab = dlg.btn_reader->Focused() ? "btn_reader" : "elsewhere";
      },
      app.Handle());
  EXPECT_EQ(depth, 2);
  EXPECT_EQ(innerOwner, outer);
  EXPECT_FALSE(outerEnabledWhileInner);
  EXPECT_TRUE(outerEnabledAfter);
  EXPECT_EQ(outerLines, 2);
  EXPECT_EQ(focusAfterTab, "btn_reader");
  ASSERT_EQ(watch.Seen().size(), 2u);
  EXPECT_NE(watch.Seen()[0].first, outer);
  EXPECT_EQ(watch.Seen()[0].second, outer) << "the inner dialog gives the activation back";
  EXPECT_EQ(watch.Seen()[1].second, app.Get());
  EXPECT_TRUE(world.Errors().empty());
  EXPECT_EQ(world.Calls(), (Lines{"SCListReaders zeroed=1", "SCListReaders zeroed=1"}));
}

TEST(ReaderDialogWindows, UnloadingTheModuleUnregistersItsWindowClasses) {
  TReaderDialogWorld world;
  world.InstallReader("lurmScard_old.dll", {"reader=A"});
  world.Open();
  HMODULE module = LoadLibraryW(L"ReaderSettings.dll");
  ASSERT_NE(module, nullptr);
  using ShowFn = void(__stdcall*)(uintptr_t, uint32_t, uint32_t);
  auto show =
      reinterpret_cast<ShowFn>(reinterpret_cast<void*>(GetProcAddress(module, "ShowFrmOption")));
  ASSERT_NE(show, nullptr);
  std::thread closer([] {
    for (int i = 0; i < 200; ++i) {
      HWND w = FindWindowW(L"Tfrm_option", nullptr);
      if (w != nullptr && IsWindowVisible(w)) {
        PostMessageW(w, WM_CLOSE, 0, 0);
        return;
      }
      Sleep(50);
    }
  });
  show(0, 0, 0);
  closer.join();
  const wchar_t* const classes[] = {L"Tfrm_option", L"TModalSpeedButton", L"TPanel"};
  WNDCLASSEXW info{};
  info.cbSize = sizeof(info);
  for (const wchar_t* cls : classes) {
    EXPECT_TRUE(GetClassInfoExW(module, cls, &info)) << "registered while the module is loaded";
  }
  FreeLibrary(module);
  for (const wchar_t* cls : classes) {
    EXPECT_FALSE(GetClassInfoExW(module, cls, &info)) << "left registered after the unload";
  }
}

// The sub-application folder, relative to the profile folder of length profileLength, that
// makes the folder's full path fullLength characters long: "subapp" and more folders of at
// most 100 characters each.
std::string SubAppFolderOfLength(size_t profileLength, size_t fullLength) {
  std::string folder = "subapp";
  while (profileLength + 1 + folder.size() < fullLength) {
    const size_t missing = fullLength - (profileLength + 1 + folder.size());
    folder += "\\" + std::string(std::min<size_t>(missing - 1, 100), 'd');
    if (missing == 1) folder.pop_back();  // a separator alone would end the folder
  }
  return folder;
}

// Holds the answer "no long-path opt-in" for its life, as Windows 7 gives it to every host
// and Windows 10 to hosts without the opt-in; Wine takes long paths whatever it answers.
class TNoLongPathOptIn {
 public:
  TNoLongPathOptIn() { SetLongPathOptInForTest(0); }
  ~TNoLongPathOptIn() { SetLongPathOptInForTest(-1); }
  TNoLongPathOptIn(const TNoLongPathOptIn&) = delete;
  TNoLongPathOptIn& operator=(const TNoLongPathOptIn&) = delete;
};

// A sub-application folder whose library's path is longer than Windows takes: the library
// is not handed to the system (Wine would load it, Windows refuses it); the log names the
// file and the reason, the operator reads it in the error report before the listing's
// message, and a folder that is itself too long is named in the log as not made current.
TEST(ReaderDialogWindows, ALibraryPathLongerThanWindowsTakesIsNamedToTheOperatorAndInTheLog) {
  const TNoLongPathOptIn noOptIn;
  struct Case {
    const char* name;
    size_t folderLength;  // the sub-application folder's full path, no final separator
    bool folderTooLong;   // longer than MAX_PATH - 2
  };
  // The library's path is the folder's, a separator and "lurmScard_old.dll" (17).
  const Case cases[] = {{"the library's path only", 250, false},
                        {"the folder and the library's path", 300, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TReaderDialogWorld world;
    world.SetSubAppFolder(SubAppFolderOfLength(world.ProfileDir().string().size(), c.folderLength));
    const std::string folder = world.SubAppDir().string();
    ASSERT_EQ(folder.size(), c.folderLength);
    world.InstallReader("lurmScard_old.dll", {"reader=ACS 0"});
    world.Open();
    world.Run([](Tfrm_option& dlg) {
      EXPECT_EQ(dlg.ListBox->Count(), 0);
      UserClick(*dlg.btn_connect);
    });
    const std::string file = folder + "\\lurmScard_old.dll";
    const std::string loadLine = "读卡器库未能加载：" + file + "，路径有 " +
                                 std::to_string(file.size()) +
                                 " 个字符，超过 259 个字符的上限（Windows 未启用长路径）";
    EXPECT_EQ(world.Errors(), Lines{loadLine});
    EXPECT_EQ(world.Messages(),
              (std::vector<TShownMessage>{{kMsgListingFailed, ""}, {kMsgTestNoReader, ""}}));
    EXPECT_TRUE(world.Calls().empty()) << "the library was loaded and called";
    Lines want;
    if (c.folderTooLong)
      want.push_back("[1] 子应用目录未能设为当前目录：" + folder + "\\，路径有 " +
                     std::to_string(folder.size() + 1) +
                     " 个字符，超过 259 个字符的上限（Windows 未启用长路径）");
    want.push_back("[1] " + loadLine);
    Lines log;
    for (const std::string& line : world.LogLines()) log.push_back(UnescapeLine(line));
    ASSERT_EQ(log.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i)
      EXPECT_NE(log[i].find(want[i]), std::string::npos) << log[i] << "\nwanted: " << want[i];
  }
}

// A reader library call that blocks for 6 s blocks the dialog's thread: the dialog pumps no
// messages inside the call (a host asking it with SendMessageTimeout and SMTO_ABORTIFHUNG
// gets no answer), and answers again once the call has returned. Windows calls a window
// that has not answered for 5 s hung (IsHungAppWindow) and shows a ghost in its place.
TEST(ReaderDialogWindows, ADialogBlockedInAReaderCallAnswersTheHostOnlyAfterTheCallReturns) {
  TReaderDialogWorld world;
  world.InstallReader("lurmScard_old.dll", {"reader=ACS 0", "delay=SCConnectReader 6000"});
  world.Open();
  std::atomic<bool> returned{false}, hostDone{false};
  int unansweredDuringCall = 0, answeredDuringCall = 0;
  bool answeredAfterCall = false;
  world.Run([&](Tfrm_option& dlg) {
    UserSelectLine(*dlg.ListBox, 0);
    const HWND dialog = Hwnd(dlg);
    // The host's other thread asks the dialog once the library is inside its call.
    std::thread host([&] {
      for (int i = 0; i < 2000 && world.Calls().size() < 2; ++i) Sleep(5);
      while (!returned) {
        DWORD_PTR result = 0;
        const LRESULT answered =
            SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 500, &result);
        // An answer is an answer during the call only if the call had not returned yet.
        if (answered != 0 && !returned) ++answeredDuringCall;
        if (answered == 0 && !returned) ++unansweredDuringCall;
        // A window Windows takes for hung is refused at once: no need to ask it so often.
        if (answered == 0) Sleep(50);
      }
      DWORD_PTR result = 0;
      answeredAfterCall =
          SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result) != 0;
      hostDone = true;
    });
    UserClick(*dlg.btn_connect);  // the library blocks this thread for 6 s
    returned = true;
    // The dialog's thread takes messages again, as its modal loop does.
    for (int i = 0; i < 1000 && !hostDone; ++i) {
      Application->ProcessMessages();
      Sleep(10);
    }
    host.join();
  });
  EXPECT_EQ(world.Calls(),
            (Lines{"SCListReaders zeroed=1", "SCConnectReader name=ACS 0", "SCDisConnectReader"}));
  EXPECT_EQ(answeredDuringCall, 0) << "the dialog pumped messages inside the library's call";
  EXPECT_GE(unansweredDuringCall, 1) << "no question reached the dialog during the call";
  EXPECT_TRUE(answeredAfterCall) << "the dialog did not answer within 5 s after the call";
}

}  // namespace
