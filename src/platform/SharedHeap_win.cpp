#include <windows.h>

#include "platform/SharedHeap.h"

namespace {
TSharedFreeRefusal gRefusalReport = nullptr;
}  // namespace

void* SharedAlloc(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }

void SharedFree(void* block) {
  if (block == nullptr || HeapFree(GetProcessHeap(), 0, block)) return;
  const DWORD error = GetLastError();
  if (gRefusalReport != nullptr) gRefusalReport(block, error);
}

void SetSharedFreeRefusalReport(TSharedFreeRefusal report) { gRefusalReport = report; }
