// The profile reader and writer on any file bytes: writing a key and reading it back
// gives the value, every other key reads as before, and the writer raises only for a
// name or value it refuses (IniFormatError), never for the file's own bytes.
//
// Input (FuzzedDataProvider strings): the file's bytes, then section, key and value to
// write, then one more section and key to probe. Every section and key line of the file
// is probed as well.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Profile.h"
#include "platform/ProfileFile.h"

namespace {

const std::string& WorkFile() {
  static const std::string path = [] {
    char dir[] = "/tmp/rs-profile-fuzz-XXXXXX";
    if (mkdtemp(dir) == nullptr) std::abort();
    return std::string(dir) + "/fuzz.ini";
  }();
  return path;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A'; }
// Names asked for lose line ends around them as well.
bool IsNameBlank(char c) { return IsBlank(c) || c == '\r' || c == '\n'; }

// A name with ASCII letters folded and every blank dropped: two names that differ here
// are different names under any reading of the rules, whatever double-byte characters
// they hold.
std::string Loose(std::string_view name) {
  std::string out;
  for (char c : name) {
    if (IsNameBlank(c)) continue;
    out += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return out;
}

// A name whose last byte is a lead byte of code page 936 with no trail byte after it: the
// reader would take that byte and the "]" after it for one double-byte character, so such
// a name could not be read back.
bool EndsInLoneLeadByte(std::string_view name) {
  while (!name.empty() && IsNameBlank(name.back())) name.remove_suffix(1);
  size_t i = 0;
  bool lone = false;
  while (i < name.size()) {
    const unsigned char b = static_cast<unsigned char>(name[i]);
    const bool lead = b >= 0x81 && b <= 0xFE;
    if (lead && i + 1 < name.size()) {
      const unsigned char t = static_cast<unsigned char>(name[i + 1]);
      if (t >= 0x40 && t <= 0xFE && t != 0x7F) {
        i += 2;
        lone = false;
        continue;
      }
    }
    lone = lead;
    ++i;
  }
  return lone;
}

// What the writer refuses: a value with a line end or NUL; a section or key name that,
// without the blanks and line ends around it, is empty, holds a line end or NUL or ends in
// a lone lead byte; a key name with "=" or starting with "[".
bool Refused(std::string_view section, std::string_view key, std::string_view value) {
  const std::string_view kBreaks("\r\n\0", 3);
  auto trimmed = [](std::string_view s) {
    while (!s.empty() && IsNameBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsNameBlank(s.back())) s.remove_suffix(1);
    return s;
  };
  const std::string_view s = trimmed(section), k = trimmed(key);
  return value.find_first_of(kBreaks) != std::string_view::npos || s.empty() || k.empty() ||
         s.find_first_of(kBreaks) != std::string_view::npos ||
         k.find_first_of(kBreaks) != std::string_view::npos ||
         k.find('=') != std::string_view::npos || k.front() == '[' || EndsInLoneLeadByte(s) ||
         EndsInLoneLeadByte(k);
}

// A file in UTF-16 LE (it starts with the byte-order mark) also refuses a text that has no
// form in the system code page: it could not be written as UTF-16.
bool RefusedInUtf16(std::string_view file, std::string_view section, std::string_view key,
                    std::string_view value) {
  if (!file.starts_with("\xFF\xFE")) return false;
  return !AnsiToUtf16(section) || !AnsiToUtf16(key) || !AnsiToUtf16(value);
}

// Every "[section]" and "key=" of the file, as plain probes.
std::vector<std::pair<std::string, std::string>> Probes(const std::string& file) {
  std::vector<std::pair<std::string, std::string>> probes;
  std::string section;
  size_t pos = 0;
  while (pos <= file.size()) {
    size_t end = file.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = file.size();
    std::string line = file.substr(pos, end - pos);
    pos = end + 1;
    size_t open = line.find('['), close = line.rfind(']');
    if (open != std::string::npos && close != std::string::npos && open < close) {
      section = line.substr(open + 1, close - open - 1);
    } else if (size_t eq = line.find('='); eq != std::string::npos) {
      probes.emplace_back(section, line.substr(0, eq));
    }
  }
  return probes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string file = input.ConsumeRandomLengthString(2048);
  const std::string section = input.ConsumeRandomLengthString(32);
  const std::string key = input.ConsumeRandomLengthString(32);
  const std::string value = input.ConsumeRandomLengthString(64);
  std::vector<std::pair<std::string, std::string>> probes = Probes(file);
  probes.emplace_back(input.ConsumeRandomLengthString(32), input.ConsumeRandomLengthString(32));
  if (probes.size() > 64) probes.resize(64);

  const std::string& path = WorkFile();
  WriteFile(path, file);
  const std::string kAbsent = "\x01 absent \x01";
  std::vector<std::string> before;
  for (const auto& [s, k] : probes) before.push_back(IniReadString(path, s, k, kAbsent));

  try {
    IniWriteString(path, section, key, value);
  } catch (const IniFormatError& e) {
    if (!Refused(section, key, value) && !RefusedInUtf16(file, section, key, value)) {
      std::fprintf(stderr, "IniWriteString refused an acceptable name or value: %s\n", e.what());
      std::abort();
    }
    return 0;
  }
  if (Refused(section, key, value) || RefusedInUtf16(file, section, key, value)) {
    std::fprintf(stderr, "IniWriteString wrote a name or value it should refuse\n");
    std::abort();
  }

  const std::string readBack = IniReadString(path, section, key, kAbsent);
  if (readBack != value) {
    std::fprintf(stderr, "wrote \"%s\", read back \"%s\"\n", value.c_str(), readBack.c_str());
    std::abort();
  }
  for (size_t i = 0; i < probes.size(); ++i) {
    const auto& [s, k] = probes[i];
    if (Loose(s) == Loose(section) && Loose(k) == Loose(key)) continue;
    const std::string after = IniReadString(path, s, k, kAbsent);
    if (after != before[i]) {
      std::fprintf(stderr, "writing [%s] %s changed [%s] %s: \"%s\" became \"%s\"\n",
                   section.c_str(), key.c_str(), s.c_str(), k.c_str(), before[i].c_str(),
                   after.c_str());
      std::abort();
    }
  }
  return 0;
}
