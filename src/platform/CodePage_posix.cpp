#include "platform/CodePage.h"
#include "platform/DoubleByte.h"

// What CharUpperBuffA gives under code page 936 for ASCII and for every byte on its own:
// only 'a'..'z' change. (Double-byte letters, such as the full-width ones, are not
// converted here; the module only ever upper-cases the 256 byte values in order.)
void UpperCaseBytes(uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (bytes[i] >= 'a' && bytes[i] <= 'z') bytes[i] = static_cast<uint8_t>(bytes[i] - 'a' + 'A');
  }
}

// The system code page of the target workstations.
bool IsSystemLeadByte(char c) { return IsLeadByte936(c); }
