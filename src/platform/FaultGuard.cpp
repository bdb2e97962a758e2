#include "platform/FaultGuard.h"

#include "platform/ErrorTexts.h"

namespace {

enum class TFaultKind { Processor, Software, FramePointer, FrameCopies };

TFaultKind KindOf(uint32_t code) {
  if (code == kExceptionFrameBroken) return TFaultKind::FramePointer;
  if (code == kExceptionFrameCopiesDamaged) return TFaultKind::FrameCopies;
  return IsProcessorFaultCode(code) ? TFaultKind::Processor : TFaultKind::Software;
}

std::string FaultText(const char* operation, uint32_t code, uintptr_t address) {
  switch (KindOf(code)) {
    case TFaultKind::FramePointer:
      return errortext::FramePointerChangedText(operation);
    case TFaultKind::FrameCopies:
      return errortext::FrameCopiesDamagedText(operation);
    case TFaultKind::Processor:
      return errortext::ProcessorFaultText(operation, code, address);
    case TFaultKind::Software:
      break;
  }
  return errortext::SoftwareExceptionText(operation, code, address);
}

}  // namespace

ProcessorFaultError::ProcessorFaultError(const char* operation, uint32_t code, uintptr_t address)
    : Exception(FaultText(operation, code, address)), FCode(code), FAddress(address) {}

std::string ProcessorFaultError::Cause() const {
  switch (KindOf(FCode)) {
    case TFaultKind::FramePointer:
      return "frame pointer";
    case TFaultKind::FrameCopies:
      return "caller's frame overwritten";
    case TFaultKind::Processor:
      return "processor fault " + errortext::HexCode(FCode);
    case TFaultKind::Software:
      break;
  }
  return "exception " + errortext::HexCode(FCode);
}

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

bool IsContainedCode(uint32_t code) {
  return code != kFaultStackOverflow && code != kFaultHeapCorruption;
}
