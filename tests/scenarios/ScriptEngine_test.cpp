// The host simulator's script engine over recorded runs of the dialog: each operator
// command brings the events the host records for it, and the expectations must read them
// the same whichever way the events are listed (as the host saw them, or kind by kind as
// modhost reads its transcript, log and trace files).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Script.h"

namespace {

using TKind = TTranscriptEvent::TKind;

TTranscriptEvent Msg(int32_t id, const char* param = "") {
  return {TTranscriptEvent::kMessage, id, param, "text of " + std::to_string(id)};
}
TTranscriptEvent Log(const char* text) { return {TTranscriptEvent::kLog, 0, {}, text}; }
TTranscriptEvent Call(const char* text) { return {TTranscriptEvent::kReaderCall, 0, {}, text}; }
TTranscriptEvent Box(const char* text) { return {TTranscriptEvent::kErrorBox, 0, {}, text}; }

// A reader library as the dialog meets it, and what the host records while the dialog
// opens and as the operator works it (the events as modhost records real runs).
struct TReaderWorld {
  std::vector<std::string> Lines;
  std::vector<TTranscriptEvent> Opening;
  bool ConnectMissing = false;  // a library without SCConnectReader
};

// Two readers; the second has no card.
const TReaderWorld kTwoReaders = {{"ACS 0", "Reader 1"}, {Call("SCListReaders zeroed=1")}};

// Listing the readers fails with a code: a log line, then its message; the list is empty.
const TReaderWorld kListingFails = {
    {},
    {Call("SCListReaders zeroed=1"), Log("2026-12-10 14:03:07 [1] list error 2148532270"),
     Msg(70000986)}};

// A library without SCConnectReader: each connection test ends in the toolkit's error box.
const TReaderWorld kListOnly = {{"ACS 0"}, {Call("SCListReaders zeroed=1")}, true};

// The dialog as the script drives it: each operator command records what the real dialog
// records for it.
class TRecordedDialog : public TDialogDriver {
 public:
  explicit TRecordedDialog(const TReaderWorld& world) : FWorld(world), FSeen(world.Opening) {}

  std::string Caption() override { return "reader settings"; }
  std::vector<std::string> Lines() override { return FWorld.Lines; }
  int Selected() override { return FSelected; }
  bool Select(int index) override {
    ++FCommands;
    if (index < 0 || index >= static_cast<int>(FWorld.Lines.size())) return false;
    FSelected = index;
    return true;
  }
  bool Press(const std::string& caption) override {
    ++FCommands;
    const bool none = FSelected < 0;
    const std::string name = none ? "" : FWorld.Lines[FSelected];
    if (caption == "选择") {
      FSeen.push_back(none ? Msg(70000528) : Msg(70000527, name.c_str()));
    } else if (caption == "测试连接") {
      if (none) {
        FSeen.push_back(Msg(70000529));
      } else if (FWorld.ConnectMissing) {
        FSeen.push_back(Box("reader library function \"SCConnectReader\" is missing"));
      } else {
        FSeen.push_back(Call(("SCConnectReader name=" + name).c_str()));
        FSeen.push_back(Msg(FSelected == 0 ? 70000530 : 70000967));
        FSeen.push_back(Call("SCDisConnectReader"));
      }
    } else {
      return false;
    }
    return true;
  }
  void CloseBox() override { ++FCommands; }
  void Key(int, bool, bool, bool) override { ++FCommands; }
  void SkinRefresh() override { ++FCommands; }
  bool Screenshot(const std::string&) override { return ++FCommands, true; }
  bool Closed() override { return false; }

  // The events so far as the host saw them, or kind after kind as modhost lists them
  // (the transcript's messages and boxes, then the log, then the reader calls).
  std::vector<TTranscriptEvent> Events(bool kindByKind) const {
    std::vector<TTranscriptEvent> events = FSeen;
    if (kindByKind) {
      auto rank = [](const TTranscriptEvent& e) {
        return e.Kind == TTranscriptEvent::kLog          ? 1
               : e.Kind == TTranscriptEvent::kReaderCall ? 2
                                                         : 0;
      };
      std::stable_sort(events.begin(), events.end(),
                       [&](const auto& a, const auto& b) { return rank(a) < rank(b); });
    }
    return events;
  }
  int Commands() const { return FCommands; }

 private:
  const TReaderWorld& FWorld;
  std::vector<TTranscriptEvent> FSeen;
  int FSelected = -1;
  int FCommands = 0;
};

struct TCase {
  const char* name;
  const TReaderWorld* world;
  const char* script;
  // Each failure's beginning ("line N: command"), in order; none for a passing script.
  std::vector<std::string> failures;
  int steps;  // script lines run
};

const TCase kCases[] = {
    {"a message after a passed expect-no-message is still found",
     &kTwoReaders,
     "expect-no-message\n"
     "select 0\n"
     "press 选择\n"
     "expect-message 70000527 \"ACS 0\"\n",
     {},
     4},
    {"a message after an expect-message that found none is still found",
     &kTwoReaders,
     "expect-message 70000527\n"
     "select 0\n"
     "press 选择\n"
     "expect-message 70000527 \"ACS 0\"\n",
     {"line 1: expect-message 70000527: no host message was shown"},
     4},
    {"a failed expect-no-message takes no message",
     &kTwoReaders,
     "select 0\n"
     "press 选择\n"
     "expect-no-message\n"
     "expect-message 70000527 \"ACS 0\"\n",
     {"line 3: expect-no-message: host message 70000527"},
     4},
    {"messages are taken in the order shown, across steps",
     &kTwoReaders,
     "select 0\n"
     "press 选择\n"
     "press 测试连接\n"
     "select 1\n"
     "press 测试连接\n"
     "expect-message 70000527\n"
     "expect-message 70000530\n"
     "expect-message 70000527\n",
     {"line 8: expect-message 70000527: message 70000967"},
     8},
    {"a reader call matches once though messages came after it",
     &kTwoReaders,
     "select 0\n"
     "press 测试连接\n"
     "expect-call \"SCDisConnectReader\"\n"
     "press 选择\n"
     "expect-call \"SCDisConnectReader\"\n",
     {"line 5: expect-call SCDisConnectReader: no reader call containing"},
     5},
    {"calls and messages keep their own places",
     &kTwoReaders,
     "select 0\n"
     "press 测试连接\n"
     "expect-message 70000530\n"
     "expect-call \"SCListReaders\"\n"
     "expect-call \"SCConnectReader name=ACS 0\"\n"
     "expect-no-message\n"
     "select 1\n"
     "press 测试连接\n"
     "expect-call \"SCConnectReader name=Reader 1\"\n"
     "expect-message 70000967\n",
     {},
     10},
    {"a log line matches once though messages came after it",
     &kListingFails,
     "expect-log \"2148532270\"\n"
     "press 选择\n"
     "press 测试连接\n"
     "expect-log \"2148532270\"\n",
     {"line 4: expect-log 2148532270: no log line containing"},
     4},
    {"a log line read after the messages",
     &kListingFails,
     "expect-message 70000986\n"
     "press 选择\n"
     "expect-message 70000528\n"
     "expect-log \"2148532270\"\n"
     "expect-no-message\n",
     {},
     5},
    {"an error box claimed by expect-error",
     &kListOnly,
     "select 0\n"
     "press 测试连接\n"
     "expect-error \"SCConnectReader\"\n"
     "expect-no-message\n"
     "press 选择\n"
     "expect-message 70000527 \"ACS 0\"\n",
     {},
     6},
    {"an unclaimed error box stops the script at the next command",
     &kListOnly,
     "select 0\n"
     "press 测试连接\n"
     "expect-no-message\n"
     "press 选择\n"
     "expect-message 70000527\n",
     {"line 2: press 测试连接: an error box was shown and no expect-error claims it: "
      "\"reader library function \"SCConnectReader\" is missing\""},
     3},
    {"an unclaimed error box at the end of the script",
     &kListOnly,
     "select 0\n"
     "press 测试连接\n",
     {"line 2: press 测试连接: an error box was shown"},
     2},
    {"one expect-error claims one box",
     &kListOnly,
     "select 0\n"
     "press 测试连接\n"
     "expect-error \"SCConnectReader\"\n"
     "expect-error \"SCConnectReader\"\n",
     {"line 4: expect-error SCConnectReader: no error box was shown"},
     4},
    {"each box is claimed by its own expect-error",
     &kListOnly,
     "select 0\n"
     "press 测试连接\n"
     "expect-error \"SCConnectReader\"\n"
     "press 选择\n"
     "press 测试连接\n"
     "expect-message 70000527\n"
     "expect-error \"SCConnectReader\"\n",
     {},
     7},
    {"an expect-error with another text leaves the box unclaimed",
     &kListOnly,
     "select 0\n"
     "press 测试连接\n"
     "expect-error \"SCGetErrorText\"\n"
     "press 选择\n",
     {"line 3: expect-error SCGetErrorText: the error boxes shown are",
      "line 2: press 测试连接: an error box was shown"},
     3},
};

TEST(ScriptEngine, ExpectationsOverARecordedRun) {
  for (const TCase& row : kCases) {
    for (const bool kindByKind : {true, false}) {
      SCOPED_TRACE(std::string(row.name) + (kindByKind ? " (kind by kind)" : " (host order)"));
      TRecordedDialog dialog(*row.world);
      TTranscriptSource source;
      source.Events = [&] { return dialog.Events(kindByKind); };
      std::vector<std::string> failures;
      const TScriptOutcome outcome = RunScript(ParseScript(row.script), dialog, source, failures);
      EXPECT_EQ(failures.size(), row.failures.size()) << ::testing::PrintToString(failures);
      if (failures.size() != row.failures.size()) continue;
      for (size_t i = 0; i < failures.size(); ++i)
        EXPECT_EQ(failures[i].rfind(row.failures[i], 0), 0u) << failures[i];
      EXPECT_EQ(outcome.Passed, row.failures.empty());
      EXPECT_EQ(outcome.Steps, row.steps);
    }
  }
}

// An unclaimed box ends the script before the operator acts again: the dialog, which may
// be in any state after the failure, gets no further command.
TEST(ScriptEngine, UnclaimedBoxStopsBeforeTheNextCommand) {
  TRecordedDialog dialog(kListOnly);
  TTranscriptSource source;
  source.Events = [&] { return dialog.Events(false); };
  std::vector<std::string> failures;
  const TScriptOutcome outcome =
      RunScript(ParseScript("select 0\npress 测试连接\npress 选择\npress 测试连接\n"), dialog,
                source, failures);
  EXPECT_FALSE(outcome.Finished);
  EXPECT_EQ(dialog.Commands(), 2);
}

}  // namespace
