#include "platform/Profile.h"

#include <cstdint>
#include <vector>

#include "platform/DoubleByte.h"
#include "platform/ErrorTexts.h"
#include "platform/ProfileFile.h"
#include "platform/SystemError.h"

namespace {

// The rules work on code units: bytes of code page 936 for ordinary files, UTF-16
// units for files that start with the UTF-16 LE byte-order mark. Every byte the rules
// look at ("[", "]", "=", quotes, blanks, line ends, NUL) has the same value in both.
template <class C>
using TView = std::basic_string_view<C>;
template <class C>
using TText = std::basic_string<C>;

template <class C>
bool IsBlank(C c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n' || c == '\x1A';
}

// First byte of a double-byte character of code page 936, when its second byte follows.
bool IsLeadByte(std::string_view text, size_t i) { return CharLength936(text, i) == 2; }
// UTF-16 units stand each on its own.
bool IsLeadByte(std::u16string_view, size_t) { return false; }

// True when the text's last byte is a lead byte without its second byte: written
// before "]" or "=", it would take that character as its second byte.
bool EndsInLoneLeadByte(std::string_view text) {
  size_t i = 0;
  while (i + 1 < text.size()) i += CharLength936(text, i);
  return i + 1 == text.size() && IsLeadByte936(text[i]);
}

template <class C>
C FoldAscii(C c) {
  return (c >= 'a' && c <= 'z') ? static_cast<C>(c - 'a' + 'A') : c;
}

// Equal regardless of ASCII letter case; the bytes of double-byte characters compare
// exactly (their second bytes may look like letters).
template <class C>
bool SameName(TView<C> a, TView<C> b) {
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

template <class C>
TView<C> Trim(TView<C> s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

enum class TLineKind { Blank, Section, Key, Other };

// One line of a profile file; offsets into the file's units.
struct TIniLine {
  size_t Begin = 0;
  size_t End = 0;   // start of the line end; Next when the line has none
  size_t Next = 0;  // start of the next line
  TLineKind Kind = TLineKind::Other;
  size_t NameBegin = 0, NameEnd = 0;    // section or key name, up to a NUL
  size_t ValueBegin = 0, ValueEnd = 0;  // key value, blanks dropped, up to a NUL
};

template <class C>
struct TIniFile {
  std::vector<TIniLine> Lines;
  TText<C> LineEnd{C('\r'), C('\n')};  // the file's first, for new lines
};

// A name or value ends at a NUL, as the system's reader takes it; the line's
// structure ("[", "]", "=", blanks at its ends) is found on the whole line.
template <class C>
size_t UpToNul(TView<C> text, size_t begin, size_t end) {
  const size_t nul = text.substr(begin, end - begin).find(C(0));
  return nul == TView<C>::npos ? end : begin + nul;
}

template <class C>
TIniFile<C> Parse(TView<C> text, size_t start) {
  TIniFile<C> file;
  bool lineEndSeen = false;
  size_t pos = start;
  while (pos < text.size()) {
    TIniLine line;
    line.Begin = pos;
    size_t end = pos;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    size_t next = end;
    if (next < text.size()) {
      next += (text[next] == '\r' && next + 1 < text.size() && text[next + 1] == '\n') ? 2 : 1;
      if (!lineEndSeen) file.LineEnd = TText<C>(text.substr(end, next - end));
      lineEndSeen = true;
    }
    line.End = end;
    line.Next = next;
    pos = next;

    size_t first = line.Begin, last = line.End;
    while (first < last && IsBlank(text[first])) ++first;
    while (last > first && IsBlank(text[last - 1])) --last;
    if (first == last) {
      line.Kind = TLineKind::Blank;
    } else {
      size_t closing = TView<C>::npos;
      if (text[first] == '[') {
        const TView<C> content = text.substr(0, last);
        for (size_t i = first + 1; i < last; ++i) {
          if (IsLeadByte(content, i)) {
            ++i;
          } else if (text[i] == ']') {
            closing = i;
          }
        }
      }
      if (closing != TView<C>::npos) {
        line.Kind = TLineKind::Section;
        const TView<C> name = Trim(text.substr(first + 1, closing - first - 1));
        line.NameBegin = static_cast<size_t>(name.data() - text.data());
        line.NameEnd = UpToNul(text, line.NameBegin, line.NameBegin + name.size());
      } else if (size_t eq = text.substr(first, last - first).find(C('=')); eq != TView<C>::npos) {
        eq += first;
        line.Kind = TLineKind::Key;
        const TView<C> name = Trim(text.substr(first, eq - first));
        line.NameBegin = static_cast<size_t>(name.data() - text.data());
        line.NameEnd = UpToNul(text, line.NameBegin, line.NameBegin + name.size());
        size_t v = eq + 1;
        while (v < last && IsBlank(text[v])) ++v;
        line.ValueBegin = v;
        line.ValueEnd = UpToNul(text, v, last);
      }
    }
    file.Lines.push_back(line);
  }
  return file;
}

template <class C>
TView<C> Span(TView<C> text, size_t begin, size_t end) {
  return text.substr(begin, end - begin);
}

constexpr size_t kNone = static_cast<size_t>(-1);

// Index of the first line of the body of the first section named section, or kNone.
// The lines before the first section header form a section with the empty name,
// which therefore always comes first.
template <class C>
size_t FindSectionBody(const TIniFile<C>& file, TView<C> text, TView<C> section) {
  if (section.empty()) return 0;
  for (size_t i = 0; i < file.Lines.size(); ++i) {
    const TIniLine& l = file.Lines[i];
    if (l.Kind == TLineKind::Section && SameName(Span(text, l.NameBegin, l.NameEnd), section))
      return i + 1;
  }
  return kNone;
}

// Index of the first key line named key in the section whose body starts at line
// body, or kNone; sectionEnd receives the index after the section's last line.
template <class C>
size_t FindKey(const TIniFile<C>& file, TView<C> text, size_t body, TView<C> key,
               size_t& sectionEnd) {
  size_t i = body;
  for (; i < file.Lines.size() && file.Lines[i].Kind != TLineKind::Section; ++i) {
    const TIniLine& l = file.Lines[i];
    if (l.Kind == TLineKind::Key && SameName(Span(text, l.NameBegin, l.NameEnd), key)) {
      sectionEnd = i;
      return i;
    }
  }
  sectionEnd = i;
  return kNone;
}

template <class C>
TView<C> Unquote(TView<C> value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

template <class C>
std::optional<TText<C>> FindValue(TView<C> text, size_t start, TView<C> section, TView<C> key) {
  const TIniFile<C> file = Parse(text, start);
  const size_t body = FindSectionBody(file, text, section);
  if (body == kNone) return std::nullopt;
  size_t sectionEnd = 0;
  const size_t k = FindKey(file, text, body, key, sectionEnd);
  if (k == kNone) return std::nullopt;
  const TIniLine& l = file.Lines[k];
  return TText<C>(Unquote(Span(text, l.ValueBegin, l.ValueEnd)));
}

// The text with key in section set to value; names and value already checked.
template <class C>
TText<C> WithValue(TView<C> text, size_t start, TView<C> section, TView<C> key, TView<C> value) {
  // Quoted when reading would otherwise drop blanks or a pair of quotes.
  TText<C> written(value);
  if (!value.empty() &&
      (IsBlank(value.front()) || IsBlank(value.back()) || Unquote(value).size() != value.size()))
    written = C('"') + written + C('"');

  const TIniFile<C> file = Parse(text, start);
  TText<C> out;
  const size_t body = FindSectionBody(file, text, section);
  if (body != kNone) {
    const size_t header = body - 1;  // the section name is not empty
    size_t sectionEnd = 0;
    const size_t k = FindKey(file, text, body, key, sectionEnd);
    if (k != kNone) {
      const TIniLine& l = file.Lines[k];
      out.append(text.substr(0, l.ValueBegin));
      out.append(written);
      out.append(text.substr(l.ValueEnd));
      return out;
    }
    // After the section's last non-blank line (the header at least).
    size_t lastLine = sectionEnd - 1;
    while (lastLine > header && file.Lines[lastLine].Kind == TLineKind::Blank) --lastLine;
    const TIniLine& l = file.Lines[lastLine];
    out.append(text.substr(0, l.Next));
    if (l.Next == l.End) out.append(file.LineEnd);  // the last line had no line end
    out.append(key).append(1, C('=')).append(written).append(file.LineEnd);
    out.append(text.substr(l.Next));
    return out;
  }
  out.assign(text);
  if (!file.Lines.empty()) {
    const TIniLine& l = file.Lines.back();
    if (l.Next == l.End) out.append(file.LineEnd);
    if (l.Kind != TLineKind::Blank) out.append(file.LineEnd);
  }
  out.append(1, C('[')).append(section).append(1, C(']')).append(file.LineEnd);
  out.append(key).append(1, C('=')).append(written).append(file.LineEnd);
  return out;
}

}  // namespace

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

bool IsUtf16Le(std::string_view bytes) {
  return bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE';
}

// The file's UTF-16 LE units, its byte-order mark first; an odd last byte is left out.
std::u16string DecodeUtf16Le(std::string_view bytes) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                     static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
  return units;
}

std::string EncodeUtf16Le(std::u16string_view units) {
  std::string bytes(units.size() * 2, '\0');
  for (size_t i = 0; i < units.size(); ++i) {
    bytes[2 * i] = static_cast<char>(units[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(units[i] >> 8);
  }
  return bytes;
}

bool HasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Raises IniFormatError for a name or value that would not read back as written.
void CheckWritable(std::string_view section, std::string_view key, std::string_view value) {
  if (section.empty() || HasLineBreakOrNul(section))
    throw IniFormatError(errortext::ProfileFormatText(errortext::kProfileSectionNameUnwritable));
  if (key.empty() || HasLineBreakOrNul(key) || key.find('=') != std::string_view::npos ||
      key.front() == '[')
    throw IniFormatError(errortext::ProfileFormatText(errortext::kProfileKeyNameUnwritable));
  if (EndsInLoneLeadByte(section) || EndsInLoneLeadByte(key))
    throw IniFormatError(errortext::ProfileFormatText(errortext::kProfileNameEndsInLeadByte));
  if (HasLineBreakOrNul(value))
    throw IniFormatError(errortext::ProfileFormatText(errortext::kProfileValueUnwritable));
}

std::u16string ToUtf16ForFile(std::string_view text) {
  std::optional<std::u16string> units = AnsiToUtf16(text);
  if (!units)
    throw IniFormatError(errortext::ProfileFormatText(errortext::kProfileTextOutsideCodePage));
  return *units;
}

}  // namespace

namespace {

// The test seams of ProfileFile.h; constant-initialised, so nothing runs at load.
void (*gDeadlineHook)(void* context) = nullptr;
void* gDeadlineHookContext = nullptr;
void (*gMoveHook)(void* context) = nullptr;
void* gMoveHookContext = nullptr;
void (*gMovedHook)(void* context) = nullptr;
void* gMovedHookContext = nullptr;
bool gReplaceForced = false;
long (*gOpenShim)(long osError, void* context) = nullptr;
void* gOpenShimContext = nullptr;

}  // namespace

void SetProfileMoveHook(void (*hook)(void* context), void* context) {
  gMoveHook = hook;
  gMoveHookContext = context;
}

void RunProfileMoveHook() {
  if (gMoveHook != nullptr) gMoveHook(gMoveHookContext);
}

void SetProfileMovedHook(void (*hook)(void* context), void* context) {
  gMovedHook = hook;
  gMovedHookContext = context;
}

void RunProfileMovedHook() {
  if (gMovedHook != nullptr) gMovedHook(gMovedHookContext);
}

void SetProfileReplaceForced(bool forced) { gReplaceForced = forced; }

bool ProfileReplaceForced() { return gReplaceForced; }

void SetProfileOpenShim(long (*shim)(long osError, void* context), void* context) {
  gOpenShim = shim;
  gOpenShimContext = context;
}

long RunProfileOpenShim(long osError) {
  if (gOpenShim == nullptr) return osError;
  const long answer = gOpenShim(osError, gOpenShimContext);
  return answer == 0 ? osError : answer;
}

void SetProfileDeadlineHook(void (*hook)(void* context), void* context) {
  gDeadlineHook = hook;
  gDeadlineHookContext = context;
}

void RunProfileDeadlineHook() {
  if (gDeadlineHook != nullptr) gDeadlineHook(gDeadlineHookContext);
}

IniWriteError::IniWriteError(const std::string& path, const std::string& operation, long osError)
    : Exception(errortext::ProfileWriteText(
          path, operation, errortext::SystemErrorText(osError, SystemErrorDescription(osError)))),
      FOperation(operation),
      FOsError(osError) {}

std::optional<std::string> IniFindValue(std::string_view fileBytes, std::string_view section,
                                        std::string_view key) {
  section = Trim(section);
  key = Trim(key);
  if (IsUtf16Le(fileBytes)) {
    const std::u16string text = DecodeUtf16Le(fileBytes);
    const std::optional<std::u16string> s = AnsiToUtf16(section), k = AnsiToUtf16(key);
    if (!s || !k) return std::nullopt;
    const std::optional<std::u16string> value =
        FindValue<char16_t>(text, 1, std::u16string_view(*s), std::u16string_view(*k));
    if (!value) return std::nullopt;
    return Utf16ToAnsi(*value);
  }
  const size_t start = fileBytes.substr(0, 3) == kUtf8Mark ? 3 : 0;
  return FindValue<char>(fileBytes, start, section, key);
}

std::string IniWithValue(std::string_view fileBytes, std::string_view section, std::string_view key,
                         std::string_view value) {
  section = Trim(section);
  key = Trim(key);
  CheckWritable(section, key, value);
  if (IsUtf16Le(fileBytes)) {
    const std::u16string s = ToUtf16ForFile(section), k = ToUtf16ForFile(key),
                         v = ToUtf16ForFile(value);
    const std::u16string text = DecodeUtf16Le(fileBytes);
    std::string out = EncodeUtf16Le(WithValue<char16_t>(text, 1, s, k, v));
    // An odd last byte is no unit of the text; it stays the file's last byte.
    if (fileBytes.size() % 2 != 0) out.push_back(fileBytes.back());
    return out;
  }
  const size_t start = fileBytes.substr(0, 3) == kUtf8Mark ? 3 : 0;
  return WithValue<char>(fileBytes, start, section, key, value);
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
  // Refused names and values never reach the file.
  CheckWritable(Trim(section), Trim(key), value);
  UpdateProfileFile(fileName, [&](const std::string* oldBytes) {
    return IniWithValue(oldBytes != nullptr ? *oldBytes : std::string(), section, key, value);
  });
}
