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
// [[noreturn]] void RsResume(TRecoveryPoint* point): continues the stub of point at its
// resume point, on its stack, with the direction flag clear. cdecl.
[[noreturn]] void RsResume(TRecoveryPoint* point);
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

asm(R"(
    .text
    .globl _RsResume
    .def _RsResume; .scl 2; .type 32; .endef
_RsResume:
    movl 4(%esp), %eax
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
    jne 8f
    movl -20(%ebp), %edx
    xorl %ebp, %edx
    cmpl $0x5A17C0DE, %edx
    jne 8f
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
8:
    pushl $0
    pushl $0
    pushl $1
    pushl $0xE0524642
    call _RaiseException@16
    ud2
)");
static_assert(kExceptionFrameBroken == 0xE0524642);

namespace {

constexpr DWORD kUnwinding = 0x2 | 0x4;  // EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND

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
                                                        void* establisherFrame, CONTEXT*, void*) {
  // The point is found by the record's address in this thread's own list; nothing but the
  // record itself is read from the stack.
  TThreadRecovery& recovery = tRecovery;
  int index = recovery.Depth - 1;
  while (index >= 0 &&
         recovery.Points[index].Record != reinterpret_cast<uintptr_t>(establisherFrame))
    --index;
  if (index < 0) return ExceptionContinueSearch;
  if ((record->ExceptionFlags & kUnwinding) != 0) {
    // An unwind to a handler further out passes this call (our own unwind stops below our
    // registration): it and the calls inside it are over.
    recovery.Depth = index;
    return ExceptionContinueSearch;
  }
  // Every exception the library leaves unhandled is contained, software ones (a C++ or
  // Delphi exception, any RaiseException) as well as processor faults; a stack overflow is
  // left to the system, since the guard page it used is gone.
  if (record->ExceptionCode == EXCEPTION_STACK_OVERFLOW) return ExceptionContinueSearch;
  TRecoveryPoint* point = &recovery.Points[index];
  point->Code = record->ExceptionCode;
  point->Address = reinterpret_cast<uintptr_t>(record->ExceptionAddress);
  // The library's own termination handlers between the fault and our registration run
  // now, as they would for any handled exception; the unwind also drops the dispatcher's
  // own registration. Then the stub goes on at its resume point, straight from here, as
  // an __except block is entered: the dispatcher is not returned to, since it would refuse
  // to continue an exception raised as non-continuable (a C++ or Delphi throw is).
  RtlUnwind(establisherFrame, nullptr, record, nullptr);
  RsResume(point);
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
  const int depth = recovery.Depth - 1;
  const int faulted = RsRunContained(body, context, &point);
  recovery.Depth = depth;
  if (faulted == 0) return true;
  fault.Code = point.Code;
  fault.Address = point.Address;
  return false;
}

uint32_t CallStdcallChecked(const void* function, const uint32_t* args, uint32_t count,
                            int32_t& stackOffset) {
  return RsCallStdcall(function, args, count, &stackOffset);
}

#elif defined(__x86_64__)

// The recovery point of one contained call, filled by the call stub; the offsets are the
// stub's (asm below). It lies in the module's own per-thread memory, never on the stack the
// library runs on.
struct alignas(16) TRecoveryPoint {
  uint64_t Rsp;          // 0: the stub's stack pointer after its prologue (its establisher frame)
  uint64_t Rbx;          // 8: the caller's callee-saved registers
  uint64_t Rbp;          // 16
  uint64_t Rsi;          // 24
  uint64_t Rdi;          // 32
  uint64_t R12;          // 40
  uint64_t R13;          // 48
  uint64_t R14;          // 56
  uint64_t R15;          // 64
  uint32_t Mxcsr;        // 72: the SSE control and status register before the call
  uint16_t ControlWord;  // 76: the x87 control word before the call
  uint16_t Unused;
  uint32_t Code;  // 80: the contained exception's code
  uint32_t Unused2;
  uint64_t Address;     // 88: where it was raised
  uint64_t GapLow;      // 96: the unused stack between the stub's frame and the call
  uint64_t GapHigh;     // 104
  uint8_t Xmm[10][16];  // 112: xmm6..xmm15, callee-saved
  uint64_t Resume;      // 272: where execution goes on after a contained exception
};
static_assert(offsetof(TRecoveryPoint, Mxcsr) == 72 && offsetof(TRecoveryPoint, Code) == 80 &&
              offsetof(TRecoveryPoint, Xmm) == 112 && offsetof(TRecoveryPoint, Resume) == 272);

extern "C" {
// int RsRunContained(void (*body)(void*), void* context, TRecoveryPoint* point): 0 when
// body returned, 1 when an exception was contained.
int RsRunContained(void (*body)(void*), void* context, TRecoveryPoint* point);
EXCEPTION_DISPOSITION RsFaultHandler(EXCEPTION_RECORD* record, void* establisherFrame,
                                     CONTEXT* context, DISPATCHER_CONTEXT* dispatcher);
}

// The stub. Its frame is described by unwind data with RsFaultHandler as its exception
// handler, so the system's dispatcher offers it every exception that the library's own
// frames leave unhandled, and nothing else: exceptions the library raises and handles
// itself never reach it. The frame holds, from the top: the caller's callee-saved
// registers (also kept in the recovery point), the point's address, a gap of 16 KiB, and
// the call's shadow space. The gap is filled with return addresses into RsGapLadder, a
// function with the same handler and no frame of its own: a library that overruns its own
// frames upward by up to the gap's size destroys the return addresses the dispatcher
// follows; walking what is left as leaf frames, it then reaches an intact slot of the gap
// and so the handler. The stack below the frame is touched page by page before it is
// taken, as the system's stack probe does. Whether body returns or the handler resumes at
// 3: (with the point's address in rax), the callee-saved registers come back from the
// point; after an exception the stack pointer comes from the point too, the x87 unit is
// reinitialised and its control word and MXCSR put back.
asm(R"(
    .text
    .def RsGapLadder; .scl 3; .type 32; .endef
    .seh_proc RsGapLadder
RsGapLadder:
    .seh_handler RsFaultHandler, @except, @unwind
    .seh_endprologue
    nop
RsGapLadderStep:
    nop
    nop
    int3
    .seh_endproc

    .globl RsRunContained
    .def RsRunContained; .scl 2; .type 32; .endef
    .seh_proc RsRunContained
RsRunContained:
    .seh_handler RsFaultHandler, @except, @unwind
    movq %rsp, %rax
    movl $5, %r10d
0:
    subq $4096, %rax
    orq $0, (%rax)
    decl %r10d
    jnz 0b
    subq $16488, %rsp
    .seh_stackalloc 16488
    movq %rbx, 16424(%rsp)
    .seh_savereg %rbx, 16424
    movq %rbp, 16432(%rsp)
    .seh_savereg %rbp, 16432
    movq %rsi, 16440(%rsp)
    .seh_savereg %rsi, 16440
    movq %rdi, 16448(%rsp)
    .seh_savereg %rdi, 16448
    movq %r12, 16456(%rsp)
    .seh_savereg %r12, 16456
    movq %r13, 16464(%rsp)
    .seh_savereg %r13, 16464
    movq %r14, 16472(%rsp)
    .seh_savereg %r14, 16472
    movq %r15, 16480(%rsp)
    .seh_savereg %r15, 16480
    .seh_endprologue
    movq %r8, 16416(%rsp)
    movq %rsp, 0(%r8)
    movq %rbx, 8(%r8)
    movq %rbp, 16(%r8)
    movq %rsi, 24(%r8)
    movq %rdi, 32(%r8)
    movq %r12, 40(%r8)
    movq %r13, 48(%r8)
    movq %r14, 56(%r8)
    movq %r15, 64(%r8)
    stmxcsr 72(%r8)
    fnstcw 76(%r8)
    movdqa %xmm6, 112(%r8)
    movdqa %xmm7, 128(%r8)
    movdqa %xmm8, 144(%r8)
    movdqa %xmm9, 160(%r8)
    movdqa %xmm10, 176(%r8)
    movdqa %xmm11, 192(%r8)
    movdqa %xmm12, 208(%r8)
    movdqa %xmm13, 224(%r8)
    movdqa %xmm14, 240(%r8)
    movdqa %xmm15, 256(%r8)
    leaq 3f(%rip), %rax
    movq %rax, 272(%r8)
    leaq 32(%rsp), %rax
    movq %rax, 96(%r8)
    leaq 16416(%rsp), %r9
    movq %r9, 104(%r8)
    leaq RsGapLadderStep(%rip), %r10
1:
    movq %r10, (%rax)
    addq $8, %rax
    cmpq %r9, %rax
    jb 1b
    movq %rcx, %rax
    movq %rdx, %rcx
    call *%rax
    movq 16416(%rsp), %r8
    xorl %eax, %eax
    jmp 4f
3:
    movq %rax, %r8
    movq 0(%r8), %rsp
    fninit
    fldcw 76(%r8)
    ldmxcsr 72(%r8)
    movl $1, %eax
4:
    movq 8(%r8), %rbx
    movq 16(%r8), %rbp
    movq 24(%r8), %rsi
    movq 32(%r8), %rdi
    movq 40(%r8), %r12
    movq 48(%r8), %r13
    movq 56(%r8), %r14
    movq 64(%r8), %r15
    movdqa 112(%r8), %xmm6
    movdqa 128(%r8), %xmm7
    movdqa 144(%r8), %xmm8
    movdqa 160(%r8), %xmm9
    movdqa 176(%r8), %xmm10
    movdqa 192(%r8), %xmm11
    movdqa 208(%r8), %xmm12
    movdqa 224(%r8), %xmm13
    movdqa 240(%r8), %xmm14
    movdqa 256(%r8), %xmm15
    addq $16488, %rsp
    ret
    .seh_endproc
)");

namespace {

constexpr DWORD kUnwinding = 0x2 | 0x4;  // EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND
constexpr DWORD kTargetUnwind = 0x20;    // EXCEPTION_TARGET_UNWIND

// The recovery points of the contained calls in progress on this thread, innermost last.
constexpr int kMaxNestedCalls = 8;
struct TThreadRecovery {
  TRecoveryPoint Points[kMaxNestedCalls];
  int Depth = 0;
};
thread_local TThreadRecovery tRecovery;

}  // namespace

extern "C" EXCEPTION_DISPOSITION RsFaultHandler(EXCEPTION_RECORD* record, void* establisherFrame,
                                                CONTEXT* context, DISPATCHER_CONTEXT* dispatcher) {
  // The call this frame belongs to: the stub's own frame, or a slot of its gap.
  TThreadRecovery& recovery = tRecovery;
  const auto frame = reinterpret_cast<uintptr_t>(establisherFrame);
  int index = recovery.Depth - 1;
  while (index >= 0 &&
         !(frame >= recovery.Points[index].Rsp && frame <= recovery.Points[index].GapHigh))
    --index;
  if (index < 0) return ExceptionContinueSearch;
  if ((record->ExceptionFlags & kUnwinding) != 0) {
    // An unwind to a handler further out passes this call: it and the calls inside it are
    // over.
    if ((record->ExceptionFlags & kTargetUnwind) == 0) recovery.Depth = index;
    return ExceptionContinueSearch;
  }
  // A stack overflow is left to the system: the guard page it used is gone.
  if (record->ExceptionCode == EXCEPTION_STACK_OVERFLOW) return ExceptionContinueSearch;
  TRecoveryPoint& point = recovery.Points[index];
  point.Code = record->ExceptionCode;
  point.Address = reinterpret_cast<uintptr_t>(record->ExceptionAddress);
  // The library's own unwind handlers between the exception and this frame run now, as
  // for any handled exception; then execution goes on at the stub's resume point.
  RtlUnwindEx(establisherFrame, reinterpret_cast<void*>(point.Resume), record, &point, context,
              dispatcher->HistoryTable);
  return ExceptionContinueSearch;  // not reached
}

bool FaultContainmentAvailable() { return true; }

bool RunFaultContained(void (*body)(void*), void* context, TProcessorFault& fault) {
  fault = {};
  TThreadRecovery& recovery = tRecovery;
  if (recovery.Depth == kMaxNestedCalls) {
    body(context);
    return true;
  }
  const int depth = recovery.Depth;
  TRecoveryPoint& point = recovery.Points[depth];
  point = {};
  ++recovery.Depth;
  const int contained = RsRunContained(body, context, &point);
  recovery.Depth = depth;
  if (contained == 0) return true;
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
