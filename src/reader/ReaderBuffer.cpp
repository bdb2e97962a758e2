#include "reader/ReaderBuffer.h"

bool TReaderBuffer::GuardWritten() const {
  const char* guard = FBlock.get() + FSize;
  for (size_t i = 0; i < kReaderBufferGuardSize; ++i)
    if (guard[i] != 0) return true;
  return false;
}

void TReaderBuffer::CheckGuard(const char* exportName) const {
  if (GuardWritten()) throw BufferOverrunError(exportName, FSize);
}
