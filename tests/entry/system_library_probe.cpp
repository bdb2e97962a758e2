// A host in whose folder someone planted "oleacc.dll" (planted_library.cpp). The program
// imports no accessibility library itself; it loads ReaderSettings.dll from its own folder,
// opens the dialog and asks the dialog for its accessible object, as a screen reader does,
// which makes the module load oleacc, ole32 and oleaut32. Then it checks that these came
// from the system folder and that the planted copy never ran.
//
//   system_library_probe.exe HOST_PROFILE_DIR      (run from the folder holding the copy)
//
// Prints one line per finding; exits 0 when all hold, 1 when one does not, 8 when the module
// does not load, 9 when the host profile cannot be read.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "HostSim.h"
#include "ModuleHost.h"

namespace {

using ShowFrmOptionFn = void(__stdcall*)(uintptr_t, uint32_t, uint32_t);

constexpr UINT kExitModuleLoad = 8, kExitProfile = 9;
// OBJID_CLIENT, as the accessibility headers define it.
constexpr LPARAM kClientObject = -4;

int Ticks = 0;
int Failures = 0;
bool Asked = false;

void Check(bool ok, const std::string& what) {
  std::printf("system_library_probe: %s: %s\n", ok ? "ok" : "FAILED", what.c_str());
  std::fflush(stdout);
  if (!ok) ++Failures;
}

std::wstring Lower(std::wstring s) {
  CharLowerBuffW(s.data(), static_cast<DWORD>(s.size()));
  return s;
}

// The folder of the loaded library named name, lower case with a trailing '\'; empty when
// it is not loaded.
std::wstring FolderOfLoaded(const wchar_t* name) {
  HMODULE module = GetModuleHandleW(name);
  if (module == nullptr) return {};
  wchar_t path[MAX_PATH * 4] = {};
  const DWORD n = GetModuleFileNameW(module, path, MAX_PATH * 4);
  std::wstring full(path, n);
  return Lower(full.substr(0, full.find_last_of(L'\\') + 1));
}

std::string Narrow(const std::wstring& w) {
  std::string s;
  for (wchar_t c : w) s.push_back(c < 128 ? static_cast<char>(c) : '?');
  return s;
}

// On the dialog's thread, inside its modal loop: asks for the dialog's object once, then
// closes the dialog.
void CALLBACK AskThenClose(HWND, UINT, UINT_PTR, DWORD) {
  HWND dialog = FindReaderDialog();
  if (dialog == nullptr) {
    if (++Ticks > 1500) TerminateProcess(GetCurrentProcess(), 10);
    return;
  }
  if (!Asked) {
    Asked = true;
    SendMessageW(dialog, WM_GETOBJECT, 0, kClientObject);
  }
  PostMessageW(dialog, WM_CLOSE, 0, 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: system_library_probe HOST_PROFILE_DIR\n");
    return kExitProfile;
  }
  if (!HostSim_Open(argv[1])) {
    std::fprintf(stderr, "system_library_probe: %s: %s\n", argv[1], HostSim_LastError());
    return kExitProfile;
  }
  Check(GetModuleHandleW(L"oleacc.dll") == nullptr, "oleacc is not loaded before the dialog");
  HWND host = MakeHostWindow();
  HostSim_SetHandles(reinterpret_cast<THostHandle>(host), 0);
  HMODULE module = LoadLibraryA((ProgramDir() + "ReaderSettings.dll").c_str());
  if (module == nullptr) return kExitModuleLoad;
  auto show = reinterpret_cast<ShowFrmOptionFn>(
      reinterpret_cast<void*>(GetProcAddress(module, "ShowFrmOption")));
  if (show == nullptr) return kExitModuleLoad;
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, AskThenClose);
  show(reinterpret_cast<uintptr_t>(host), 0, 0);
  KillTimer(nullptr, timer);

  wchar_t system[MAX_PATH] = {};
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  const std::wstring systemFolder = Lower(std::wstring(system, n) + L"\\");
  Check(Asked, "the dialog was asked for its accessible object");
  for (const wchar_t* name : {L"oleacc.dll", L"ole32.dll", L"oleaut32.dll"}) {
    const std::wstring folder = FolderOfLoaded(name);
    Check(folder == systemFolder, Narrow(name) + " is loaded from the system folder (" +
                                      Narrow(folder.empty() ? L"not loaded" : folder) + ")");
  }
  wchar_t mark[8] = {};
  Check(GetEnvironmentVariableW(L"RS_PLANTED_LIBRARY_RAN", mark, 8) == 0,
        "the oleacc.dll planted in the host's folder never ran");
  FreeLibrary(module);
  DestroyWindow(host);
  HostSim_Close();
  return Failures == 0 ? 0 : 1;
}
