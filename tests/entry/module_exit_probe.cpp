// Opens the reader settings dialog in this process, then gives ReaderSettings.dll the
// notification a process exit gives it (its entry point, DLL_PROCESS_DETACH, reserved
// argument non-null) from inside the modal loop, and reports what is still there by its
// exit code: bit 0 set when the dialog window was destroyed, bit 1 when the reader
// library was released; 8 module not loaded, 9 host profile not read, 10 no dialog.
//
//   module_exit_probe.exe HOST_PROFILE_DIR
//
// The process is then terminated, so the notification is not given a second time.
#include <cstdint>
#include <cstdio>
#include <string>

#include "HostSim.h"
#include "ModuleHost.h"

namespace {

using ShowFrmOptionFn = void(__stdcall*)(uintptr_t, uint32_t, uint32_t);
using EntryPointFn = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);

constexpr const char* kReaderLibrary = "lurmScard_old.dll";
constexpr UINT kExitModuleLoad = 8, kExitProfile = 9, kExitNoDialog = 10;

HMODULE Module = nullptr;
int Ticks = 0;

EntryPointFn EntryPointOf(HMODULE module) {
  auto* base = reinterpret_cast<uint8_t*>(module);
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  return reinterpret_cast<EntryPointFn>(base + nt->OptionalHeader.AddressOfEntryPoint);
}

void CALLBACK ExitWhenShown(HWND, UINT, UINT_PTR, DWORD) {
  HWND dialog = FindReaderDialog();
  if (dialog == nullptr) {
    if (++Ticks > 1500) TerminateProcess(GetCurrentProcess(), kExitNoDialog);
    return;
  }
  if (GetModuleHandleA(kReaderLibrary) == nullptr) {
    std::fprintf(stderr, "module_exit_probe: the reader library is not loaded with the dialog\n");
    TerminateProcess(GetCurrentProcess(), kExitNoDialog);
  }
  EntryPointOf(Module)(Module, DLL_PROCESS_DETACH, reinterpret_cast<LPVOID>(1));
  UINT result = 0;
  if (!IsWindow(dialog)) result |= 1;
  if (GetModuleHandleA(kReaderLibrary) == nullptr) result |= 2;
  std::printf("module_exit_probe: dialog %s, reader library %s\n",
              (result & 1) ? "destroyed" : "left", (result & 2) ? "released" : "left");
  std::fflush(stdout);
  TerminateProcess(GetCurrentProcess(), result);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: module_exit_probe HOST_PROFILE_DIR\n");
    return kExitProfile;
  }
  if (!HostSim_Open(argv[1])) {
    std::fprintf(stderr, "module_exit_probe: %s: %s\n", argv[1], HostSim_LastError());
    return kExitProfile;
  }
  HWND host = MakeHostWindow();
  HostSim_SetHandles(reinterpret_cast<THostHandle>(host), 0);
  Module = LoadLibraryA((ProgramDir() + "ReaderSettings.dll").c_str());
  if (Module == nullptr) return kExitModuleLoad;
  auto show = reinterpret_cast<ShowFrmOptionFn>(
      reinterpret_cast<void*>(GetProcAddress(Module, "ShowFrmOption")));
  if (show == nullptr) return kExitModuleLoad;
  SetTimer(nullptr, 0, 20, ExitWhenShown);
  show(reinterpret_cast<uintptr_t>(host), 0, 0);
  // The dialog closed before the timer found it.
  return kExitNoDialog;
}
