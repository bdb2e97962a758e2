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
