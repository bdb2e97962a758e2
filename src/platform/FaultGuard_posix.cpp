#include <signal.h>
#include <ucontext.h>

#include <csetjmp>

#include "platform/FaultGuard.h"

namespace {

// One contained call in progress on this thread; an inner call points to the outer one.
struct TActiveCall {
  sigjmp_buf Recovery;
  TProcessorFault* Fault;
};
thread_local TActiveCall* tActive = nullptr;

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
  TActiveCall* active = tActive;
  if (active == nullptr) {
    // A fault on another thread while a call is contained here: the default action,
    // once this handler returns and the instruction faults again.
    ::signal(signal, SIG_DFL);
    return;
  }
  active->Fault->Code = FaultCode(signal, info->si_code);
  active->Fault->Address = FaultingInstruction(info, userContext);
  siglongjmp(active->Recovery, 1);
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
  TActiveCall call{};
  call.Fault = &fault;
  struct sigaction action {};
  action.sa_sigaction = OnFault;
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  struct sigaction previous[sizeof kFaultSignals / sizeof kFaultSignals[0]];
  for (size_t i = 0; i < sizeof kFaultSignals / sizeof kFaultSignals[0]; ++i)
    sigaction(kFaultSignals[i], &action, &previous[i]);
  TActiveCall* const outer = tActive;
  const TFloatControl floatControl = SaveFloatControl();
  volatile bool returned = false;
  if (sigsetjmp(call.Recovery, 1) == 0) {
    tActive = &call;
    body(context);
    returned = true;
  }
  tActive = outer;
  if (!returned) RestoreFloatControl(floatControl);
  for (size_t i = 0; i < sizeof kFaultSignals / sizeof kFaultSignals[0]; ++i)
    sigaction(kFaultSignals[i], &previous[i], nullptr);
  return returned;
}
