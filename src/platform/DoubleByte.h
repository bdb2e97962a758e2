#pragma once
// Characters of code page 936 in 8-bit texts: a lead byte (0x81-0xFE) and the byte after
// it form one double-byte character; every other byte is a character of its own. Used
// where a text is cut or escaped, so that no character is split and a trail byte (which
// may be 0x5C "\" or an ASCII letter) is never taken for a character of its own.
//
//   CharLength936("\xD7\x5C" "a", 0) == 2;  CharLength936("\xD7", 0) == 1
#include <cstddef>
#include <string_view>

inline bool IsLeadByte936(char c) {
  const unsigned char b = static_cast<unsigned char>(c);
  return b >= 0x81 && b <= 0xFE;
}

inline bool IsTrailByte936(char c) {
  const unsigned char b = static_cast<unsigned char>(c);
  return b >= 0x40 && b <= 0xFE && b != 0x7F;
}

// The byte length of the character at pos (pos < text.size()): 2 for a lead byte
// followed by a valid trail byte, otherwise 1 (a lone lead byte at the end, or before a
// byte that cannot be a trail byte, stands alone).
inline size_t CharLength936(std::string_view text, size_t pos) {
  return IsLeadByte936(text[pos]) && pos + 1 < text.size() && IsTrailByte936(text[pos + 1]) ? 2 : 1;
}

// The longest prefix of text of at most maxBytes bytes that ends at a character
// boundary as the system's text display walks it: a lead byte always takes the byte
// after it, so a cut prefix never ends in a lead byte that would swallow whatever the
// text is followed by.
inline std::string_view CutAtCharBoundary936(std::string_view text, size_t maxBytes) {
  size_t end = 0;
  while (end < text.size()) {
    const size_t next = end + (IsLeadByte936(text[end]) && end + 1 < text.size() ? 2 : 1);
    if (next > maxBytes) break;
    end = next;
  }
  return text.substr(0, end);
}
