#include <windows.h>

#include "platform/CodePage.h"

void UpperCaseBytes(uint8_t* bytes, size_t count) {
  CharUpperBuffA(reinterpret_cast<char*>(bytes), static_cast<DWORD>(count));
}

bool IsSystemLeadByte(char c) { return IsDBCSLeadByte(static_cast<BYTE>(c)) != FALSE; }
