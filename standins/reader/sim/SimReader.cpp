// The simulated reader access library: the five reader library exports, driven by a
// configuration file beside the library and recording every call to a trace file.
//
// The configuration is "<library file>.sim.ini" (for example
// "C:\app\lurmScard_old.dll.sim.ini"), so copies under different names in one folder
// are configured separately. It is read anew at every call; without it the library
// has no readers and every call succeeds. Format and trace lines: README.md.
//
//   reader=Reader A
//   connect=0x8010000C Reader A
//   trace=C:\tmp\trace.txt
#define RS_SCARD_LIBRARY
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "reader/scard_types.h"

#if defined(SIM_CHECK_SEH_CHAIN)
#include "SehChain.h"
#endif
#if defined(SIM_UNWIND_TO_NOWHERE)
#include "UnwindToNowhere.h"
#endif

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <time.h>
#endif

namespace {

struct TSimConfig {
  std::string ListBytes;
  int32_t ListResult = 0;
  int32_t ConnectDefault = 0;
  std::vector<std::pair<std::string, int32_t>> ConnectResults;
  int32_t DisconnectResult = 0;
  bool NullErrorText = false;
  std::string ErrorText = "simulated reader error";
  std::string TracePath;
  // The export that takes its time before it returns (a reader or driver slow to answer),
  // and how long, in milliseconds.
  std::string DelayIn;
  int DelayMs = 0;
  // Misbehaviour, honoured only by the faulty variant: the export that writes to address 0,
  // and the number of bytes each call writes past the caller's buffer.
  std::string FaultIn;
  int ListOverrun = 0;
  int ConnectOverrun = 0;
  // Before its fault: leave the floating-point units disturbed; overrun its own stack.
  bool FaultX87 = false;
  int FaultStackOverrun = 0;
  // The export that returns as a cdecl function would, leaving its arguments.
  std::string CdeclIn;
  // The export that returns with its caller's frame pointer (ebp) changed.
  std::string BreakEbpIn;
  // The export that overwrites its caller's frame just above its arguments, keeping ebp.
  std::string BreakCallerFrameIn;
  // Instead of its processor fault, the export raises this software exception (Windows:
  // RaiseException with this code; natively a C++ exception); 0: none.
  uint32_t RaiseCode = 0;
  // SCGetErrorText returns this address instead of a text; 0: its text.
  uintptr_t ErrorTextAddress = 0;
  // Instead of its processor fault, the export throws a C++ exception of this library's own
  // runtime: "plain" from a frame with nothing to clean up, "destructor" through a frame
  // whose object traces "<export> unwound" when its destructor runs; or, "unwindtonowhere"
  // (x64), starts an unwind with no target frame; empty: none.
  std::string ThrowKind;
};

enum class TThrowKind { None, Plain, Destructor, UnwindToNowhere };

// What the faulty variant does at the end of an export: nothing, or fault (after
// disturbing the floating-point units or overrunning its own stack, if configured).
struct TFaultPlan {
  bool Fault = false;
  bool X87 = false;
  int StackOverrun = 0;
  uint32_t Raise = 0;
  // A C++ exception instead (TSimConfig::ThrowKind). The plan has no destructor, so that a
  // plain throw passes no frame of the library with cleanup work.
  TThrowKind Throw = TThrowKind::None;
  const char* Export = nullptr;
};

// The trace file of the destructor that a throw through a destructor frame passes.
std::string gThrowTrace;

#if defined(_WIN32)
HMODULE gSelf = nullptr;
#endif

std::string OwnPath() {
#if defined(_WIN32)
  char path[4096];
  DWORD n = GetModuleFileNameA(gSelf, path, sizeof path);
  if (n == 0 || n >= sizeof path) return {};
  return std::string(path, n);
#else
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&OwnPath), &info) == 0 || info.dli_fname == nullptr) return {};
  return info.dli_fname;
#endif
}

int32_t ParseCode(const std::string& text) {
  // Decimal, negative decimal or 0x hex; any 32-bit pattern.
  return static_cast<int32_t>(static_cast<uint32_t>(std::strtoll(text.c_str(), nullptr, 0)));
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendHex(std::string& out, const std::string& hex) {
  int high = -1;
  for (char c : hex) {
    int d = HexDigit(c);
    if (d < 0) continue;
    if (high < 0) {
      high = d;
    } else {
      out.push_back(static_cast<char>(high * 16 + d));
      high = -1;
    }
  }
}

TSimConfig LoadConfig() {
  TSimConfig config;
  std::string path = OwnPath();
  if (path.empty()) return config;
  path += ".sim.ini";
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return config;
  std::string text;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
  std::fclose(f);

  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    std::string value = line.substr(eq + 1);
    if (key == "reader") {
      config.ListBytes += value;
      config.ListBytes.push_back('\0');
    } else if (key == "listhex") {
      AppendHex(config.ListBytes, value);
    } else if (key == "listresult") {
      config.ListResult = ParseCode(value);
    } else if (key == "connect") {
      size_t space = value.find(' ');
      if (space == std::string::npos) continue;
      config.ConnectResults.emplace_back(value.substr(space + 1),
                                         ParseCode(value.substr(0, space)));
    } else if (key == "connectdefault") {
      config.ConnectDefault = ParseCode(value);
    } else if (key == "disconnectresult") {
      config.DisconnectResult = ParseCode(value);
    } else if (key == "errortext") {
      config.ErrorText = value;
      config.NullErrorText = false;
    } else if (key == "nullerrortext") {
      config.NullErrorText = value == "1";
    } else if (key == "trace") {
      config.TracePath = value;
    } else if (key == "delay") {
      const size_t space = value.find(' ');
      if (space == std::string::npos) continue;
      config.DelayIn = value.substr(0, space);
      config.DelayMs = std::atoi(value.c_str() + space + 1);
#if defined(SIM_FAULTS)
    } else if (key == "fault") {
      config.FaultIn = value;
    } else if (key == "listoverrun") {
      config.ListOverrun = std::atoi(value.c_str());
    } else if (key == "connectoverrun") {
      config.ConnectOverrun = std::atoi(value.c_str());
    } else if (key == "faultx87") {
      config.FaultX87 = value == "1";
    } else if (key == "faultstackoverrun") {
      config.FaultStackOverrun = std::atoi(value.c_str());
    } else if (key == "cdecl") {
      config.CdeclIn = value;
    } else if (key == "breakebp") {
      config.BreakEbpIn = value;
    } else if (key == "breakcallerframe") {
      config.BreakCallerFrameIn = value;
    } else if (key == "raise") {
      config.RaiseCode = static_cast<uint32_t>(ParseCode(value));
    } else if (key == "throw") {
      config.ThrowKind = value;
    } else if (key == "errortextaddress") {
      config.ErrorTextAddress = static_cast<uintptr_t>(std::strtoull(value.c_str(), nullptr, 0));
#endif
    }
  }
  return config;
}

// Blocks the calling thread for the configured time when exportName is the slow export.
void Delay(const TSimConfig& config, const char* exportName) {
  if (config.DelayIn != exportName || config.DelayMs <= 0) return;
#if defined(_WIN32)
  Sleep(static_cast<DWORD>(config.DelayMs));
#else
  const timespec pause{config.DelayMs / 1000, (config.DelayMs % 1000) * 1000000L};
  nanosleep(&pause, nullptr);
#endif
}

void Trace(const std::string& tracePath, const std::string& line) {
  if (tracePath.empty()) return;
  FILE* f = std::fopen(tracePath.c_str(), "ab");
  if (f == nullptr) return;
  std::fwrite(line.data(), 1, line.size(), f);
  std::fputc('\n', f);
  std::fclose(f);
}

void Trace(const TSimConfig& config, const std::string& line) { Trace(config.TracePath, line); }

// The plan of the export's end: when the faulty variant is to fault in this export, it
// traces "<export> fault" now. The fault comes at the end of the export, after the call's
// own objects are gone, so that the native build's leak checker sees only what others
// leak.
TFaultPlan PlanFault(const TSimConfig& config, const char* exportName) {
#if defined(SIM_CHECK_SEH_CHAIN)
  // Inside the caller's guarded call, where an exception raised now would be dispatched:
  // the chain must pass the system's SEHOP checks (SehChain.h), or the process ends.
  CheckSehChain(exportName, config.TracePath.c_str());
#endif
  if (config.FaultIn != exportName) return {};
  Trace(config, std::string(exportName) + " fault");
  const TThrowKind throwKind = config.ThrowKind == "plain"             ? TThrowKind::Plain
                               : config.ThrowKind == "destructor"      ? TThrowKind::Destructor
                               : config.ThrowKind == "unwindtonowhere" ? TThrowKind::UnwindToNowhere
                                                                       : TThrowKind::None;
  if (throwKind == TThrowKind::Destructor) gThrowTrace = config.TracePath;
  return {.Fault = true,
          .X87 = config.FaultX87,
          .StackOverrun = config.FaultStackOverrun,
          .Raise = config.RaiseCode,
          .Throw = throwKind,
          .Export = exportName};
}

// The pointer is read through a volatile object so the compiler emits a real store to
// address 0 (an access violation), not a trap instruction of its own; the
// undefined-behaviour sanitizer of the native build would stop at the store itself.
__attribute__((no_sanitize("undefined"))) void WriteToAddressZero() {
  static char* volatile nowhere = nullptr;
  *nowhere = 1;
}

// Leaves six values on the x87 register stack and changes the x87 control word (rounding
// toward zero, 24-bit precision) and MXCSR (flush to zero, denormals are zero, rounding
// toward zero), as a library that breaks the calling convention's floating-point rules.
__attribute__((noinline)) void DisturbFloatingPoint() {
#if defined(__i386__) || defined(__x86_64__)
  const uint16_t controlWord = 0x0C7F;
  const uint32_t mxcsr = 0xFFC0;
  asm volatile("fld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1\n\tfldcw %0\n\tldmxcsr %1"
               :
               : "m"(controlWord), "m"(mxcsr));
#endif
}

// Writes count bytes upward from from; its own frame lies below from, so it is not touched.
__attribute__((noinline, no_sanitize("address"))) void FillUpward(volatile char* from, int count) {
  for (int i = 0; i < count; ++i) from[i] = 'O';
}

// Overruns a 64-byte buffer of its own frame by count bytes, over its return address and
// its callers' frames, and faults before anything could return through them.
__attribute__((noinline)) void OverrunOwnStackThenFault(int count) {
  volatile char buffer[64];
  FillUpward(buffer, static_cast<int>(sizeof buffer) + count);
  WriteToAddressZero();
}

// Raises a software exception through the library's C interface, as a library whose C++ or
// Delphi code lets one escape does.
[[noreturn]] void RaiseSoftwareException(uint32_t code) {
#if defined(_WIN32)
  // Non-continuable, as a C++ or Delphi throw is raised.
  RaiseException(code, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  std::abort();
#else
  throw std::runtime_error("simulated reader library exception " + std::to_string(code));
#endif
}

// Throws a C++ exception with this library's own compiler runtime (the MinGW g++ one on
// Windows: code 20474343 on x64, DWARF unwinding on x86, which never reaches the system's
// exception dispatch), caught nowhere in the library.
[[noreturn, gnu::noinline]] void ThrowCppException(const char* exportName) {
  throw std::runtime_error(std::string("simulated reader library exception in ") + exportName);
}

// An object whose destructor traces "<export> unwound": a frame holding one has cleanup
// work for the unwinder (a landing pad that ends in _Unwind_Resume with MinGW g++ on x64).
struct TUnwindTrace {
  const std::string& TracePath;
  const char* Export;
  ~TUnwindTrace() { Trace(TracePath, std::string(Export) + " unwound"); }
};

[[gnu::noinline]] void ThrowThroughDestructor(const std::string& tracePath,
                                              const char* exportName) {
  TUnwindTrace trace{tracePath, exportName};
  ThrowCppException(exportName);
}

void Fault(const TFaultPlan& plan) {
  if (plan.Throw == TThrowKind::Plain) ThrowCppException(plan.Export);
  if (plan.Throw == TThrowKind::Destructor) ThrowThroughDestructor(gThrowTrace, plan.Export);
#if defined(SIM_UNWIND_TO_NOWHERE)
  if (plan.Throw == TThrowKind::UnwindToNowhere) UnwindToNowhere();
#endif
  if (plan.Raise != 0) RaiseSoftwareException(plan.Raise);
  if (plan.X87) DisturbFloatingPoint();
  if (plan.StackOverrun > 0) OverrunOwnStackThenFault(plan.StackOverrun);
  WriteToAddressZero();
}

// The faulty variant writes count bytes past the end of the caller's buffer.
void Overrun(char* buffer, int size, int count) {
  if (count > 0) std::memset(buffer + size, 'O', static_cast<size_t>(count));
}

}  // namespace

#if defined(_WIN32)
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    gSelf = instance;
#if defined(SIM_CHECK_SEH_CHAIN)
    NoteFinalSehRecord();
#endif
  }
  return TRUE;
}
#endif

// The faulty variant on 32-bit Windows can return from SCListReaders and SCConnectReader
// as a cdecl function would, leaving its arguments on the stack, or with its caller's frame
// pointer changed; there these two exports are the stubs below around the bodies.
#if defined(SIM_FAULTS) && defined(_WIN32) && defined(__i386__)
#define SIM_CDECL_SWITCH 1
#endif

// The return the configuration asks of the export: gSimReturnMode's values below.
int ReturnMode(const TSimConfig& config, const char* exportName) {
  if (config.CdeclIn == exportName) return 1;
  if (config.BreakCallerFrameIn == exportName) return 3;
  return config.BreakEbpIn == exportName ? 2 : 0;
}

extern "C" {

// How the current call of the export returns: 0 as stdcall, 1 as a cdecl function would,
// 2 as stdcall with the caller's frame pointer changed, 3 as stdcall with the two words of
// its caller's frame just above its arguments overwritten and ebp kept.
int gSimReturnMode = 0;

#if defined(SIM_EXPORT_SCListReaders)
int32_t SimListReaders(char* buffer) {
  TFaultPlan fault;
  const int32_t result = [&] {
    TSimConfig config = LoadConfig();
    bool zeroed = true;
    for (int i = 0; i < kSCListBufferSize; ++i) zeroed = zeroed && buffer[i] == '\0';
    Trace(config, std::string("SCListReaders zeroed=") + (zeroed ? "1" : "0"));
    // Never beyond the caller's buffer, whatever the configuration holds (but the
    // faulty variant's overrun).
    size_t count = config.ListBytes.size();
    if (count > static_cast<size_t>(kSCListBufferSize)) count = kSCListBufferSize;
    std::memcpy(buffer, config.ListBytes.data(), count);
    Delay(config, "SCListReaders");
    fault = PlanFault(config, "SCListReaders");
    Overrun(buffer, kSCListBufferSize, config.ListOverrun);
    gSimReturnMode = ReturnMode(config, "SCListReaders");
    return config.ListResult;
  }();
  if (fault.Fault) Fault(fault);
  return result;
}
#if !defined(SIM_CDECL_SWITCH)
int32_t RS_SCARD_CALL SCListReaders(char* buffer) { return SimListReaders(buffer); }
#endif
#endif

#if defined(SIM_EXPORT_SCConnectReader)
int32_t SimConnectReader(const char* readerName, char* out) {
  TFaultPlan fault;
  const int32_t result = [&] {
    TSimConfig config = LoadConfig();
    std::string name = readerName != nullptr ? readerName : "";
    Trace(config, "SCConnectReader name=" + name);
    std::memset(out, 0x5A, kSCConnectBufferSize);
    Delay(config, "SCConnectReader");
    fault = PlanFault(config, "SCConnectReader");
    Overrun(out, kSCConnectBufferSize, config.ConnectOverrun);
    gSimReturnMode = ReturnMode(config, "SCConnectReader");
    for (const auto& [reader, code] : config.ConnectResults)
      if (reader == name) return code;
    return config.ConnectDefault;
  }();
  if (fault.Fault) Fault(fault);
  return result;
}
#if !defined(SIM_CDECL_SWITCH)
int32_t RS_SCARD_CALL SCConnectReader(const char* readerName, char* out) {
  return SimConnectReader(readerName, out);
}
#endif
#endif

#if defined(SIM_CDECL_SWITCH)
// Each stub copies its arguments, calls the body and removes its arguments on return
// (ret N, stdcall) unless the body asked for the cdecl return (plain ret) or for the frame
// pointer changed (ebp moved up by 64 bytes, into its caller's frame, as a saved copy
// overwritten by an overrun would leave it), or for the two words of the caller's frame
// above the arguments overwritten (an overrun that stops short of the return address's
// frame pointer). The exports are named in the linker directives as the compiler names a
// stdcall export.
asm(R"(
    .text
    .globl _SCListReaders@4
_SCListReaders@4:
    pushl 4(%esp)
    call _SimListReaders
    addl $4, %esp
    cmpl $0, _gSimReturnMode
    jne 1f
    ret $4
1:
    cmpl $2, _gSimReturnMode
    je 3f
    cmpl $3, _gSimReturnMode
    je 5f
    ret
3:
    addl $64, %ebp
    ret $4
5:
    movl $0x0BADF00D, 8(%esp)
    movl $0x0BADF00D, 12(%esp)
    ret $4

    .globl _SCConnectReader@8
_SCConnectReader@8:
    pushl 8(%esp)
    pushl 8(%esp)
    call _SimConnectReader
    addl $8, %esp
    cmpl $0, _gSimReturnMode
    jne 2f
    ret $8
2:
    cmpl $2, _gSimReturnMode
    je 4f
    cmpl $3, _gSimReturnMode
    je 6f
    ret
4:
    addl $64, %ebp
    ret $8
6:
    movl $0x0BADF00D, 12(%esp)
    movl $0x0BADF00D, 16(%esp)
    ret $8

    .section .drectve
    .ascii " -export:\"SCListReaders@4\" -export:\"SCConnectReader@8\""
    .text
)");
#endif

#if defined(SIM_EXPORT_SCDisConnectReader)
int32_t RS_SCARD_CALL SCDisConnectReader(void) {
  TFaultPlan fault;
  const int32_t result = [&] {
    TSimConfig config = LoadConfig();
    Trace(config, "SCDisConnectReader");
    fault = PlanFault(config, "SCDisConnectReader");
    return config.DisconnectResult;
  }();
  if (fault.Fault) Fault(fault);
  return result;
}
#endif

#if defined(SIM_EXPORT_SCSendCmd)
int32_t RS_SCARD_CALL SCSendCmd(const uint8_t* command, int32_t commandLength, uint8_t* response,
                                int32_t responseSize, int32_t* responseLength) {
  TSimConfig config = LoadConfig();
  Trace(config, "SCSendCmd length=" + std::to_string(commandLength));
  // Echoes the command, as much as fits.
  int32_t n = commandLength < responseSize ? commandLength : responseSize;
  if (n < 0) n = 0;
  if (n > 0) std::memcpy(response, command, static_cast<size_t>(n));
  if (responseLength != nullptr) *responseLength = n;
  return 0;
}
#endif

#if defined(SIM_EXPORT_SCGetErrorText)
const char* RS_SCARD_CALL SCGetErrorText(int32_t code) {
  // Valid until the next call, as the caller reads it at once.
  static std::string text;
  TFaultPlan fault;
  const char* result = [&]() -> const char* {
    TSimConfig config = LoadConfig();
    Trace(config, "SCGetErrorText code=" + std::to_string(code));
    fault = PlanFault(config, "SCGetErrorText");
    if (config.NullErrorText) return nullptr;
    if (config.ErrorTextAddress != 0) return reinterpret_cast<const char*>(config.ErrorTextAddress);
    text = config.ErrorText;
    return text.c_str();
  }();
  if (fault.Fault) Fault(fault);
  return result;
}
#endif

}  // extern "C"
