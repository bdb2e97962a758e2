#include <windows.h>

#include "platform/SharedHeap.h"

void* SharedAlloc(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }

void SharedFree(void* block) {
  if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}
