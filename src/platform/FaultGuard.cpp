#include "platform/FaultGuard.h"

#include <cstdio>

namespace {

std::string FaultText(const char* operation, uint32_t code, uintptr_t address) {
  char text[96];
  std::snprintf(text, sizeof text, "processor fault %08X at address %08llX",
                static_cast<unsigned>(code), static_cast<unsigned long long>(address));
  return std::string(operation) + ": " + text;
}

}  // namespace

ProcessorFaultError::ProcessorFaultError(const char* operation, uint32_t code, uintptr_t address)
    : Exception(FaultText(operation, code, address)), FCode(code), FAddress(address) {}
