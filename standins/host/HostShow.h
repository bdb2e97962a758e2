#pragma once
// The operator's message box of the interactive stand-in host.
#include <cstdint>
#include <string>

// Shows text (system code page) in a modal box owned by the window owner (0 for none) and
// returns when it is dismissed. Without a windowing system the text goes to stderr.
void ShowOperatorBox(uintptr_t owner, const std::string& caption, const std::string& text);
