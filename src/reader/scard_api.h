#pragma once
// The reader library binding: TCommonDllInvoker, the base of a library loaded from a
// path at run time and released again, and TLURMScardInvoker, the reader access
// library with its five entry points (export contract in reader/scard_types.h).
//
//   TLURMScardInvoker invoker(subAppPath + "lurmScard_old.dll");   // loaded here
//   char list[kSCListBufferSize] = {};
//   int32_t code = invoker.SCListReaders(list);   // EmptyEntryPointError when absent
//
// A processor fault in a call (32-bit Windows, POSIX) raises ProcessorFaultError instead of
// ending the process; the library is then left as the fault left it (FaultGuard.h).
// Construction loads the library and resolves the exports before the creator gets
// the object; a missing or unloadable file is not an error then (the binding is in
// the state "load failed", every entry point empty). An export that the library
// lacks leaves only its entry point empty. Calling an empty entry point raises
// EmptyEntryPointError and makes no call. Destruction releases the library exactly
// once. Entry points are valid while the binding lives. One thread (the UI thread).
#include <string>
#include <string_view>
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

// One entry point of a loaded library: an address of type Fn, or empty. Calling it
// calls the library, or raises EmptyEntryPointError when empty.
template <typename Fn>
class TEntryPoint {
 public:
  explicit TEntryPoint(const char* exportName) : FExportName(exportName) {}

  // A processor fault inside the call that the library does not handle itself raises
  // ProcessorFaultError naming the export, where the platform contains faults
  // (platform/FaultGuard.h).
  template <typename... Args>
  decltype(auto) operator()(Args&&... args) const {
    if (FAddress == nullptr) {
      if (FLoadFailure != nullptr) throw EmptyEntryPointError(FExportName, *FLoadFailure);
      throw EmptyEntryPointError(FExportName);
    }
    const Fn address = FAddress;
    return CallFaultContained(FExportName,
                              [&]() noexcept { return address(std::forward<Args>(args)...); });
  }

  explicit operator bool() const { return FAddress != nullptr; }
  Fn Address() const { return FAddress; }
  const char* ExportName() const { return FExportName; }
  // Looks the export up in module; a missing export leaves the entry point empty.
  void Resolve(TModuleHandle module) {
    FAddress = reinterpret_cast<Fn>(FindLibraryExport(module, FExportName));
  }
  // The library did not load; a call then reports loadFailure, which the binding keeps
  // for as long as the entry point lives.
  void SetLoadFailure(const std::string& loadFailure) { FLoadFailure = &loadFailure; }

 private:
  const char* FExportName;
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
  // Releases the library whether or not the load succeeded (0 is ignored).
  virtual ~TCommonDllInvoker();

  // Loads the library and resolves the entry points; does nothing once loaded.
  virtual void LoadDll() = 0;

  const HostString& DllPath() const { return FDllPath; }
  bool Loaded() const { return FLoaded; }
  TModuleHandle DllHandle() const { return FDllHandle.Get(); }

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
};
