#pragma once
// The reader list buffer as the text the dialog's list takes: the names the reader
// library wrote, one per line.
//
//   ReaderListText(std::string_view(" A\0B\0\0\0", 8)) == "A\r\nB"
//
// Every leading and trailing byte of code 32 or less is dropped (the zero tail of the
// buffer, blanks before the first and after the last name), then each NUL becomes CR LF
// (ReplaceAll, case-insensitive mode). The list splits the text at CR LF, CR or LF, so a
// CR or LF inside a name also ends a line. Blanks inside the text are kept.
#include <string>
#include <string_view>

std::string ReaderListText(std::string_view buffer);
