#include <cstdio>

#include "PcscApi.h"

std::string ServiceErrorText(int32_t code) {
  char text[512] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  // The system appends a line break to its messages; the caller puts the text in a line.
  while (length > 0 &&
         (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' '))
    --length;
  if (length > 0) return std::string(text, length);
  char fallback[40];
  std::snprintf(fallback, sizeof fallback, "Error 0x%08X",
                static_cast<unsigned>(static_cast<uint32_t>(code)));
  return fallback;
}
