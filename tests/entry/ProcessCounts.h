#pragma once
// What a process holds, counted by walking what the system lists, since under Wine
// GetGuiResources and GetProcessHandleCount answer 0.
//
//   const TProcessCounts before = CountProcessResources();
//   ...;  ReportCounts("after 1000 loads", before, CountProcessResources());
#include <windows.h>

#include <cstddef>

struct TProcessCounts {
  int KernelHandles;     // handle values the process can query
  int GdiObjects;        // GDI handles that name an object
  int Windows;           // windows of this process: top-level, child and message-only
  size_t LiveHeapBytes;  // busy blocks of every heap of the process
  int FreeTlsIndexes;    // TLS indexes that TlsAlloc can still hand out
};
TProcessCounts CountProcessResources();

// Bytes the live heap grew by from base to now (negative when it shrank).
inline long long HeapGrowth(const TProcessCounts& base, const TProcessCounts& now) {
  return static_cast<long long>(now.LiveHeapBytes) - static_cast<long long>(base.LiveHeapBytes);
}

// One line on standard output: what changed from base to now.
void ReportCounts(const char* when, const TProcessCounts& base, const TProcessCounts& now);
