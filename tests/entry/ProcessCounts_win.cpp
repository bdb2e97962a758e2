#include <cstdio>
#include <string>
#include <vector>

#include "ProcessCounts.h"

namespace {

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

}  // namespace

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

void ReportCounts(const char* when, const TProcessCounts& base, const TProcessCounts& now) {
  std::printf(
      "%s: kernel handles %+d, live heap %+lld bytes, free TLS indexes %+d, "
      "GDI objects %+d, windows %+d\n",
      when, now.KernelHandles - base.KernelHandles, HeapGrowth(base, now),
      now.FreeTlsIndexes - base.FreeTlsIndexes, now.GdiObjects - base.GdiObjects,
      now.Windows - base.Windows);
  std::fflush(stdout);
}
