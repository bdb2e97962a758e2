// An accessibility client in the host's own process, on the dialog's thread (an in-process
// screen reader or automation hook, or the host itself), as ReaderSettings.dll meets it:
//
//   1. the client takes the dialog's and the list's accessible objects and releases them
//      before the dialog closes: FreeLibrary then unloads the module;
//   2. the client keeps them past the dialog and past FreeLibrary, then calls them and
//      releases them: every call answers CO_E_OBJNOTCONNECTED, Release frees the object,
//      and the module is still mapped (it pinned itself for the objects it handed out).
//
//   accessible_client_probe.exe HOST_PROFILE_DIR
//
// Prints one line per finding and exits 0 when all hold, 1 when one does not, 8 when the
// module does not load, 9 when the host profile cannot be read. Its own process, since a
// pinned module stays for the rest of it.
#include <windows.h>

#include <oleacc.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "HostSim.h"
#include "ModuleHost.h"

namespace {

using ShowFrmOptionFn = void(__stdcall*)(uintptr_t, uint32_t, uint32_t);

constexpr UINT kExitModuleLoad = 8, kExitProfile = 9;

bool Keep = false;  // the client keeps the objects past the dialog
IAccessible* Dialog = nullptr;
IAccessible* List = nullptr;
int Ticks = 0;
int Failures = 0;

void Check(bool ok, const char* what) {
  std::printf("accessible_client_probe: %s: %s\n", ok ? "ok" : "FAILED", what);
  std::fflush(stdout);
  if (!ok) ++Failures;
}

IAccessible* ObjectOf(HWND window) {
  IAccessible* object = nullptr;
  if (FAILED(AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT),
                                        __uuidof(IAccessible), reinterpret_cast<void**>(&object))))
    return nullptr;
  return object;
}

BOOL CALLBACK FindList(HWND child, LPARAM found) {
  wchar_t name[32] = {};
  GetClassNameW(child, name, 32);
  if (lstrcmpiW(name, L"ListBox") != 0) return TRUE;
  *reinterpret_cast<HWND*>(found) = child;
  return FALSE;
}

// On the dialog's thread, inside its modal loop: takes the two objects, reads them once,
// releases them unless they are to be kept, and closes the dialog.
void CALLBACK TakeObjectsThenClose(HWND, UINT, UINT_PTR, DWORD) {
  HWND dialog = FindReaderDialog();
  if (dialog == nullptr) {
    if (++Ticks > 1500) TerminateProcess(GetCurrentProcess(), 10);
    return;
  }
  if (Dialog == nullptr) {
    HWND list = nullptr;
    EnumChildWindows(dialog, FindList, reinterpret_cast<LPARAM>(&list));
    Dialog = ObjectOf(dialog);
    List = list != nullptr ? ObjectOf(list) : nullptr;
    Check(Dialog != nullptr && List != nullptr, "the dialog and its list give objects");
    long count = -1;
    Check(List != nullptr && List->get_accChildCount(&count) == S_OK && count == 2,
          "the list's object counts its two readers while the dialog is up");
    if (!Keep) {
      if (Dialog != nullptr) Dialog->Release();
      if (List != nullptr) List->Release();
    }
  }
  PostMessageW(dialog, WM_CLOSE, 0, 0);
}

// One use of the module: loaded, the dialog shown and closed, freed. True when it loaded.
bool UseModule(const std::string& path, HWND host) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) return false;
  auto show = reinterpret_cast<ShowFrmOptionFn>(
      reinterpret_cast<void*>(GetProcAddress(module, "ShowFrmOption")));
  if (show == nullptr) return false;
  Dialog = List = nullptr;
  Ticks = 0;
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, TakeObjectsThenClose);
  show(reinterpret_cast<uintptr_t>(host), 0, 0);
  KillTimer(nullptr, timer);
  FreeLibrary(module);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: accessible_client_probe HOST_PROFILE_DIR\n");
    return kExitProfile;
  }
  if (!HostSim_Open(argv[1])) {
    std::fprintf(stderr, "accessible_client_probe: %s: %s\n", argv[1], HostSim_LastError());
    return kExitProfile;
  }
  // As a screen reader's in-process part, the client lives in a COM apartment.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  HWND host = MakeHostWindow();
  HostSim_SetHandles(reinterpret_cast<THostHandle>(host), 0);
  const std::string path = ProgramDir() + "ReaderSettings.dll";

  Keep = false;
  if (!UseModule(path, host)) return kExitModuleLoad;
  Check(GetModuleHandleA(path.c_str()) == nullptr,
        "objects released before the dialog closed: FreeLibrary unloads the module");

  Keep = true;
  if (!UseModule(path, host)) return kExitModuleLoad;
  Check(GetModuleHandleA(path.c_str()) != nullptr,
        "objects kept past the dialog: the module stays mapped after FreeLibrary");
  if (Dialog != nullptr && List != nullptr) {
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    VARIANT line{};
    line.vt = VT_I4;
    line.lVal = 1;
    long count = -1;
    BSTR name = nullptr;
    VARIANT role{};
    IDispatch* parent = nullptr;
    Check(List->get_accChildCount(&count) == CO_E_OBJNOTCONNECTED,
          "the kept list answers get_accChildCount as disconnected");
    Check(List->get_accName(line, &name) == CO_E_OBJNOTCONNECTED && name == nullptr,
          "the kept list answers get_accName as disconnected");
    Check(List->accDoDefaultAction(line) == CO_E_OBJNOTCONNECTED,
          "the kept list answers accDoDefaultAction as disconnected");
    Check(Dialog->get_accRole(self, &role) == CO_E_OBJNOTCONNECTED,
          "the kept dialog answers get_accRole as disconnected");
    Check(Dialog->get_accParent(&parent) == CO_E_OBJNOTCONNECTED && parent == nullptr,
          "the kept dialog answers get_accParent as disconnected");
    Check(List->Release() == 0, "the kept list is freed by its last Release");
    Check(Dialog->Release() == 0, "the kept dialog is freed by its last Release");
  }
  DestroyWindow(host);
  HostSim_Close();
  CoUninitialize();
  return Failures == 0 ? 0 : 1;
}
