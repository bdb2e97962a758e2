#pragma once
// The host simulator's dialog scripts: what an operator does with the reader settings
// dialog, and what the host expects to see afterwards.
//
//   select "Virtual PCD 00 01"
//   press 选择
//   expect-message 70000527 "Virtual PCD 00 01"
//   close-box
//
// A script is a UTF-8 text, one command per line; '#' starts a comment; arguments are
// separated by blanks and may be quoted with "..." (\" and \\ inside). Texts are
// compared in the system code page, so a script is converted before it runs; a quoted
// text is read by double-byte character, so a trail byte 0x5C is no escape.
//
// Operator commands:
//   select N | select "line"     click a list line (by index or by its text)
//   press "caption"              click the button with that caption
//   close-box                    the window's close box
//   key KEY [shift] [ctrl] [alt] a key typed while the dialog is active: it goes to the
//                                focused control through the dialog manager. KEY: Tab,
//                                Enter, Escape (Esc), Space, Up, Down, Left, Right, Home,
//                                End, PageUp, PageDown, F1 to F24 (case ignored)
//   skin-refresh                 the host's skin refresh request (message 1303)
//   screenshot FILE              save an image of the dialog (BMP on Windows)
//   wait MS                      let time pass
// Expectations (a failed one is reported with its line number; the run goes on):
//   expect-caption "text"        the dialog's caption
//   expect-lines ["line" ...]    the list's lines, in order (none: an empty list)
//   expect-selected N | none     the selected line
//   expect-message ID ["param"]  the next host message shown has this id (and parameter)
//   expect-text "text"           the next host message shown contains text
//   expect-no-message            no host message since the last expectation on them
//   expect-log "text"            a host log line containing text was written since
//   expect-call "text"           a reader library call containing text was made since
//   expect-error "text"          the toolkit's error box was shown with a text containing
//                                text (the first such box no expect-error has claimed)
//   expect-help N                N help requests (1296) reached the main frame so far
//
// Each kind of event (host messages, log lines, reader calls, error boxes) is read in the
// order the host saw it, with a place of its own: an expectation on one kind never moves
// the place of another, and a negative one (expect-no-message) moves none. An error box
// that no expect-error has claimed when the next operator command comes (or the script
// ends) stops the script at once, as a failure naming the box's text and the command
// after which it appeared.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What the script needs from the dialog; one implementation drives real windows, the
// other the in-memory toolkit. Texts are in the system code page.
class TDialogDriver {
 public:
  virtual ~TDialogDriver() = default;
  virtual std::string Caption() = 0;
  virtual std::vector<std::string> Lines() = 0;
  virtual int Selected() = 0;
  virtual bool Select(int index) = 0;
  virtual bool Press(const std::string& caption) = 0;
  virtual void CloseBox() = 0;
  virtual void Key(int virtualKey, bool shift, bool ctrl, bool alt) = 0;
  virtual void SkinRefresh() = 0;
  virtual bool Screenshot(const std::string& path) = 0;
  // True once the dialog has gone away (closed and destroyed).
  virtual bool Closed() = 0;
};

// One thing the host world recorded: a message shown to the operator (InforMsg with
// its id, or InfoMsgBox with id 0), a host log line, a reader library call, or the
// toolkit's general error report (its message box).
struct TTranscriptEvent {
  enum TKind { kMessage, kLog, kReaderCall, kErrorBox } Kind = kMessage;
  int32_t MessageId = 0;
  std::string Param;  // the message's parameter text
  std::string Text;   // the text shown, the log text, the call with its arguments, the box's text
};

// Where the events come from: every event so far (events of one kind in the order the
// host saw them; the kinds may come one after the other), and the number of help
// requests the host main frame has received.
struct TTranscriptSource {
  std::function<std::vector<TTranscriptEvent>()> Events;
  std::function<int()> HelpRequests;
};

struct TScriptLine {
  int Number = 0;
  std::string Command;
  std::vector<std::string> Args;
};

// Parses a script already converted to the system code page. Raises std::runtime_error
// naming the line on a syntax error (an unterminated quote, an unknown command).
std::vector<TScriptLine> ParseScript(const std::string& text);

// What a run of a script came to.
struct TScriptOutcome {
  bool Passed = false;    // no failure
  int Steps = 0;          // script lines run
  bool Finished = false;  // every line ran (false: stopped by an unclaimed error box or a
                          // dialog that had gone)
};

// Runs the script against the dialog. Failures are appended to failures as
// "line N: <command as written>: <what was seen>" texts.
// onStep, when given, is called with each line before it runs and with nullptr after it.
TScriptOutcome RunScript(const std::vector<TScriptLine>& script, TDialogDriver& driver,
                         const TTranscriptSource& transcript, std::vector<std::string>& failures,
                         const std::function<void(const TScriptLine*)>& onStep = {});

// The line as written, for messages: "press 测试连接", "expect-message 70000527 \"ACS 0\"".
std::string ScriptLineText(const TScriptLine& line);
