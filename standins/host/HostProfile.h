#pragma once
// The stand-in host's world, read from a host profile folder.
//
// The folder holds three files, all optional, all in the system code page (GB2312):
//   Host.ini      sections [Host], [SubApp], [Skin], [User], [Company], [Params]
//   UserConfig.ini the user configuration that GetUserConfigParam reads
//   Messages.txt  the message catalogue, one "<id>=<text>" line per message
// A missing file gives the defaults of THostProfile; a malformed one raises
// HostProfileError naming the file and line.
//
//   THostProfile profile = LoadHostProfile("/tmp/world");
//   std::string text = FillMsgText(profile.Catalogue.at(70000527), "ACS ACR38U 0");
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class HostProfileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An INI text: sections and their keys in file order. Section and key names compare with
// the 26 ASCII letters folded; values are kept byte for byte.
struct TIniSection {
  std::string Name;
  std::vector<std::pair<std::string, std::string>> Keys;
};

class IniText {
 public:
  // Raises HostProfileError("<fileName> line <n>: ...") for a line that is neither blank,
  // a comment (";" or "#"), a "[section]" nor a "key=value" inside a section.
  static IniText Parse(std::string_view text, const std::string& fileName);

  const TIniSection* Section(std::string_view name) const;
  // The first value of key in section, if any.
  std::optional<std::string> Value(std::string_view section, std::string_view key) const;

 private:
  std::vector<TIniSection> FSections;
};

struct THostProfile {
  std::string Dir;  // the profile folder, ending in a path separator; "" for none
  std::string AppPath;
  std::string SubAppPath;  // always ends in a path separator
  std::string SubAppCode;
  std::string FuncCode;
  uintptr_t AppHandle = 0;
  uintptr_t MainFrameHandle = 0;
  bool Recording = true;       // messages go to the transcript, never to a box
  std::string TranscriptPath;  // "" writes transcript lines to stderr
  std::string LogPath;         // "" writes log lines to stderr
  uint32_t ModuleBackColor = 0x00F7EFE6;
  uint32_t TopBarColor = 0x00A0602C;
  uint32_t SysFontColor = 0x00000000;
  int32_t SysFontSize = 9;
  uint8_t SysFontCharSet = 134;  // GB2312_CHARSET
  std::string UserName;
  std::string CompanyName;
  std::map<int32_t, std::string> Catalogue;
  IniText UserConfig;
  std::vector<std::pair<std::string, std::string>> Params;  // initial parameters, in order
};

// Reads the profile folder dir. Raises HostProfileError when the folder does not exist or
// a file in it is malformed.
THostProfile LoadHostProfile(const std::string& dir);

// Reads the catalogue text of Messages.txt. Raises HostProfileError for a malformed line,
// a duplicate id or a UTF-8 file.
std::map<int32_t, std::string> ParseCatalogue(std::string_view text, const std::string& fileName);

// The catalogue text with every "%s" replaced by param and "%%" by "%".
std::string FillMsgText(std::string_view format, std::string_view param);

// Reads a whole file; nullopt when it cannot be opened.
std::optional<std::string> ReadWholeFile(const std::string& path);
// Appends bytes to a file; "" appends to stderr. Returns false when the file cannot be written.
bool AppendToFile(const std::string& path, std::string_view bytes);
// One transcript or log field, escaped by character of code page 936: a single-byte
// backslash, CR and LF are written as \\, \r and \n; a double-byte character is written
// whole, so a trail byte 0x5C stays one byte ("\xC7\x5C" stays as it is); a lone lead
// byte before CR or LF is written as \xHH (its raw form would pair with the backslash).
//
//   EscapeLine("a\\b\n") == "a\\\\b\\n"
std::string EscapeLine(std::string_view text);
// The field as it was before EscapeLine.
std::string UnescapeLine(std::string_view field);

// The lines of a transcript or log file, without their line ends; none when it is missing.
std::vector<std::string> ReadRecordedLines(const std::string& path);

// A message the host showed, read back from its transcript line:
//   InforMsg <id> param=<parameter text> text=<text shown>
//   InfoMsgBox kind=<kind> text=<text shown>          (Id 0)
struct TRecordedMessage {
  int32_t Id = 0;
  std::string Param;
  std::string Text;
};
// The message a transcript line records; nothing for the other lines (GetMsg, skinning).
std::optional<TRecordedMessage> ParseRecordedMessage(std::string_view line);

char PathSeparator();
