#include <cstdlib>

#include "platform/SharedHeap.h"

void* SharedAlloc(size_t size) { return std::malloc(size); }

// free has no refusal to report: a bad block is undefined behaviour (the sanitizers' report).
void SharedFree(void* block) { std::free(block); }

void SetSharedFreeRefusalReport(TSharedFreeRefusal) {}
