#pragma once
// The thread's exception registration chain (32-bit Windows) checked as the system's SEH
// overwrite protection (SEHOP) checks it before it dispatches an exception: every record
// lies inside the thread's stack, 4-byte aligned, each next record above the one before,
// and the chain ends (next 0xFFFFFFFF) at the thread's own final record. The faulty
// simulated library checks it at the start of every export, inside the caller's guarded
// call, and ends the process as the system would when it is broken.
//
//   const char* problem = SehChainProblem(head, stackLimit, stackBase, finalRecord);
#include <cstdint>

// One exception registration record as it lies on the stack.
struct TSehRecord {
  TSehRecord* Next;
  void* Handler;
};

// The end of the chain, as the next record of the last one.
inline TSehRecord* const kSehChainEnd = reinterpret_cast<TSehRecord*>(~uintptr_t{0});

// Null when the chain from head is sound for a stack [stackLimit, stackBase) whose final
// record is finalRecord (null: any record that ends the chain); else what is wrong.
const char* SehChainProblem(const TSehRecord* head, uintptr_t stackLimit, uintptr_t stackBase,
                            const TSehRecord* finalRecord);

// For the simulated library: notes the calling thread's final record (at its load), and
// checks the current thread's chain, tracing "<export> SEH chain broken: <problem>" to
// tracePath and ending the process with STATUS_INVALID_EXCEPTION_HANDLER when it is broken.
void NoteFinalSehRecord();
void CheckSehChain(const char* exportName, const char* tracePath);
