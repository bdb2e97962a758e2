// The SEHOP check of the faulty simulated library (standins/reader/sim/SehChain.h): each
// rule on small chains laid out in a buffer, and the thread's real chain inside a contained
// call, where the library checks it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "SehChain.h"
#include "platform/FaultGuard.h"

namespace {

TEST(SehChain, EachRuleOfTheSystemsCheckIsApplied) {
  alignas(16) static unsigned char stack[512];
  const auto low = reinterpret_cast<uintptr_t>(stack);
  const auto high = low + sizeof stack;
  auto at = [&](size_t offset) { return reinterpret_cast<TSehRecord*>(stack + offset); };
  struct Case {
    const char* name;
    size_t offsets[3];        // the chain's records, in order
    long finalOffset;         // the thread's final record; -1: the chain's last
    const char* wantProblem;  // null: sound
  };
  const Case cases[] = {
      {"sound", {16, 64, 128}, 128, nullptr},
      {"record beyond the stack's base", {16, 64, 508}, -1, "a record outside the thread's stack"},
      {"record not aligned", {16, 66, 128}, 128, "a record not aligned on 4 bytes"},
      {"records going down", {64, 16, 128}, 128, "a record not above the one before it"},
      {"a loop", {16, 64, 16}, -1, "a record not above the one before it"},
      {"ends at another record",
       {16, 64, 128},
       64,
       "the chain does not end at the thread's final record"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::memset(stack, 0, sizeof stack);
    // Each record names the next; the last ends the chain, unless it is a loop.
    for (int i = 0; i < 3; ++i) {
      if (c.offsets[i] + sizeof(TSehRecord) > sizeof stack) continue;  // left outside
      TSehRecord* next = i < 2 ? at(c.offsets[i + 1]) : kSehChainEnd;
      std::memcpy(stack + c.offsets[i], &next, sizeof next);
    }
    const TSehRecord* finalRecord =
        c.finalOffset < 0 ? nullptr : at(static_cast<size_t>(c.finalOffset));
    const char* problem = SehChainProblem(at(c.offsets[0]), low, high, finalRecord);
    if (c.wantProblem == nullptr) {
      EXPECT_EQ(problem, nullptr) << problem;
    } else {
      ASSERT_NE(problem, nullptr);
      EXPECT_EQ(std::string(problem), c.wantProblem);
    }
  }
}

// The thread information block's word at offset (fs:[offset]): 0 the head of the chain,
// 4 the stack's base, 8 its limit.
uintptr_t ThreadWord(uintptr_t offset) {
  uintptr_t word;
  asm volatile("movl %%fs:(%1), %0" : "=r"(word) : "r"(offset));
  return word;
}

const TSehRecord* ChainHead() { return reinterpret_cast<const TSehRecord*>(ThreadWord(0)); }

TEST(SehChain, TheThreadsChainInsideAContainedCallPassesTheCheck) {
  const TSehRecord* finalRecord = ChainHead();
  while (finalRecord->Next != kSehChainEnd) finalRecord = finalRecord->Next;
  struct TSeen {
    const TSehRecord* Final;
    const TSehRecord* Head = nullptr;
    const char* Problem = "not run";
  } seen{finalRecord};
  TProcessorFault fault;
  ASSERT_TRUE(RunFaultContained(
      [](void* context) {
        auto* s = static_cast<TSeen*>(context);
        s->Head = ChainHead();
        s->Problem = SehChainProblem(s->Head, ThreadWord(8), ThreadWord(4), s->Final);
      },
      &seen, fault));
  EXPECT_EQ(seen.Problem, nullptr) << seen.Problem;
  // The guard's own record heads the chain inside the call.
  EXPECT_NE(seen.Head, ChainHead());
}

}  // namespace
