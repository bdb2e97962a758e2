#include "platform/FaultGuard.h"

#include "platform/ErrorTexts.h"

ProcessorFaultError::ProcessorFaultError(const char* operation, uint32_t code, uintptr_t address)
    : Exception(errortext::ProcessorFaultText(operation, code, address)),
      FCode(code),
      FAddress(address) {}
