#include "platform/Profile.h"

#include <cstdint>
#include <vector>

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n' || c == '\x1A';
}

// First byte of a double-byte character of code page 936, when a second byte follows.
bool IsLeadByte(std::string_view text, size_t i) {
  const auto b = static_cast<uint8_t>(text[i]);
  if (b < 0x81 || b > 0xFE || i + 1 >= text.size()) return false;
  const auto t = static_cast<uint8_t>(text[i + 1]);
  return t >= 0x40 && t <= 0xFE && t != 0x7F;
}

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Equal regardless of ASCII letter case; the bytes of double-byte characters compare
// exactly (their second bytes may look like letters).
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (IsLeadByte(a, i)) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
      ++i;
    } else if (FoldAscii(a[i]) != FoldAscii(b[i])) {
      return false;
    }
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

enum class TLineKind { Blank, Section, Key, Other };

// One line of a profile file; offsets into the file's bytes.
struct TIniLine {
  size_t Begin = 0;
  size_t End = 0;   // end of the content, before the line end
  size_t Next = 0;  // start of the next line
  TLineKind Kind = TLineKind::Other;
  size_t NameBegin = 0, NameEnd = 0;    // section or key name
  size_t ValueBegin = 0, ValueEnd = 0;  // key value, blanks dropped
};

struct TIniFile {
  std::vector<TIniLine> Lines;
  std::string_view LineEnd = "\r\n";  // the file's first, for new lines
};

TIniFile Parse(std::string_view bytes) {
  TIniFile file;
  bool lineEndSeen = false;
  size_t pos = 0;
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
  while (pos < bytes.size()) {
    TIniLine line;
    line.Begin = pos;
    size_t end = pos;
    while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n') ++end;
    line.End = end;
    size_t next = end;
    if (next < bytes.size()) {
      next += (bytes[next] == '\r' && next + 1 < bytes.size() && bytes[next + 1] == '\n') ? 2 : 1;
      if (!lineEndSeen) file.LineEnd = bytes.substr(end, next - end);
      lineEndSeen = true;
    }
    line.Next = next;
    pos = next;

    size_t first = line.Begin, last = line.End;
    while (first < last && IsBlank(bytes[first])) ++first;
    while (last > first && IsBlank(bytes[last - 1])) --last;
    if (first == last) {
      line.Kind = TLineKind::Blank;
    } else {
      size_t closing = std::string_view::npos;
      if (bytes[first] == '[') {
        for (size_t i = first + 1; i < last; ++i) {
          if (IsLeadByte(bytes.substr(0, last), i)) {
            ++i;
          } else if (bytes[i] == ']') {
            closing = i;
          }
        }
      }
      if (closing != std::string_view::npos) {
        line.Kind = TLineKind::Section;
        std::string_view name = Trim(bytes.substr(first + 1, closing - first - 1));
        line.NameBegin = static_cast<size_t>(name.data() - bytes.data());
        line.NameEnd = line.NameBegin + name.size();
      } else if (size_t eq = bytes.substr(first, last - first).find('=');
                 eq != std::string_view::npos) {
        eq += first;
        line.Kind = TLineKind::Key;
        std::string_view name = Trim(bytes.substr(first, eq - first));
        line.NameBegin = static_cast<size_t>(name.data() - bytes.data());
        line.NameEnd = line.NameBegin + name.size();
        size_t v = eq + 1;
        while (v < last && IsBlank(bytes[v])) ++v;
        line.ValueBegin = v;
        line.ValueEnd = last;
      }
    }
    file.Lines.push_back(line);
  }
  return file;
}

std::string_view Span(std::string_view bytes, size_t begin, size_t end) {
  return bytes.substr(begin, end - begin);
}

constexpr size_t kNone = static_cast<size_t>(-1);

// Index of the first line of the body of the first section named section, or kNone.
// The lines before the first section header form a section with the empty name,
// which therefore always comes first.
size_t FindSectionBody(const TIniFile& file, std::string_view bytes, std::string_view section) {
  if (section.empty()) return 0;
  for (size_t i = 0; i < file.Lines.size(); ++i) {
    const TIniLine& l = file.Lines[i];
    if (l.Kind == TLineKind::Section && SameName(Span(bytes, l.NameBegin, l.NameEnd), section))
      return i + 1;
  }
  return kNone;
}

// Index of the first key line named key in the section whose body starts at line
// body, or kNone; sectionEnd receives the index after the section's last line.
size_t FindKey(const TIniFile& file, std::string_view bytes, size_t body, std::string_view key,
               size_t& sectionEnd) {
  size_t i = body;
  for (; i < file.Lines.size() && file.Lines[i].Kind != TLineKind::Section; ++i) {
    const TIniLine& l = file.Lines[i];
    if (l.Kind == TLineKind::Key && SameName(Span(bytes, l.NameBegin, l.NameEnd), key)) {
      sectionEnd = i;
      return i;
    }
  }
  sectionEnd = i;
  return kNone;
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

bool HasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

std::optional<std::string> IniFindValue(std::string_view fileBytes, std::string_view section,
                                        std::string_view key) {
  section = Trim(section);
  key = Trim(key);
  const TIniFile file = Parse(fileBytes);
  const size_t body = FindSectionBody(file, fileBytes, section);
  if (body == kNone) return std::nullopt;
  size_t sectionEnd = 0;
  const size_t k = FindKey(file, fileBytes, body, key, sectionEnd);
  if (k == kNone) return std::nullopt;
  const TIniLine& l = file.Lines[k];
  return std::string(Unquote(Span(fileBytes, l.ValueBegin, l.ValueEnd)));
}

std::string IniWithValue(std::string_view fileBytes, std::string_view section, std::string_view key,
                         std::string_view value) {
  section = Trim(section);
  key = Trim(key);
  if (section.empty() || HasLineBreakOrNul(section))
    throw IniFormatError("profile section name is empty or holds a line end");
  if (key.empty() || HasLineBreakOrNul(key) || key.find('=') != std::string_view::npos ||
      key.front() == '[')
    throw IniFormatError("profile key name is empty or holds a line end, \"=\" or a leading \"[\"");
  if (HasLineBreakOrNul(value)) throw IniFormatError("profile value holds a line end");

  // Quoted when reading would otherwise drop blanks or a pair of quotes.
  std::string written(value);
  if (!value.empty() &&
      (IsBlank(value.front()) || IsBlank(value.back()) || Unquote(value).size() != value.size()))
    written = "\"" + written + "\"";

  const TIniFile file = Parse(fileBytes);
  std::string out;
  const size_t body = FindSectionBody(file, fileBytes, section);
  if (body != kNone) {
    const size_t header = body - 1;  // the section name is not empty
    size_t sectionEnd = 0;
    const size_t k = FindKey(file, fileBytes, body, key, sectionEnd);
    if (k != kNone) {
      const TIniLine& l = file.Lines[k];
      out.append(fileBytes.substr(0, l.ValueBegin));
      out.append(written);
      out.append(fileBytes.substr(l.ValueEnd));
      return out;
    }
    // After the section's last non-blank line (the header at least).
    size_t lastLine = sectionEnd - 1;
    while (lastLine > header && file.Lines[lastLine].Kind == TLineKind::Blank) --lastLine;
    const TIniLine& l = file.Lines[lastLine];
    out.append(fileBytes.substr(0, l.Next));
    if (l.Next == l.End) out.append(file.LineEnd);  // the last line had no line end
    out.append(key).append("=").append(written).append(file.LineEnd);
    out.append(fileBytes.substr(l.Next));
    return out;
  }
  out.assign(fileBytes);
  if (!file.Lines.empty()) {
    const TIniLine& l = file.Lines.back();
    if (l.Next == l.End) out.append(file.LineEnd);
    if (l.Kind != TLineKind::Blank) out.append(file.LineEnd);
  }
  out.append("[").append(section).append("]").append(file.LineEnd);
  out.append(key).append("=").append(written).append(file.LineEnd);
  return out;
}

std::string IniReadString(const std::string& fileName, std::string_view section,
                          std::string_view key, std::string_view defaultValue) {
  std::string bytes;
  long osError = 0;
  if (ReadProfileFile(fileName, bytes, osError) != TFileReadResult::Read)
    return std::string(defaultValue);
  std::optional<std::string> value = IniFindValue(bytes, section, key);
  return value ? *value : std::string(defaultValue);
}

void IniWriteString(const std::string& fileName, std::string_view section, std::string_view key,
                    std::string_view value) {
  std::string bytes;
  long osError = 0;
  // Only a missing file starts empty: writing over a file that could not be read
  // would lose its other keys.
  if (ReadProfileFile(fileName, bytes, osError) == TFileReadResult::Failed)
    throw IniWriteError(fileName, "read", osError);
  ReplaceProfileFile(fileName, IniWithValue(bytes, section, key, value));
}
