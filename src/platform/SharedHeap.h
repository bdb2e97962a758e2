#pragma once
// The allocator that the host and every module share: the process heap on Windows,
// malloc elsewhere. A block from one side may be freed by the other.
#include <cstddef>

// A block of size bytes, or null when there is no memory.
void* SharedAlloc(size_t size);
// Frees a block from SharedAlloc; null is ignored.
void SharedFree(void* block);
