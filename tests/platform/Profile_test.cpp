// Profile files: our reader against a table of cases, and under Windows (Wine) the
// same table and a randomized comparison against GetPrivateProfileStringA; the
// writer against byte-exact expectations and failures.
#include "platform/Profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "../reader/ReaderWorld.h"

namespace {

using namespace std::string_literals;

// UTF-16 LE bytes of a text, with the byte-order mark when asked.
std::string Le(std::u16string_view text, bool mark = true) {
  std::string bytes = mark ? "\xFF\xFE" : "";
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

// The system's own profile reader (Windows only); path with a directory part.
std::string SystemRead(const std::string& path, const std::string& section, const std::string& key,
                       const std::string& defaultValue) {
#if defined(_WIN32)
  std::vector<char> buffer(65536);
  DWORD n =
      GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer.data(),
                               static_cast<DWORD>(buffer.size()), path.c_str());
  return std::string(buffer.data(), n);
#else
  (void)path, (void)section, (void)key, (void)defaultValue;
  return {};
#endif
}

constexpr bool kHaveSystemReader =
#if defined(_WIN32)
    true;
#else
    false;
#endif

struct ReadCase {
  const char* name;
  std::string file;  // bytes; "<none>" for no file
  const char* section;
  const char* key;
  const char* defaultValue;
  const char* want;
  // What Wine's GetPrivateProfileStringA gives where it differs from ours (the
  // reason is in the name); null when it agrees.
  const char* wine = nullptr;
};

const ReadCase kReadCases[] = {
    {"plain key", "[system]\r\nServerType=99\r\n", "system", "ServerType", "", "99"},
    {"names in any letter case", "[SyStem]\r\nservertype=99\r\n", "SYSTEM", "SERVERTYPE", "", "99"},
    {"blanks around the value dropped", "[s]\r\nk =  99 \t\r\n", "s", "k", "", "99"},
    {"blanks around the key name dropped", "[s]\r\n  k\t = v\r\n", "s", "k", "", "v"},
    {"blanks around asked names dropped", "[s]\r\nk=v\r\n", " s\t", "\tk ", "", "v"},
    {"blank before section header", "  [s]\r\nk=v\r\n", "s", "k", "", "v"},
    {"blanks inside the brackets dropped", "[ s\t]\r\nk=v\r\n", "s", "k", "d", "v"},
    {"inner blanks of a section name kept", "[a  b]\r\nk=v\r\n", "a b", "k", "d", "d"},
    {"text after the closing bracket", "[s] x\r\nk=v\r\n", "s", "k", "", "v"},
    {"last bracket closes the name", "[a]b]\r\nk=v\r\n", "a]b", "k", "", "v"},
    {"open bracket alone is no section", "[a]\r\n[b\r\nk=v\r\n", "a", "k", "", "v"},
    {"double quotes removed", "[s]\r\nk=\"a b\"\r\n", "s", "k", "", "a b"},
    {"single quotes removed", "[s]\r\nk='a b'\r\n", "s", "k", "", "a b"},
    {"blanks inside quotes kept", "[s]\r\nk= \" a \" \r\n", "s", "k", "", " a "},
    {"mismatched quotes kept", "[s]\r\nk=\"a'\r\n", "s", "k", "", "\"a'"},
    {"only one pair removed", "[s]\r\nk=\"\"a\"\"\r\n", "s", "k", "", "\"a\""},
    {"lone quote kept", "[s]\r\nk=\"\r\n", "s", "k", "", "\""},
    {"quotes inside kept", "[s]\r\nk=a\"b\"\r\n", "s", "k", "", "a\"b\""},
    {"empty quotes give empty", "[s]\r\nk=\"\"\r\n", "s", "k", "d", ""},
    {"empty value is not the default", "[s]\r\nk=\r\n", "s", "k", "d", ""},
    {"blank value is not the default", "[s]\r\nk=  \r\n", "s", "k", "d", ""},
    {"line without = is no key", "[s]\r\nk\r\n", "s", "k", "d", "d"},
    // Wine keeps such a line as a key without value, which hides a later one.
    {"line without = does not hide a later key", "[s]\r\nk\r\nk=v\r\n", "s", "k", "d", "v", "d"},
    {"value may hold =", "[s]\r\nk=a=b\r\n", "s", "k", "", "a=b"},
    {"key name with inner blanks", "[s]\r\nmy key = v\r\n", "s", "my key", "", "v"},
    {"first duplicate key wins", "[s]\r\nk=1\r\nK=2\r\n", "s", "k", "", "1"},
    {"first duplicate section wins", "[s]\r\nk=1\r\n[t]\r\n[S]\r\nk=2\r\n", "s", "k", "", "1"},
    {"later duplicate section not read", "[s]\r\na=1\r\n[s]\r\nb=2\r\n", "s", "b", "d", "d"},
    {"key in another section", "[other]\r\nServerType=99\r\n[system]\r\n", "system", "ServerType",
     "", ""},
    {"key after another section", "[system]\r\n[other]\r\nServerType=99\r\n", "system",
     "ServerType", "d", "d"},
    {"keys before the first section", "k=v\r\n[s]\r\n", "s", "k", "d", "d"},
    {"missing section", "[s]\r\nk=v\r\n", "t", "k", "d", "d"},
    {"missing key", "[s]\r\nk=v\r\n", "s", "x", "d", "d"},
    {"missing file", "<none>", "s", "k", "d", "d"},
    {"empty file", "", "s", "k", "d", "d"},
    {"empty key name asked", "[s]\r\n=v\r\n", "s", "", "d", "v"},
    {"empty key name, no such line", "[s]\r\nk=v\r\n", "s", "", "d", "d"},
    {"empty section name is the part before the first section", "j=w\r\n[]\r\nk=v\r\n", "", "j",
     "d", "w"},
    {"an empty section header comes after that part", "j=w\r\n[]\r\nk=v\r\n", "", "k", "d", "d"},
    {"semicolon is no comment mark", "[s]\r\n;k=v\r\n", "s", ";k", "", "v"},
    {"LF line ends", "[s]\nk=v\nj=w\n", "s", "j", "", "w"},
    {"CR line ends", "[s]\rk=v\rj=w\r", "s", "j", "", "w"},
    {"mixed line ends", "[a]\r\nk=1\n[s]\rk=v\r\n", "s", "k", "", "v"},
    {"no final line end", "[s]\r\nk=v", "s", "k", "", "v"},
    {"blank lines between", "\r\n\r\n[s]\r\n\r\n\r\nk=v\r\n\r\n", "s", "k", "", "v"},
    {"tab, vertical tab, form feed are blanks", "[s]\r\nk=\t\v\fv\f\v\t\r\n", "s", "k", "", "v"},
    {"Ctrl-Z is a blank", "[s]\r\nk=\x1Av\x1A\r\n", "s", "k", "", "v"},
    {"GB2312 names and value", "[读卡器]\r\n名称 = 读卡器 1 \r\n", "读卡器", "名称", "",
     "读卡器 1"},
    {"double-byte character ending in ] byte", "[\x81\x5D]\r\nk=v\r\n", "\x81\x5D", "k", "", "v"},
    {"double-byte characters do not fold case", "[\x81\x41]\r\nk=v\r\n", "\x81\x61", "k", "d", "d"},
    {"UTF-8 byte-order mark skipped", "\xEF\xBB\xBF[s]\r\nk=v\r\n", "s", "k", "", "v"},
    {"long value", "[s]\r\nk=" + std::string(5000, 'x') + "\r\n", "s", "k", "",
     "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
     "xxxxxxx"},
    // Wine drops trailing blanks and one pair of quotes from the default too; ours
    // gives the caller's default back as passed (the module passes "").
    {"default given back as passed", "[s]\r\n", "s", "k", "d  ", "d  ", "d"},
    {"quoted default given back as passed", "[s]\r\n", "s", "k", "'d'", "'d'", "d"},
    {"ideographic space is no blank", "[s]\r\nk=\xA1\xA1v\r\n", "s", "k", "", "\xA1\xA1v"},
    {"NUL ends the value", "[system]\r\nServerType=99\0\0\0\r\n"s, "system", "ServerType", "",
     "99"},
    {"NUL-padded last line", "[system]\r\nServerType=99"s + std::string(40, '\0'), "system",
     "ServerType", "", "99"},
    {"blanks before a NUL kept", "[s]\r\nk= 99 \0x\r\n"s, "s", "k", "", "99 "},
    {"quotes before a NUL removed", "[s]\r\nk='a b'\0x\r\n"s, "s", "k", "", "a b"},
    {"text after a NUL is not read", "[s]\r\nk=1\0=2\r\n"s, "s", "k", "", "1"},
    {"line after a NUL read", "[s]\r\nk=1\0junk\r\nj=2\r\n"s, "s", "j", "", "2"},
    {"a key name ends at a NUL", "[s]\r\nk\0x=v\r\n"s, "s", "k", "d", "v"},
    {"a section name ends at a NUL", "[s\0x]\r\nk=v\r\n"s, "s", "k", "d", "v"},
    {"a NUL does not hide the last ]", "[a]\0]\r\nk=v\r\n"s, "a", "k", "d", "d"},
    {"UTF-16 file", Le(u"[system]\r\nServerType=99\r\n"), "system", "ServerType", "", "99"},
    {"UTF-16 names and value converted", Le(u"[读卡器]\r\n名称 = '读卡器 1' \r\n"), "读卡器",
     "名称", "", "读卡器 1"},
    {"UTF-16 names in any letter case", Le(u"[NuvReader]\nNUVREADER=x\n"), "nuvreader", "nuvReader",
     "", "x"},
    {"UTF-16 character missing from the code page", Le(u"[s]\rk=a\u0E01b\r"), "s", "k", "", "a?b"},
    {"UTF-16 NUL ends the value", Le(u"[s]\r\nk=99"s + std::u16string(8, u'\0')), "s", "k", "",
     "99"},
    {"UTF-16 without its mark is no profile text", Le(u"[s]\r\nk=v\r\n", false), "s", "k", "d",
     "d"},
};

TEST(ProfileRead, TableAgainstOursAndTheSystemReader) {
  TTempFolder folder;
  int index = 0;
  for (const ReadCase& c : kReadCases) {
    SCOPED_TRACE(c.name);
    // A new file per case: the system reader caches files by name and time.
    const std::string path = folder.PathOf("case" + std::to_string(index++) + ".ini");
    if (c.file != "<none>") WriteBytes(path, c.file);
    std::string want = c.want;
    if (std::string(c.name) == "long value") want = std::string(5000, 'x');
    EXPECT_EQ(IniReadString(path, c.section, c.key, c.defaultValue), want);
    if (kHaveSystemReader) {
      EXPECT_EQ(SystemRead(path, c.section, c.key, c.defaultValue), c.wine ? c.wine : want)
          << "system reader";
    }
  }
}

// Bytes as C escapes, for failure messages.
std::string Escaped(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

// Random profile files over an alphabet that holds every byte the rules treat
// specially, letters in both cases and double-byte characters (one ending in "]").
// keyed: every line holds "=", so none is a line without "=" (which the system's
// reader, unlike ours, takes for a key without value).
std::string RandomProfile(std::mt19937& rng, bool keyed = false) {
  static const std::string kTokens[] = {"[",   "]",   "=",  " ",  "\t",       "\"",  "'",
                                        "a",   "A",   "b",  "读", "\x81\x5D", ";",   "\x1A",
                                        "[a]", "[b]", "a=", "b=", "x",        "\0"s, "\0\0"s};
  static const char* const kLineEnds[] = {"\r\n", "\n", "\r"};
  std::string file;
  const int lines = static_cast<int>(rng() % 10);
  for (int i = 0; i < lines; ++i) {
    const int tokens = static_cast<int>(rng() % 7);
    std::string line;
    for (int t = 0; t < tokens; ++t) line += kTokens[rng() % std::size(kTokens)];
    if (keyed && line.find('=') == std::string::npos) line += "=";
    file += line;
    if (i + 1 < lines || rng() % 2 == 0) file += kLineEnds[rng() % std::size(kLineEnds)];
  }
  return file;
}

const char* const kNames[] = {"a", "A", "b", "读", "\x81\x5D", " a", "a b", "x"};

TEST(ProfileRead, RandomFilesAgreeWithTheSystemReader) {
  if (!kHaveSystemReader) GTEST_SKIP() << "the system profile reader exists on Windows only";
  TTempFolder folder;
  std::mt19937 rng(20240601);
  int mismatches = 0;
  for (int i = 0; i < 1500 && mismatches < 5; ++i) {
    const std::string file = RandomProfile(rng, true);
    const std::string path = folder.PathOf("random" + std::to_string(i) + ".ini");
    WriteBytes(path, file);
    for (int q = 0; q < 4; ++q) {
      const std::string section = kNames[rng() % std::size(kNames)];
      const std::string key = kNames[rng() % std::size(kNames)];
      const std::string ours = IniReadString(path, section, key, "dflt");
      const std::string system = SystemRead(path, section, key, "dflt");
      if (ours != system) {
        ++mismatches;
        ADD_FAILURE() << "file \"" << Escaped(file) << "\" section \"" << Escaped(section)
                      << "\" key \"" << Escaped(key) << "\": ours \"" << Escaped(ours)
                      << "\", system \"" << Escaped(system) << "\"";
      }
    }
    fs::remove(path);
  }
}

// The same random profiles saved as UTF-16 LE with its mark; some "x" become a
// character that code page 936 lacks.
TEST(ProfileRead, RandomUtf16FilesAgreeWithTheSystemReader) {
  if (!kHaveSystemReader) GTEST_SKIP() << "the system profile reader exists on Windows only";
#if defined(_WIN32)
  TTempFolder folder;
  std::mt19937 rng(20261210);
  int mismatches = 0;
  for (int i = 0; i < 1000 && mismatches < 5; ++i) {
    const std::string ansi = RandomProfile(rng, true);
    std::wstring wide(ansi.size(), L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()),
                                      wide.data(), static_cast<int>(wide.size()));
    wide.resize(static_cast<size_t>(n));
    for (wchar_t& c : wide)
      if (c == L'x' && rng() % 2 == 0) c = 0x0E01;
    const std::string file = Le(std::u16string(wide.begin(), wide.end()));
    const std::string path = folder.PathOf("random" + std::to_string(i) + ".ini");
    WriteBytes(path, file);
    for (int q = 0; q < 4; ++q) {
      const std::string section = kNames[rng() % std::size(kNames)];
      const std::string key = kNames[rng() % std::size(kNames)];
      const std::string ours = IniReadString(path, section, key, "dflt");
      const std::string system = SystemRead(path, section, key, "dflt");
      if (ours != system) {
        ++mismatches;
        ADD_FAILURE() << "file (as code page 936) \"" << Escaped(ansi) << "\" section \""
                      << Escaped(section) << "\" key \"" << Escaped(key) << "\": ours \""
                      << Escaped(ours) << "\", system \"" << Escaped(system) << "\"";
      }
    }
    fs::remove(path);
  }
#endif
}

struct WriteCase {
  const char* name;
  std::string before;  // "<none>": no file
  const char* section;
  const char* key;
  std::string value;
  std::string after;
  // What Wine's reader gives for the key afterwards where it differs from ours.
  const char* wine = nullptr;
};

const WriteCase kWriteCases[] = {
    {"new file", "<none>", "NuvReader", "nuvreader", "读卡器 1",
     "[NuvReader]\r\nnuvreader=读卡器 1\r\n"},
    {"replaced key keeps its place, spelling and spacing",
     "; top\r\n[NuvReader]\r\n  NUVREADER  =  old  \r\nother=1\r\n", "nuvreader", "nuvreader",
     "new", "; top\r\n[NuvReader]\r\n  NUVREADER  =  new  \r\nother=1\r\n"},
    {"first of duplicate keys replaced", "[s]\nk=1\nk=2\n", "s", "k", "v", "[s]\nk=v\nk=2\n"},
    {"first of duplicate sections written", "[s]\na=1\n[s]\nk=2\n", "s", "k", "v",
     "[s]\na=1\nk=v\n[s]\nk=2\n"},
    {"empty value replaced", "[s]\r\nk=\r\nj=1\r\n", "s", "k", "v", "[s]\r\nk=v\r\nj=1\r\n"},
    {"quoted value replaced whole", "[s]\r\nk= \"old\" \r\n", "s", "k", "v", "[s]\r\nk= v \r\n"},
    {"new key after the section's last line, before blank lines",
     "[s]\r\na=1\r\n\r\n[t]\r\nb=2\r\n", "s", "k", "v", "[s]\r\na=1\r\nk=v\r\n\r\n[t]\r\nb=2\r\n"},
    {"new key in a section of only its header", "[s]\r\n[t]\r\n", "s", "k", "v",
     "[s]\r\nk=v\r\n[t]\r\n"},
    {"new key after a header without line end", "[s]", "s", "k", "v", "[s]\r\nk=v\r\n"},
    {"new key after a last line without line end", "[s]\na=1", "s", "k", "v", "[s]\na=1\nk=v\n"},
    // Wine takes the line "k" for a key without value that hides the later "k=v".
    {"line without = is not the key", "[s]\r\nk\r\n", "s", "k", "v", "[s]\r\nk\r\nk=v\r\n",
     "<default>"},
    {"key of another section untouched", "[t]\r\nk=1\r\n[s]\r\n", "s", "k", "v",
     "[t]\r\nk=1\r\n[s]\r\nk=v\r\n"},
    {"new section at the end after a blank line", "[a]\r\nx=1\r\n", "s", "k", "v",
     "[a]\r\nx=1\r\n\r\n[s]\r\nk=v\r\n"},
    {"new section after a final blank line", "[a]\r\nx=1\r\n\r\n", "s", "k", "v",
     "[a]\r\nx=1\r\n\r\n[s]\r\nk=v\r\n"},
    {"new section in an LF file without final line end", "[a]\nx=1", "s", "k", "v",
     "[a]\nx=1\n\n[s]\nk=v\n"},
    {"new section in an empty file", "", "s", "k", "v", "[s]\r\nk=v\r\n"},
    {"CR-only file gets CR line ends", "[a]\rx=1\r", "a", "k", "v", "[a]\rx=1\rk=v\r"},
    {"every other byte untouched",
     "top=1\n;comment\r\n\r\n  [s]  \t\r\n\xB6\xC1=\xBF\xA8\r\n  a = \"q\" "
     "\r\rk=old\n\n\n[t]\r\nk=2",
     "S", "K", "读卡器",
     "top=1\n;comment\r\n\r\n  [s]  \t\r\n\xB6\xC1=\xBF\xA8\r\n  a = \"q\" "
     "\r\rk=读卡器\n\n\n[t]\r\nk=2"},
    {"byte-order mark kept", "\xEF\xBB\xBF[s]\r\nk=1\r\n", "s", "k", "v",
     "\xEF\xBB\xBF[s]\r\nk=v\r\n"},
    {"value with blanks at its ends quoted", "[s]\r\n", "s", "k", " a ", "[s]\r\nk=\" a \"\r\n"},
    {"value in quotes quoted again", "[s]\r\n", "s", "k", "'x'", "[s]\r\nk=\"'x'\"\r\n"},
    {"value with a quote at one end only not quoted", "[s]\r\n", "s", "k", "\"x",
     "[s]\r\nk=\"x\r\n"},
    {"empty value", "[s]\r\nk=1\r\n", "s", "k", "", "[s]\r\nk=\r\n"},
    {"names written without their surrounding blanks", "", " s ", " k ", "v", "[s]\r\nk=v\r\n"},
    {"bytes after a NUL kept", "[s]\r\nk=old\0\0junk\r\nj=1\r\n"s, "s", "k", "v",
     "[s]\r\nk=v\0\0junk\r\nj=1\r\n"s},
    {"new key after a NUL-padded last line", "[s]\r\na=1\0\0"s, "s", "k", "v",
     "[s]\r\na=1\0\0\r\nk=v\r\n"s},
    {"UTF-16 key replaced in UTF-16", Le(u"[NuvReader]\r\nnuvreader=旧\r\nx=\u0E01\r\n"),
     "NuvReader", "nuvreader", "读卡器 2",
     Le(u"[NuvReader]\r\nnuvreader=读卡器 2\r\nx=\u0E01\r\n")},
    {"UTF-16 new section in UTF-16 with the file's line ends", Le(u"[a]\nx=1\n"), "读", "k", " v ",
     Le(u"[a]\nx=1\n\n[读]\nk=\" v \"\n")},
    {"UTF-16 NULs after the value kept", Le(u"[s]\r\nk=1"s + std::u16string(3, u'\0') + u"\r\n"),
     "s", "k", "2", Le(u"[s]\r\nk=2"s + std::u16string(3, u'\0') + u"\r\n")},
    {"UTF-16 odd last byte stays last", Le(u"[s]\r\nk=1\r\n") + "\x0D", "s", "j", "2",
     Le(u"[s]\r\nk=1\r\nj=2\r\n") + "\x0D"},
    // The system's reader converts a UTF-8 file's text (these bytes are no UTF-8).
    {"UTF-8 mark kept, bytes unconverted", "\xEF\xBB\xBF[s]\r\n", "s", "k", "读",
     "\xEF\xBB\xBF[s]\r\nk=读\r\n", "??"},
};

TEST(ProfileWrite, ChangesOnlyTheKeyAndReadsBack) {
  TTempFolder folder;
  int index = 0;
  for (const WriteCase& c : kWriteCases) {
    SCOPED_TRACE(c.name);
    const std::string path = folder.PathOf("write" + std::to_string(index++) + ".ini");
    if (c.before != "<none>") WriteBytes(path, c.before);
    IniWriteString(path, c.section, c.key, c.value);
    const std::string after = ReadBytes(path);
    EXPECT_EQ(Escaped(after), Escaped(c.after));
    EXPECT_EQ(IniReadString(path, c.section, c.key, "<default>"), c.value);
    if (kHaveSystemReader) {
      EXPECT_EQ(SystemRead(path, c.section, c.key, "<default>"), c.wine ? c.wine : c.value)
          << "system reader";
    }
  }
  // Nothing but the written files is left in the folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()),
            static_cast<long>(std::size(kWriteCases)));
}

TEST(ProfileWrite, RandomFilesKeepEveryOtherValue) {
  std::mt19937 rng(7);
  static const char* const kValues[] = {"v", "", " v ", "'q'", "\"", "读卡器 2", "a=b", "\x81\x5D"};
  for (int i = 0; i < 3000; ++i) {
    const std::string before = RandomProfile(rng);
    std::string section = kNames[rng() % std::size(kNames)];
    std::string key = kNames[rng() % std::size(kNames)];
    const std::string value = kValues[rng() % std::size(kValues)];
    const std::string after = IniWithValue(before, section, key, value);
    SCOPED_TRACE("file \"" + Escaped(before) + "\" [" + section + "] " + key + "=" + value);
    EXPECT_EQ(IniFindValue(after, section, key), value);
    for (const char* s : kNames) {
      for (const char* k : kNames) {
        if (IniFindValue(after, s, k) == IniFindValue(before, s, k)) continue;
        // Only the written key (asked in another spelling) may have changed.
        EXPECT_EQ(IniFindValue(after, s, k), value) << "[" << s << "] " << k;
      }
    }
  }
}

// A name or value to write, and the report its refusal gives.
struct TUnwritable {
  const char* name;
  const char* section;
  const char* key;
  std::string value;
  const char* want;
};

// The report a refused name or value gives the operator; "" when none was raised.
std::string FormatErrorOf(const std::string& path, const TUnwritable& c) {
  try {
    IniWriteString(path, c.section, c.key, c.value);
  } catch (const IniFormatError& e) {
    return e.what();
  }
  return "";
}

TEST(ProfileWrite, UnwritableValuesAreRefusedAndTheFileKept) {
  const char* kValue = "配置项无法写入配置文件：值含有换行符或空字符";
  const char* kSection = "配置项无法写入配置文件：节名为空或含有换行符、空字符";
  const char* kKey = "配置项无法写入配置文件：键名为空、含有换行符、空字符或“=”，或以“[”开头";
  const char* kLeadByte = "配置项无法写入配置文件：节名或键名以不完整的双字节字符结尾";
  const TUnwritable cases[] = {
      {"line end in the value", "s", "k", "a\r\n[t]\r\nb=c", kValue},
      {"LF in the value", "s", "k", "a\nb", kValue},
      {"NUL in the value", "s", "k", std::string("a\0b", 3), kValue},
      {"line end in the section", "s]\r\n[t", "k", "v", kSection},
      {"empty section", " ", "k", "v", kSection},
      {"empty key", "s", "", "v", kKey},
      {"= in the key", "s", "a=b", "v", kKey},
      {"key taken for a section", "s", "[t]", "v", kKey},
      {"section ending in a lone lead byte", "读\xB6", "k", "v", kLeadByte},
      {"key ending in a lone lead byte", "s", "k\x81", "v", kLeadByte},
  };
  TTempFolder folder;
  const std::string path = folder.PathOf("UserConfig.ini");
  const std::string before = "[s]\r\nk=old\r\n";
  WriteBytes(path, before);
  for (const TUnwritable& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FormatErrorOf(path, c), c.want);
    EXPECT_EQ(ReadBytes(path), before);
  }
}

TEST(ProfileWrite, TextWithoutUtf16FormIsRefusedInUtf16Files) {
  const char* kNoUtf16 =
      "配置项无法写入配置文件：名称或值含有系统代码页以外的字符，无法写入 UTF-16 文件";
  const TUnwritable cases[] = {
      {"value ending in a lone lead byte", "s", "k", "v\x81", kNoUtf16},
      {"value with a lone lead byte inside", "s", "k", "\x81 v", kNoUtf16},
      {"section with a lone lead byte inside", "\xB6 s", "k", "v", kNoUtf16},
  };
  TTempFolder folder;
  const std::string path = folder.PathOf("UserConfig.ini");
  const std::string before = Le(u"[s]\r\nk=old\r\n");
  WriteBytes(path, before);
  for (const TUnwritable& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FormatErrorOf(path, c), c.want);
    EXPECT_EQ(ReadBytes(path), before);
  }
}

TEST(ProfileWrite, FailuresAreReportedAndLeaveNoTrace) {
  struct Case {
    const char* name;
    void (*prepare)(const fs::path& folder);
    const char* file;
    bool readOnly;  // refused for the file's read-only state, not by a failed call
  };
  const Case cases[] = {
      {"read-only file",
       [](const fs::path& f) {
         WriteBytes(f / "ro.ini", "[s]\r\nk=old\r\n");
         fs::permissions(f / "ro.ini",
                         fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                         fs::perm_options::remove);
       },
       "ro.ini", true},
      {"missing folder", [](const fs::path&) {}, "absent/UserConfig.ini", false},
      {"folder in the file's place", [](const fs::path& f) { fs::create_directory(f / "dir.ini"); },
       "dir.ini", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTempFolder folder;
    c.prepare(folder.Path());
    const fs::path file = folder.Path() / fs::path(c.file).make_preferred();
    const std::string before = fs::is_regular_file(file) ? ReadBytes(file) : "";
    try {
      IniWriteString(file.string(), "NuvReader", "nuvreader", "R");
      ADD_FAILURE() << "no error reported";
    } catch (const IniWriteError& e) {
      EXPECT_NE(e.OsError(), 0);
      // Chinese first, then the file, the failed operation and the system's error.
      const std::string error = "系统错误 " + std::to_string(e.OsError());
      const std::string head =
          c.readOnly
              ? "配置文件为只读，无法写入 " + file.string() + "，" + error
              : "配置文件无法写入 " + file.string() + "，" + e.Operation() + " 失败，" + error;
      EXPECT_EQ(std::string(e.what()).substr(0, head.size()), head);
    }
    if (fs::is_regular_file(file)) {
      EXPECT_EQ(ReadBytes(file), before);
    }
    // Writable again, so that the folder can go (Wine cannot remove a read-only file).
    std::error_code ignored;
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add, ignored);
    // No temporary file left behind.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.Path()))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    std::vector<std::string> want;
    if (fs::exists(folder.Path() / fs::path(c.file).begin()->string()))
      want.push_back(fs::path(c.file).begin()->string());
    EXPECT_EQ(names, want);
  }
}

}  // namespace
