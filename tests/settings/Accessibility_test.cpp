// The reader settings dialog as a screen reader meets it: an assistive tool on another
// thread (its own COM apartment, as in another process) reads the tree through
// AccessibleObjectFromWindow, a WinEvent hook records what the dialog announces while keys
// are typed, and the tool presses a button through its default action.
#include <windows.h>

#include <gtest/gtest.h>
#include <oleacc.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ReaderDialogWorld.h"
#include "WaitForBox_win.h"
#include "toolkit/UserInput.h"
#include "toolkit/win32/Accessible_win.h"

namespace {

using Lines = std::vector<std::string>;

HWND Hwnd(const TControl& c) { return reinterpret_cast<HWND>(c.Handle()); }

std::wstring RoleText(long role) {
  switch (role) {
    case ROLE_SYSTEM_DIALOG:
      return L"dialog";
    case ROLE_SYSTEM_PUSHBUTTON:
      return L"push button";
    case ROLE_SYSTEM_LIST:
      return L"list";
    case ROLE_SYSTEM_LISTITEM:
      return L"list item";
    case ROLE_SYSTEM_STATICTEXT:
      return L"static text";
    case ROLE_SYSTEM_GROUPING:
      return L"grouping";
    case ROLE_SYSTEM_SEPARATOR:
      return L"separator";
    case ROLE_SYSTEM_GRAPHIC:
      return L"graphic";
    case ROLE_SYSTEM_CLIENT:
      return L"client";
    default:
      return L"role " + std::to_wstring(role);
  }
}

std::wstring StateText(long state) {
  struct Flag {
    long bit;
    const wchar_t* name;
  };
  const Flag flags[] = {
      {STATE_SYSTEM_UNAVAILABLE, L"unavailable"}, {STATE_SYSTEM_SELECTED, L"selected"},
      {STATE_SYSTEM_FOCUSED, L"focused"},         {STATE_SYSTEM_DEFAULT, L"default"},
      {STATE_SYSTEM_READONLY, L"readonly"},       {STATE_SYSTEM_INVISIBLE, L"invisible"},
      {STATE_SYSTEM_OFFSCREEN, L"offscreen"},     {STATE_SYSTEM_FOCUSABLE, L"focusable"},
      {STATE_SYSTEM_SELECTABLE, L"selectable"},
  };
  std::wstring text;
  for (const Flag& f : flags) {
    if ((state & f.bit) == 0) continue;
    if (!text.empty()) text += L",";
    text += f.name;
  }
  return text;
}

std::wstring TakeBstr(BSTR s) {
  std::wstring text = s != nullptr ? std::wstring(s, SysStringLen(s)) : std::wstring();
  SysFreeString(s);
  return text;
}

// What a screen reader reads of one object or one of its simple children:
// "role|name|states|default action".
std::wstring Describe(IAccessible* acc, long child) {
  VARIANT id;
  VariantInit(&id);
  id.vt = VT_I4;
  id.lVal = child;
  VARIANT role, state;
  VariantInit(&role);
  VariantInit(&state);
  BSTR name = nullptr, action = nullptr;
  acc->get_accRole(id, &role);
  acc->get_accState(id, &state);
  acc->get_accName(id, &name);
  acc->get_accDefaultAction(id, &action);
  return RoleText(role.vt == VT_I4 ? role.lVal : -1) + L"|" + TakeBstr(name) + L"|" +
         StateText(state.vt == VT_I4 ? state.lVal : 0) + L"|" + TakeBstr(action);
}

// The tree under acc, depth first, one line per object or simple child, indented by depth.
void ReadTree(IAccessible* acc, int depth, std::vector<std::wstring>& out) {
  const std::wstring indent(static_cast<size_t>(depth) * 2, L' ');
  out.push_back(indent + Describe(acc, CHILDID_SELF));
  long count = 0;
  acc->get_accChildCount(&count);
  for (long i = 1; i <= count; ++i) {
    VARIANT id;
    VariantInit(&id);
    id.vt = VT_I4;
    id.lVal = i;
    IDispatch* dispatch = nullptr;
    const HRESULT hr = acc->get_accChild(id, &dispatch);
    IAccessible* child = nullptr;
    if (hr == S_OK && dispatch != nullptr &&
        dispatch->QueryInterface(__uuidof(IAccessible), reinterpret_cast<void**>(&child)) == S_OK) {
      ReadTree(child, depth + 1, out);
      child->Release();
    } else {
      out.push_back(indent + L"  " + Describe(acc, i));
    }
    if (dispatch != nullptr) dispatch->Release();
  }
}

IAccessible* ObjectOf(HWND hwnd) {
  IAccessible* acc = nullptr;
  if (FAILED(AccessibleObjectFromWindow(hwnd, static_cast<DWORD>(OBJID_CLIENT),
                                        __uuidof(IAccessible), reinterpret_cast<void**>(&acc))))
    return nullptr;
  return acc;
}

// Handles the dialog's messages until done is set (the assistive tool's calls arrive as
// messages), at most 20 seconds.
void PumpUntil(const std::atomic<bool>& done) {
  const ULONGLONG end = GetTickCount64() + 20000;
  while (!done && GetTickCount64() < end) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    Application->ProcessMessages();
  }
}

// Runs work on a thread of the assistive tool (multithreaded COM apartment) while this
// thread keeps the dialog answering.
void AsAssistiveTool(const std::function<void()>& work) {
  std::atomic<bool> done = false;
  std::thread tool([&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    work();
    CoUninitialize();
    done = true;
  });
  PumpUntil(done);
  tool.join();
}

std::vector<std::wstring> TreeOf(HWND window) {
  std::vector<std::wstring> tree;
  AsAssistiveTool([&] {
    if (IAccessible* acc = ObjectOf(window)) {
      ReadTree(acc, 0, tree);
      acc->Release();
    }
  });
  return tree;
}

std::string Utf8(const std::wstring& w) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                      nullptr);
  return s;
}

// The WinEvents of this process, as a screen reader receives them (out of context: at the
// next message this thread takes).
class TWinEventRecorder {
 public:
  TWinEventRecorder() {
    gRecorder = this;
    FHook = SetWinEventHook(EVENT_MIN, EVENT_MAX, nullptr, &Callback, GetCurrentProcessId(), 0,
                            WINEVENT_OUTOFCONTEXT);
  }
  ~TWinEventRecorder() {
    UnhookWinEvent(FHook);
    gRecorder = nullptr;
  }
  TWinEventRecorder(const TWinEventRecorder&) = delete;
  TWinEventRecorder& operator=(const TWinEventRecorder&) = delete;

  struct TEvent {
    DWORD Event;
    HWND Hwnd;
    LONG Object, Child;
  };
  // The recorded events of the given kinds, described as the tool reads their objects, and
  // forgotten.
  std::vector<std::wstring> Take(std::initializer_list<DWORD> kinds) {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
    std::vector<TEvent> wanted;
    for (const TEvent& e : FEvents) {
      for (DWORD k : kinds) {
        if (e.Event == k) wanted.push_back(e);
      }
    }
    FEvents.clear();
    std::vector<std::wstring> described;
    AsAssistiveTool([&] {
      for (const TEvent& e : wanted) {
        const wchar_t* kind = e.Event == EVENT_OBJECT_FOCUS       ? L"focus"
                              : e.Event == EVENT_OBJECT_SELECTION ? L"selection"
                                                                  : L"dialog start";
        std::wstring what;
        if (e.Event == EVENT_SYSTEM_DIALOGSTART) {
          wchar_t cls[64] = {};
          GetClassNameW(e.Hwnd, cls, 64);
          what = cls;
        } else {
          IAccessible* acc = nullptr;
          VARIANT child;
          VariantInit(&child);
          what = L"(no object)";
          if (AccessibleObjectFromEvent(e.Hwnd, static_cast<DWORD>(e.Object),
                                        static_cast<DWORD>(e.Child), &acc, &child) == S_OK) {
            what = Describe(acc, child.vt == VT_I4 ? child.lVal : CHILDID_SELF);
            acc->Release();
          }
        }
        described.push_back(std::wstring(kind) + L" " + what);
      }
    });
    return described;
  }

 private:
  static void CALLBACK Callback(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child,
                                DWORD, DWORD) {
    if (gRecorder != nullptr) gRecorder->FEvents.push_back({event, hwnd, object, child});
  }
  static inline TWinEventRecorder* gRecorder = nullptr;
  HWINEVENTHOOK FHook = nullptr;
  std::vector<TEvent> FEvents;
};

// The two readers of every test, the second one the current reader.
void InstallTwoReaders(TReaderDialogWorld& world) {
  world.InstallReader("lurmScard_old.dll", {"reader=ACS 0", "reader=ACS 1"});
  world.AddParam("Global_nuvreader", "ACS 1");
  world.Open();
}

const wchar_t* const kFocusableButton = L"focusable|按下";

TEST(ReaderDialogAccessibility, TheToolReadsTheDialogAsItIs) {
  TReaderDialogWorld world;
  InstallTwoReaders(world);
  std::vector<std::wstring> tree;
  world.Run([&](Tfrm_option& dlg) { tree = TreeOf(Hwnd(dlg)); });
  // Decorations (the top panel, the group box, the footer line, the product mark) are not
  // in it; what they hold is.
  const std::vector<std::wstring> want = {
      L"dialog|读卡器设置|focusable|",
      L"  static text|请选择读卡器|readonly|",
      L"  push button|关闭|" + std::wstring(kFocusableButton),
      L"  list|请选择读卡器|focused,focusable|",
      L"    list item|ACS 0|focusable,selectable|",
      L"    list item|ACS 1|selected,focused,focusable,selectable|",
      L"  push button|选择|" + std::wstring(kFocusableButton),
      L"  push button|测试连接|" + std::wstring(kFocusableButton),
  };
  EXPECT_EQ(tree, want);
  std::printf("The dialog as a screen reader reads it (role|name|states|default action):\n");
  for (const std::wstring& line : tree) std::printf("  %s\n", Utf8(line).c_str());
}

TEST(ReaderDialogAccessibility, AnObjectKeptPastItsWindowAnswersDisconnectedAndReleases) {
  // A client on the dialog's own thread holds the object itself, not a proxy that
  // disconnecting cuts. Once the object's window is forgotten, even while a live control
  // of ours has that handle (as a later window that reuses the value would), every call
  // says the object is disconnected, and the client can still release it.
  TReaderDialogWorld world;
  InstallTwoReaders(world);
  world.Run([&](Tfrm_option& dlg) {
    const HWND list = Hwnd(*dlg.ListBox);
    IAccessible* kept = ObjectOf(list);
    ASSERT_NE(kept, nullptr);
    long count = -1;
    ASSERT_EQ(kept->get_accChildCount(&count), S_OK);
    EXPECT_EQ(count, 2);
    ForgetAccessible(list);
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    VARIANT line{};
    line.vt = VT_I4;
    line.lVal = 1;
    BSTR name = nullptr;
    VARIANT role{};
    EXPECT_EQ(kept->get_accChildCount(&count), CO_E_OBJNOTCONNECTED);
    EXPECT_EQ(kept->get_accName(line, &name), CO_E_OBJNOTCONNECTED);
    EXPECT_EQ(kept->get_accRole(self, &role), CO_E_OBJNOTCONNECTED);
    EXPECT_EQ(kept->accDoDefaultAction(line), CO_E_OBJNOTCONNECTED);
    EXPECT_EQ(kept->Release(), 0u);
    // The window answers a new client with a new object.
    IAccessible* fresh = ObjectOf(list);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->get_accChildCount(&count), S_OK);
    fresh->Release();
  });
}

TEST(ReaderDialogAccessibility, EveryWindowSaysWhatItIsAndDecorationsAreNotFocusable) {
  // The windows' own objects; the labels, bevels and shapes have no windows (below).
  struct Case {
    const char* name;
    std::function<TControl*(Tfrm_option&)> control;
    std::wstring want;
  };
  const Case cases[] = {
      {"form", [](Tfrm_option& d) -> TControl* { return &d; }, L"dialog|读卡器设置|focusable|"},
      {"btn_reader", [](Tfrm_option& d) -> TControl* { return d.btn_reader; },
       L"push button|选择|" + std::wstring(kFocusableButton)},
      {"sBtnClose", [](Tfrm_option& d) -> TControl* { return d.sBtnClose; },
       L"push button|关闭|" + std::wstring(kFocusableButton)},
      {"ListBox", [](Tfrm_option& d) -> TControl* { return d.ListBox; },
       L"list|请选择读卡器|focused,focusable|"},
      {"pnlTop", [](Tfrm_option& d) -> TControl* { return d.pnlTop; }, L"grouping||invisible|"},
      {"XPTolvikGroupBox1", [](Tfrm_option& d) -> TControl* { return d.XPTolvikGroupBox1; },
       L"grouping||invisible|"},
  };
  TReaderDialogWorld world;
  InstallTwoReaders(world);
  std::vector<std::wstring> got(std::size(cases));
  world.Run([&](Tfrm_option& dlg) {
    std::vector<HWND> windows;
    for (const Case& c : cases) windows.push_back(Hwnd(*c.control(dlg)));
    AsAssistiveTool([&] {
      for (size_t i = 0; i < windows.size(); ++i) {
        if (IAccessible* acc = ObjectOf(windows[i])) {
          got[i] = Describe(acc, CHILDID_SELF);
          acc->Release();
        }
      }
    });
  });
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(got[i], cases[i].want);
  }
}

// (The tree above shows that the ornaments are not read at all.)
TEST(ReaderDialogAccessibility, TheHeaderIsReadWhereItIsDrawn) {
  TReaderDialogWorld world;
  InstallTwoReaders(world);
  RECT header{}, panel{}, location{};
  std::wstring hit, read;
  world.Run([&](Tfrm_option& dlg) {
    // The prompt, the footer mark, the line and the bevel have no windows of their own.
    EXPECT_FALSE(dlg.lbBusinessName->HandleAllocated());
    EXPECT_FALSE(dlg.VELTA->HandleAllocated());
    EXPECT_FALSE(dlg.Shape1->HandleAllocated());
    EXPECT_FALSE(dlg.Bevel1->HandleAllocated());
    const HWND form = Hwnd(dlg);
    GetWindowRect(Hwnd(*dlg.pnlTop), &panel);
    AsAssistiveTool([&] {
      IAccessible* acc = ObjectOf(form);
      if (acc == nullptr) return;
      // The prompt is the first child, a simple element of the dialog's object.
      VARIANT first;
      VariantInit(&first);
      first.vt = VT_I4;
      first.lVal = 1;
      read = Describe(acc, 1);
      long x = 0, y = 0, w = 0, h = 0;
      acc->accLocation(&x, &y, &w, &h, first);
      location = RECT{x, y, x + w, y + h};
      // A point inside the prompt hits it.
      VARIANT at;
      VariantInit(&at);
      if (acc->accHitTest(x + w / 2, y + h / 2, &at) == S_OK && at.vt == VT_I4)
        hit = Describe(acc, at.lVal);
      VariantClear(&at);
      acc->Release();
    });
    header = location;
  });
  EXPECT_EQ(read, L"static text|请选择读卡器|readonly|");
  EXPECT_EQ(hit, read);
  // Drawn on the top panel at 15,10 (96 dpi), and as wide as its text at least.
  EXPECT_GT(header.left, panel.left);
  EXPECT_GT(header.top, panel.top);
  EXPECT_LE(header.bottom, panel.bottom);
  EXPECT_GE(header.right - header.left, 6 * 12) << "six characters of the 16-pixel face";
}

TEST(ReaderDialogAccessibility, NavigationFollowsTheReadOrder) {
  struct Case {
    const char* name;
    std::function<TControl*(Tfrm_option&)> from;
    long start, direction;
    std::wstring want;  // what the tool reads where it lands; empty: nowhere
  };
  const Case cases[] = {
      {"dialog, first child", [](Tfrm_option& d) -> TControl* { return &d; }, CHILDID_SELF,
       NAVDIR_FIRSTCHILD, L"static text|请选择读卡器|readonly|"},
      {"dialog, last child", [](Tfrm_option& d) -> TControl* { return &d; }, CHILDID_SELF,
       NAVDIR_LASTCHILD, L"push button|测试连接|focusable|按下"},
      {"list, first line", [](Tfrm_option& d) -> TControl* { return d.ListBox; }, CHILDID_SELF,
       NAVDIR_FIRSTCHILD, L"list item|ACS 0|focusable,selectable|"},
      {"line after the first", [](Tfrm_option& d) -> TControl* { return d.ListBox; }, 1,
       NAVDIR_NEXT, L"list item|ACS 1|selected,focused,focusable,selectable|"},
      {"no line after the last", [](Tfrm_option& d) -> TControl* { return d.ListBox; }, 2,
       NAVDIR_NEXT, L""},
      // The group box is no stop: from the list's neighbour "关闭" back over the frame.
      {"before the list", [](Tfrm_option& d) -> TControl* { return d.ListBox; }, CHILDID_SELF,
       NAVDIR_PREVIOUS, L"push button|关闭|focusable|按下"},
      {"after 选择", [](Tfrm_option& d) -> TControl* { return d.btn_reader; }, CHILDID_SELF,
       NAVDIR_NEXT, L"push button|测试连接|focusable|按下"},
  };
  TReaderDialogWorld world;
  InstallTwoReaders(world);
  std::vector<std::wstring> got(std::size(cases));
  world.Run([&](Tfrm_option& dlg) {
    std::vector<HWND> windows;
    for (const Case& c : cases) windows.push_back(Hwnd(*c.from(dlg)));
    AsAssistiveTool([&] {
      for (size_t i = 0; i < windows.size(); ++i) {
        IAccessible* acc = ObjectOf(windows[i]);
        if (acc == nullptr) continue;
        VARIANT start, end;
        VariantInit(&start);
        VariantInit(&end);
        start.vt = VT_I4;
        start.lVal = cases[i].start;
        if (acc->accNavigate(cases[i].direction, start, &end) == S_OK) {
          if (end.vt == VT_I4) got[i] = Describe(acc, end.lVal);
          IAccessible* to = nullptr;
          if (end.vt == VT_DISPATCH &&
              end.pdispVal->QueryInterface(__uuidof(IAccessible), reinterpret_cast<void**>(&to)) ==
                  S_OK) {
            got[i] = Describe(to, CHILDID_SELF);
            to->Release();
          }
        }
        VariantClear(&end);
        acc->Release();
      }
    });
  });
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(got[i], cases[i].want);
  }
}

TEST(ReaderDialogAccessibility, FocusAndSelectionEventsFollowTheKeyboard) {
  struct Step {
    const char* name;
    uint16_t key;
    TShiftState shift;
    std::vector<std::wstring> want;
  };
  const std::wstring list = L"list|请选择读卡器|focused,focusable|";
  const std::wstring line0 = L"list item|ACS 0|selected,focused,focusable,selectable|";
  const std::wstring line1 = L"list item|ACS 1|selected,focused,focusable,selectable|";
  const std::wstring focusedButton = L"focused,default,focusable|按下";
  const Step steps[] = {
      {"Tab", kVkTab, 0, {L"focus push button|选择|" + focusedButton}},
      {"Tab", kVkTab, 0, {L"focus push button|测试连接|" + focusedButton}},
      {"Tab", kVkTab, 0, {L"focus push button|关闭|" + focusedButton}},
      {"Tab back to the list", kVkTab, 0, {L"focus " + list, L"focus " + line1}},
      {"Up", kVkUp, 0, {L"selection " + line0, L"focus " + line0}},
      {"Up at the top", kVkUp, 0, {}},
      {"Down", kVkDown, 0, {L"selection " + line1, L"focus " + line1}},
      {"Shift+Tab", kVkTab, ssShift, {L"focus push button|关闭|" + focusedButton}},
      {"Shift+Tab", kVkTab, ssShift, {L"focus push button|测试连接|" + focusedButton}},
  };
  TReaderDialogWorld world;
  InstallTwoReaders(world);
  TWinEventRecorder recorder;
  std::vector<std::wstring> atOpen;
  std::vector<std::vector<std::wstring>> got;
  world.Run([&](Tfrm_option& dlg) {
    atOpen = recorder.Take({EVENT_OBJECT_FOCUS, EVENT_SYSTEM_DIALOGSTART});
    for (const Step& s : steps) {
      UserTypeKey(dlg, s.key, s.shift);
      got.push_back(recorder.Take({EVENT_OBJECT_FOCUS, EVENT_OBJECT_SELECTION}));
    }
  });
  // At open the focus lands on the list at once, then on its selected line; the dialog
  // says it started.
  EXPECT_EQ(atOpen, (std::vector<std::wstring>{L"focus " + list, L"focus " + line1,
                                               L"dialog start Tfrm_option"}));
  std::printf("Events at open:\n");
  for (const std::wstring& e : atOpen) std::printf("  %s\n", Utf8(e).c_str());
  ASSERT_EQ(got.size(), std::size(steps));
  for (size_t i = 0; i < std::size(steps); ++i) {
    SCOPED_TRACE(steps[i].name);
    EXPECT_EQ(got[i], steps[i].want);
    std::printf("%s:\n", steps[i].name);
    for (const std::wstring& e : got[i]) std::printf("  %s\n", Utf8(e).c_str());
  }
}

TEST(ReaderDialogAccessibility, DefaultActionClicksAsTheMouseDoesAndIsRefusedWithoutInput) {
  enum class TWhen { Idle, UnderMessageBox, HandlerRunning };
  struct Case {
    const char* name;
    TWhen when;
    HRESULT wantResult;
    std::wstring wantState;
    std::vector<TShownMessage> wantMessages;
  };
  const Case cases[] = {
      {"idle", TWhen::Idle, S_OK, L"focusable", {{70000527, "ACS 1"}}},
      // The dialog disabled as a message box over it disables it.
      {"under a message box", TWhen::UnderMessageBox, E_FAIL, L"unavailable,focusable", {}},
      {"while a handler of the dialog runs", TWhen::HandlerRunning, E_FAIL, L"focusable", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TReaderDialogWorld world;
    InstallTwoReaders(world);
    HRESULT result = E_UNEXPECTED;
    std::wstring state;
    world.Run([&](Tfrm_option& dlg) {
      HWND button = Hwnd(*dlg.btn_reader);
      // The tool reads "选择" and presses it; the click arrives as a message.
      auto press = [&] {
        AsAssistiveTool([&] {
          if (IAccessible* acc = ObjectOf(button)) {
            VARIANT self;
            VariantInit(&self);
            self.vt = VT_I4;
            self.lVal = CHILDID_SELF;
            VARIANT s;
            VariantInit(&s);
            acc->get_accState(self, &s);
            state = StateText(s.lVal);
            result = acc->accDoDefaultAction(self);
            acc->Release();
          }
        });
        Application->ProcessMessages();
      };
      switch (c.when) {
        case TWhen::Idle:
          press();
          break;
        case TWhen::UnderMessageBox:
          EnableWindow(Hwnd(dlg), FALSE);
          press();
          EnableWindow(Hwnd(dlg), TRUE);
          break;
        case TWhen::HandlerRunning:
          dlg.btn_connect->OnClick = TNotifyEvent::Function([&](TObject*) { press(); });
          UserClick(*dlg.btn_connect);
          break;
      }
      Application->ProcessMessages();
    });
    EXPECT_EQ(result, c.wantResult);
    EXPECT_EQ(state, c.wantState);
    EXPECT_EQ(world.Messages(), c.wantMessages);
    EXPECT_TRUE(world.Errors().empty());
  }
}

// A host message box over the dialog: the tool, while the box is up, reads the buttons as
// unavailable and cannot press them; once the box is gone they are available again.
TEST(ReaderDialogAccessibility, UnderAHostMessageBoxTheButtonsAreUnavailable) {
  TReaderDialogWorld world;
  world.InstallReader("lurmScard_old.dll", {"reader=ACS 0", "connect=0 ACS 0"});
  world.AddParam("Global_nuvreader", "ACS 0");
  world.Open(true);  // the host shows its messages in message boxes
  std::wstring stateUnderBox, stateAfter;
  HRESULT pressUnderBox = E_UNEXPECTED;
  bool boxSeen = false;
  world.Run([&](Tfrm_option& dlg) {
    HWND reader = Hwnd(*dlg.btn_reader);
    auto read = [&](IAccessible* acc) {
      VARIANT self, state;
      VariantInit(&self);
      VariantInit(&state);
      self.vt = VT_I4;
      self.lVal = CHILDID_SELF;
      acc->get_accState(self, &state);
      return StateText(state.lVal);
    };
    // The tool works while "测试连接"'s handler waits for the operator to dismiss its box.
    std::thread tool([&] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      HWND box = WaitForMessageBox();
      if (box != nullptr) {
        boxSeen = true;
        if (IAccessible* acc = ObjectOf(reader)) {
          stateUnderBox = read(acc);
          VARIANT self;
          VariantInit(&self);
          self.vt = VT_I4;
          self.lVal = CHILDID_SELF;
          pressUnderBox = acc->accDoDefaultAction(self);
          acc->Release();
        }
        PostMessageW(box, WM_COMMAND, IDOK, 0);
      }
      CoUninitialize();
    });
    UserClick(*dlg.btn_connect);  // returns once the box is dismissed
    tool.join();
    Application->ProcessMessages();
    AsAssistiveTool([&] {
      if (IAccessible* acc = ObjectOf(reader)) {
        stateAfter = read(acc);
        acc->Release();
      }
    });
  });
  EXPECT_TRUE(boxSeen);
  EXPECT_EQ(stateUnderBox, L"unavailable,focusable");
  EXPECT_EQ(pressUnderBox, E_FAIL);
  EXPECT_EQ(stateAfter, L"focusable");
  // "选择" was never pressed: nothing stored.
  EXPECT_EQ(world.StoredReader(), "(none)");
  EXPECT_EQ(world.Calls(),
            (Lines{"SCListReaders zeroed=1", "SCConnectReader name=ACS 0", "SCDisConnectReader"}));
}

// The host's thread before the call: no COM, a single-threaded apartment, or the
// multithreaded one. After the call it is as before, also when a screen reader was served.
TEST(ReaderDialogAccessibility, TheHostThreadsComStateIsAsTheModuleFoundIt) {
  struct Case {
    const char* name;
    bool initialise;
    DWORD model;
    std::wstring wantDialog;  // what the tool reads of the form meanwhile
  };
  const Case cases[] = {
      {"no COM", false, 0, L"dialog|读卡器设置|focusable|"},
      {"single-threaded", true, COINIT_APARTMENTTHREADED, L"dialog|读卡器设置|focusable|"},
      // Our objects are not for callers on any thread: the system's standard object.
      {"multithreaded", true, COINIT_MULTITHREADED, L"client|读卡器设置|focusable|"},
  };
  auto apartment = [] {
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    const HRESULT hr = CoGetApartmentType(&type, &qualifier);
    return hr == S_OK ? static_cast<int>(type) : -1;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.initialise) {
      ASSERT_EQ(CoInitializeEx(nullptr, c.model), S_OK);
    }
    const int before = apartment();
    TReaderDialogWorld world;
    InstallTwoReaders(world);
    std::wstring dialog;
    int during = -2;
    world.Run([&](Tfrm_option& dlg) {
      AsAssistiveTool([&] {
        if (IAccessible* acc = ObjectOf(Hwnd(dlg))) {
          dialog = Describe(acc, CHILDID_SELF);
          acc->Release();
        }
      });
      during = apartment();
    });
    EXPECT_EQ(dialog, c.wantDialog);
    EXPECT_EQ(apartment(), before);
    if (c.initialise) {
      EXPECT_EQ(during, before);
      CoUninitialize();
    }
    // Nothing of the module's is left: one uninitialise ends what the host began.
    EXPECT_EQ(apartment(), -1);
  }
}

}  // namespace
