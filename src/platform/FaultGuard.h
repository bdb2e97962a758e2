#pragma once
// Containment of processor faults in calls into another library: a call made through
// CallFaultContained that raises a processor fault (an access violation, an illegal
// instruction, an integer division by zero, ...) which the called code does not handle
// itself becomes a ProcessorFaultError of that call, instead of ending the process.
//
//   int32_t code = CallFaultContained("SCListReaders", [&]() noexcept { return list(buffer); });
//
// 32-bit Windows: the call runs below an exception registration of our own on the
// thread's SEH chain, so handlers the library installed itself see the fault first. When
// it reaches ours, the library's unwind handlers run (RtlUnwind), and execution resumes
// at the recovery point saved before the call: stack pointer, frame pointer and the
// callee-saved registers as they were (whatever the stdcall callee had popped), the SEH
// chain as it was, the direction flag clear, the x87 unit reinitialised (its register
// stack empty, pending exceptions cleared) with its control word as it was, and MXCSR as
// it was. No register is trusted across RtlUnwind (Windows' own returns with ebx, esi and
// edi zero). The recovery point lies in the module's per-thread memory, and the call runs
// 16 KiB below our registration record, so a library that overruns its own stack frames
// by up to that much before it faults is still contained.
// 64-bit Windows: the handler lies in the unwind data of the call stub, and of
// CallForeign's stub right above the called function; an exception it contains is
// unwound to there (RtlUnwindEx), and execution resumes at the recovery point as on x86.
// A C++ exception of the GCC runtime (MinGW g++) whose unwind runs a destructor of the
// called code and then restarts is given the same target. An unwind with no target that
// passes a contained call ends the process at once (std::abort): nothing can resume
// soundly from it.
// Not contained on Windows, whatever the called code raised: a stack overflow (its guard
// page is gone) and a heap found corrupt (the system declared the heap broken); both go
// on to the system, which ends the process (IsContainedCode).
// POSIX (the native build): handlers for SIGSEGV, SIGBUS, SIGILL and SIGFPE are installed
// for the length of the call only, and a fault returns to the recovery point with
// siglongjmp; the codes are given as the target's exception codes below. As on Windows,
// the x87 unit is reinitialised and its control word and MXCSR put back (x86), the
// recovery point lies in per-thread memory and the call runs 16 KiB below the frame that
// contains it.
// Either way the library's frames are abandoned: what it held at that moment (locks,
// memory, half-updated globals of its own) stays as the fault left it; the reader binding
// then neither calls nor unloads that library again (reader/scard_api.h). Calls are
// contained on the thread that makes them; nested calls each contain their own faults, up
// to eight deep (a deeper one's fault is taken by the innermost of those eight).
#include <cstdint>
#include <string>
#include <type_traits>

#include "platform/Exception.h"

// An exception contained inside a call: a processor fault, a software exception, or the
// frame pointer changed by the callee. The message names the operation, the exception code
// and the address where it was raised.
class ProcessorFaultError : public Exception {
 public:
  ProcessorFaultError(const char* operation, uint32_t code, uintptr_t address);
  uint32_t Code() const { return FCode; }
  uintptr_t Address() const { return FAddress; }
  // The fault in a few technical words, as a later refusal names it: "processor fault
  // C0000005", "exception E06D7363", "frame pointer".
  std::string Cause() const;

 private:
  uint32_t FCode;
  uintptr_t FAddress;
};

// Exception codes of the faults, as the target system numbers them.
inline constexpr uint32_t kFaultAccessViolation = 0xC0000005;
inline constexpr uint32_t kFaultIllegalInstruction = 0xC000001D;
inline constexpr uint32_t kFaultIntegerDivideByZero = 0xC0000094;
inline constexpr uint32_t kFaultIntegerOverflow = 0xC0000095;
inline constexpr uint32_t kFaultFloatingPoint = 0xC0000090;  // invalid operation
// Exceptions raised by software that the guard contains too: a C++ exception (the code of
// Microsoft's C++ runtime, also given natively for any C++ exception out of a call) and a
// Delphi exception.
inline constexpr uint32_t kExceptionCpp = 0xE06D7363;
inline constexpr uint32_t kExceptionDelphi = 0x0EEDFADE;
// A C++ exception of the GCC runtime's unwinder on 64-bit Windows (MinGW g++, and Clang's
// libunwind): "GCC" and the user-defined bit.
inline constexpr uint32_t kExceptionGcc = 0x20474343;
// Raised by the checked stdcall call (32-bit Windows) when the called function returned
// with the caller's frame pointer (ebp) changed.
inline constexpr uint32_t kExceptionFrameBroken = 0xE0524642;
// Raised by the checked stdcall call (32-bit Windows) when the called function returned
// with the frame pointer kept but the call stub's own copies of it overwritten (the
// library wrote into its caller's frame).
inline constexpr uint32_t kExceptionFrameCopiesDamaged = 0xE0524643;
// Exceptions that are never contained: the process cannot go on after them.
inline constexpr uint32_t kFaultStackOverflow = 0xC00000FD;
inline constexpr uint32_t kFaultHeapCorruption = 0xC0000374;

// True for the codes of processor faults (access violation, illegal instruction, arithmetic
// and floating-point faults, ...); false for exceptions raised by software.
bool IsProcessorFaultCode(uint32_t code);

// False for the exceptions that the guard leaves to the system, which ends the process: a
// stack overflow (the guard page it used is gone, a second one would end the process
// without a report) and a heap that the system found corrupt (C0000374: the heap every
// module shares is broken, so nothing that allocates can go on). True for every other code.
bool IsContainedCode(uint32_t code);

// What a contained call ended with: no fault (Code 0), or the fault's code and address.
struct TProcessorFault {
  uint32_t Code = 0;
  uintptr_t Address = 0;
};

// True where faults are contained (Windows, POSIX).
bool FaultContainmentAvailable();

// Runs body(context) contained. Returns true when body returned; false when an exception
// was contained (a processor fault or a software exception that the called code left
// unhandled, a C++ exception natively), described in fault.
bool RunFaultContained(void (*body)(void*), void* context, TProcessorFault& fault);

#if defined(_WIN32) && defined(__i386__)
// Calls the stdcall function at function with count 32-bit argument words (args[0] is
// the first argument) and returns its 32-bit result, checking the stack pointer: a stdcall
// function removes its arguments, so stackOffset is set to 0; a function that removed
// none (a cdecl one) gives count * 4, the bytes it left on the stack. The stack pointer
// is put back either way. A function that returns with the frame pointer (ebp) changed
// gets it put back, and the call raises kExceptionFrameBroken: run it contained.
//
//   uint32_t words[] = {reinterpret_cast<uintptr_t>(buffer)};
//   uint32_t result = CallStdcallChecked(address, words, 1, offset);   // offset 4: cdecl
uint32_t CallStdcallChecked(const void* function, const uint32_t* args, uint32_t count,
                            int32_t& stackOffset);
#endif

#if defined(_WIN32) && defined(__x86_64__)
// Calls the function at function with count 64-bit argument words (args[0] is the first
// argument; args holds at least 4 words, unused ones zero) and returns rax. Made inside a
// contained call: the stub that calls function has the guard's handler, so whatever the
// function leaves unhandled is contained right there, before it passes any frame of ours
// (a noexcept body's frame would end the process on a C++ exception of the GCC runtime).
//
//   const uint64_t words[4] = {reinterpret_cast<uintptr_t>(buffer)};
//   auto code = static_cast<int32_t>(CallForeign(address, words, 1));
uint64_t CallForeign(const void* function, const uint64_t* args, uint32_t count) noexcept;
#endif

#if !defined(_WIN32)
// Ends the innermost contained call of this thread as if code had been raised in it: its
// RunFaultContained returns false with code (address 0). For a C++ exception that the
// called code let out, caught where the call was made, after the catch has ended.
[[noreturn]] void AbandonContainedCall(uint32_t code);
#endif

// Runs call() contained and returns its result; raises ProcessorFaultError(operation, ...)
// when an exception was contained. call must not throw: it is called noexcept, so a C++
// exception of our own would end the process rather than pass the guard.
template <typename Call>
auto CallFaultContained(const char* operation, Call&& call) {
  using TResult = decltype(call());
  struct TFrame {
    std::remove_reference_t<Call>* Function;
    TResult Result;
  } frame{&call, TResult{}};
  auto body = [](void* context) noexcept {
    auto* f = static_cast<TFrame*>(context);
    f->Result = (*f->Function)();
  };
  TProcessorFault fault;
  if (!RunFaultContained(body, &frame, fault))
    throw ProcessorFaultError(operation, fault.Code, fault.Address);
  return frame.Result;
}
