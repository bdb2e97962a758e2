#include <cstdio>
#include <fstream>
#include <vector>

#include "ModuleHost.h"

namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

bool CopyBinFile(const std::string& name, const std::string& to) {
  return CopyFileA((ProgramDir() + name).c_str(), to.c_str(), FALSE) != 0;
}

// Handle values are multiples of 4 handed out from the bottom; a long run of values that
// name nothing is past the last one.
int WalkKernelHandles() {
  constexpr int kMissesPastTheEnd = 16384;
  int count = 0;
  int misses = 0;
  for (uintptr_t value = 4; misses < kMissesPastTheEnd; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
      ++count;
      misses = 0;
    } else {
      ++misses;
    }
  }
  return count;
}

// A GDI handle's low word indexes the process's GDI table; Wine takes the bare index.
int WalkGdiObjects() {
  int count = 0;
  for (uintptr_t index = 1; index <= 0xFFFF; ++index) {
    if (GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0) ++count;
  }
  return count;
}

BOOL CALLBACK CountChild(HWND, LPARAM counter) {
  ++*reinterpret_cast<int*>(counter);
  return TRUE;
}

int WindowAndChildren(HWND window) {
  int count = 1;
  EnumChildWindows(window, CountChild, reinterpret_cast<LPARAM>(&count));
  return count;
}

BOOL CALLBACK CountOwnTopLevel(HWND window, LPARAM counter) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId())
    *reinterpret_cast<int*>(counter) += WindowAndChildren(window);
  return TRUE;
}

int CountOwnWindows() {
  int count = 0;
  EnumWindows(CountOwnTopLevel, reinterpret_cast<LPARAM>(&count));
  for (HWND window = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); window != nullptr;
       window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr)) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId()) count += WindowAndChildren(window);
  }
  return count;
}

size_t BusyHeapBytes() {
  std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
  heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
  size_t total = 0;
  for (HANDLE heap : heaps) {
    if (!HeapLock(heap)) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heap, &entry)) {
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
    }
    HeapUnlock(heap);
  }
  return total;
}

int CountFreeTlsIndexes() {
  std::vector<DWORD> taken;
  for (DWORD index = TlsAlloc(); index != TLS_OUT_OF_INDEXES; index = TlsAlloc())
    taken.push_back(index);
  for (DWORD index : taken) TlsFree(index);
  return static_cast<int>(taken.size());
}

BOOL CALLBACK FindDialogOf(HWND window, LPARAM found) {
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  if (IsWindowVisible(window) && std::wstring(className) == L"Tfrm_option") {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

LRESULT CALLBACK HostWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, msg, wParam, lParam);
}

}  // namespace

std::string ProgramDir() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path);
  return dir.substr(0, dir.find_last_of('\\') + 1);
}

TModuleWorld::TModuleWorld() {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  FRoot = std::string(temp) + "rs-module-" + std::to_string(GetCurrentProcessId()) + "-" +
          std::to_string(GetTickCount());
  FProfile = FRoot + "\\host";
  const std::string subApp = FProfile + "\\subapp";
  CreateDirectoryA(FRoot.c_str(), nullptr);
  CreateDirectoryA(FProfile.c_str(), nullptr);
  CreateDirectoryA(subApp.c_str(), nullptr);
  CopyBinFile("host-profile\\Messages.txt", FProfile + "\\Messages.txt");
  WriteFile(FProfile + "\\Host.ini",
            "[Host]\r\nMode=record\r\nTranscript=transcript.txt\r\nLog=host.log\r\n"
            "[SubApp]\r\nPath=subapp\r\nCode=YB01\r\nFuncCode=YB0105\r\n");
  CopyBinFile("lurmScard.dll", subApp + "\\lurmScard_old.dll");
  WriteFile(subApp + "\\lurmScard_old.dll.sim.ini", "reader=ACS 0\nreader=ACS 1\n");
}

TModuleWorld::~TModuleWorld() {
  // Files first, then the folders, deepest first; a leftover file only keeps its folder.
  const std::string subApp = FProfile + "\\subapp";
  for (const char* name :
       {"\\lurmScard_old.dll", "\\lurmScard_old.dll.sim.ini", "\\UserConfig.ini"})
    DeleteFileA((subApp + name).c_str());
  for (const char* name : {"\\Messages.txt", "\\Host.ini", "\\transcript.txt", "\\host.log"})
    DeleteFileA((FProfile + name).c_str());
  RemoveDirectoryA(subApp.c_str());
  RemoveDirectoryA(FProfile.c_str());
  RemoveDirectoryA(FRoot.c_str());
}

TProcessCounts CountProcessResources() {
  TProcessCounts counts{};
  DWORD handles = 0;
  counts.KernelHandles = GetProcessHandleCount(GetCurrentProcess(), &handles) && handles != 0
                             ? static_cast<int>(handles)
                             : WalkKernelHandles();
  const DWORD gdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  counts.GdiObjects = gdi != 0 ? static_cast<int>(gdi) : WalkGdiObjects();
  counts.Windows = CountOwnWindows();
  counts.LiveHeapBytes = BusyHeapBytes();
  counts.FreeTlsIndexes = CountFreeTlsIndexes();
  return counts;
}

HWND MakeHostWindow() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = HostWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TApplication";
  RegisterClassW(&wc);
  return CreateWindowExW(0, wc.lpszClassName, L"module host", WS_POPUP, 0, 0, 0, 0, nullptr,
                         nullptr, wc.hInstance, nullptr);
}

HWND FindReaderDialog() {
  HWND found = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindDialogOf, reinterpret_cast<LPARAM>(&found));
  return found;
}
