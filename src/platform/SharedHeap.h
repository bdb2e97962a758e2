#pragma once
// The allocator that the host and every module share: the process heap on Windows,
// malloc elsewhere. A block from one side may be freed by the other.
#include <cstddef>
#include <cstdint>

// A block of size bytes, or null when there is no memory.
void* SharedAlloc(size_t size);
// Frees a block from SharedAlloc; null is ignored. A block the system refuses to free (one
// it did not allocate, or one freed already) is reported to the refusal report, when one is
// set, with the system's error. On Windows the heap may instead end the process with
// C0000374 (heap corruption), so the report is where the cause of such an end is found.
void SharedFree(void* block);

// What SharedFree does with a block the system refused: set once by the layer that can write
// where a host developer looks (host/HostServices.cpp: the host log). Null: nothing.
using TSharedFreeRefusal = void (*)(const void* block, uint32_t systemError);
void SetSharedFreeRefusalReport(TSharedFreeRefusal report);
