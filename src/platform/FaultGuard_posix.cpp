#include <alloca.h>
#include <signal.h>
#include <ucontext.h>

#include <csetjmp>
#include <cstdlib>

#include "platform/FaultGuard.h"

namespace {

// One contained call in progress on this thread. The recovery point lies in the module's
// per-thread memory, never on the stack the called code runs on.
struct TActiveCall {
  sigjmp_buf Recovery;
  TProcessorFault* Fault;
};

// The contained calls in progress on this thread, innermost last. Calls nested deeper than
// this run inside the innermost contained one, which then takes their faults.
constexpr int kMaxNestedCalls = 8;
struct TThreadCalls {
  TActiveCall Calls[kMaxNestedCalls];
  int Depth = 0;
};
thread_local TThreadCalls tCalls;

// The stack left unused between the contained call's own frame and the called code, so
// that code overrunning its own frames by less than this does not reach ours.
constexpr size_t kRecoveryGap = 16 * 1024;

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};

// The fault in the system's exception codes of the target, so that messages read alike.
uint32_t FaultCode(int signal, int detail) {
  switch (signal) {
    case SIGILL:
      return kFaultIllegalInstruction;
    case SIGFPE:
      return detail == FPE_INTDIV   ? kFaultIntegerDivideByZero
             : detail == FPE_INTOVF ? kFaultIntegerOverflow
                                    : kFaultFloatingPoint;
    default:
      return kFaultAccessViolation;
  }
}

uintptr_t FaultingInstruction([[maybe_unused]] const siginfo_t* info,
                              [[maybe_unused]] const void* userContext) {
#if defined(__linux__) && defined(__x86_64__)
  return static_cast<uintptr_t>(
      static_cast<const ucontext_t*>(userContext)->uc_mcontext.gregs[REG_RIP]);
#elif defined(__linux__) && defined(__i386__)
  return static_cast<uintptr_t>(
      static_cast<const ucontext_t*>(userContext)->uc_mcontext.gregs[REG_EIP]);
#else
  return reinterpret_cast<uintptr_t>(info->si_addr);
#endif
}

void OnFault(int signal, siginfo_t* info, void* userContext) {
  TThreadCalls& calls = tCalls;
  if (calls.Depth == 0) {
    // A fault on another thread while a call is contained here: the default action,
    // once this handler returns and the instruction faults again.
    ::signal(signal, SIG_DFL);
    return;
  }
  TActiveCall& active = calls.Calls[calls.Depth - 1];
  active.Fault->Code = FaultCode(signal, info->si_code);
  active.Fault->Address = FaultingInstruction(info, userContext);
  siglongjmp(active.Recovery, 1);
}

// The floating-point control state a call started with. A signal handler runs with a fresh
// x87 and SSE state and siglongjmp keeps it, so a fault would otherwise leave the
// defaults, or whatever the library set, behind.
struct TFloatControl {
  uint16_t ControlWord = 0;
  uint32_t Mxcsr = 0;
};

TFloatControl SaveFloatControl() {
  TFloatControl saved;
#if defined(__i386__) || defined(__x86_64__)
  asm volatile("fnstcw %0" : "=m"(saved.ControlWord));
  asm volatile("stmxcsr %0" : "=m"(saved.Mxcsr));
#endif
  return saved;
}

// Empties the x87 register stack and clears its exceptions, then puts the control back.
void RestoreFloatControl([[maybe_unused]] const TFloatControl& saved) {
#if defined(__i386__) || defined(__x86_64__)
  asm volatile("fninit");
  asm volatile("fldcw %0" : : "m"(saved.ControlWord));
  asm volatile("ldmxcsr %0" : : "m"(saved.Mxcsr));
#endif
}

}  // namespace

bool FaultContainmentAvailable() { return true; }

// The handlers are installed for the call only and the previous ones put back after it,
// so faults anywhere else keep their usual handling (the sanitizers' reports included).
bool RunFaultContained(void (*body)(void*), void* context, TProcessorFault& fault) {
  fault = {};
  TThreadCalls& calls = tCalls;
  if (calls.Depth == kMaxNestedCalls) {
    body(context);
    return true;
  }
  TActiveCall& call = calls.Calls[calls.Depth];
  call.Fault = &fault;
  struct sigaction action {};
  action.sa_sigaction = OnFault;
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  struct sigaction previous[sizeof kFaultSignals / sizeof kFaultSignals[0]];
  for (size_t i = 0; i < sizeof kFaultSignals / sizeof kFaultSignals[0]; ++i)
    sigaction(kFaultSignals[i], &action, &previous[i]);
  const TFloatControl floatControl = SaveFloatControl();
  volatile bool returned = false;
  if (sigsetjmp(call.Recovery, 1) == 0) {
    ++calls.Depth;
    void* gap = alloca(kRecoveryGap);
    asm volatile("" : : "r"(gap) : "memory");
    try {
      body(context);
      returned = true;
    } catch (...) {
      // A C++ exception out of the called code is contained as on Windows, under the code
      // Windows gives C++ exceptions.
      fault.Code = kExceptionCpp;
    }
  }
  --calls.Depth;
  if (!returned) RestoreFloatControl(floatControl);
  for (size_t i = 0; i < sizeof kFaultSignals / sizeof kFaultSignals[0]; ++i)
    sigaction(kFaultSignals[i], &previous[i], nullptr);
  return returned;
}

void AbandonContainedCall(uint32_t code) {
  TThreadCalls& calls = tCalls;
  if (calls.Depth == 0) std::abort();  // no contained call to abandon
  TActiveCall& active = calls.Calls[calls.Depth - 1];
  active.Fault->Code = code;
  active.Fault->Address = 0;
  siglongjmp(active.Recovery, 1);
}
