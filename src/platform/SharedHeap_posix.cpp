#include "platform/SharedHeap.h"

#include <cstdlib>

void* SharedAlloc(size_t size) { return std::malloc(size); }

void SharedFree(void* block) { std::free(block); }
