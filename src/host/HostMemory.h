#pragma once
// Host strings and the allocator shared by the host and its modules.
//
// A host string is a pointer to its first character, or null for the empty text. The
// 8 bytes before the characters hold a signed 32-bit reference count and a 32-bit
// length; a NUL follows the last character. A count of -1 marks a constant that is
// never freed. Every block comes from one allocator that both sides use (the process
// heap on Windows, malloc elsewhere), so either side may free what the other made.
//
//   HostStr s = HostStrNew("abc", 3);   // count 1
//   HostStrAddRef(s);                   // count 2
//   HostStrRelease(s); HostStrRelease(s);  // freed
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "platform/SharedHeap.h"

using HostStr = char*;

struct THostStrHeader {
  int32_t RefCount;
  int32_t Length;
};
static_assert(sizeof(THostStrHeader) == 8);

inline void* HostAlloc(size_t size) { return SharedAlloc(size); }
inline void HostFree(void* block) { SharedFree(block); }

inline THostStrHeader* HostStrHeaderOf(HostStr s) {
  return reinterpret_cast<THostStrHeader*>(s - sizeof(THostStrHeader));
}

inline int32_t HostStrLength(HostStr s) { return s == nullptr ? 0 : HostStrHeaderOf(s)->Length; }

// A new host string with count 1 holding a copy of the bytes; null for length 0.
// Raises std::bad_alloc when the shared allocator has no memory.
inline HostStr HostStrNew(const char* bytes, size_t length) {
  if (length == 0) return nullptr;
  if (length > 0x7FFFFFF0u) throw std::bad_alloc();
  auto* header = static_cast<THostStrHeader*>(HostAlloc(sizeof(THostStrHeader) + length + 1));
  if (header == nullptr) throw std::bad_alloc();
  header->RefCount = 1;
  header->Length = static_cast<int32_t>(length);
  char* chars = reinterpret_cast<char*>(header + 1);
  std::memcpy(chars, bytes, length);
  chars[length] = '\0';
  return chars;
}

inline void HostStrAddRef(HostStr s) {
  if (s != nullptr && HostStrHeaderOf(s)->RefCount != -1) ++HostStrHeaderOf(s)->RefCount;
}

// Drops one reference; the block is freed at zero. Constants (count -1) are left alone.
inline void HostStrRelease(HostStr s) {
  if (s == nullptr) return;
  THostStrHeader* header = HostStrHeaderOf(s);
  if (header->RefCount == -1) return;
  if (--header->RefCount == 0) HostFree(header);
}
