// The base module dialogs against the stand-in host: context, skin and its refresh,
// input-method switching of skinned edits, F1 to the main frame, free on close.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "HostSim.h"
#include "dialogs/f_CustomDlgEx.h"
#include "platform/Window.h"
#include "toolkit/UserInput.h"
#include "toolkit/XPTolvik.h"

namespace fs = std::filesystem;

namespace {

struct TSkin {
  TColor Back, TopBar, FontColor;
  int FontSize;
  int Charset;
};

// A dialog as a module would derive it, with the context fields in view.
class TProbeDlg : public Tfrm_CustomDlgEx {
 public:
  explicit TProbeDlg(TComponent* owner) : Tfrm_CustomDlgEx(owner) {
    OwnHandlerEdit = new TXPTolvikEdit(this);
    OwnHandlerEdit->SetName("OwnHandlerEdit");
    OwnHandlerEdit->SetParent(this);
    OwnHandlerEdit->OnEnter = TNotifyEvent::Method<&TProbeDlg::OwnEnter>(this);
    PlainEdit = new TXPTolvikEdit(this);
    PlainEdit->SetName("PlainEdit");
    PlainEdit->SetParent(this);
    sBtnClose->OnClick = TNotifyEvent::Method<&TProbeDlg::sBtnCloseClick>(this);
  }
  const char* ClassName() const override { return "TProbeDlg"; }
  void FormClose(TObject* Sender, TCloseAction& Action) override {
    Tfrm_CustomDlgEx::FormClose(Sender, Action);
    CloseActions.push_back(Action);
  }
  void FormDestroy(TObject* Sender) override {
    Tfrm_CustomDlgEx::FormDestroy(Sender);
    ++Destroyed;
  }
  void OwnEnter(TObject*) { ++OwnEnters; }
  void sBtnCloseClick(TObject*) { Close(); }

  using Tfrm_CustomDlg::FAppHandle;
  using Tfrm_CustomDlg::FAppPath;
  using Tfrm_CustomDlg::FCompanyInfoVO;
  using Tfrm_CustomDlg::FDlgFuncCode;
  using Tfrm_CustomDlg::FFuncCode;
  using Tfrm_CustomDlg::FMainFrameHandle;
  using Tfrm_CustomDlg::FSubAppCode;
  using Tfrm_CustomDlg::FSubAppPath;
  using Tfrm_CustomDlg::FSubAppVo;
  using Tfrm_CustomDlg::FUserInfoVO;

  TXPTolvikEdit* OwnHandlerEdit;
  TXPTolvikEdit* PlainEdit;
  std::vector<TCloseAction> CloseActions;
  int OwnEnters = 0;
  static inline int Destroyed = 0;
};

class CustomDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() /
          ("rs_customdlg_" +
           std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(Dir);
    fs::create_directories(Dir / "subapp");
    WriteWorld({0x00F7EFE6, 0x00A0602C, 0x00000000, 9, 134}, "中文 (简体) - 搜狗拼音输入法");
    Application->OnException = [this](TObject*, const std::string& m) { Reported.push_back(m); };
    TProbeDlg::Destroyed = 0;
  }
  void TearDown() override {
    Application->ModalDriver = nullptr;
    Application->OnException = nullptr;
    Application->ProcessMessages();
    HostSim_Close();
    fs::remove_all(Dir);
  }
  // Writes the host profile and makes the stand-in host read it. sysIme null: none set.
  void WriteWorld(const TSkin& skin, const char* sysIme) {
    std::ofstream host(Dir / "Host.ini", std::ios::binary);
    host << "[Host]\r\nMode=record\r\nTranscript=transcript.txt\r\nLog=host.log\r\n"
         << "AppPath=C:\\Host\\\r\n"
         << "[SubApp]\r\nPath=subapp\r\nCode=YB01\r\nFuncCode=YB0105\r\n"
         << "[Skin]\r\nModuleBackColor=" << skin.Back << "\r\nTopBarColor=" << skin.TopBar
         << "\r\nSysFontColor=" << skin.FontColor << "\r\nSysFontSize=" << skin.FontSize
         << "\r\nSysFontCharSet=" << skin.Charset << "\r\n";
    host.close();
    std::ofstream user(Dir / "UserConfig.ini", std::ios::binary);
    user << "[RunParameter]\r\n";
    if (sysIme != nullptr) user << "SysIME=" << sysIme << "\r\n";
    user.close();
    ASSERT_EQ(HostSim_Open(Dir.string().c_str()), 1) << HostSim_LastError();
  }
  TProbeDlg* NewDlg() { return NewForm<TProbeDlg>(Application); }

  fs::path Dir;
  std::vector<std::string> Reported;
};

TEST_F(CustomDlgTest, ExtendedLayoutMergesOverTheBase) {
  TProbeDlg* dlg = NewDlg();
  EXPECT_EQ(dlg->Caption(), "frm_CustomDlgEx");
  EXPECT_EQ(dlg->ClientWidth(), 491);
  EXPECT_EQ(dlg->ClientHeight(), 312);
  // Bevel1 keeps the base's left; the variant moves, shrinks and hides it.
  EXPECT_EQ(dlg->Bevel1->Left(), 14);
  EXPECT_EQ(dlg->Bevel1->Top(), 283);
  EXPECT_EQ(dlg->Bevel1->Width(), 50);
  EXPECT_FALSE(dlg->Bevel1->Visible());
  EXPECT_EQ(dlg->Bevel1->Shape(), TBevelShape::bsBottomLine);
  EXPECT_TRUE(dlg->VELTA->Visible());
  EXPECT_TRUE(dlg->VELTA->Enabled());
  EXPECT_EQ(dlg->VELTA->Caption(), kProductMark);
  EXPECT_EQ(dlg->VELTA->Font().Name(), "Arial");
  EXPECT_EQ(dlg->VELTA->Font().Charset(), kAnsiCharset);
  EXPECT_EQ(dlg->VELTA->Font().Color(), 0x00B99D7Fu);
  EXPECT_EQ(dlg->VELTA->Font().Height(), 10);
  EXPECT_EQ(dlg->Shape1->PenStyle(), TPenStyle::psDot);
  EXPECT_EQ(dlg->Shape1->PenColor(), 12164479u);
  EXPECT_FALSE(dlg->pnlTop->Visible());
  EXPECT_EQ(dlg->pnlTop->Height(), 0);
  EXPECT_EQ(dlg->lbBusinessName->Font().Name(), "黑体");
  EXPECT_EQ(dlg->sBtnClose->Caption(), "关闭");
  EXPECT_EQ(dlg->BorderIcons(), biSystemMenu);
  EXPECT_FALSE(dlg->KeyPreview());
  dlg->Free();
}

TEST_F(CustomDlgTest, CreationCapturesTheHostContext) {
  HostSim_SetHandles(0x1234, 0x5678);
  TProbeDlg* dlg = NewDlg();
  EXPECT_EQ(dlg->FAppHandle, 0x1234u);
  EXPECT_EQ(dlg->FMainFrameHandle, 0x5678u);
  EXPECT_EQ(dlg->FAppPath.View(), "C:\\Host\\");
  EXPECT_FALSE(dlg->FSubAppPath.Empty());
  EXPECT_EQ(dlg->FSubAppCode.View(), "YB01");
  EXPECT_EQ(dlg->FFuncCode.View(), "YB0105");
  EXPECT_EQ(dlg->FDlgFuncCode.View(), "YB0105");
  EXPECT_EQ(dlg->FSubAppVo, GetCurSubAppVo());
  EXPECT_EQ(dlg->FUserInfoVO, GetUserInfoVO());
  EXPECT_EQ(dlg->FCompanyInfoVO, GetCompanyInfoVO());
  dlg->Free();
}

TEST_F(CustomDlgTest, SkinRefreshRereadsEveryValue) {
  TProbeDlg* dlg = NewDlg();
  struct Case {
    const char* name;
    TSkin skin;
  };
  const Case cases[] = {
      {"at creation", {0x00F7EFE6, 0x00A0602C, 0x00000000, 9, 134}},
      {"after a refresh", {0x00102030, 0x00405060, 0x00708090, 12, 0}},
      {"after another", {0x00ABCDEF, 0x00000001, 0x00FFFFFF, 10, 134}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (&c != &cases[0]) {
      WriteWorld(c.skin, nullptr);
      EXPECT_EQ(UserSendMessage(*dlg, WM_SKINREFRESH, 0, 0), 0);
    }
    EXPECT_EQ(dlg->Color(), c.skin.Back);
    EXPECT_EQ(dlg->Shape1->BrushColor(), c.skin.Back);
    EXPECT_EQ(dlg->pnlTop->Color(), c.skin.TopBar);
    EXPECT_EQ(dlg->Font().Color(), c.skin.FontColor);
    EXPECT_EQ(dlg->Font().Size(), c.skin.FontSize);
    EXPECT_EQ(dlg->Font().Charset(), c.skin.Charset);
    EXPECT_EQ(dlg->Font().Name(), "宋体");
    // Controls with fonts of their own keep them.
    EXPECT_EQ(dlg->VELTA->Font().Name(), "Arial");
    EXPECT_EQ(dlg->lbBusinessName->Font().Color(), clWindow);
  }
  dlg->Free();
}

TEST_F(CustomDlgTest, EditsKeepTheirOwnHandlerAndNewOnesAreHookedOnRefresh) {
  TProbeDlg* dlg = NewDlg();
  const TNotifyEvent own = TNotifyEvent::Method<&TProbeDlg::OwnEnter>(dlg);
  EXPECT_EQ(dlg->OwnHandlerEdit->OnEnter, own);
  ASSERT_TRUE(dlg->PlainEdit->OnEnter.Assigned());
  const TNotifyEvent hooked = dlg->PlainEdit->OnEnter;

  // Appear after creation: one owned by the dialog, one owned by a panel.
  auto* late = new TXPTolvikEdit(dlg);
  late->SetParent(dlg);
  auto* panel = new TPanel(dlg);
  panel->SetParent(dlg);
  auto* panelOwned = new TXPTolvikEdit(panel);
  panelOwned->SetParent(panel);
  EXPECT_FALSE(late->OnEnter.Assigned());

  UserSendMessage(*dlg, WM_SKINREFRESH, 0, 0);
  EXPECT_EQ(dlg->OwnHandlerEdit->OnEnter, own);
  EXPECT_EQ(dlg->PlainEdit->OnEnter, hooked) << "hooked once, still XPEditEnter";
  EXPECT_EQ(late->OnEnter, hooked) << "the same handler of the same dialog";
  EXPECT_FALSE(panelOwned->OnEnter.Assigned()) << "only the dialog's own components";

  // The edit with its own handler gets no input-method switching.
  dlg->OwnHandlerEdit->SetImeMode(imChinese);
  dlg->OwnHandlerEdit->SetImeName("日本語");
  late->SetImeMode(imChinese);
  Application->ModalDriver = [&](TCustomForm&) {
    UserFocus(*dlg->OwnHandlerEdit);
    UserFocus(*late);
    dlg->Close();
  };
  dlg->ShowModal();
  EXPECT_EQ(dlg->OwnEnters, 1);
  EXPECT_EQ(dlg->OwnHandlerEdit->ImeMode(), imChinese);
  EXPECT_EQ(dlg->OwnHandlerEdit->ImeName(), "日本語");
  EXPECT_EQ(late->ImeName(), "中文 (简体) - 搜狗拼音输入法");
  dlg->Free();
}

TEST_F(CustomDlgTest, FocusEntrySetsTheInputMethodByMode) {
  struct Case {
    const char* name;
    TImeMode mode;
    const char* sysIme;  // null: not configured
    TImeMode wantMode;
    const char* wantName;
  };
  const Case cases[] = {
      {"chinese opens the configured one", imChinese, "中文 - 五笔", imOpen, "中文 - 五笔"},
      {"open opens the configured one", imOpen, "中文 - 五笔", imOpen, "中文 - 五笔"},
      {"nothing configured", imOpen, nullptr, imOpen, "-请选择-"},
      {"close", imClose, "中文 - 五笔", imClose, "英语"},
      {"don't care", imDontCare, "中文 - 五笔", imClose, "英语"},
      {"disable", imDisable, "中文 - 五笔", imClose, "英语"},
      {"hangul", imHanguel, "中文 - 五笔", imClose, "英语"},
  };
  TProbeDlg* dlg = NewDlg();
  Application->ModalDriver = [&](TCustomForm&) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      // The configuration is read on every entry, so a change shows at once.
      WriteWorld({0x00F7EFE6, 0x00A0602C, 0, 9, 134}, c.sysIme);
      dlg->PlainEdit->SetImeMode(c.mode);
      dlg->PlainEdit->SetImeName("前一个");
      UserFocus(*dlg->OwnHandlerEdit);
      UserFocus(*dlg->PlainEdit);
      EXPECT_EQ(dlg->PlainEdit->ImeMode(), c.wantMode);
      EXPECT_EQ(dlg->PlainEdit->ImeName(), c.wantName);
    }
    dlg->Close();
  };
  dlg->ShowModal();
  dlg->Free();
}

TEST_F(CustomDlgTest, F1WithAnyShiftStateReachesTheMainFrame) {
  std::vector<uint32_t> frameMsgs;
  TMessageWindow frame("Tfrm_MainFrame", [&](uint32_t msg, uintptr_t wp, intptr_t lp) {
    if (wp == 0 && lp == 0) frameMsgs.push_back(msg);
    return intptr_t{0};
  });
  std::vector<uint32_t> otherMsgs;
  TMessageWindow other("THostFrame", [&](uint32_t msg, uintptr_t, intptr_t) {
    otherMsgs.push_back(msg);
    return intptr_t{0};
  });
  TProbeDlg* dlg = NewDlg();
  struct Case {
    const char* name;
    uint16_t key;
    TShiftState shift;
    size_t want;
  };
  const Case cases[] = {
      {"F1", kVkF1, 0, 1}, {"Shift+F1", kVkF1, ssShift, 1}, {"Ctrl+F1", kVkF1, ssCtrl, 1},
      {"F2", 0x71, 0, 0},  {"P (0x50)", 0x50, 0, 0},
  };
  Application->ModalDriver = [&](TCustomForm&) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      frameMsgs.clear();
      UserKeyDown(*dlg, c.key, c.shift);
      EXPECT_EQ(frameMsgs.size(), c.want);
      if (c.want == 1) {
        EXPECT_EQ(frameMsgs[0], WM_HELPREQUEST);
      }
    }
    // The host's own main frame handle comes first.
    frameMsgs.clear();
    HostSim_SetHandles(0, other.Handle());
    UserKeyDown(*dlg, kVkF1, 0);
    EXPECT_TRUE(frameMsgs.empty());
    EXPECT_EQ(otherMsgs, std::vector<uint32_t>{WM_HELPREQUEST});
    dlg->Close();
  };
  dlg->ShowModal();
  dlg->Free();
}

TEST_F(CustomDlgTest, F1WithoutAMainFrameDoesNothing) {
  ASSERT_EQ(FindTopLevelWindow("Tfrm_MainFrame"), 0u);
  TProbeDlg* dlg = NewDlg();
  Application->ModalDriver = [&](TCustomForm&) {
    UserKeyDown(*dlg, kVkF1, 0);
    dlg->Close();
  };
  EXPECT_EQ(dlg->ShowModal(), mrCancel);
  EXPECT_TRUE(Reported.empty());
  dlg->Free();
}

TEST_F(CustomDlgTest, EveryClosePathEndsInTheFreeAction) {
  struct Case {
    const char* name;
    void (*close)(TProbeDlg&);
  };
  const Case cases[] = {
      {"close button", [](TProbeDlg& d) { UserClick(*d.sBtnClose); }},
      {"close box", [](TProbeDlg& d) { UserCloseBox(d); }},
      {"system menu", [](TProbeDlg& d) { UserSystemMenuClose(d); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TProbeDlg::Destroyed = 0;
    TProbeDlg* dlg = NewDlg();
    Application->ModalDriver = [&](TCustomForm&) { c.close(*dlg); };
    EXPECT_EQ(dlg->ShowModal(), mrCancel);
    EXPECT_EQ(dlg->CloseActions, std::vector<TCloseAction>{caFree});
    EXPECT_EQ(TProbeDlg::Destroyed, 0);
    dlg->Free();  // as the modal caller does
    Application->ProcessMessages();
    EXPECT_EQ(TProbeDlg::Destroyed, 1) << "destroyed exactly once";
  }
}

}  // namespace
