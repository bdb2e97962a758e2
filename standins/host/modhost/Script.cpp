#include "Script.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "platform/DoubleByte.h"

namespace {

const char* const kCommands[] = {
    "select",         "press",       "close-box",         "key",          "skin-refresh",
    "screenshot",     "wait",        "expect-caption",    "expect-lines", "expect-selected",
    "expect-message", "expect-text", "expect-no-message", "expect-log",   "expect-call",
    "expect-error",   "expect-help",
};

// Virtual-key codes of the keys a script may type.
struct TKeyName {
  const char* Name;
  int VirtualKey;
};
const TKeyName kKeyNames[] = {
    {"Tab", 0x09},    {"Enter", 0x0D},    {"Escape", 0x1B}, {"Esc", 0x1B},  {"Space", 0x20},
    {"PageUp", 0x21}, {"PageDown", 0x22}, {"End", 0x23},    {"Home", 0x24}, {"Left", 0x25},
    {"Up", 0x26},     {"Right", 0x27},    {"Down", 0x28},
};

// The virtual-key code of a key name (case ignored; F1 to F24 too), 0 when unknown.
int VirtualKeyOf(const std::string& name) {
  auto same = [&](const char* want) {
    if (std::strlen(want) != name.size()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
      if (std::tolower(static_cast<unsigned char>(name[i])) !=
          std::tolower(static_cast<unsigned char>(want[i])))
        return false;
    }
    return true;
  };
  for (const TKeyName& k : kKeyNames) {
    if (same(k.Name)) return k.VirtualKey;
  }
  if (name.size() >= 2 && (name[0] == 'F' || name[0] == 'f')) {
    char* end = nullptr;
    const long n = std::strtol(name.c_str() + 1, &end, 10);
    if (*end == '\0' && n >= 1 && n <= 24) return 0x70 + static_cast<int>(n) - 1;
  }
  return 0;
}

std::vector<std::string> SplitArgs(const std::string& line, int number) {
  std::vector<std::string> args;
  size_t i = 0;
  while (i < line.size()) {
    const unsigned char c = static_cast<unsigned char>(line[i]);
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
      continue;
    }
    if (c == '#') break;
    std::string arg;
    if (c == '"') {
      ++i;
      bool closed = false;
      while (i < line.size()) {
        char ch = line[i++];
        // A double-byte character is taken whole: its trail byte may be 0x5C or 0x22 and
        // is neither an escape nor the closing quote.
        if (IsLeadByte936(ch) && i < line.size()) {
          arg += ch;
          arg += line[i++];
          continue;
        }
        if (ch == '"') {
          closed = true;
          break;
        }
        // A backslash escapes only a quote or a backslash.
        if (ch == '\\' && i < line.size() && (line[i] == '"' || line[i] == '\\')) ch = line[i++];
        arg += ch;
      }
      if (!closed)
        throw std::runtime_error("line " + std::to_string(number) + ": unterminated quote");
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
        arg += line[i++];
    }
    args.push_back(arg);
  }
  return args;
}

bool ParseInt(const std::string& text, long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtol(text.c_str(), &end, 10);
  return *end == '\0';
}

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

std::string Join(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + Quote(items[i]);
  return out + "]";
}

bool IsOperatorCommand(const std::string& command) {
  static const char* const kOperator[] = {"select",       "press",      "close-box", "key",
                                          "skin-refresh", "screenshot", "wait"};
  for (const char* c : kOperator)
    if (command == c) return true;
  return false;
}

bool NeedsDialog(const std::string& command) {
  static const char* const kNeedsDialog[] = {
      "select",         "press",        "close-box",      "key", "skin-refresh", "screenshot",
      "expect-caption", "expect-lines", "expect-selected"};
  for (const char* c : kNeedsDialog)
    if (command == c) return true;
  return false;
}

const char* KindName(TTranscriptEvent::TKind kind) {
  switch (kind) {
    case TTranscriptEvent::kMessage:
      return "host message";
    case TTranscriptEvent::kLog:
      return "log line";
    case TTranscriptEvent::kReaderCall:
      return "reader call";
    case TTranscriptEvent::kErrorBox:
      return "error box";
  }
  return "event";
}

class TRunner {
 public:
  TRunner(TDialogDriver& driver, const TTranscriptSource& transcript,
          std::vector<std::string>& failures)
      : FDriver(driver), FTranscript(transcript), FFailures(failures) {}

  void Run(const TScriptLine& line) {
    FLine = &line;
    const auto& a = line.Args;
    const std::string& c = line.Command;
    if (c == "select") {
      long index = -1;
      if (a.size() != 1) return Fail("select takes one line index or line text");
      if (!ParseInt(a[0], index)) {
        // Not a number: ParseInt has left its partial value, and the text names the line.
        index = -1;
        const auto lines = FDriver.Lines();
        for (size_t i = 0; i < lines.size() && index < 0; ++i)
          if (lines[i] == a[0]) index = static_cast<long>(i);
        if (index < 0)
          return Fail("no list line " + Quote(a[0]) + "; the lines are " + Join(lines));
      }
      if (!FDriver.Select(static_cast<int>(index))) Fail("could not select line " + a[0]);
    } else if (c == "press") {
      if (a.size() != 1) return Fail("press takes one caption");
      if (!FDriver.Press(a[0])) Fail("no button " + Quote(a[0]));
    } else if (c == "close-box") {
      FDriver.CloseBox();
    } else if (c == "key") {
      if (a.empty()) return Fail("key takes a key name such as Tab, Enter or F1");
      const int virtualKey = VirtualKeyOf(a[0]);
      if (virtualKey == 0) return Fail("bad key " + a[0]);
      bool shift = false, ctrl = false, alt = false;
      for (size_t i = 1; i < a.size(); ++i) {
        if (a[i] == "shift")
          shift = true;
        else if (a[i] == "ctrl")
          ctrl = true;
        else if (a[i] == "alt")
          alt = true;
        else
          return Fail("bad key modifier " + a[i]);
      }
      FDriver.Key(virtualKey, shift, ctrl, alt);
    } else if (c == "skin-refresh") {
      FDriver.SkinRefresh();
    } else if (c == "screenshot") {
      if (a.size() != 1) return Fail("screenshot takes a file name");
      if (!FDriver.Screenshot(a[0])) Fail("could not save screenshot " + a[0]);
    } else if (c == "wait") {
      long ms = 0;
      if (a.size() != 1 || !ParseInt(a[0], ms) || ms < 0 || ms > 60000)
        return Fail("wait takes 0..60000 ms");
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    } else if (c == "expect-caption") {
      if (a.size() != 1) return Fail("expect-caption takes one text");
      const std::string got = FDriver.Caption();
      if (got != a[0]) Fail("caption is " + Quote(got));
    } else if (c == "expect-lines") {
      const auto got = FDriver.Lines();
      if (got != a) Fail("list lines are " + Join(got));
    } else if (c == "expect-selected") {
      long want = -1;
      if (a.size() != 1 || (a[0] != "none" && !ParseInt(a[0], want)))
        return Fail("expect-selected takes a line index or none");
      const int got = FDriver.Selected();
      if (got != want)
        Fail("selected line is " + (got < 0 ? std::string("none") : std::to_string(got)));
    } else if (c == "expect-message" || c == "expect-text") {
      if (a.empty() || a.size() > 2) return Fail(c + " takes one or two arguments");
      long id = 0;
      if (c == "expect-message" && !ParseInt(a[0], id)) return Fail("bad message id " + a[0]);
      const auto messages = OfKind(TTranscriptEvent::kMessage);
      size_t& next = FNext[TTranscriptEvent::kMessage];
      if (next >= messages.size()) return Fail("no host message was shown" + Seen(messages, next));
      const TTranscriptEvent& e = messages[next++];
      if (c == "expect-text") {
        if (e.Text.find(a[0]) == std::string::npos) Fail("message text is " + Quote(e.Text));
        return;
      }
      if (e.MessageId != id)
        return Fail("message " + std::to_string(e.MessageId) + " " + Quote(e.Text) + " was shown");
      if (a.size() == 2 && e.Param != a[1]) Fail("message parameter is " + Quote(e.Param));
    } else if (c == "expect-no-message") {
      if (!a.empty()) return Fail("expect-no-message takes no argument");
      // A negative expectation moves no place: a later expect-message still sees the
      // message reported here.
      const auto messages = OfKind(TTranscriptEvent::kMessage);
      const size_t next = FNext[TTranscriptEvent::kMessage];
      if (next < messages.size())
        Fail("host message " + std::to_string(messages[next].MessageId) + " " +
             Quote(messages[next].Text) + " was shown");
    } else if (c == "expect-log" || c == "expect-call") {
      if (a.size() != 1) return Fail(c + " takes one text");
      const auto kind = c == "expect-log" ? TTranscriptEvent::kLog : TTranscriptEvent::kReaderCall;
      const auto events = OfKind(kind);
      size_t& next = FNext[kind];
      for (size_t i = next; i < events.size(); ++i) {
        if (events[i].Text.find(a[0]) != std::string::npos) {
          next = i + 1;
          return;
        }
      }
      Fail(std::string("no ") + KindName(kind) + " containing " + Quote(a[0]) + Seen(events, next));
    } else if (c == "expect-error") {
      if (a.size() != 1) return Fail("expect-error takes one text");
      const auto boxes = OfKind(TTranscriptEvent::kErrorBox);
      NoteBoxes(boxes.size());
      for (size_t i = 0; i < boxes.size(); ++i) {
        if (!FClaimed[i] && boxes[i].Text.find(a[0]) != std::string::npos) {
          FClaimed[i] = true;
          return;
        }
      }
      std::string seen;
      for (size_t i = 0; i < boxes.size(); ++i)
        if (!FClaimed[i]) seen += (seen.empty() ? "" : ", ") + Quote(boxes[i].Text);
      Fail(seen.empty() ? "no error box was shown" : "the error boxes shown are " + seen);
    } else if (c == "expect-help") {
      long want = 0;
      if (a.size() != 1 || !ParseInt(a[0], want)) return Fail("expect-help takes a count");
      const int got = FTranscript.HelpRequests ? FTranscript.HelpRequests() : 0;
      if (got != want) Fail(std::to_string(got) + " help requests reached the main frame");
    }
    if (IsOperatorCommand(c)) FLastStep = &line;
  }

  // Fails for the first error box that no expect-error has claimed, naming its text and
  // the command after which it appeared. Returns false then.
  bool CheckBoxesClaimed() {
    const auto boxes = OfKind(TTranscriptEvent::kErrorBox);
    NoteBoxes(boxes.size());
    for (size_t i = 0; i < boxes.size(); ++i) {
      if (FClaimed[i]) continue;
      const TScriptLine* step = FBoxStep[i];
      const std::string where =
          step == nullptr ? std::string("while the dialog opened")
                          : "line " + std::to_string(step->Number) + ": " + ScriptLineText(*step);
      FFailures.push_back(where + ": an error box was shown and no expect-error claims it: " +
                          Quote(boxes[i].Text));
      return false;
    }
    return true;
  }

 private:
  void Fail(const std::string& what) {
    FFailures.push_back("line " + std::to_string(FLine->Number) + ": " + ScriptLineText(*FLine) +
                        ": " + what);
  }

  // The events of one kind, in the order the host saw them.
  std::vector<TTranscriptEvent> OfKind(TTranscriptEvent::TKind kind) const {
    std::vector<TTranscriptEvent> events;
    if (!FTranscript.Events) return events;
    for (TTranscriptEvent& e : FTranscript.Events())
      if (e.Kind == kind) events.push_back(std::move(e));
    return events;
  }

  // What was seen of a kind past its place, for a failure: "none" or up to three texts.
  static std::string Seen(const std::vector<TTranscriptEvent>& events, size_t from) {
    if (from >= events.size())
      return "; seen: none since the last match (" + std::to_string(events.size()) + " in all)";
    std::string seen;
    for (size_t i = from; i < events.size() && i < from + 3; ++i)
      seen += (seen.empty() ? "" : ", ") + Quote(events[i].Text);
    if (events.size() - from > 3) seen += ", ...";
    return "; seen: " + seen;
  }

  // Boxes not seen before belong to the last operator command.
  void NoteBoxes(size_t count) {
    while (FClaimed.size() < count) {
      FClaimed.push_back(false);
      FBoxStep.push_back(FLastStep);
    }
  }

  TDialogDriver& FDriver;
  const TTranscriptSource& FTranscript;
  std::vector<std::string>& FFailures;
  const TScriptLine* FLine = nullptr;
  const TScriptLine* FLastStep = nullptr;
  size_t FNext[4] = {0, 0, 0, 0};  // per kind: the first event no expectation has taken
  std::vector<bool> FClaimed;      // per error box
  std::vector<const TScriptLine*> FBoxStep;
};

}  // namespace

std::vector<TScriptLine> ParseScript(const std::string& text) {
  std::vector<TScriptLine> script;
  size_t start = 0;
  int number = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    ++number;
    auto args = SplitArgs(text.substr(start, end - start), number);
    start = end + 1;
    if (args.empty()) continue;
    TScriptLine line{number, args[0], {args.begin() + 1, args.end()}};
    bool known = false;
    for (const char* c : kCommands) known = known || line.Command == c;
    if (!known)
      throw std::runtime_error("line " + std::to_string(number) + ": unknown command " +
                               line.Command);
    script.push_back(std::move(line));
  }
  return script;
}

std::string ScriptLineText(const TScriptLine& line) {
  std::string text = line.Command;
  for (const std::string& arg : line.Args) {
    const bool plain = !arg.empty() && arg.find_first_of(" \t\"#") == std::string::npos;
    text += " " + (plain ? arg : Quote(arg));
  }
  return text;
}

TScriptOutcome RunScript(const std::vector<TScriptLine>& script, TDialogDriver& driver,
                         const TTranscriptSource& transcript, std::vector<std::string>& failures,
                         const std::function<void(const TScriptLine*)>& onStep) {
  const size_t before = failures.size();
  TRunner runner(driver, transcript, failures);
  TScriptOutcome outcome;
  outcome.Finished = true;
  for (const TScriptLine& line : script) {
    // A box left unclaimed by the expectations after its command fails the script here,
    // before the operator acts again on a dialog that may be in any state.
    if (IsOperatorCommand(line.Command) && !runner.CheckBoxesClaimed()) {
      outcome.Finished = false;
      break;
    }
    if (NeedsDialog(line.Command) && driver.Closed()) {
      failures.push_back("line " + std::to_string(line.Number) + ": " + ScriptLineText(line) +
                         ": the dialog has already closed");
      outcome.Finished = false;
      break;
    }
    if (onStep) onStep(&line);
    runner.Run(line);
    if (onStep) onStep(nullptr);
    ++outcome.Steps;
  }
  if (outcome.Finished) runner.CheckBoxesClaimed();
  outcome.Passed = failures.size() == before;
  return outcome;
}
