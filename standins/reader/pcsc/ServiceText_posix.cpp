#include "PcscApi.h"

std::string ServiceErrorText(int32_t code) {
  // pcsc-lite's text lives in its own buffer; copy it before anything else calls it.
  const char* text = pcsc_stringify_error(static_cast<LONG>(static_cast<uint32_t>(code)));
  return text ? std::string(text) : std::string();
}
