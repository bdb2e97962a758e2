#pragma once
// The lines of a multi-line text as the toolkit's list control takes it: CR LF,
// CR and LF each end a line, and a break at the very end adds no empty line.
//
//   SplitTextLines("a\r\nb\n") == {"a", "b"};  SplitTextLines("a\r\rb") == {"a", "", "b"}
#include <string>
#include <string_view>
#include <vector>

std::vector<std::string> SplitTextLines(std::string_view text);
