#include "settings/f_option.h"

#include <gtest/gtest.h>

#include "../reader/LibraryFiles.h"
#include "HostProfile.h"
#include "ReaderDialogWorld.h"
#include "entry/LibraryEntry.h"
#include "platform/CurrentDir.h"
#include "platform/Window.h"
#include "toolkit/UserInput.h"

namespace {

using Messages = std::vector<TShownMessage>;
using Lines = std::vector<std::string>;

Lines ListLines(const Tfrm_option& dlg) { return dlg.ListBox->Lines(); }

TEST(ReaderDialog, ShowsCaptionsAndListsReadersInOrder) {
  TReaderDialogWorld world;
  world.InstallReader("lurmScard_old.dll", {"reader=ACS ACR38U 0", "reader=读卡器 B"});
  world.Open();
  world.Run([](Tfrm_option& dlg) {
    EXPECT_EQ(dlg.Caption(), "读卡器设置");
    EXPECT_EQ(dlg.lbBusinessName->Caption(), "请选择读卡器");
    EXPECT_EQ(ListLines(dlg), (Lines{"ACS ACR38U 0", "读卡器 B"}));
    EXPECT_EQ(dlg.ListBox->ItemIndex(), -1);
    // With two lines and none clicked, neither button picks one.
    UserClick(*dlg.btn_reader);
    UserClick(*dlg.btn_connect);
  });
  EXPECT_EQ(world.Messages(), (Messages{{kMsgSelectNoReader, ""}, {kMsgTestNoReader, ""}}));
  EXPECT_EQ(world.Calls(), (Lines{"SCListReaders zeroed=1"}));
  EXPECT_EQ(world.Param(), "(none)");
  EXPECT_EQ(world.StoredReader(), "(none)");
}

TEST(ReaderDialog, NoReadersStoresAndTestsNothing) {
  TReaderDialogWorld world;
  world.InstallReader("lurmScard_old.dll", {});
  world.Open();
  world.Run([](Tfrm_option& dlg) {
    EXPECT_EQ(dlg.ListBox->Count(), 0);
    UserClick(*dlg.btn_reader);
    UserClick(*dlg.btn_connect);
  });
  EXPECT_EQ(world.Messages(), (Messages{{kMsgSelectNoReader, ""}, {kMsgTestNoReader, ""}}));
  EXPECT_EQ(world.Calls(), (Lines{"SCListReaders zeroed=1"}));
  EXPECT_EQ(world.ParamCount(), 0);
  EXPECT_EQ(world.StoredReader(), "(none)");
}

TEST(ReaderDialog, SelectStoresTheClickedReaderInBothPlaces) {
  TReaderDialogWorld world;
  world.InstallReader("lurmScard_old.dll", {"reader=ACS 0", "reader=ACS 1"});
  world.WriteSubAppFile("UserConfig.ini", "; operator settings\r\n[Other]\r\nkey = kept\r\n");
  world.Open();
  world.Run([](Tfrm_option& dlg) {
    UserSelectLine(*dlg.ListBox, 1);
    UserClick(*dlg.btn_reader);
    EXPECT_EQ(dlg.CurReader().View(), "ACS 1");
    // Storing again writes both places again.
    UserClick(*dlg.btn_reader);
  });
  EXPECT_EQ(world.Messages(), (Messages{{kMsgReaderStored, "ACS 1"}, {kMsgReaderStored, "ACS 1"}}));
  EXPECT_EQ(world.Param(), "ACS 1");
  EXPECT_EQ(world.ParamCount(), 1);
  EXPECT_EQ(world.StoredReader(), "ACS 1");
  // Selecting does not contact the reader.
  EXPECT_EQ(world.Calls(), (Lines{"SCListReaders zeroed=1"}));
}

TEST(ReaderDialog, SingleReaderIsTakenWhenNoLineIsClicked) {
  TReaderDialogWorld world;
  world.InstallReader("lurmScard_old.dll", {"reader=Only One"});
  world.Open();
  world.Run([](Tfrm_option& dlg) {
    UserClick(*dlg.btn_connect);
    EXPECT_EQ(dlg.ListBox->ItemIndex(), 0);  // selected visibly
    UserSelectLine(*dlg.ListBox, -1);
    UserClick(*dlg.btn_reader);
    EXPECT_EQ(dlg.ListBox->ItemIndex(), 0);
  });
  EXPECT_EQ(world.Messages(),
            (Messages{{kMsgReaderConnected, ""}, {kMsgReaderStored, "Only One"}}));
  EXPECT_EQ(world.Param(), "Only One");
  EXPECT_EQ(world.StoredReader(), "Only One");
}

TEST(ReaderDialog, CurrentReaderIsPreselected) {
  struct Case {
    const char* name;
    const char* param;  // null: no parameter entry
    int want;
  };
  const Case cases[] = {
      {"name in the list, key in other letter case", "ACS 1", 1},
      {"name not in the list", "ACS 9", -1},
      {"empty value", "", -1},
      {"no parameter", nullptr, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TReaderDialogWorld world;
    world.InstallReader("lurmScard_old.dll", {"reader=ACS 0", "reader=ACS 1"});
    if (c.param != nullptr) world.AddParam("GLOBAL_NUVREADER", c.param);
    world.Open();
    int selected = -2;
    world.Run([&](Tfrm_option& dlg) { selected = dlg.ListBox->ItemIndex(); });
    EXPECT_EQ(selected, c.want);
  }
}

TEST(ReaderDialog, ListingErrorIsLoggedUnsignedAndReported) {
  TReaderDialogWorld world;
  world.InstallReader("lurmScard_old.dll", {"reader=ACS 0", "listresult=0x8010002E"});
  world.Open();
  world.Run([](Tfrm_option& dlg) { EXPECT_EQ(dlg.ListBox->Count(), 0); });
  const Lines log = world.LogLines();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("[1] 获取读卡器列表发生错误，错误编号：2148532270"), std::string::npos)
      << log[0];
  EXPECT_EQ(world.Messages(), (Messages{{70000986, ""}}));
}

TEST(ReaderDialog, ListTextIsTrimmedAtBothEndsOnly) {
  TReaderDialogWorld world;
  // "  A\0 B \0C  \0" then zeros: blanks inside and around other names survive.
  world.InstallReader("lurmScard_old.dll", {"listhex=20 20 41 00 20 42 20 00 43 20 20 00"});
  world.Open();
  Lines lines;
  world.Run([&](Tfrm_option& dlg) { lines = ListLines(dlg); });
  EXPECT_EQ(lines, (Lines{"A", " B ", "C"}));
}

TEST(ReaderDialog, FullBufferWithoutTerminatorIsReadWithinItsSize) {
  TReaderDialogWorld world;
  world.InstallReader("lurmScard_old.dll", {"listhex=" + std::string(2048, '4')});
  world.Open();
  Lines lines;
  world.Run([&](Tfrm_option& dlg) { lines = ListLines(dlg); });
  EXPECT_EQ(lines, (Lines{std::string(1024, 'D')}));
}

TEST(ReaderDialog, LongNameIsStoredWholeAndCutOnlyInTheMessage) {
  const std::string longName(300, 'R');
  TReaderDialogWorld world;
  world.InstallReader("lurmScard_old.dll", {"reader=" + longName});
  world.Open();
  world.Run([](Tfrm_option& dlg) { UserClick(*dlg.btn_reader); });
  EXPECT_EQ(world.Param(), longName);
  EXPECT_EQ(world.StoredReader(), longName);
  EXPECT_EQ(world.Messages(), (Messages{{kMsgReaderStored, longName.substr(0, 255)}}));
}

TEST(ReaderDialog, ConnectionTestDisconnectsOnceAfterTheOutcome) {
  TReaderDialogWorld world;
  world.InstallReader("lurmScard_old.dll", {"reader=Good", "reader=Empty",
                                            "connect=0x8010000C Empty", "connect=0 Good"});
  world.AddParam("Global_nuvreader", "Good");
  world.Open();
  world.Run([](Tfrm_option& dlg) {
    UserSelectLine(*dlg.ListBox, 1);
    UserClick(*dlg.btn_connect);  // the selected line, not the current reader
    UserSelectLine(*dlg.ListBox, 0);
    UserClick(*dlg.btn_connect);
    EXPECT_EQ(dlg.CurReader().View(), "Good");
  });
  EXPECT_EQ(world.Events(),
            (Lines{"SCListReaders zeroed=1", "SCConnectReader name=Empty", "msg 70000967",
                   "SCDisConnectReader", "SCConnectReader name=Good", "msg 70000530",
                   "SCDisConnectReader"}));
  EXPECT_EQ(world.Param(), "Good");  // the test stores nothing
}

TEST(ReaderDialog, UnknownCodeIsShownWithTheLibraryText) {
  TReaderDialogWorld world;
  world.InstallReader("lurmScard_old.dll",
                      {"reader=R", "connectdefault=0x8010000A", "errortext=超时"});
  world.Open();
  world.Run([](Tfrm_option& dlg) { UserClick(*dlg.btn_connect); });
  const Messages shown = world.Messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].Id, 0);
  EXPECT_NE(shown[0].Param.find("8010000A"), std::string::npos) << shown[0].Param;
  EXPECT_NE(shown[0].Param.find("超时"), std::string::npos) << shown[0].Param;
  EXPECT_EQ(world.Calls().back(), "SCDisConnectReader");
}

TEST(ReaderDialog, ServerTypeChoosesTheLibrary) {
  struct Case {
    const char* name;
    const char* sysConfig;  // null: no SysConfig.ini
    const char* wantReader;
  };
  const Case cases[] = {
      {"99", "[system]\r\nServerType=99\r\n", "new"},
      {"99 with blanks", "[SYSTEM]\r\n  servertype =  99  \r\n", "new"},
      {"leading zero", "[system]\r\nServerType=099\r\n", "old"},
      {"trailing character", "[system]\r\nServerType=99a\r\n", "old"},
      {"other section", "[other]\r\nServerType=99\r\n", "old"},
      {"no file", nullptr, "old"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TReaderDialogWorld world;
    world.InstallReader("lurmScard.dll", {"reader=new"});
    world.InstallReader("lurmScard_old.dll", {"reader=old"});
    if (c.sysConfig != nullptr) world.WriteSubAppFile("SysConfig.ini", c.sysConfig);
    world.Open();
    Lines lines;
    world.Run([&](Tfrm_option& dlg) { lines = ListLines(dlg); });
    EXPECT_EQ(lines, (Lines{c.wantReader}));
  }
}

TEST(ReaderDialog, MissingLibraryReportsTheListingAndKeepsWorking) {
  TReaderDialogWorld world;
  world.Open();
  world.Run([](Tfrm_option& dlg) {
    EXPECT_EQ(dlg.ListBox->Count(), 0);
    UserClick(*dlg.btn_connect);
  });
  EXPECT_EQ(world.Messages(), (Messages{{kMsgListingFailed, ""}, {kMsgTestNoReader, ""}}));
  // The operator's messages say only that the listing failed: the log names the file.
  const Lines log = world.LogLines();
  ASSERT_EQ(log.size(), 1u);
  const std::string file = (world.SubAppDir() / "lurmScard_old.dll").string();
  EXPECT_NE(UnescapeLine(log[0]).find("[1] 读卡器库未能加载：" + file + "，"), std::string::npos)
      << log[0];
}

// On Windows the loader's failure is read from the file's header; elsewhere dlerror says it.
#if defined(_WIN32)
constexpr bool kWindowsLoader = true;
#else
constexpr bool kWindowsLoader = false;
#endif

TEST(ReaderDialog, ADamagedLibraryIsNamedInTheLogWithWhatIsWrongWithIt) {
  struct Case {
    const char* name;
    std::string bytes;  // the library file "lurmScard_old.dll"
    std::string problem;
  };
  const std::vector<Case> cases = [] {
    std::vector<Case> rows = {
        {"empty", "", "文件为空（0 字节），不是可加载的库"},
        {"not a library", "this is not a library\r\n", "文件不是 Windows 库（没有 MZ/PE 文件头）"},
    };
    if (kWindowsLoader)
      rows.push_back({"built for the other architecture",
                      OtherArchitectureCopy(TReaderDialogWorld::BuiltLibrary()),
                      std::string("库是为 ") + (sizeof(void*) == 8 ? "32 位 x86" : "64 位 x64") +
                          " 程序编译的，本程序为 " +
                          (sizeof(void*) == 8 ? "64 位 x64" : "32 位 x86") + "，两者须一致"});
    return rows;
  }();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TReaderDialogWorld world;
    world.WriteSubAppFile("lurmScard_old.dll", c.bytes);
    world.Open();
    world.Run([](Tfrm_option& dlg) { UserClick(*dlg.btn_connect); });
    EXPECT_EQ(world.Messages(), (Messages{{kMsgListingFailed, ""}, {kMsgTestNoReader, ""}}));
    const Lines log = world.LogLines();
    ASSERT_EQ(log.size(), 1u);
    const std::string file = (world.SubAppDir() / "lurmScard_old.dll").string();
    const std::string head = "[1] 读卡器库未能加载：" + file + "，";
    const std::string line = UnescapeLine(log[0]);
    const size_t at = line.find(head);
    ASSERT_NE(at, std::string::npos) << log[0];
    const std::string reason = line.substr(at + head.size());
    if (kWindowsLoader) {
      // What is wrong, then the system's number (which Windows and Wine choose differently).
      EXPECT_EQ(reason.substr(0, c.problem.size()), c.problem) << log[0];
      EXPECT_EQ(reason.substr(c.problem.size(), std::string("，系统错误 ").size()), "，系统错误 ")
          << log[0];
    } else {
      EXPECT_FALSE(reason.empty()) << log[0];  // dlerror's text
    }
  }
}

TEST(ReaderDialog, MissingConnectFunctionIsAnErrorReportNotACall) {
  TReaderDialogWorld world;
  world.InstallReader("lurmScard_old.dll", {"reader=R"}, "lurmScard_listonly.dll");
  world.Open();
  world.Run([](Tfrm_option& dlg) {
    UserClick(*dlg.btn_connect);
    UserClick(*dlg.btn_reader);  // the dialog goes on working
  });
  ASSERT_EQ(world.Errors().size(), 1u);
  EXPECT_NE(world.Errors()[0].find("SCConnectReader"), std::string::npos) << world.Errors()[0];
  EXPECT_EQ(world.Messages(), (Messages{{kMsgReaderStored, "R"}}));
}

TEST(ReaderDialog, FailedUserConfigWriteReachesTheOperator) {
  TReaderDialogWorld world;
  world.InstallReader("lurmScard_old.dll", {"reader=R"});
  std::filesystem::create_directory(world.SubAppDir() / "UserConfig.ini");  // a folder in its place
  world.Open();
  world.Run([](Tfrm_option& dlg) {
    UserClick(*dlg.btn_reader);
    EXPECT_TRUE(dlg.CurReader().Empty());
  });
  EXPECT_EQ(world.Errors().size(), 1u);
  EXPECT_EQ(world.Param(), "R");  // stored before the file write failed
  EXPECT_TRUE(world.Messages().empty());
}

TEST(ReaderDialog, CurrentDirectoryIsTheSubAppWhileOpenAndRestoredAfter) {
  TReaderDialogWorld world;
  world.InstallReader("lurmScard_old.dll", {"reader=R"});
  world.Open();
  const std::string before = GetCurrentDir();
  std::string during;
  world.Run([&](Tfrm_option&) { during = GetCurrentDir(); });
  EXPECT_EQ(GetCurrentDir(), before);
  EXPECT_TRUE(std::filesystem::equivalent(during, world.SubAppDir())) << during;
}

}  // namespace

namespace {

TEST(ReaderDialog, EveryCloseReturnsAfterDestructionAndTheNextCallStartsAfresh) {
  struct Case {
    const char* name;
    void (*close)(Tfrm_option&);
  };
  const Case cases[] = {
      {"close button", [](Tfrm_option& dlg) { UserClick(*dlg.sBtnClose); }},
      {"close box", [](Tfrm_option& dlg) { UserCloseBox(dlg); }},
      {"system menu", [](Tfrm_option& dlg) { UserSystemMenuClose(dlg); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TReaderDialogWorld world;
    world.InstallReader("lurmScard_old.dll", {"reader=A", "reader=B"});
    world.Open();
    world.Run([&](Tfrm_option& dlg) {
      UserSelectLine(*dlg.ListBox, 1);
      UserClick(*dlg.btn_reader);
      c.close(dlg);
    });
    int selected = -2;
    world.Run([&](Tfrm_option& dlg) { selected = dlg.ListBox->ItemIndex(); });
    EXPECT_EQ(selected, 1);  // read anew from the parameter the first call stored
    EXPECT_EQ(world.Calls(), (Lines{"SCListReaders zeroed=1", "SCListReaders zeroed=1"}));
    EXPECT_TRUE(world.Errors().empty());
  }
}

TEST(LibraryEntry, DetachPutsBackTheObjectsRecordedAtLoad) {
  TApplication* const loadedApplication = Application;
  TScreen* const loadedScreen = Screen;
  LibraryAttach();
  // Someone in the process replaces the toolkit's objects while the library is loaded.
  TApplication* other = new TApplication(nullptr);
  TScreen* otherScreen = new TScreen(nullptr);
  Application = other;
  Screen = otherScreen;
  for (int threadReason : {2, 3}) {
    LibraryDetach(threadReason);
    EXPECT_EQ(Application, other);
    EXPECT_EQ(Screen, otherScreen);
  }
  LibraryDetach(0);
  EXPECT_EQ(Application, loadedApplication);
  EXPECT_EQ(Screen, loadedScreen);
  other->Free();
  otherScreen->Free();
}

}  // namespace

namespace {

// The control of the dialog that has the focus, by its name.
std::string FocusedName(const Tfrm_option& dlg) {
  for (TWinControl* c :
       {static_cast<TWinControl*>(dlg.ListBox), static_cast<TWinControl*>(dlg.btn_reader),
        static_cast<TWinControl*>(dlg.btn_connect), static_cast<TWinControl*>(dlg.sBtnClose)}) {
    if (c->Focused()) return c->Name();
  }
  return "(none)";
}

TEST(ReaderDialogKeyboard, TabGoesThroughTheStoredTabOrdersBothWays) {
  TReaderDialogWorld world;
  world.InstallReader("lurmScard_old.dll", {"reader=A", "reader=B"});
  world.Open();
  std::string atOpen;
  Lines forward, backward;
  world.Run([&](Tfrm_option& dlg) {
    atOpen = FocusedName(dlg);
    for (int i = 0; i < 4; ++i) {
      UserTypeKey(dlg, kVkTab);
      forward.push_back(FocusedName(dlg));
    }
    for (int i = 0; i < 4; ++i) {
      UserTypeKey(dlg, kVkTab, ssShift);
      backward.push_back(FocusedName(dlg));
    }
  });
  EXPECT_EQ(atOpen, "ListBox");
  EXPECT_EQ(forward, (Lines{"btn_reader", "btn_connect", "sBtnClose", "ListBox"}));
  EXPECT_EQ(backward, (Lines{"sBtnClose", "btn_connect", "btn_reader", "ListBox"}));
  EXPECT_TRUE(world.Messages().empty());
}

TEST(ReaderDialogKeyboard, ArrowsChooseTheLineAndEnterOrSpacePressTheButtons) {
  TReaderDialogWorld world;
  world.InstallReader("lurmScard_old.dll", {"reader=A", "reader=B", "connect=0 B"});
  world.Open();
  bool closedByEsc = false;
  world.Run([&](Tfrm_option& dlg) {
    UserSelectLine(*dlg.ListBox, 0);
    UserTypeKey(dlg, kVkDown);    // line B
    UserTypeKey(dlg, kVkTab);     // 选择
    UserTypeKey(dlg, kVkReturn);  // stores B
    UserTypeKey(dlg, kVkTab);     // 测试连接
    UserTypeKey(dlg, kVkSpace);   // tests B
    UserTypeKey(dlg, kVkEscape);
    closedByEsc = dlg.ModalResult() == mrCancel;
  });
  EXPECT_TRUE(closedByEsc);
  EXPECT_EQ(world.Messages(), (Messages{{kMsgReaderStored, "B"}, {kMsgReaderConnected, ""}}));
  EXPECT_EQ(world.StoredReader(), "B");
  EXPECT_TRUE(world.Errors().empty());
}

TEST(ReaderDialogKeyboard, F1FromAFocusedControlStillAsksTheMainFrameForHelp) {
  TReaderDialogWorld world;
  world.InstallReader("lurmScard_old.dll", {"reader=A"});
  world.Open();
  int helpRequests = 0;
  TMessageWindow mainFrame("Tfrm_MainFrame", [&](uint32_t msg, uintptr_t, intptr_t) {
    if (msg == WM_HELPREQUEST) ++helpRequests;
    return intptr_t{0};
  });
  world.Run([&](Tfrm_option& dlg) {
    UserTypeKey(dlg, kVkF1);  // the list has the focus
    UserTypeKey(dlg, kVkTab);
    UserTypeKey(dlg, kVkF1, ssCtrl);  // a button has it
  });
  EXPECT_EQ(helpRequests, 2);
}

TEST(ReaderDialog, TheReaderLibraryIsCalledUnderTheWaitCursor) {
  struct Case {
    const char* name;
    const char* variant;  // the simulated library's build
    int waits;            // listing, plus one per connection test that reached the library
  };
  const Case cases[] = {
      {"listing and a connection test", "lurmScard.dll", 2},
      {"the connect function is missing", "lurmScard_listonly.dll", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TReaderDialogWorld world;
    world.InstallReader("lurmScard_old.dll", {"reader=R"}, c.variant);
    world.Open();
    const int before = Screen->WaitCursorCount();
    TCursor afterShow = TCursor::crHourGlass;
    world.Run([&](Tfrm_option& dlg) {
      afterShow = Screen->Cursor();
      UserClick(*dlg.btn_connect);
    });
    EXPECT_EQ(afterShow, TCursor::crDefault);
    EXPECT_EQ(Screen->Cursor(), TCursor::crDefault) << "put back, the failed call included";
    EXPECT_EQ(Screen->WaitCursorCount() - before, c.waits);
  }
}

}  // namespace
