#include <windows.h>

#include <cstddef>

#include "platform/FaultGuard.h"
#include "platform/FaultGuardNesting.h"

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
// The handler's decision (cdecl): the recovery point that contains the exception, its code
// and address recorded there, or null when the exception goes on to other handlers.
TRecoveryPoint* RsFaultDecide(EXCEPTION_RECORD* record, void* establisherFrame);
// RtlUnwind as the handler calls it (FaultGuardUnwind_x86.cpp). stdcall.
void __stdcall RsSystemUnwind(void* targetFrame, void* targetIp, EXCEPTION_RECORD* record,
                              void* returnValue);
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

// The handler. The decision is RsFaultDecide's; when it contains the exception, the
// library's termination handlers between the exception and our registration run through
// RtlUnwind, and then the stub goes on at its resume point, straight from here, as an
// __except block is entered: the dispatcher is not returned to, since it would refuse to
// continue an exception raised as non-continuable (a C++ or Delphi throw is). The system's
// RtlUnwind returns with ebx, esi and edi zero and the volatile registers changed (it
// "returns" by restoring a context captured on entry), so nothing the resume needs is
// kept in a register across it: the point's address waits on this handler's own stack,
// below the dispatcher's frames, where no unwound frame of the library can reach it. The
// resume then takes the stack pointer, the frame pointer and the callee-saved registers
// from the point (in the module's per-thread memory).
asm(R"(
    .text
    .globl _RsFaultHandler
    .def _RsFaultHandler; .scl 2; .type 32; .endef
_RsFaultHandler:
    pushl 8(%esp)
    pushl 8(%esp)
    call _RsFaultDecide
    addl $8, %esp
    testl %eax, %eax
    jnz 1f
    movl $1, %eax
    ret
1:
    pushl %eax
    pushl $0
    pushl 12(%esp)
    pushl $0
    pushl 24(%esp)
    call _RsSystemUnwind@16
    popl %eax
    movl 0(%eax), %esp
    movl 4(%eax), %ebp
    cld
    jmp *20(%eax)
)");

// The checked call: keeps its frame pointer twice below the saved registers (as is and
// xor-marked), pushes count argument words (args[0] last, so it lies on top), calls fn and
// compares the stack pointer after its return with the one before the pushes. A stdcall
// function removes its arguments itself, so the two agree; the bytes it left (the one
// before less the one after) go to *stackOffset, and the stack pointer is put back either
// way. A function must also keep the frame pointer (ebp); one that returns with it changed
// (its own frame overrun into the saved copy, say) would send this stub's epilogue into
// arbitrary stack. The frame pointer is found again from the stack pointer when the stack
// is as it was (the marked copy lies on top, 20 bytes below the frame), or else checked
// against its copies in the frame it names; a changed one is put back and the call ends
// in the exception kExceptionFrameBroken, which the containment around the call takes.
// When neither finds the frame, what was found is told apart: a frame pointer that still
// names the frame the stack pointer is back at, with the copies there overwritten, ends the
// call in kExceptionFrameCopiesDamaged (the frame pointer was kept; the library wrote into
// this stub's frame); any other one in kExceptionFrameBroken.
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
    pushl %ebp
    movl %ebp, %ecx
    xorl $0x5A17C0DE, %ecx
    pushl %ecx
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
    leal 20(%esp), %ecx
    cmpl %ecx, 4(%esp)
    jne 6f
    movl (%esp), %edx
    xorl %ecx, %edx
    cmpl $0x5A17C0DE, %edx
    jne 6f
    cmpl %ecx, %ebp
    je 6f
    movl %ecx, %ebp
    jmp 8f
6:
    cmpl %ebp, -16(%ebp)
    jne 7f
    movl -20(%ebp), %edx
    xorl %ebp, %edx
    cmpl $0x5A17C0DE, %edx
    jne 7f
    leal -20(%ebp), %edx
    subl %esp, %edx
    movl 20(%ebp), %ecx
    movl %edx, (%ecx)
    leal -12(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
7:
    leal 20(%esp), %ecx
    cmpl %ecx, %ebp
    jne 8f
    pushl $0
    pushl $0
    pushl $1
    pushl $0xE0524643
    call _RaiseException@16
    ud2
8:
    pushl $0
    pushl $0
    pushl $1
    pushl $0xE0524642
    call _RaiseException@16
    ud2
)");
static_assert(kExceptionFrameBroken == 0xE0524642);
static_assert(kExceptionFrameCopiesDamaged == 0xE0524643);

namespace {

constexpr DWORD kUnwinding = 0x2 | 0x4;  // EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND

// The recovery points of the contained calls in progress on this thread, innermost last.
using TRecovery = TThreadRecovery<TRecoveryPoint>;
thread_local TRecovery tRecovery;

}  // namespace

extern "C" TRecoveryPoint* RsFaultDecide(EXCEPTION_RECORD* record, void* establisherFrame) {
  // The point is found by the record's address in this thread's own list; nothing but the
  // record itself is read from the stack.
  TRecovery& recovery = tRecovery;
  int index = recovery.Depth - 1;
  while (index >= 0 &&
         recovery.Points[index].Record != reinterpret_cast<uintptr_t>(establisherFrame))
    --index;
  if (index < 0) return nullptr;
  if ((record->ExceptionFlags & kUnwinding) != 0) {
    // An unwind to a handler further out passes this call (our own unwind stops below our
    // registration): it and the calls inside it are over.
    recovery.Depth = index;
    return nullptr;
  }
  // Every exception the library leaves unhandled is contained, software ones (a C++ or
  // Delphi exception, any RaiseException) as well as processor faults, but those that the
  // process cannot survive (FaultGuard.h).
  if (!IsContainedCode(record->ExceptionCode)) return nullptr;
  TRecoveryPoint* point = &recovery.Points[index];
  point->Code = record->ExceptionCode;
  point->Address = reinterpret_cast<uintptr_t>(record->ExceptionAddress);
  return point;
}

bool FaultContainmentAvailable() { return true; }

bool RunFaultContained(void (*body)(void*), void* context, TProcessorFault& fault) {
  return RunNested(tRecovery, body, context, fault, RsRunContained);
}

uint32_t CallStdcallChecked(const void* function, const uint32_t* args, uint32_t count,
                            int32_t& stackOffset) {
  return RsCallStdcall(function, args, count, &stackOffset);
}
