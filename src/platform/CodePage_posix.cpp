#include "platform/CodePage.h"

// The same single-byte upper-casing that Windows gives under code page 936:
// only 'a'..'z' change.
void UpperCaseBytes(uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (bytes[i] >= 'a' && bytes[i] <= 'z') bytes[i] = static_cast<uint8_t>(bytes[i] - 'a' + 'A');
  }
}
