#pragma once
// A buffer handed to the reader library, which is told no length: the contract's bytes,
// then a zero-filled guard area, in one heap block. A library that writes past the
// contract writes into the guard, not into anything of ours, and the caller finds out.
//
//   TReaderBuffer list(1024);                      // 1024 bytes + guard, all zero
//   code = invoker.SCListReaders(list.Data());
//   list.CheckGuard("SCListReaders");              // BufferOverrunError when written past
//
// A write beyond the guard (more than kReaderBufferGuardSize bytes past the end) is not
// caught here.
#include <cstddef>
#include <memory>
#include <string>

#include "platform/ErrorTexts.h"
#include "platform/Exception.h"

inline constexpr size_t kReaderBufferGuardSize = 64 * 1024;

// The reader library wrote past the buffer it was given; what it wrote into the buffer
// cannot be trusted either. The message names the export and the buffer's size.
class BufferOverrunError : public Exception {
 public:
  BufferOverrunError(const char* exportName, size_t size)
      : Exception(errortext::BufferOverrunText(exportName, size)) {}
};

class TReaderBuffer {
 public:
  explicit TReaderBuffer(size_t size)
      : FSize(size), FBlock(new char[size + kReaderBufferGuardSize]()) {}
  TReaderBuffer(const TReaderBuffer&) = delete;
  TReaderBuffer& operator=(const TReaderBuffer&) = delete;

  // The contract's bytes, zero until the library writes.
  char* Data() { return FBlock.get(); }
  const char* Data() const { return FBlock.get(); }
  size_t Size() const { return FSize; }

  // True when any byte of the guard is no longer zero.
  bool GuardWritten() const;
  // Raises BufferOverrunError(exportName) when the guard was written.
  void CheckGuard(const char* exportName) const;

 private:
  size_t FSize;
  // The buffer and its guard; the object owns the block.
  std::unique_ptr<char[]> FBlock;
};
