#include "reader/scard_api.h"

#include <map>
#include <optional>

#include "platform/ErrorTexts.h"
#include "platform/ProcessNote.h"

namespace {
// Values below this are the system's error returns of a library load, never handles.
constexpr TModuleHandle kFirstValidModuleHandle = 32;

// The libraries that faulted, by module handle, as this load of the module has seen them.
// A faulted library is never unloaded, so its handle cannot come to name another library
// for the rest of the process.
std::map<TModuleHandle, TLibraryFault>& FaultedLibraries() {
  static std::map<TModuleHandle, TLibraryFault> libraries;
  return libraries;
}

// Each fault is also kept as a process note, so that the module, unloaded and loaded again
// by the host, still knows the library: "<function>\n<cause>".
std::string NoteName(TModuleHandle module) {
  return "faulted-library-" + errortext::HexCode(static_cast<uint64_t>(module), 1);
}

}  // namespace

CallingConventionError::CallingConventionError(const char* exportName, int32_t stackOffset)
    : Exception(errortext::CallingConventionText(exportName, stackOffset)) {}

LibraryFaultedError::LibraryFaultedError(const TLibraryFault& first)
    : Exception(
          first.Cause == kCallingConventionCause
              ? errortext::WrongCallingConventionLibraryText(first.Function + " " + first.Cause)
              : errortext::LibraryFaultedText(first.Function + " " + first.Cause)) {}

const TLibraryFault* FindLibraryFault(TModuleHandle module) {
  if (module == 0) return nullptr;
  auto& libraries = FaultedLibraries();
  auto found = libraries.find(module);
  if (found != libraries.end()) return &found->second;
  const std::optional<std::string> note = ProcessNote(NoteName(module));
  if (!note) return nullptr;
  const size_t newline = note->find('\n');
  TLibraryFault fault{note->substr(0, newline),
                      newline == std::string::npos ? std::string() : note->substr(newline + 1)};
  return &libraries.emplace(module, std::move(fault)).first->second;
}

void MarkLibraryFaulted(TModuleHandle module, TLibraryFault fault) {
  if (FindLibraryFault(module) != nullptr) return;
  SetProcessNote(NoteName(module), fault.Function + "\n" + fault.Cause);
  FaultedLibraries().emplace(module, std::move(fault));
}

TCommonDllInvoker::~TCommonDllInvoker() {
  // A library that faulted stays loaded: its detach code would run in whatever state the
  // fault left it (locks held, its heap half-updated), outside any containment.
  if (FindLibraryFault(FDllHandle.Get()) != nullptr) (void)FDllHandle.Release();
}

bool TCommonDllInvoker::LoadLibraryFile() {
  std::string reason;
  const TModuleHandle handle = LoadDynamicLibrary(FDllPath.CStr(), &reason);
  if (handle < kFirstValidModuleHandle) {
    FDllHandle.Reset();
    FLoadFailure = std::string(FDllPath.View());
    if (!reason.empty()) FLoadFailure.append("，").append(reason);
    return false;
  }
  FDllHandle.Reset(handle);
  return true;
}

TLURMScardInvoker::TLURMScardInvoker(HostString DllPath) : TCommonDllInvoker(std::move(DllPath)) {
  // Should LoadDll throw, the base destructor still releases what was loaded.
  LoadDll();
}

void TLURMScardInvoker::LoadDll() {
  if (FLoaded) return;
  if (!LoadLibraryFile()) {
    FLoaded = false;
    ForEachEntryPoint([this](auto& entry) { entry.SetLoadFailure(FLoadFailure); });
    return;
  }
  FLoaded = true;
  ForEachEntryPoint([this](auto& entry) { entry.Resolve(FDllHandle.Get()); });
}
