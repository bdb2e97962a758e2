#include <windows.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/FaultGuard.h"
#include "platform/FaultGuardNesting.h"

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
// uint64_t RsCallForeign(const void* function, const uint64_t* args, uint32_t count): the
// call stub of CallForeign.
uint64_t RsCallForeign(const void* function, const uint64_t* args, uint32_t count);
EXCEPTION_DISPOSITION RsForeignHandler(EXCEPTION_RECORD* record, void* establisherFrame,
                                       CONTEXT* context, DISPATCHER_CONTEXT* dispatcher);
// The recovery point of the call that contained the exception being resumed from.
TRecoveryPoint* RsResumingPoint();
// Where RsCallForeign goes on once the called function's frames are unwound.
void RsForeignResume();
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
// taken, as the system's stack probe does. Whether body returns or an exception resumes at
// 3: (RsContainedResume), the callee-saved registers come back from the point; after an
// exception the stack pointer comes from the point too, the x87 unit is reinitialised and
// its control word and MXCSR put back. The resume takes no register from the unwind that
// reached it: the unwind may be the called code's own runtime resuming to the target our
// handler set (a C++ exception of MinGW g++ after a destructor ran), with that runtime's
// values in rax and rdx, and rsp may be a gap slot; it asks for the point instead.
//
// RsCallForeign calls the function with its argument words in rcx, rdx, r8, r9 and the
// shadow space and stack slots above them, as the x64 calling convention has them, and
// returns rax. Its frame has RsForeignHandler as its exception handler, so an exception
// the called function leaves unhandled is taken right there, before any frame of ours
// between this call and the stub sees it (a frame of a noexcept function would end the
// process on a C++ exception of the GCC runtime), and the unwind that follows passes the
// called code's frames only. After it the call goes on at RsForeignResume, in this frame,
// and from there at the stub's resume point.
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
RsContainedResume:
    andq $-16, %rsp
    subq $32, %rsp
    call RsResumingPoint
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

    .globl RsCallForeign
    .def RsCallForeign; .scl 2; .type 32; .endef
    .seh_proc RsCallForeign
RsCallForeign:
    .seh_handler RsForeignHandler, @except, @unwind
    pushq %rbp
    .seh_pushreg %rbp
    movq %rsp, %rbp
    .seh_setframe %rbp, 0
    .seh_endprologue
    movq %rcx, %r10
    movq %rdx, %r11
    movl %r8d, %eax
    cmpl $4, %eax
    jae 5f
    movl $4, %eax
5:
    incl %eax
    andl $-2, %eax
    shll $3, %eax
    subq %rax, %rsp
    movl %r8d, %ecx
6:
    cmpl $4, %ecx
    jbe 7f
    decl %ecx
    movq (%r11,%rcx,8), %rax
    movq %rax, (%rsp,%rcx,8)
    jmp 6b
7:
    movq 0(%r11), %rcx
    movq 8(%r11), %rdx
    movq 16(%r11), %r8
    movq 24(%r11), %r9
    call *%r10
    nop
    movq %rbp, %rsp
    popq %rbp
    ret
    .globl RsForeignResume
RsForeignResume:
    jmp RsContainedResume
    .seh_endproc
)");

namespace {

constexpr DWORD kUnwinding = 0x2 | 0x4;  // EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND
constexpr DWORD kExitUnwind = 0x4;       // EXCEPTION_EXIT_UNWIND
constexpr DWORD kTargetUnwind = 0x20;    // EXCEPTION_TARGET_UNWIND

// The recovery points of the contained calls in progress on this thread, innermost last.
using TRecovery = TThreadRecovery<TRecoveryPoint>;
thread_local TRecovery tRecovery;

// The exception codes of the unwinder of GCC (and of Clang's libunwind) on x64: a C++ throw
// and a forced unwind. ExceptionInformation[0] is the runtime's _Unwind_Exception, whose
// private_[1], private_[2] and private_[3] (at these byte offsets) are the frame, the address
// and the rdx value that its _Unwind_Resume unwinds to after a cleanup (a destructor) ran;
// the runtime fills them itself only when one of its own frames catches the exception.
constexpr DWORD kGccThrow = 0x20474343;
constexpr DWORD kGccForcedUnwind = 0x22474343;
constexpr size_t kGccTargetFrame = 24;
constexpr size_t kGccTargetIp = 32;
constexpr size_t kGccTargetRdx = 40;

// True when size bytes at address are committed memory this process may write.
bool IsWritable(ULONG_PTR address, size_t size) {
  MEMORY_BASIC_INFORMATION info;
  if (address == 0 || VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info) == 0)
    return false;
  const DWORD writable =
      PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  const auto end = reinterpret_cast<ULONG_PTR>(info.BaseAddress) + info.RegionSize;
  return info.State == MEM_COMMIT && (info.Protect & writable) != 0 &&
         (info.Protect & PAGE_GUARD) == 0 && address + size <= end;
}

// An unwind with no target frame passes a contained call: a runtime of the called code
// restarts an unwind of an exception that no frame of its own caught without knowing where
// it ends (the GCC unwinder does so after a cleanup when the exception object could not
// be given our target). It would run past the call's frames to the end of the stack, or
// into a catch of ours that takes the library's exception for one of its own. Nothing
// sound can resume from it: the process ends at once, as the C runtime ends it.
[[noreturn]] void EndOnUnwindToNowhere() { std::abort(); }

// Contains the exception at the call of recovery.Points[index]: records it, ends the calls
// nested inside that one, and unwinds the frames between the exception and the frame
// establisherFrame (whose handler decided this), to go on at target there. A C++
// exception of the GCC runtime gets the same target in its exception object, so that an
// unwind its runtime restarts after running a destructor ends there too.
[[noreturn]] void Contain(TRecovery& recovery, int index, EXCEPTION_RECORD* record,
                          void* establisherFrame, void* target, CONTEXT* context,
                          DISPATCHER_CONTEXT* dispatcher) {
  TRecoveryPoint& point = recovery.Points[index];
  point.Code = record->ExceptionCode;
  point.Address = reinterpret_cast<uintptr_t>(record->ExceptionAddress);
  recovery.Depth = index + 1;
  if ((record->ExceptionCode == kGccThrow || record->ExceptionCode == kGccForcedUnwind) &&
      record->NumberParameters >= 1) {
    const ULONG_PTR object = record->ExceptionInformation[0];
    if (IsWritable(object, kGccTargetRdx + sizeof(ULONG_PTR))) {
      auto* bytes = reinterpret_cast<unsigned char*>(object);
      const auto frame = reinterpret_cast<ULONG_PTR>(establisherFrame);
      const auto ip = reinterpret_cast<ULONG_PTR>(target);
      const ULONG_PTR rdx = 0;
      std::memcpy(bytes + kGccTargetFrame, &frame, sizeof frame);
      std::memcpy(bytes + kGccTargetIp, &ip, sizeof ip);
      std::memcpy(bytes + kGccTargetRdx, &rdx, sizeof rdx);
    }
  }
  RtlUnwindEx(establisherFrame, target, record, nullptr, context, dispatcher->HistoryTable);
  std::abort();  // RtlUnwindEx does not return
}

}  // namespace

extern "C" TRecoveryPoint* RsResumingPoint() {
  TRecovery& recovery = tRecovery;
  return &recovery.Points[recovery.Depth - 1];
}

extern "C" EXCEPTION_DISPOSITION RsFaultHandler(EXCEPTION_RECORD* record, void* establisherFrame,
                                                CONTEXT* context, DISPATCHER_CONTEXT* dispatcher) {
  // The call this frame belongs to: the stub's own frame, or a slot of its gap.
  TRecovery& recovery = tRecovery;
  const auto frame = reinterpret_cast<uintptr_t>(establisherFrame);
  int index = recovery.Depth - 1;
  while (index >= 0 &&
         !(frame >= recovery.Points[index].Rsp && frame <= recovery.Points[index].GapHigh))
    --index;
  if (index < 0) return ExceptionContinueSearch;
  if ((record->ExceptionFlags & kUnwinding) != 0) {
    if ((record->ExceptionFlags & kExitUnwind) != 0) EndOnUnwindToNowhere();
    // An unwind to a handler further out passes this call: it and the calls inside it are
    // over.
    if ((record->ExceptionFlags & kTargetUnwind) == 0) recovery.Depth = index;
    return ExceptionContinueSearch;
  }
  // Every exception the called code leaves unhandled is contained, but those that the
  // process cannot survive (FaultGuard.h).
  if (!IsContainedCode(record->ExceptionCode)) return ExceptionContinueSearch;
  Contain(recovery, index, record, establisherFrame,
          reinterpret_cast<void*>(recovery.Points[index].Resume), context, dispatcher);
}

extern "C" EXCEPTION_DISPOSITION RsForeignHandler(EXCEPTION_RECORD* record, void* establisherFrame,
                                                  CONTEXT* context,
                                                  DISPATCHER_CONTEXT* dispatcher) {
  // RsCallForeign runs inside a contained call: the innermost one on this thread takes
  // what its callee leaves unhandled.
  TRecovery& recovery = tRecovery;
  if (recovery.Depth == 0) return ExceptionContinueSearch;
  if ((record->ExceptionFlags & kUnwinding) != 0) {
    if ((record->ExceptionFlags & kExitUnwind) != 0) EndOnUnwindToNowhere();
    return ExceptionContinueSearch;
  }
  if (!IsContainedCode(record->ExceptionCode)) return ExceptionContinueSearch;
  Contain(recovery, recovery.Depth - 1, record, establisherFrame,
          reinterpret_cast<void*>(&RsForeignResume), context, dispatcher);
}

bool FaultContainmentAvailable() { return true; }

bool RunFaultContained(void (*body)(void*), void* context, TProcessorFault& fault) {
  return RunNested(tRecovery, body, context, fault, RsRunContained);
}

uint64_t CallForeign(const void* function, const uint64_t* args, uint32_t count) noexcept {
  return RsCallForeign(function, args, count);
}
