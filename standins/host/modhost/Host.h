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
};

// Converts a UTF-8 text to the system code page.
std::string Utf8ToAnsi(const std::string& utf8);

// Loads the module and calls ShowFrmOption once. With a script, drives the dialog with it
// and appends what went wrong to failures. Returns false when the module could not be
// called or the dialog did not appear within the bound.
bool RunModule(const TModHostOptions& options, const std::vector<TScriptLine>* script,
               const TTranscriptSource& transcript, std::vector<std::string>& failures);
