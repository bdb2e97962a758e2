#pragma once
// The reader library binding: TCommonDllInvoker, the base of a library loaded from a
// path at run time and released again, and TLURMScardInvoker, the reader access
// library with its five entry points (export contract in reader/scard_types.h).
//
//   TLURMScardInvoker invoker(subAppPath + "lurmScard_old.dll");   // loaded here
//   char list[kSCListBufferSize] = {};
//   int32_t code = invoker.SCListReaders(list);   // EmptyEntryPointError when absent
//
// A processor fault or a software exception in a call raises ProcessorFaultError instead of
// ending the process; the library is then left as the fault left it (FaultGuard.h). On
// 32-bit Windows a call that returns with the stack pointer off (an export built with
// another calling convention) raises CallingConventionError, the stack pointer put back.
// Either way the library is marked faulted for the life of the process, by its module
// handle (platform/ProcessNote.h: also across an unload and reload of this module): no binding
// calls into it again (every call raises LibraryFaultedError naming the first fault) and none
// unloads it, since its detach code would run in whatever state the fault left it. Construction
// loads the library and resolves the exports before the creator gets the object; a missing or
// unloadable file is not an error then (the binding is in the state "load failed", every entry
// point empty). An export that the library lacks leaves only its entry point empty. Calling an
// empty entry point raises EmptyEntryPointError and makes no call. Destruction releases the library
// exactly once. Entry points are valid while the binding lives. One thread (the UI thread).
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "host/HostString.h"
#include "platform/DynamicLibrary.h"
#include "platform/ErrorTexts.h"
#include "platform/Exception.h"
#include "platform/FaultGuard.h"
#include "reader/scard_types.h"

// A call through an entry point that the library does not provide (library not
// loaded, or export missing). The message names the export and, when the library was
// not loaded, the file and the system's reason (platform/ErrorTexts.h).
class EmptyEntryPointError : public Exception {
 public:
  // The library is loaded and lacks the export.
  explicit EmptyEntryPointError(const char* exportName)
      : Exception(errortext::MissingExportText(exportName)), FExportName(exportName) {}
  // The library was not loaded: loadFailure names the file and the system's reason.
  EmptyEntryPointError(const char* exportName, std::string_view loadFailure)
      : Exception(errortext::LibraryNotLoadedText(exportName, loadFailure)),
        FExportName(exportName),
        FLibraryLoaded(false) {}
  const char* ExportName() const { return FExportName; }
  bool LibraryLoaded() const { return FLibraryLoaded; }

 private:
  const char* FExportName;
  bool FLibraryLoaded = true;
};

// An export returned with the stack pointer off by StackOffset bytes: the library was
// built with another calling convention than the contract's stdcall. The message names
// the export and the calling convention, Chinese first.
class CallingConventionError : public Exception {
 public:
  CallingConventionError(const char* exportName, int32_t stackOffset);
};

// The cause of a library's first fault when it returned with another calling convention.
inline constexpr const char* kCallingConventionCause = "calling convention";
// The first fault of a library, kept for the life of the process: the export it happened
// in and its technical description ("processor fault C0000005", "exception E06D7363",
// "calling convention").
struct TLibraryFault {
  std::string Function;
  std::string Cause;
};

// A call into a library that faulted earlier; no call was made. The message says, in
// Chinese first, that the reader library failed earlier and the host must be restarted,
// with the first fault's function and cause.
class LibraryFaultedError : public Exception {
 public:
  explicit LibraryFaultedError(const TLibraryFault& first);
};

// The first fault recorded for module, or null when it has not faulted.
const TLibraryFault* FindLibraryFault(TModuleHandle module);
// Records that module faulted; a later fault of the same module keeps the first record.
void MarkLibraryFaulted(TModuleHandle module, TLibraryFault fault);

namespace scard_detail {

// One argument of a reader library call as the 32-bit word the call pushes.
template <typename T>
uint32_t ArgumentWord(T&& value) {
  using TValue = std::decay_t<T>;
  if constexpr (std::is_pointer_v<TValue>) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(static_cast<TValue>(value)));
  } else {
    static_assert(std::is_integral_v<TValue> && sizeof(TValue) <= 4);
    return static_cast<uint32_t>(value);
  }
}

template <typename TResult>
TResult ResultOfWord(uint32_t word) {
  if constexpr (std::is_pointer_v<TResult>) {
    return reinterpret_cast<TResult>(static_cast<uintptr_t>(word));
  } else {
    return static_cast<TResult>(word);
  }
}

// One argument of a reader library call as the 64-bit word of its register or stack slot
// (x64): a pointer as it is, an integer extended to 64 bits.
template <typename T>
uint64_t ArgumentWord64(T&& value) {
  using TValue = std::decay_t<T>;
  if constexpr (std::is_pointer_v<TValue>) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(static_cast<TValue>(value)));
  } else {
    static_assert(std::is_integral_v<TValue> && sizeof(TValue) <= 8);
    return static_cast<uint64_t>(value);
  }
}

// The result in rax as the function's type: a pointer, or an integer of its low bytes.
template <typename TResult>
TResult ResultOfWord64(uint64_t word) {
  if constexpr (std::is_pointer_v<TResult>) {
    return reinterpret_cast<TResult>(static_cast<uintptr_t>(word));
  } else {
    return static_cast<TResult>(word);
  }
}

}  // namespace scard_detail

// One entry point of a loaded library: an address of type Fn, or empty. Calling it
// calls the library, or raises EmptyEntryPointError when empty, or LibraryFaultedError
// without a call when the library faulted before.
template <typename Fn>
class TEntryPoint {
 public:
  explicit TEntryPoint(const char* exportName) : FExportName(exportName) {}

  // A processor fault or a software exception inside the call that the library does not
  // handle itself raises ProcessorFaultError naming the export, where the platform contains
  // faults (platform/FaultGuard.h); on 32-bit Windows a return with the stack pointer off
  // raises CallingConventionError. Both mark the library faulted.
  template <typename... Args>
  decltype(auto) operator()(Args&&... args) const {
    return CallThen([](auto result) { return result; }, std::forward<Args>(args)...);
  }

  // As the call, and read(result) runs inside the same containment: what the library's
  // result points to is read there, so that a bad pointer is the library's fault, not a
  // crash of ours. read must not allocate (a fault abandons it where it stands).
  template <typename Read, typename... Args>
  decltype(auto) CallThen(Read&& read, Args&&... args) const {
    if (FAddress == nullptr) {
      if (FLoadFailure != nullptr) throw EmptyEntryPointError(FExportName, *FLoadFailure);
      throw EmptyEntryPointError(FExportName);
    }
    if (const TLibraryFault* first = FindLibraryFault(FModule)) throw LibraryFaultedError(*first);
    const Fn address = FAddress;
    try {
#if defined(_WIN32) && defined(__i386__)
      static_assert(std::is_invocable_v<Fn, Args...>);
      using TResult = std::invoke_result_t<Fn, Args...>;
      const uint32_t words[sizeof...(Args) + 1] = {
          scard_detail::ArgumentWord(std::forward<Args>(args))...};
      int32_t stackOffset = 0;
      auto result = CallFaultContained(FExportName, [&]() noexcept {
        const uint32_t word = CallStdcallChecked(reinterpret_cast<const void*>(address), words,
                                                 sizeof...(Args), stackOffset);
        return read(scard_detail::ResultOfWord<TResult>(word));
      });
      if (stackOffset != 0) {
        MarkLibraryFaulted(FModule, {FExportName, kCallingConventionCause});
        throw CallingConventionError(FExportName, stackOffset);
      }
      return result;
#elif defined(_WIN32) && defined(__x86_64__)
      // The library is called from CallForeign's stub, whose handler takes whatever the
      // library leaves unhandled before it reaches this noexcept body.
      static_assert(std::is_invocable_v<Fn, Args...>);
      using TResult = std::invoke_result_t<Fn, Args...>;
      const uint64_t words[sizeof...(Args) < 4 ? 4 : sizeof...(Args)] = {
          scard_detail::ArgumentWord64(std::forward<Args>(args))...};
      return CallFaultContained(FExportName, [&]() noexcept {
        const uint64_t word =
            CallForeign(reinterpret_cast<const void*>(address), words, sizeof...(Args));
        return read(scard_detail::ResultOfWord64<TResult>(word));
      });
#else
      // A C++ exception out of the library is caught here and ends the contained call as a
      // software exception, once the catch is over.
      using TResult = std::invoke_result_t<Fn, Args...>;
      return CallFaultContained(FExportName, [&]() noexcept {
        bool thrown = false;
        TResult result{};
        try {
          result = address(std::forward<Args>(args)...);
        } catch (...) {
          thrown = true;
        }
        if (thrown) AbandonContainedCall(kExceptionCpp);
        return read(result);
      });
#endif
    } catch (const ProcessorFaultError& e) {
      MarkLibraryFaulted(FModule, {FExportName, e.Cause()});
      throw;
    }
  }

  explicit operator bool() const { return FAddress != nullptr; }
  Fn Address() const { return FAddress; }
  const char* ExportName() const { return FExportName; }
  // Looks the export up in module; a missing export leaves the entry point empty.
  void Resolve(TModuleHandle module) {
    FModule = module;
    FAddress = reinterpret_cast<Fn>(FindLibraryExport(module, FExportName));
  }
  // The library did not load; a call then reports loadFailure, which the binding keeps
  // for as long as the entry point lives.
  void SetLoadFailure(const std::string& loadFailure) { FLoadFailure = &loadFailure; }

 private:
  const char* FExportName;
  TModuleHandle FModule = 0;
  Fn FAddress = nullptr;
  const std::string* FLoadFailure = nullptr;
};

// A library loaded from FDllPath for the life of the object. A concrete binding
// supplies LoadDll and runs it at the end of its own constructor (a base constructor
// cannot reach the derived operation), so every creator receives a binding on which
// LoadDll has already run; concrete bindings are final so that this holds.
class TCommonDllInvoker {
 public:
  TCommonDllInvoker(const TCommonDllInvoker&) = delete;
  TCommonDllInvoker& operator=(const TCommonDllInvoker&) = delete;
  // Releases the library whether or not the load succeeded (0 is ignored), unless it
  // faulted: a faulted library stays loaded for the life of the process.
  virtual ~TCommonDllInvoker();

  // Loads the library and resolves the entry points; does nothing once loaded.
  virtual void LoadDll() = 0;

  const HostString& DllPath() const { return FDllPath; }
  bool Loaded() const { return FLoaded; }
  TModuleHandle DllHandle() const { return FDllHandle.Get(); }
  // Why the library did not load: the file, then the reason (platform/DynamicLibrary.h);
  // empty while it is loaded or before a load was tried.
  //   "C:\app\lurmScard.dll，文件为空（0 字节），不是可加载的库，系统错误 1006"
  const std::string& LoadFailure() const { return FLoadFailure; }

 protected:
  explicit TCommonDllInvoker(HostString DllPath) : FDllPath(std::move(DllPath)) {}

  // Loads FDllPath into FDllHandle. A result below 32, read as unsigned, is a failed
  // load (the system's error values); then the handle stays 0, FLoadFailure names the
  // file and the system's reason, and false is returned.
  bool LoadLibraryFile();

  HostString FDllPath;
  bool FLoaded = false;
  // Why the load failed, for the error a call then raises; shows nothing by itself.
  std::string FLoadFailure;
  // The binding owns this load of the library; 0 when none is loaded.
  UniqueModule FDllHandle;
};

// The reader access library. Members in the order of the binding's layout; the
// exports are resolved in the order SCListReaders, SCConnectReader,
// SCDisConnectReader, SCSendCmd, SCGetErrorText.
class TLURMScardInvoker final : public TCommonDllInvoker {
 public:
  explicit TLURMScardInvoker(HostString DllPath);

  void LoadDll() override;

  TEntryPoint<SCListReadersFn> SCListReaders{"SCListReaders"};
  TEntryPoint<SCConnectReaderFn> SCConnectReader{"SCConnectReader"};
  TEntryPoint<SCSendCmdFn> SCSendCmd{"SCSendCmd"};
  TEntryPoint<SCDisConnectReaderFn> SCDisConnectReader{"SCDisConnectReader"};
  TEntryPoint<SCGetErrorTextFn> SCGetErrorText{"SCGetErrorText"};

 private:
  // Calls f with each entry point.
  template <typename F>
  void ForEachEntryPoint(F f) {
    f(SCListReaders);
    f(SCConnectReader);
    f(SCSendCmd);
    f(SCDisConnectReader);
    f(SCGetErrorText);
  }
};
