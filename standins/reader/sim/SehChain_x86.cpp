#include <windows.h>

#include <cstdio>

#include "SehChain.h"

namespace {

// The final record of the thread that loaded the library, noted at its load.
DWORD gFinalThread = 0;
const TSehRecord* gFinalRecord = nullptr;

// Records beyond this many are a loop.
constexpr int kMaxRecords = 100000;

}  // namespace

const char* SehChainProblem(const TSehRecord* head, uintptr_t stackLimit, uintptr_t stackBase,
                            const TSehRecord* finalRecord) {
  const TSehRecord* last = nullptr;
  int count = 0;
  for (const TSehRecord* record = head; record != kSehChainEnd; record = record->Next) {
    const auto address = reinterpret_cast<uintptr_t>(record);
    if (address < stackLimit || address > stackBase - sizeof(TSehRecord))
      return "a record outside the thread's stack";
    if ((address & 3) != 0) return "a record not aligned on 4 bytes";
    if (last != nullptr && address <= reinterpret_cast<uintptr_t>(last))
      return "a record not above the one before it";
    if (++count > kMaxRecords) return "no end";
    last = record;
  }
  if (last == nullptr) return "no record";
  if (finalRecord != nullptr && last != finalRecord)
    return "the chain does not end at the thread's final record";
  return nullptr;
}

namespace {

// The thread information block's word at offset (fs:[offset]): 0 the head of the chain,
// 4 the stack's base (its highest address), 8 its limit (the lowest committed address).
uintptr_t ThreadWord(uintptr_t offset) {
  uintptr_t word;
  asm volatile("movl %%fs:(%1), %0" : "=r"(word) : "r"(offset));
  return word;
}

const TSehRecord* ChainHead() { return reinterpret_cast<const TSehRecord*>(ThreadWord(0)); }

}  // namespace

void NoteFinalSehRecord() {
  const TSehRecord* record = ChainHead();
  for (int count = 0; record != kSehChainEnd && record->Next != kSehChainEnd && count < kMaxRecords;
       ++count)
    record = record->Next;
  gFinalThread = GetCurrentThreadId();
  gFinalRecord = record;
}

void CheckSehChain(const char* exportName, const char* tracePath) {
  const TSehRecord* finalRecord = GetCurrentThreadId() == gFinalThread ? gFinalRecord : nullptr;
  const char* problem = SehChainProblem(ChainHead(), ThreadWord(8), ThreadWord(4), finalRecord);
  if (problem == nullptr) return;
  if (tracePath != nullptr && *tracePath != '\0') {
    if (FILE* f = std::fopen(tracePath, "ab")) {
      std::fprintf(f, "%s SEH chain broken: %s\n", exportName, problem);
      std::fclose(f);
    }
  }
  std::fprintf(stderr, "lurmScard: %s: SEH chain broken: %s\n", exportName, problem);
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), 0xC00001A5);  // STATUS_INVALID_EXCEPTION_HANDLER
}
