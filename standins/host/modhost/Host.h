#pragma once
// What the host simulator does on each platform.
#include <string>
#include <vector>

#include "Script.h"

struct TModHostOptions {
  std::string Module;      // the module file (Windows; natively the module is linked in)
  std::string Profile;     // the host profile folder
  std::string ScriptFile;  // empty: interactive
  std::string Screenshot;  // saved once the dialog is up (scripted runs)
  int TimeoutSeconds = 60;
  bool MainFrame = true;  // create the host main frame window ("Tfrm_MainFrame")
  // Take every fiber-local storage slot the process has left before the module loads
  // (Windows; elsewhere there are none, and the option is refused).
  bool UseUpFls = false;
};

// Converts a UTF-8 text to the system code page.
std::string Utf8ToAnsi(const std::string& utf8);

// The path made absolute against the current directory (the module changes the current
// directory while its dialog is open, so every path the host hands out must be absolute).
std::string AbsolutePath(const std::string& path);

// One line naming the fix when the process's ANSI code page is not 936 (the module's texts
// are code-page-936 bytes); "" when it is.
std::string CodePageWarning();

// Loads the module and calls ShowFrmOption once. With a script, drives the dialog with it
// and appends what went wrong to failures. In recording mode the toolkit's error box is
// recorded in the transcript ("ErrorBox text=...") and dismissed. Returns false when the
// module could not be called or the dialog did not appear within the bound.
bool RunModule(const TModHostOptions& options, const std::vector<TScriptLine>* script,
               const TTranscriptSource& transcript, std::vector<std::string>& failures,
               TScriptOutcome& outcome);

// What the host is waiting for now ("" for nothing); a wait that lasts longer than 2 s is
// printed to stderr with this text, so that no wait is silent.
void SetWaiting(const std::string& what);
// The script's step hook: waits for line to finish ("line 4 (press 选择) to finish"), or
// for nothing when line is null.
void WaitForScriptLine(const TScriptLine* line);

// Appends the toolkit's error box to the transcript: "ErrorBox text=<escaped text>".
void RecordErrorBox(const std::string& text);
