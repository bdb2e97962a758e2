#pragma once
// The operator's message box of the interactive stand-in host.
#include <cstdint>
#include <string>

// Shows text (system code page) in a modal box and returns when it is dismissed. The box
// is owned by the thread's active window (the dialog whose handler asked for it), else by
// owner (0 for none). Without a windowing system the text goes to stderr.
void ShowOperatorBox(uintptr_t owner, const std::string& caption, const std::string& text);
