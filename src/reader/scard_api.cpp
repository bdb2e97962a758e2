#include "reader/scard_api.h"

namespace {
// Values below this are the system's error returns of a library load, never handles.
constexpr TModuleHandle kFirstValidModuleHandle = 32;
}  // namespace

TCommonDllInvoker::~TCommonDllInvoker() = default;

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
    SCListReaders.SetLoadFailure(FLoadFailure);
    SCConnectReader.SetLoadFailure(FLoadFailure);
    SCDisConnectReader.SetLoadFailure(FLoadFailure);
    SCSendCmd.SetLoadFailure(FLoadFailure);
    SCGetErrorText.SetLoadFailure(FLoadFailure);
    return;
  }
  FLoaded = true;
  SCListReaders.Resolve(FDllHandle.Get());
  SCConnectReader.Resolve(FDllHandle.Get());
  SCDisConnectReader.Resolve(FDllHandle.Get());
  SCSendCmd.Resolve(FDllHandle.Get());
  SCGetErrorText.Resolve(FDllHandle.Get());
}
