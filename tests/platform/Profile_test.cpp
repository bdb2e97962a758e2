// Profile files: our reader against a table of cases, and under Windows (Wine) the
// same table and a randomized comparison against GetPrivateProfileStringA; the
// writer against byte-exact expectations and failures.
#include "platform/Profile.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "../reader/ReaderWorld.h"

namespace {

// The system's own profile reader (Windows only); path with a directory part.
std::string SystemRead(const std::string& path, const std::string& section, const std::string& key,
                       const std::string& defaultValue) {
#if defined(_WIN32)
  std::vector<char> buffer(65536);
  DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(),
                                     buffer.data(), static_cast<DWORD>(buffer.size()),
                                     path.c_str());
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
    {"value may hold =", "[s]\r\nk=a=b\r\n", "s", "k", "", "a=b"},
    {"key name with inner blanks", "[s]\r\nmy key = v\r\n", "s", "my key", "", "v"},
    {"first duplicate key wins", "[s]\r\nk=1\r\nK=2\r\n", "s", "k", "", "1"},
    {"first duplicate section wins", "[s]\r\nk=1\r\n[t]\r\n[S]\r\nk=2\r\n", "s", "k", "", "1"},
    {"later duplicate section not read", "[s]\r\na=1\r\n[s]\r\nb=2\r\n", "s", "b", "d", "d"},
    {"key in another section", "[other]\r\nServerType=99\r\n[system]\r\n", "system",
     "ServerType", "", ""},
    {"key after another section", "[system]\r\n[other]\r\nServerType=99\r\n", "system",
     "ServerType", "d", "d"},
    {"keys before the first section", "k=v\r\n[s]\r\n", "s", "k", "d", "d"},
    {"missing section", "[s]\r\nk=v\r\n", "t", "k", "d", "d"},
    {"missing key", "[s]\r\nk=v\r\n", "s", "x", "d", "d"},
    {"missing file", "<none>", "s", "k", "d", "d"},
    {"empty file", "", "s", "k", "d", "d"},
    {"empty key name asked", "[s]\r\n=v\r\n", "s", "", "d", "v"},
    {"empty key name, no such line", "[s]\r\nk=v\r\n", "s", "", "d", "d"},
    {"empty section name is the part before the first section",
     "j=w\r\n[]\r\nk=v\r\n", "", "j", "d", "w"},
    {"an empty section header comes after that part", "j=w\r\n[]\r\nk=v\r\n", "", "k", "d", "d"},
    {"semicolon is no comment mark", "[s]\r\n;k=v\r\n", "s", ";k", "", "v"},
    {"LF line ends", "[s]\nk=v\nj=w\n", "s", "j", "", "w"},
    {"CR line ends", "[s]\rk=v\rj=w\r", "s", "j", "", "w"},
    {"mixed line ends", "[a]\r\nk=1\n[s]\rk=v\r\n", "s", "k", "", "v"},
    {"no final line end", "[s]\r\nk=v", "s", "k", "", "v"},
    {"blank lines between", "\r\n\r\n[s]\r\n\r\n\r\nk=v\r\n\r\n", "s", "k", "", "v"},
    {"tab, vertical tab, form feed are blanks", "[s]\r\nk=\t\v\fv\f\v\t\r\n", "s", "k", "", "v"},
    {"Ctrl-Z is a blank", "[s]\r\nk=\x1Av\x1A\r\n", "s", "k", "", "v"},
    {"GB2312 names and value", "[读卡器]\r\n名称 = 读卡器 1 \r\n", "读卡器", "名称", "", "读卡器 1"},
    {"double-byte character ending in ] byte", "[\x81\x5D]\r\nk=v\r\n", "\x81\x5D", "k", "", "v"},
    {"double-byte characters do not fold case", "[\x81\x41]\r\nk=v\r\n", "\x81\x61", "k", "d", "d"},
    {"UTF-8 byte-order mark skipped", "\xEF\xBB\xBF[s]\r\nk=v\r\n", "s", "k", "", "v"},
    {"long value", "[s]\r\nk=" + std::string(5000, 'x') + "\r\n", "s", "k", "",
     "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"},
    // Wine drops trailing blanks and one pair of quotes from the default too; ours
    // gives the caller's default back as passed (the module passes "").
    {"default given back as passed", "[s]\r\n", "s", "k", "d  ", "d  ", "d"},
    {"quoted default given back as passed", "[s]\r\n", "s", "k", "'d'", "'d'", "d"},
    {"ideographic space is no blank", "[s]\r\nk=\xA1\xA1v\r\n", "s", "k", "", "\xA1\xA1v"},
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

}  // namespace
