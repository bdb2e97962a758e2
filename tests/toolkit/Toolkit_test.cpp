// The toolkit's behaviour as dialogs rely on it: list operations, the close paths and the
// deferred release, the error report inside the modal loop, input-method activation.
// Driven through UserInput.h, so the same tests run headless and on real windows.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <functional>
#include <new>
#include <string>
#include <vector>

#include "platform/Window.h"
#include "toolkit/Forms.h"
#include "toolkit/UserInput.h"

namespace {

constexpr TLayoutItem kTestLayout[] = {
    {.Name = "",
     .Width = 300,
     .Height = 200,
     .Caption = "test",
     .BorderStyle = TFormBorderStyle::bsSingle,
     .BorderIcons = biSystemMenu},
    {.Name = "Group",
     .Class = "TXPTolvikGroupBox",
     .Left = 8,
     .Top = 8,
     .Width = 200,
     .Height = 150},
    {.Name = "List",
     .Class = "TXPTolvikListBox",
     .Parent = "Group",
     .Left = 1,
     .Top = 13,
     .Width = 198,
     .Height = 100,
     .ItemHeight = 12},
    {.Name = "Edit", .Class = "TXPTolvikEdit", .Left = 210, .Top = 8, .Width = 80, .Height = 20},
    {.Name = "Button",
     .Class = "TModalSpeedButton",
     .Left = 210,
     .Top = 160,
     .Width = 67,
     .Height = 22,
     .Caption = "关闭"},
};

// A form that records what happens to it.
class TTestForm : public TForm {
 public:
  explicit TTestForm(TComponent* owner, int* destroyed) : TForm(owner), FDestroyed(destroyed) {
    ApplyLayout(kTestLayout);
    Bind(List, "List");
    Bind(Edit, "Edit");
    Bind(Button, "Button");
  }
  const char* ClassName() const override { return "TTestForm"; }
  void FormClose(TObject* Sender, TCloseAction& Action) override {
    TForm::FormClose(Sender, Action);
    ++Closes;
    Action = CloseAction;
  }
  void FormDestroy(TObject* Sender) override {
    TForm::FormDestroy(Sender);
    ++*FDestroyed;
  }

  TXPTolvikListBox* List = nullptr;
  TXPTolvikEdit* Edit = nullptr;
  TModalSpeedButton* Button = nullptr;
  TCloseAction CloseAction = caFree;
  int Closes = 0;

 private:
  int* FDestroyed;
};

class ToolkitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application->OnException = [this](TObject*, const std::string& message) {
      Reported.push_back(message);
    };
  }
  void TearDown() override {
    Application->ModalDriver = nullptr;
    Application->OnException = nullptr;
    Application->ProcessMessages();
  }
  TTestForm* MakeForm() { return NewForm<TTestForm>(Application, &Destroyed); }

  int Destroyed = 0;
  std::vector<std::string> Reported;
};

TEST_F(ToolkitTest, ListSetTextSplitsAtEveryLineBreak) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"empty text, no lines", "", {}},
      {"one line", "读卡器 A", {"读卡器 A"}},
      {"CR LF", "A\r\nB", {"A", "B"}},
      {"CR alone", "A\rB", {"A", "B"}},
      {"LF alone", "A\nB", {"A", "B"}},
      {"final break adds no line", "A\r\nB\r\n", {"A", "B"}},
      {"LF CR is two breaks", "A\n\rB", {"A", "", "B"}},
      {"empty lines kept", "A\r\n\r\nB", {"A", "", "B"}},
      {"lone break is one empty line", "\r\n", {""}},
      {"spaces kept", " A \r\n B ", {" A ", " B "}},
  };
  TTestForm* form = MakeForm();
  form->WindowHandle();  // real list window on Windows
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    form->List->SetText("old\r\nlines");
    form->List->SetItemIndex(1);
    form->List->SetText(c.text);
    ASSERT_EQ(form->List->Count(), static_cast<int>(c.want.size()));
    for (int i = 0; i < form->List->Count(); ++i) EXPECT_EQ(form->List->Line(i), c.want[i]);
    EXPECT_EQ(form->List->ItemIndex(), -1);
  }
  form->Free();
}

TEST_F(ToolkitTest, ListSelectionAndExactSearch) {
  TTestForm* form = MakeForm();
  form->Show();  // users select only in a form they see
  TXPTolvikListBox& list = *form->List;
  list.SetText("Reader A\r\nreader a\r\nReader B\r\nReader A");
  struct Case {
    const char* name;
    std::string find;
    int want;
  };
  const Case finds[] = {
      {"first of two equal lines", "Reader A", 0},
      {"letter case counts", "reader a", 1},
      {"no partial match", "Reader", -1},
      {"trailing space counts", "Reader B ", -1},
      {"empty text", "", -1},
  };
  for (const Case& c : finds) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(list.IndexOf(c.find), c.want);
  }
  list.SetItemIndex(2);
  EXPECT_EQ(list.ItemIndex(), 2);
  list.SetItemIndex(-1);
  EXPECT_EQ(list.ItemIndex(), -1);
  list.SetItemIndex(7);
  EXPECT_EQ(list.ItemIndex(), -1) << "an index out of range clears the selection";
  UserSelectLine(list, 3);
  EXPECT_EQ(list.ItemIndex(), 3) << "a selection made by the user counts";
  EXPECT_THROW(list.Line(4), EInvalidOperation);
  form->Free();
}

TEST_F(ToolkitTest, EveryClosePathOfAModalFormRunsTheCloseEventOnce) {
  struct Case {
    const char* name;
    void (*close)(TTestForm&);
  };
  const Case cases[] = {
      {"close box", [](TTestForm& f) { UserCloseBox(f); }},
      {"system menu", [](TTestForm& f) { UserSystemMenuClose(f); }},
      {"button calling Close",
       [](TTestForm& f) {
         f.Button->OnClick = TNotifyEvent::Function([&f](TObject*) { f.Close(); });
         UserClick(*f.Button);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Destroyed = 0;
    TTestForm* form = MakeForm();
    Application->ModalDriver = [&](TCustomForm&) { c.close(*form); };
    EXPECT_EQ(form->ShowModal(), mrCancel);
    EXPECT_EQ(form->Closes, 1);
    EXPECT_FALSE(form->Visible());
    EXPECT_EQ(Destroyed, 0) << "the free action only asks for a later release";
    form->Free();
    EXPECT_EQ(Destroyed, 1);
    // The release request died with the form's window: nothing is freed twice.
    Application->ProcessMessages();
    EXPECT_EQ(Destroyed, 1);
  }
}

TEST_F(ToolkitTest, FreeActionOfAModelessFormReleasesItOnALaterTurn) {
  TTestForm* form = MakeForm();
  form->Show();
  form->Close();
  EXPECT_EQ(form->Closes, 1);
  EXPECT_EQ(Destroyed, 0) << "release is deferred";
  Application->ProcessMessages();
  EXPECT_EQ(Destroyed, 1);
}

TEST_F(ToolkitTest, CloseActionNoneKeepsTheModalLoopRunning) {
  TTestForm* form = MakeForm();
  form->CloseAction = caNone;
  form->Button->SetModalResult(mrOk);
  // The close box is refused; a later turn of the loop gets the button's close through.
  auto second = [&](TCustomForm&) {
    form->Button->OnClick = TNotifyEvent::Function([&](TObject*) { form->CloseAction = caHide; });
    UserClick(*form->Button);
  };
  Application->ModalDriver = [&](TCustomForm&) {
    UserCloseBox(*form);
    Application->ModalDriver = second;
    PostWindowMessage(form->WindowHandle(), kCmModalDriver, 0, 0);
  };
  EXPECT_EQ(form->ShowModal(), mrOk);
  EXPECT_EQ(form->Closes, 2);
  form->Free();
  Application->ProcessMessages();
  EXPECT_EQ(Destroyed, 1);
}

TEST_F(ToolkitTest, HandlerFailureIsReportedAndTheLoopGoesOn) {
  TTestForm* form = MakeForm();
  int clicks = 0;
  form->Button->OnClick = TNotifyEvent::Function([&](TObject*) {
    if (++clicks == 1) throw Exception("读卡器库未加载");
    form->Close();
  });
  Application->ModalDriver = [&](TCustomForm&) {
    UserClick(*form->Button);
    UserClick(*form->Button);
  };
  EXPECT_EQ(form->ShowModal(), mrCancel);
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(Reported, std::vector<std::string>{"读卡器库未加载"});
  form->Free();
}

TEST_F(ToolkitTest, FailuresWithoutATextOfTheirOwnAreReportedInChinese) {
  struct Case {
    const char* name;
    std::function<void()> fail;  // in a click handler
    bool endsTheLoop;
    std::string want;
  };
  const Case cases[] = {
      {"out of memory", [] { throw std::bad_alloc(); }, false, "内存不足"},
      {"not an exception", [] { throw 42; }, false, "发生未知错误"},
      {"an exception keeps its own text", [] { throw Exception("读卡器库缺少函数 X"); }, false,
       "读卡器库缺少函数 X"},
#ifdef _WIN32
      // The quit request is passed on to the host's loop and ends the dialog's.
      {"quit request in the modal loop", [] { PostQuitMessage(3); }, true,
       "程序正在退出，对话框已关闭"},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reported.clear();
    TTestForm* form = MakeForm();
    form->Button->OnClick = TNotifyEvent::Function([&](TObject*) { c.fail(); });
    Application->ModalDriver = [&](TCustomForm&) {
      UserClick(*form->Button);
      if (!c.endsTheLoop) form->Close();
    };
    try {
      form->ShowModal();
    } catch (...) {
      Application->HandleException(nullptr);
    }
    EXPECT_EQ(Reported, std::vector<std::string>{c.want});
    form->Free();
#ifdef _WIN32
    // The quit request went on to the thread's own loop; take it so that the next case runs.
    MSG quit;
    while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
#endif
  }
}

TEST_F(ToolkitTest, InputMethodFollowsWhatTheFocusEntryHandlerLeft) {
  Screen->SetImes({"中文 - 测试输入法"});
  TTestForm* form = MakeForm();
  struct Case {
    const char* name;
    std::string nameSet;
    TImeMode modeSet;
    bool activated;
    bool open;
  };
  const Case cases[] = {
      {"installed, opened", "中文 - 测试输入法", imOpen, true, true},
      {"installed, closed", "中文 - 测试输入法", imClose, true, false},
      {"no such input method", "日本語", imOpen, false, false},
  };
  Application->ModalDriver = [&](TCustomForm&) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      form->Edit->SetImeName("英语");
      form->Edit->SetImeMode(imDontCare);
      form->Edit->OnEnter = TNotifyEvent::Function([&](TObject*) {
        form->Edit->SetImeName(c.nameSet);
        form->Edit->SetImeMode(c.modeSet);
      });
      int before = Screen->LastImeActivation().Count;
      UserFocus(*form->List);
      UserFocus(*form->Edit);
      EXPECT_EQ(Screen->LastImeActivation().Count, before + (c.activated ? 1 : 0));
      if (c.activated) {
        EXPECT_EQ(Screen->LastImeActivation().Name, c.nameSet);
        EXPECT_EQ(Screen->LastImeActivation().Open, c.open);
      }
    }
    form->Close();
  };
  form->ShowModal();
  form->Free();
  Screen->SetImes({});
}

TEST_F(ToolkitTest, ModalFormRefusesASecondModalLoop) {
  TTestForm* form = MakeForm();
  Application->ModalDriver = [&](TCustomForm&) {
    Application->ModalDriver = nullptr;
    EXPECT_THROW(form->ShowModal(), EInvalidOperation);
    form->Close();
  };
  form->ShowModal();
  form->Free();
}

// A form as the dialogs lay theirs out: a group holding a list and two buttons whose tab
// orders differ from their creation order, a button on the form after the group, and tab
// stops that cannot take the focus (hidden, disabled).
constexpr TLayoutItem kKeyLayout[] = {
    {.Name = "", .Width = 300, .Height = 200, .Caption = "keys"},
    {.Name = "Close",
     .Class = "TModalSpeedButton",
     .Left = 210,
     .Top = 170,
     .Width = 67,
     .Height = 22,
     .Caption = "关闭",
     .TabOrder = 1,
     .TabStop = true},
    {.Name = "Group",
     .Class = "TXPTolvikGroupBox",
     .Left = 8,
     .Top = 8,
     .Width = 280,
     .Height = 150,
     .TabOrder = 0},
    {.Name = "List",
     .Class = "TXPTolvikListBox",
     .Parent = "Group",
     .Left = 1,
     .Top = 13,
     .Width = 278,
     .Height = 100,
     .TabOrder = 0,
     .ItemHeight = 12},
    {.Name = "Second",
     .Class = "TModalSpeedButton",
     .Parent = "Group",
     .Left = 200,
     .Top = 120,
     .Width = 67,
     .Height = 22,
     .Caption = "测试连接",
     .TabOrder = 2,
     .TabStop = true},
    {.Name = "First",
     .Class = "TModalSpeedButton",
     .Parent = "Group",
     .Left = 120,
     .Top = 120,
     .Width = 67,
     .Height = 22,
     .Caption = "选择",
     .TabOrder = 1,
     .TabStop = true},
    {.Name = "Hidden",
     .Class = "TModalSpeedButton",
     .Parent = "Group",
     .Left = 10,
     .Top = 120,
     .Width = 40,
     .Height = 22,
     .Caption = "隐藏",
     .Visible = false,
     .TabOrder = 3,
     .TabStop = true},
    {.Name = "Disabled",
     .Class = "TModalSpeedButton",
     .Parent = "Group",
     .Left = 60,
     .Top = 120,
     .Width = 40,
     .Height = 22,
     .Caption = "停用",
     .Enabled = false,
     .TabOrder = 4,
     .TabStop = true},
};

// A form that counts the clicks of its buttons and the keys that reach its own handler.
class TKeyForm : public TForm {
 public:
  explicit TKeyForm(TComponent* owner) : TForm(owner) {
    ApplyLayout(kKeyLayout);
    Bind(List, "List");
    Bind(First, "First");
    Bind(Second, "Second");
    Bind(CloseButton, "Close");
    List->SetText("A\r\nB\r\nC\r\nD\r\nE");
    for (TModalSpeedButton* b : {First, Second, CloseButton}) {
      b->OnClick = TNotifyEvent::Function([this, b](TObject*) { Clicked.push_back(b->Name()); });
    }
  }
  const char* ClassName() const override { return "TKeyForm"; }
  void FormKeyDown(TObject* Sender, uint16_t& Key, TShiftState Shift) override {
    TForm::FormKeyDown(Sender, Key, Shift);
    KeysSeen.push_back(Key);
  }
  void FormClose(TObject* Sender, TCloseAction& Action) override {
    TForm::FormClose(Sender, Action);
    ++Closes;
  }
  std::string FocusName() const {
    for (TWinControl* c :
         {static_cast<TWinControl*>(List), static_cast<TWinControl*>(First),
          static_cast<TWinControl*>(Second), static_cast<TWinControl*>(CloseButton)}) {
      if (c->Focused()) return c->Name();
    }
    return "(none)";
  }

  TXPTolvikListBox* List = nullptr;
  TModalSpeedButton* First = nullptr;
  TModalSpeedButton* Second = nullptr;
  TModalSpeedButton* CloseButton = nullptr;
  std::vector<std::string> Clicked;
  std::vector<uint16_t> KeysSeen;
  int Closes = 0;
};

using Names = std::vector<std::string>;

TEST_F(ToolkitTest, TabAndShiftTabFollowTheTabOrdersFromTheListAtOpen) {
  auto* form = NewForm<TKeyForm>(Application);
  Names forward, backward;
  std::string atOpen;
  Application->ModalDriver = [&](TCustomForm&) {
    atOpen = form->FocusName();
    for (int i = 0; i < 4; ++i) {
      UserTypeKey(*form, kVkTab);
      forward.push_back(form->FocusName());
    }
    for (int i = 0; i < 4; ++i) {
      UserTypeKey(*form, kVkTab, ssShift);
      backward.push_back(form->FocusName());
    }
    UserCloseBox(*form);
  };
  form->ShowModal();
  EXPECT_EQ(atOpen, "List");
  // Inside the group by the group's own tab orders, then the form's next control; hidden
  // and disabled tab stops are passed over.
  EXPECT_EQ(forward, (Names{"First", "Second", "Close", "List"}));
  EXPECT_EQ(backward, (Names{"Close", "Second", "First", "List"}));
  EXPECT_TRUE(form->Clicked.empty()) << "moving the focus presses nothing";
  form->Free();
}

TEST_F(ToolkitTest, EnterSpaceEscAndAltF4AsInEveryDialog) {
  struct Case {
    const char* name;
    int tabs;  // Tab presses from the list before the key
    uint16_t key;
    TShiftState shift;
    Names clicked;
    bool closed;
  };
  const Case cases[] = {
      {"Enter presses the focused button", 1, kVkReturn, 0, {"First"}, false},
      {"Space presses the focused button", 2, kVkSpace, 0, {"Second"}, false},
      {"Enter on the list presses nothing", 0, kVkReturn, 0, {}, false},
      {"Space on the list presses nothing", 0, kVkSpace, 0, {}, false},
      {"Esc closes through the close path", 1, kVkEscape, 0, {}, true},
      {"Alt+F4 closes through the close path", 2, kVkF4, ssAlt, {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto* form = NewForm<TKeyForm>(Application);
    bool openAfterKey = false;
    Application->ModalDriver = [&](TCustomForm&) {
      for (int i = 0; i < c.tabs; ++i) UserTypeKey(*form, kVkTab);
      UserTypeKey(*form, c.key, c.shift);
      openAfterKey = form->ModalResult() == mrNone;
      if (openAfterKey) UserCloseBox(*form);
    };
    EXPECT_EQ(form->ShowModal(), mrCancel);
    EXPECT_EQ(form->Clicked, c.clicked);
    EXPECT_EQ(openAfterKey, !c.closed);
    EXPECT_EQ(form->Closes, 1) << "the close event runs once, whichever way it closed";
    form->Free();
  }
}

TEST_F(ToolkitTest, NavigationKeysMoveTheListSelection) {
  struct Case {
    const char* name;
    uint16_t key;
    int want;  // from line 2 of five, all on one page
  };
  const Case cases[] = {
      {"Up", kVkUp, 1},   {"Down", kVkDown, 3},     {"Home", kVkHome, 0},
      {"End", kVkEnd, 4}, {"Page Up", kVkPrior, 0}, {"Page Down", kVkNext, 4},
  };
  auto* form = NewForm<TKeyForm>(Application);
  Application->ModalDriver = [&](TCustomForm&) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      UserSelectLine(*form->List, 2);
      UserTypeKey(*form, c.key);
      EXPECT_EQ(form->List->ItemIndex(), c.want);
      EXPECT_EQ(form->FocusName(), "List");
    }
    UserCloseBox(*form);
  };
  form->ShowModal();
  form->Free();
}

TEST_F(ToolkitTest, F1TypedInAControlReachesTheFormsKeyHandling) {
  auto* form = NewForm<TKeyForm>(Application);
  Application->ModalDriver = [&](TCustomForm&) {
    UserTypeKey(*form, kVkF1);  // the list has the focus
    UserTypeKey(*form, kVkTab);
    UserTypeKey(*form, kVkF1, ssShift);  // a button has it
    UserCloseBox(*form);
  };
  form->ShowModal();
  EXPECT_EQ(form->KeysSeen, (std::vector<uint16_t>{kVkF1, kVkF1}));
  form->Free();
}

TEST_F(ToolkitTest, AClickWhileAClickHandlerRunsIsNotHandledNested) {
  auto* form = NewForm<TKeyForm>(Application);
  // The handler of one button is still running (it would be showing a message) when the
  // user clicks another.
  form->First->OnClick = TNotifyEvent::Function([&](TObject*) {
    form->Clicked.push_back("First");
    UserClick(*form->Second);
    form->Clicked.push_back("First done");
  });
  Application->ModalDriver = [&](TCustomForm&) {
    UserClick(*form->First);
    UserClick(*form->Second);  // once the handler is done, clicks work again
    UserCloseBox(*form);
  };
  form->ShowModal();
  EXPECT_EQ(form->Clicked, (Names{"First", "First done", "Second"}));
  form->Free();
}

TEST_F(ToolkitTest, WaitCursorIsPutBackOnEveryPath) {
  struct Case {
    const char* name;
    void (*body)();
  };
  const Case cases[] = {
      {"normal end", [] { const TWaitCursor wait; }},
      {"exception",
       [] {
         try {
           const TWaitCursor wait;
           throw Exception("读卡器库未加载");
         } catch (const Exception&) {
         }
       }},
      {"nested",
       [] {
         const TWaitCursor outer;
         { const TWaitCursor inner; }
         EXPECT_EQ(Screen->Cursor(), TCursor::crHourGlass) << "the inner one puts back the outer's";
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int before = Screen->WaitCursorCount();
    c.body();
    EXPECT_EQ(Screen->Cursor(), TCursor::crDefault);
    EXPECT_GT(Screen->WaitCursorCount(), before);
  }
}

TEST_F(ToolkitTest, TextAndWhatLiesBehindItComeFromOneSource) {
  // A skinned form: the skin's background and font colour, a top bar of the skin with a
  // transparent prompt in a system colour, a disabled mark on the form. The list and the
  // edit keep the system's window colour, the button the form's.
  TTestForm* form = MakeForm();
  form->SetColor(0xF7EFE6);
  form->Font().SetColor(0x102030);
  auto* bar = new TPanel(form);
  bar->SetParent(form);
  bar->SetColor(0xA0602C);
  auto* prompt = new TLabel(form);
  prompt->SetParent(bar);
  prompt->SetTransparent(true);
  prompt->Font().SetColor(clWindow);
  auto* mark = new TLabel(form);
  mark->SetParent(form);
  mark->SetEnabled(false);
  struct Case {
    const char* name;
    const TControl* control;
    TColor systemBack;
    bool highContrast;
    TTextColors want;
  };
  const Case cases[] = {
      {"list: the system's window, its text",
       form->List,
       clWindow,
       false,
       {clWindow, clWindowText}},
      {"edit: the same", form->Edit, clWindow, false, {clWindow, clWindowText}},
      {"button on the skin: the skin's text", form->Button, clBtnFace, false, {0xF7EFE6, 0x102030}},
      {"prompt on the top bar: its system colour as designed",
       prompt,
       clBtnFace,
       false,
       {0xA0602C, 0xFFFFFF}},
      {"disabled on the skin: grey as designed", mark, clBtnFace, false, {0xF7EFE6, 0x808080}},
      {"High Contrast, list", form->List, clWindow, true, {clWindow, clWindowText}},
      {"High Contrast, form", form, clBtnFace, true, {clBtnFace, clBtnText}},
      {"High Contrast, button", form->Button, clBtnFace, true, {clBtnFace, clBtnText}},
      {"High Contrast, prompt", prompt, clBtnFace, true, {clBtnFace, clBtnText}},
      {"High Contrast, disabled", mark, clBtnFace, true, {clBtnFace, clGrayText}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TTextColors got = TextColors(*c.control, c.systemBack, c.highContrast);
    EXPECT_EQ(got.Back, c.want.Back);
    EXPECT_EQ(got.Text, c.want.Text);
  }
  // Whatever the layouts and the skin give a control, its text and background are both
  // system colours or both fixed ones, and on a system colour the text is the system's pair.
  const TColor colours[] = {clWindow,     clBtnFace, clHighlight, clInfoBk, clBackground,
                            clWindowText, 0x000000,  0xFFFFFF,    0xF7EFE6};
  for (TColor back : colours) {
    for (TColor text : colours) {
      for (bool highContrast : {false, true}) {
        form->List->SetColor(back);
        form->List->Font().SetColor(text);
        const TTextColors got = TextColors(*form->List, clWindow, highContrast);
        EXPECT_EQ(IsSystemColor(got.Back), IsSystemColor(got.Text))
            << std::hex << back << " " << text << " " << highContrast;
        if (IsSystemColor(got.Back)) {
          EXPECT_EQ(got.Text, SystemTextColorFor(got.Back));
        }
      }
    }
  }
  form->Free();
}

}  // namespace
