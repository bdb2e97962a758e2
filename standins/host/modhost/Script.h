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
//   expect-help N                N help requests (1296) reached the main frame so far
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
// its id, or InfoMsgBox with id 0), a host log line, or a reader library call.
struct TTranscriptEvent {
  enum TKind { kMessage, kLog, kReaderCall } Kind = kMessage;
  int32_t MessageId = 0;
  std::string Param;  // the message's parameter text
  std::string Text;   // the text shown, the log text, or the call with its arguments
};

// Where the events come from: every event so far, in order, and the number of help
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

// Runs the script against the dialog. Failures are appended to failures as
// "line N: ..." texts; the return value is true when there were none.
bool RunScript(const std::vector<TScriptLine>& script, TDialogDriver& driver,
               const TTranscriptSource& transcript, std::vector<std::string>& failures);
