#include "HostProfile.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "platform/DoubleByte.h"

namespace {

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// Calls onLine(lineNumber, line) for every line, CR LF or LF ended.
template <typename F>
void ForEachLine(std::string_view text, F onLine) {
  int lineNumber = 0;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    onLine(++lineNumber, line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

HostProfileError LineError(const std::string& fileName, int lineNumber, const std::string& what) {
  return HostProfileError(fileName + " line " + std::to_string(lineNumber) + ": " + what);
}

void RejectUtf8Bom(std::string_view text, const std::string& fileName) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    throw HostProfileError(fileName + ": starts with a UTF-8 mark; the file must be GB2312");
  }
}

bool IsAbsolutePath(std::string_view path) {
  if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return true;
  return path.size() >= 2 && path[1] == ':';
}

// True when the path's last character is a separator, "/" or "\\" (profiles written for
// Windows are read on every platform). The path is walked by code-page-936 characters,
// since a double-byte character's trail byte may be 0x5C and is no separator then.
bool EndsInSeparator(std::string_view path) {
  size_t last = 0, i = 0;
  while (i < path.size()) {
    last = i;
    i += CharLength936(path, i);
  }
  if (path.empty() || i - last != 1) return false;
  return path[last] == '/' || path[last] == '\\';
}

std::string WithSeparator(std::string path) {
  if (!EndsInSeparator(path)) path += PathSeparator();
  return path;
}

std::string Resolve(const std::string& dir, const std::string& path) {
  return IsAbsolutePath(path) ? path : dir + path;
}

uint32_t ParseNumber(const std::string& text, const std::string& where, uint32_t max) {
  std::string_view t = Trim(text);
  int base = 10;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    base = 16;
    t.remove_prefix(2);
  } else if (!t.empty() && t[0] == '$') {
    base = 16;
    t.remove_prefix(1);
  }
  if (t.empty() || t.size() > 10) throw HostProfileError(where + ": not a number: " + text);
  uint64_t value = 0;
  for (char c : t) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      throw HostProfileError(where + ": not a number: " + text);
    value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
  }
  if (value > max) throw HostProfileError(where + ": out of range: " + text);
  return static_cast<uint32_t>(value);
}

}  // namespace

char PathSeparator() {
#if defined(_WIN32)
  return '\\';
#else
  return '/';
#endif
}

IniText IniText::Parse(std::string_view text, const std::string& fileName) {
  RejectUtf8Bom(text, fileName);
  IniText ini;
  ForEachLine(text, [&](int lineNumber, std::string_view raw) {
    std::string_view line = Trim(raw);
    if (line.empty() || line[0] == ';' || line[0] == '#') return;
    if (line[0] == '[') {
      if (line.back() != ']') throw LineError(fileName, lineNumber, "section without ']'");
      ini.FSections.push_back({std::string(Trim(line.substr(1, line.size() - 2))), {}});
      return;
    }
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) throw LineError(fileName, lineNumber, "expected key=value");
    if (ini.FSections.empty()) throw LineError(fileName, lineNumber, "key outside a section");
    std::string_view key = Trim(line.substr(0, eq));
    if (key.empty()) throw LineError(fileName, lineNumber, "empty key");
    ini.FSections.back().Keys.emplace_back(std::string(key),
                                           std::string(Trim(line.substr(eq + 1))));
  });
  return ini;
}

const TIniSection* IniText::Section(std::string_view name) const {
  for (const TIniSection& section : FSections) {
    if (SameText(section.Name, name)) return &section;
  }
  return nullptr;
}

std::optional<std::string> IniText::Value(std::string_view section, std::string_view key) const {
  for (const TIniSection& s : FSections) {
    if (!SameText(s.Name, section)) continue;
    for (const auto& [k, v] : s.Keys) {
      if (SameText(k, key)) return v;
    }
  }
  return std::nullopt;
}

std::map<int32_t, std::string> ParseCatalogue(std::string_view text, const std::string& fileName) {
  RejectUtf8Bom(text, fileName);
  std::map<int32_t, std::string> catalogue;
  ForEachLine(text, [&](int lineNumber, std::string_view raw) {
    std::string_view line = Trim(raw);
    if (line.empty() || line[0] == ';' || line[0] == '#') return;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) throw LineError(fileName, lineNumber, "expected <id>=<text>");
    std::string_view idText = Trim(line.substr(0, eq));
    if (idText.empty() || idText.size() > 10 ||
        idText.find_first_not_of("0123456789") != std::string_view::npos) {
      throw LineError(fileName, lineNumber, "message id is not a number: " + std::string(idText));
    }
    uint64_t id = std::strtoull(std::string(idText).c_str(), nullptr, 10);
    if (id > 0x7FFFFFFF) throw LineError(fileName, lineNumber, "message id out of range");
    if (!catalogue.emplace(static_cast<int32_t>(id), std::string(line.substr(eq + 1))).second) {
      throw LineError(fileName, lineNumber, "message id " + std::string(idText) + " given twice");
    }
  });
  return catalogue;
}

std::string FillMsgText(std::string_view format, std::string_view param) {
  std::string text;
  text.reserve(format.size() + param.size());
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      if (format[i + 1] == 's') {
        text += param;
        ++i;
        continue;
      }
      if (format[i + 1] == '%') {
        text += '%';
        ++i;
        continue;
      }
    }
    text += format[i];
  }
  return text;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  std::string bytes;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) bytes.append(buffer, n);
  std::fclose(file);
  return bytes;
}

bool AppendToFile(const std::string& path, std::string_view bytes) {
  if (path.empty()) {
    std::fwrite(bytes.data(), 1, bytes.size(), stderr);
    std::fflush(stderr);
    return true;
  }
  FILE* file = std::fopen(path.c_str(), "ab");
  if (file == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

std::string EscapeLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t length = CharLength936(text, i);
    const char c = text[i];
    if (length == 2) {
      // A double-byte character is written whole, its trail byte too (which may be 0x5C).
      out.append(text.substr(i, 2));
    } else if (IsLeadByte936(c) && i + 1 < text.size() &&
               (text[i + 1] == '\r' || text[i + 1] == '\n')) {
      // A lone lead byte before a line end: its escape begins with 0x5C, which a reader
      // would take for this byte's trail byte, so the lead byte is written as \xHH.
      static const char kHex[] = "0123456789ABCDEF";
      const unsigned char b = static_cast<unsigned char>(c);
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
    i += length;
  }
  return out;
}

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string UnescapeLine(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (size_t i = 0; i < field.size();) {
    if (CharLength936(field, i) == 2) {
      out.append(field.substr(i, 2));
      i += 2;
    } else if (field[i] == '\\' && i + 1 < field.size()) {
      const char next = field[i + 1];
      if (next == 'x' && i + 3 < field.size() && HexValue(field[i + 2]) >= 0 &&
          HexValue(field[i + 3]) >= 0) {
        out += static_cast<char>(HexValue(field[i + 2]) * 16 + HexValue(field[i + 3]));
        i += 4;
      } else {
        out += next == 'r' ? '\r' : next == 'n' ? '\n' : next;
        i += 2;
      }
    } else {
      out += field[i++];
    }
  }
  return out;
}

std::vector<std::string> ReadRecordedLines(const std::string& path) {
  std::vector<std::string> lines;
  const std::optional<std::string> text = ReadWholeFile(path);
  if (!text) return lines;
  size_t start = 0;
  while (start < text->size()) {
    size_t end = text->find('\n', start);
    if (end == std::string::npos) end = text->size();
    std::string line = text->substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

std::optional<TRecordedMessage> ParseRecordedMessage(std::string_view line) {
  // The first " text=" ends the parameter: a parameter text that itself holds " text=" is
  // read short, the one ambiguity of this line format.
  const size_t textAt = line.find(" text=");
  if (textAt == std::string_view::npos) return std::nullopt;
  TRecordedMessage m;
  m.Text = UnescapeLine(line.substr(textAt + 6));
  if (line.rfind("InforMsg ", 0) == 0) {
    const size_t paramAt = line.find(" param=");
    if (paramAt == std::string_view::npos || paramAt > textAt) return std::nullopt;
    m.Id = std::atoi(std::string(line.substr(9, paramAt - 9)).c_str());
    m.Param = UnescapeLine(line.substr(paramAt + 7, textAt - paramAt - 7));
    return m;
  }
  if (line.rfind("InfoMsgBox ", 0) == 0) return m;
  return std::nullopt;
}

THostProfile LoadHostProfile(const std::string& dirArg) {
  if (dirArg.empty()) throw HostProfileError("host profile folder not given");
  struct stat info {};
  if (stat(dirArg.c_str(), &info) != 0 || (info.st_mode & S_IFDIR) == 0) {
    throw HostProfileError("host profile folder not found: " + dirArg);
  }
  THostProfile profile;
  std::string dir = WithSeparator(dirArg);
  profile.Dir = dir;

  IniText host;
  if (auto text = ReadWholeFile(dir + "Host.ini")) host = IniText::Parse(*text, "Host.ini");
  auto get = [&](const char* section, const char* key, const std::string& fallback) {
    return host.Value(section, key).value_or(fallback);
  };
  auto number = [&](const char* section, const char* key, uint32_t fallback, uint32_t max) {
    auto v = host.Value(section, key);
    return v ? ParseNumber(*v, std::string("Host.ini [") + section + "] " + key, max) : fallback;
  };

  profile.AppPath = WithSeparator(Resolve(dir, get("Host", "AppPath", "")));
  profile.AppHandle = number("Host", "AppHandle", 0, 0xFFFFFFFFu);
  profile.MainFrameHandle = number("Host", "MainFrameHandle", 0, 0xFFFFFFFFu);
  std::string mode = get("Host", "Mode", "record");
  if (SameText(mode, "record")) {
    profile.Recording = true;
  } else if (SameText(mode, "interactive")) {
    profile.Recording = false;
  } else {
    throw HostProfileError("Host.ini [Host] Mode: expected record or interactive, not " + mode);
  }
  profile.TranscriptPath = Resolve(dir, get("Host", "Transcript", "transcript.txt"));
  profile.LogPath = Resolve(dir, get("Host", "Log", "host.log"));

  profile.SubAppPath = WithSeparator(Resolve(dir, get("SubApp", "Path", "")));
  profile.SubAppCode = get("SubApp", "Code", "");
  profile.FuncCode = get("SubApp", "FuncCode", "");

  profile.ModuleBackColor = number("Skin", "ModuleBackColor", profile.ModuleBackColor, 0xFFFFFFFFu);
  profile.TopBarColor = number("Skin", "TopBarColor", profile.TopBarColor, 0xFFFFFFFFu);
  profile.SysFontColor = number("Skin", "SysFontColor", profile.SysFontColor, 0xFFFFFFFFu);
  profile.SysFontSize = static_cast<int32_t>(
      number("Skin", "SysFontSize", static_cast<uint32_t>(profile.SysFontSize), 1000));
  profile.SysFontCharSet =
      static_cast<uint8_t>(number("Skin", "SysFontCharSet", profile.SysFontCharSet, 255));

  profile.UserName = get("User", "Name", "");
  profile.CompanyName = get("Company", "Name", "");
  if (const TIniSection* params = host.Section("Params")) profile.Params = params->Keys;

  if (auto text = ReadWholeFile(dir + "UserConfig.ini")) {
    profile.UserConfig = IniText::Parse(*text, "UserConfig.ini");
  }
  if (auto text = ReadWholeFile(dir + "Messages.txt")) {
    profile.Catalogue = ParseCatalogue(*text, "Messages.txt");
  }
  return profile;
}
