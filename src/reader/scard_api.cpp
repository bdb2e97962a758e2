#include "reader/scard_api.h"

namespace {
// Values below this are the system's error returns of a library load, never handles.
constexpr TModuleHandle kFirstValidModuleHandle = 32;
}  // namespace

TCommonDllInvoker::~TCommonDllInvoker() = default;

bool TCommonDllInvoker::LoadLibraryFile() {
  const TModuleHandle handle = LoadDynamicLibrary(FDllPath.CStr());
  if (handle < kFirstValidModuleHandle) {
    FDllHandle.Reset();
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
    return;
  }
  FLoaded = true;
  SCListReaders.Resolve(FDllHandle.Get());
  SCConnectReader.Resolve(FDllHandle.Get());
  SCDisConnectReader.Resolve(FDllHandle.Get());
  SCSendCmd.Resolve(FDllHandle.Get());
  SCGetErrorText.Resolve(FDllHandle.Get());
}
