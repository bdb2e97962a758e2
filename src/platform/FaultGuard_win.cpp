#include <windows.h>

#include "platform/FaultGuard.h"

#if defined(__i386__)

// The recovery point of one contained call, filled by the call stub; the offsets are the
// stub's (asm below).
struct TRecoveryPoint {
  uint32_t Esp;        // 0: stack pointer with our exception registration on top
  uint32_t Ebp;        // 4: the stub's frame pointer
  uint32_t Resume;     // 8: where execution goes on after a contained fault
  uint32_t PrevFrame;  // 12: the head of the SEH chain before our registration
  uint32_t Code;       // 16: the contained fault's exception code
  uint32_t Address;    // 20: the faulting instruction's address
};

extern "C" {
// int RsRunContained(void (*body)(void*), void* context, TRecoveryPoint* point): 0 when
// body returned, 1 when a fault was contained. cdecl.
int RsRunContained(void (*body)(void*), void* context, TRecoveryPoint* point);
EXCEPTION_DISPOSITION __cdecl RsFaultHandler(EXCEPTION_RECORD* record, void* establisherFrame,
                                             CONTEXT* context, void* dispatcherContext);
}

// The stub: saves the callee-saved registers, registers an exception registration record
// {next, handler, point} on the stack as the head of the thread's SEH chain (fs:[0]), and
// calls body. Whether body returns or the handler resumes at 1:, the chain head goes back
// to what it was before, which also drops any registration the abandoned library frames
// left behind, and the registers are restored from the stub's own frame.
asm(R"(
    .text
    .globl _RsRunContained
    .def _RsRunContained; .scl 2; .type 32; .endef
_RsRunContained:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 16(%ebp), %eax
    pushl %eax
    pushl $_RsFaultHandler
    pushl %fs:0
    movl (%esp), %ecx
    movl %ecx, 12(%eax)
    movl %esp, %fs:0
    movl %esp, 0(%eax)
    movl %ebp, 4(%eax)
    movl $1f, 8(%eax)
    pushl 12(%ebp)
    call *8(%ebp)
    addl $4, %esp
    xorl %eax, %eax
    jmp 2f
1:
    movl $1, %eax
2:
    movl 16(%ebp), %ecx
    movl 12(%ecx), %ecx
    movl %ecx, %fs:0
    addl $12, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
)");

namespace {

bool IsProcessorFault(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
      return true;
    default:
      return false;
  }
}

constexpr DWORD kUnwinding = 0x2 | 0x4;  // EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND
constexpr DWORD kDirectionFlag = 0x400;
constexpr DWORD kTrapFlag = 0x100;

}  // namespace

extern "C" EXCEPTION_DISPOSITION __cdecl RsFaultHandler(EXCEPTION_RECORD* record,
                                                        void* establisherFrame, CONTEXT* context,
                                                        void*) {
  // Unwinds pass through, and so does everything that is not a processor fault.
  if ((record->ExceptionFlags & kUnwinding) != 0 || !IsProcessorFault(record->ExceptionCode))
    return ExceptionContinueSearch;
  auto* point = static_cast<TRecoveryPoint**>(establisherFrame)[2];
  point->Code = record->ExceptionCode;
  point->Address = reinterpret_cast<uintptr_t>(record->ExceptionAddress);
  // The library's own termination handlers between the fault and our registration run
  // now, as they would for any handled exception.
  RtlUnwind(establisherFrame, nullptr, record, nullptr);
  context->Esp = point->Esp;
  context->Ebp = point->Ebp;
  context->Eip = point->Resume;
  context->EFlags &= ~(kDirectionFlag | kTrapFlag);
  return ExceptionContinueExecution;
}

bool FaultContainmentAvailable() { return true; }

bool RunFaultContained(void (*body)(void*), void* context, TProcessorFault& fault) {
  fault = {};
  uint16_t controlWord = 0;
  uint32_t mxcsr = 0;
  asm volatile("fnstcw %0" : "=m"(controlWord));
  asm volatile("stmxcsr %0" : "=m"(mxcsr));
  TRecoveryPoint point{};
  if (RsRunContained(body, context, &point) == 0) return true;
  // The library may have left the floating-point units in any state.
  asm volatile("fnclex");
  asm volatile("fldcw %0" : : "m"(controlWord));
  asm volatile("ldmxcsr %0" : : "m"(mxcsr));
  fault.Code = point.Code;
  fault.Address = point.Address;
  return false;
}

#else

bool FaultContainmentAvailable() { return false; }

bool RunFaultContained(void (*body)(void*), void* context, TProcessorFault& fault) {
  fault = {};
  body(context);
  return true;
}

#endif
