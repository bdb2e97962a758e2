#include <windows.h>

#include <cstddef>

#include "platform/FaultGuard.h"

#if defined(__i386__)

// The recovery point of one contained call, filled by the call stub; the offsets are the
// stub's (asm below). It lies in the module's own per-thread memory, never on the stack the
// library runs on, so a library that overruns its own frames cannot change where a fault
// resumes or what the registers are set back to.
struct TRecoveryPoint {
  uint32_t Esp;          // 0: stack pointer with our exception registration on top
  uint32_t Ebp;          // 4: the stub's frame pointer
  uint32_t Ebx;          // 8: the caller's callee-saved registers
  uint32_t Esi;          // 12
  uint32_t Edi;          // 16
  uint32_t Resume;       // 20: where execution goes on after a contained fault
  uint32_t PrevFrame;    // 24: the head of the SEH chain before our registration
  uint32_t Record;       // 28: our exception registration record (on the stack)
  uint32_t Mxcsr;        // 32: the SSE control and status register before the call
  uint16_t ControlWord;  // 36: the x87 control word before the call
  uint16_t Unused;
  uint32_t Code;     // 40: the contained fault's exception code
  uint32_t Address;  // 44: the faulting instruction's address
};
static_assert(offsetof(TRecoveryPoint, ControlWord) == 36 && offsetof(TRecoveryPoint, Code) == 40);

extern "C" {
// int RsRunContained(void (*body)(void*), void* context, TRecoveryPoint* point): 0 when
// body returned, 1 when a fault was contained. cdecl.
int RsRunContained(void (*body)(void*), void* context, TRecoveryPoint* point);
EXCEPTION_DISPOSITION __cdecl RsFaultHandler(EXCEPTION_RECORD* record, void* establisherFrame,
                                             CONTEXT* context, void* dispatcherContext);
// uint32_t RsCallStdcall(const void* fn, const uint32_t* args, uint32_t count,
// int32_t* stackOffset). cdecl.
uint32_t RsCallStdcall(const void* fn, const uint32_t* args, uint32_t count, int32_t* stackOffset);
}

// The stub: saves the callee-saved registers and the floating-point control state into
// the recovery point, registers an exception registration record {next, handler} on the
// stack as the head of the thread's SEH chain (fs:[0]), then leaves a gap of
// 16 KiB (four pages) of stack unused (touching each page in order, so the stack grows as
// usual) and calls body below it. The library's frames start below the gap: an overrun
// of its own buffers by up to that much writes into the gap, never into the record or
// the stub's frame. Whether body returns or the handler resumes at 1: (with the point's
// address in eax), the chain head goes back to what it was before, which also drops any
// registration the abandoned library frames left behind, and the registers come back from
// the point. After a fault the x87 unit is reinitialised (its register stack emptied, as
// the calling convention has it between calls) and the control word and MXCSR are put
// back.
asm(R"(
    .text
    .globl _RsRunContained
    .def _RsRunContained; .scl 2; .type 32; .endef
_RsRunContained:
    pushl %ebp
    movl %esp, %ebp
    movl 16(%ebp), %eax
    movl %ebp, 4(%eax)
    movl %ebx, 8(%eax)
    movl %esi, 12(%eax)
    movl %edi, 16(%eax)
    stmxcsr 32(%eax)
    fnstcw 36(%eax)
    pushl $_RsFaultHandler
    pushl %fs:0
    movl (%esp), %ecx
    movl %ecx, 24(%eax)
    movl %esp, 28(%eax)
    movl %esp, 0(%eax)
    movl $1f, 20(%eax)
    movl %esp, %fs:0
    movl $4, %ecx
3:
    subl $4096, %esp
    orl $0, (%esp)
    decl %ecx
    jnz 3b
    pushl 12(%ebp)
    call *8(%ebp)
    movl 16(%ebp), %edx
    xorl %eax, %eax
    jmp 2f
1:
    movl %eax, %edx
    fninit
    fldcw 36(%edx)
    ldmxcsr 32(%edx)
    movl $1, %eax
2:
    movl 24(%edx), %ecx
    movl %ecx, %fs:0
    movl 8(%edx), %ebx
    movl 12(%edx), %esi
    movl 16(%edx), %edi
    movl 4(%edx), %ebp
    movl %ebp, %esp
    popl %ebp
    ret
)");

// The checked call: pushes count argument words (args[0] last, so it lies on top), calls
// fn and compares the stack pointer after its return with the one before the pushes. A
// stdcall function removes its arguments itself, so the two agree; the bytes it left (the
// one before less the one after) go to *stackOffset, and the stack pointer is put back
// either way.
asm(R"(
    .text
    .globl _RsCallStdcall
    .def _RsCallStdcall; .scl 2; .type 32; .endef
_RsCallStdcall:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 12(%ebp), %esi
    movl 16(%ebp), %ecx
4:
    testl %ecx, %ecx
    jz 5f
    pushl -4(%esi,%ecx,4)
    decl %ecx
    jmp 4b
5:
    call *8(%ebp)
    leal -12(%ebp), %edx
    subl %esp, %edx
    movl 20(%ebp), %ecx
    movl %edx, (%ecx)
    leal -12(%ebp), %esp
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

// The recovery points of the contained calls in progress on this thread, innermost last.
// Calls nested deeper than this run inside the innermost contained one, which then takes
// their faults.
constexpr int kMaxNestedCalls = 8;
struct TThreadRecovery {
  TRecoveryPoint Points[kMaxNestedCalls];
  int Depth = 0;
};
thread_local TThreadRecovery tRecovery;

}  // namespace

extern "C" EXCEPTION_DISPOSITION __cdecl RsFaultHandler(EXCEPTION_RECORD* record,
                                                        void* establisherFrame, CONTEXT* context,
                                                        void*) {
  // Unwinds pass through, and so does everything that is not a processor fault.
  if ((record->ExceptionFlags & kUnwinding) != 0 || !IsProcessorFault(record->ExceptionCode))
    return ExceptionContinueSearch;
  // The point is found by the record's address in this thread's own list; nothing but the
  // record itself is read from the stack.
  TThreadRecovery& recovery = tRecovery;
  TRecoveryPoint* point = nullptr;
  for (int i = recovery.Depth - 1; i >= 0 && point == nullptr; --i)
    if (recovery.Points[i].Record == reinterpret_cast<uintptr_t>(establisherFrame))
      point = &recovery.Points[i];
  if (point == nullptr) return ExceptionContinueSearch;
  point->Code = record->ExceptionCode;
  point->Address = reinterpret_cast<uintptr_t>(record->ExceptionAddress);
  // The library's own termination handlers between the fault and our registration run
  // now, as they would for any handled exception.
  RtlUnwind(establisherFrame, nullptr, record, nullptr);
  context->Esp = point->Esp;
  context->Ebp = point->Ebp;
  context->Eax = reinterpret_cast<uintptr_t>(point);
  context->Eip = point->Resume;
  context->EFlags &= ~(kDirectionFlag | kTrapFlag);
  return ExceptionContinueExecution;
}

bool FaultContainmentAvailable() { return true; }

bool RunFaultContained(void (*body)(void*), void* context, TProcessorFault& fault) {
  fault = {};
  TThreadRecovery& recovery = tRecovery;
  if (recovery.Depth == kMaxNestedCalls) {
    body(context);
    return true;
  }
  TRecoveryPoint& point = recovery.Points[recovery.Depth];
  point = {};
  ++recovery.Depth;
  const int faulted = RsRunContained(body, context, &point);
  --recovery.Depth;
  if (faulted == 0) return true;
  fault.Code = point.Code;
  fault.Address = point.Address;
  return false;
}

uint32_t CallStdcallChecked(const void* function, const uint32_t* args, uint32_t count,
                            int32_t& stackOffset) {
  return RsCallStdcall(function, args, count, &stackOffset);
}

#else

bool FaultContainmentAvailable() { return false; }

bool RunFaultContained(void (*body)(void*), void* context, TProcessorFault& fault) {
  fault = {};
  body(context);
  return true;
}

#endif
