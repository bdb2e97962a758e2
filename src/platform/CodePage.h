#pragma once
// Code-page services of the system code page (936 on the target workstations).
#include <cstddef>
#include <cstdint>

// Upper-cases a byte buffer in place, as the system's CharUpperBuffA does for the system
// code page. That function converts whole characters, not bytes: under code page 936 a
// lead byte and its trail byte are taken together, so {0xA3, 0xE1, 'a'} (a full-width
// small letter, then 'a') becomes {0xA3, 0xC1, 'A'}. Called once over the 256 byte values
// in increasing order, it gives each byte its own upper-case form (no lead byte is
// followed there by a trail byte that makes a convertible character with it); called on
// one byte at a time, a lead byte alone is not a character and comes back as '?'.
// Only the 26 ASCII letters change in that call under code page 936.
//
//   uint8_t b[] = {'a', 0xB6};  UpperCaseBytes(b, 2);  // b == {'A', 0xB6}
void UpperCaseBytes(uint8_t* bytes, size_t count);

// True when the byte begins a double-byte character of the system code page (under code
// page 936: 0x81-0xFE), as the system's IsDBCSLeadByte tells.
bool IsSystemLeadByte(char c);

// The length of the longest prefix of the first length bytes of text that is at most
// maxBytes long and ends at a character boundary of the system code page, walked as the
// system's text display walks it: a lead byte always takes the byte after it. A text cut
// there never ends in half a character.
//
//   CutLengthAtCharBoundary("ab\xBA\xBA", 4, 3) == 2
inline size_t CutLengthAtCharBoundary(const char* text, size_t length, size_t maxBytes) {
  size_t end = 0;
  while (end < length) {
    const size_t next = end + (IsSystemLeadByte(text[end]) && end + 1 < length ? 2 : 1);
    if (next > maxBytes) break;
    end = next;
  }
  return end;
}
