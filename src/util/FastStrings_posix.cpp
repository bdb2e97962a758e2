// Linux: a large result is written into memory the kernel has not mapped yet (the
// allocator takes it fresh from the system), and faulting it in 4 KiB pages costs more
// than writing it. Asking for transparent huge pages over the block's whole 2 MiB extents
// makes that 512 times fewer faults.
#include <sys/mman.h>

#include "util/FastStrings_kernel.h"

void PrepareLargeOutput(void* block, size_t length) {
#if defined(MADV_HUGEPAGE)
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  if (length < 2 * kHuge) return;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + length) & ~(kHuge - 1);
  // Only advice: a kernel without huge pages refuses it and nothing changes.
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)block;
  (void)length;
#endif
}
