#pragma once
// Code-page services of the system code page (936 on the target workstations).
#include <cstddef>
#include <cstdint>

// Upper-cases single bytes in place, each byte on its own, as the system's
// CharUpperBuffA does for the system code page. Code page 936 folds only the 26
// ASCII letters; lead and trail bytes of double-byte characters stay as they are.
//
//   uint8_t b[] = {'a', 0xB6};  UpperCaseBytes(b, 2);  // b == {'A', 0xB6}
void UpperCaseBytes(uint8_t* bytes, size_t count);
