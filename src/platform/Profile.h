#pragma once
// Profile (INI) files with the Windows profile-string rules, one implementation for
// every platform (the system's own profile API is not used: it rewrites whole files
// and caches them).
//
//   std::string type = IniReadString("C:\\app\\SysConfig.ini", "system", "ServerType", "");
//   IniWriteString("C:\\app\\UserConfig.ini", "NuvReader", "nuvreader", "读卡器 1");
//
// Reading:
// - Lines end with CR LF, CR or LF. A line whose first non-blank byte is "[" and that
//   holds a "]" starts a section; its name is what lies between the "[" and the last
//   "]", blanks around it dropped. Any other line with "=" is a key: the name before the first "=",
//   the value after it, blanks around both dropped. A line without "=" is no key. Lines before the
//   first section form a section with the empty name.
// - Section and key names match regardless of ASCII letter case; the names asked for
//   lose their surrounding blanks. The first of duplicate sections, and within it the
//   first of duplicate keys, is the one read.
// - A value enclosed in one pair of matching single or double quotes loses them.
// - A missing file, section or key, or an unreadable file gives the default exactly
//   as passed; a key with an empty value gives the empty text. An empty key name
//   asks for a line "=value".
// - Blanks: space, tab, vertical tab, form feed and Ctrl-Z (0x1A). Texts are bytes in
//   the system code page (936): a double-byte character is never split, so its
//   second byte is never taken for "]" or a letter; nothing is converted.
// - A UTF-8 byte-order mark at the start of the file is skipped (values are not
//   converted from UTF-8).
//
// Where Wine's GetPrivateProfileStringA reads otherwise (checked by the tests): it
// drops trailing blanks and a pair of quotes from the default as well, and it keeps
// a line without "=" as a key without value that hides a later key of that name.
//
// Writing adds or replaces one key and leaves every other byte of the file as it was.
// A replaced key keeps its line, its spelling and its spacing; only the value bytes
// change. A new key goes after the last non-blank line of the first section of that
// name, a new section (after a blank line) at the end of the file; new lines use the
// file's first line end (CR LF in a new file). A value that reading would change
// (blanks at either end, or enclosed in matching quotes) is written inside double
// quotes, so it reads back as written. The file is created when missing and replaced
// as a whole through a temporary file beside it, so a failed write leaves it as it
// was. Pass paths that hold a directory part.
#include <optional>
#include <string>
#include <string_view>

#include "platform/Exception.h"

// A name or value that cannot be written: it holds a line end or NUL, a section or key
// name is empty, or a key name holds "=" or starts with "[".
class IniFormatError : public Exception {
 public:
  using Exception::Exception;
};

// A profile file that could not be written: the operation that failed and the
// system's error code at that moment (GetLastError or errno). The file is unchanged.
class IniWriteError : public Exception {
 public:
  IniWriteError(const std::string& path, const std::string& operation, long osError);
  const std::string& Operation() const { return FOperation; }
  long OsError() const { return FOsError; }

 private:
  std::string FOperation;
  long FOsError;
};

// The rules on a file's bytes: the value of key in section, or nothing.
std::optional<std::string> IniFindValue(std::string_view fileBytes, std::string_view section,
                                        std::string_view key);
// The file's bytes with key in section set to value. Raises IniFormatError.
std::string IniWithValue(std::string_view fileBytes, std::string_view section, std::string_view key,
                         std::string_view value);

// The value of key in section of the file, or defaultValue. Never raises for the file.
std::string IniReadString(const std::string& fileName, std::string_view section,
                          std::string_view key, std::string_view defaultValue);
// Sets key in section of the file. Raises IniFormatError or IniWriteError.
void IniWriteString(const std::string& fileName, std::string_view section, std::string_view key,
                    std::string_view value);
