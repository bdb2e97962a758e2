#include "platform/CodePage.h"

#include <windows.h>

void UpperCaseBytes(uint8_t* bytes, size_t count) {
  CharUpperBuffA(reinterpret_cast<char*>(bytes), static_cast<DWORD>(count));
}
