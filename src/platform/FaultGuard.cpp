#include "platform/FaultGuard.h"

#include "platform/ErrorTexts.h"

ProcessorFaultError::ProcessorFaultError(const char* operation, uint32_t code, uintptr_t address)
    : Exception(code == kExceptionFrameBroken ? errortext::FramePointerChangedText(operation)
                : IsProcessorFaultCode(code)
                    ? errortext::ProcessorFaultText(operation, code, address)
                    : errortext::SoftwareExceptionText(operation, code, address)),
      FCode(code),
      FAddress(address) {}

bool IsProcessorFaultCode(uint32_t code) {
  switch (code) {
    case 0xC0000005:  // access violation
    case 0xC0000006:  // in-page error
    case 0xC000001D:  // illegal instruction
    case 0xC0000096:  // privileged instruction
    case 0xC0000094:  // integer division by zero
    case 0xC0000095:  // integer overflow
    case 0xC000008C:  // array bounds exceeded
    case 0x80000002:  // datatype misalignment
    case 0xC000008D:  // floating-point denormal operand
    case 0xC000008E:  // floating-point division by zero
    case 0xC000008F:  // floating-point inexact result
    case 0xC0000090:  // floating-point invalid operation
    case 0xC0000091:  // floating-point overflow
    case 0xC0000092:  // floating-point stack check
    case 0xC0000093:  // floating-point underflow
    case 0x80000001:  // guard page
    case 0x80000003:  // breakpoint
    case 0xC00000FD:  // stack overflow
      return true;
    default:
      return false;
  }
}
