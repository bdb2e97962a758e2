#include <cstdlib>

#include "platform/SharedHeap.h"

void* SharedAlloc(size_t size) { return std::malloc(size); }

void SharedFree(void* block) { std::free(block); }
