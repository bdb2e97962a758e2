// The guarded buffers handed to the reader library, and the containment of processor
// faults in its calls.
#include "reader/ReaderBuffer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>

#include "ReaderWorld.h"
#include "platform/FaultGuard.h"
#include "reader/scard_api.h"

namespace {

using Lines = std::vector<std::string>;

TEST(ReaderBuffer, StartsZeroAndFindsEveryWritePastTheContract) {
  struct Case {
    const char* name;
    long offset;  // from the start of the buffer; -1: nothing written
    bool wantWritten;
  };
  const Case cases[] = {
      {"nothing written", -1, false},
      {"first byte", 0, false},
      {"last byte of the contract", 1023, false},
      {"first byte after it", 1024, true},
      {"middle of the guard", 1024 + 4000, true},
      {"last byte of the guard", 1024 + static_cast<long>(kReaderBufferGuardSize) - 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TReaderBuffer buffer(1024);
    ASSERT_EQ(buffer.Size(), 1024u);
    for (size_t i = 0; i < buffer.Size(); ++i) ASSERT_EQ(buffer.Data()[i], 0) << i;
    ASSERT_FALSE(buffer.GuardWritten());
    if (c.offset >= 0) buffer.Data()[c.offset] = 'X';
    EXPECT_EQ(buffer.GuardWritten(), c.wantWritten);
    if (c.wantWritten) {
      try {
        buffer.CheckGuard("SCListReaders");
        ADD_FAILURE() << "no error for a written guard";
      } catch (const BufferOverrunError& e) {
        EXPECT_STREQ(e.what(), "读卡器库函数写入越过缓冲区末尾 SCListReaders，缓冲区 1024 字节");
      }
    } else {
      EXPECT_NO_THROW(buffer.CheckGuard("SCListReaders"));
    }
  }
}

TEST(FaultGuard, ACallThatReturnsGivesItsResult) {
  int calls = 0;
  EXPECT_EQ(CallFaultContained("sum", [&]() noexcept { return ++calls + 41; }), 42);
  EXPECT_EQ(calls, 1);
}

// Writes to address 0 through a volatile pointer, so that the store really happens (and
// not the sanitizer's report of it).
__attribute__((no_sanitize("undefined"))) void NullWrite(void*) {
  static int* volatile nowhere = nullptr;
  *nowhere = 1;
}

// Both operands are read at run time, so the compiler emits a real division.
__attribute__((no_sanitize("undefined"))) void DivideByZero(void* context) {
  volatile int dividend = 1000;
  volatile int zero = *static_cast<int*>(context);
  *static_cast<int*>(context) = dividend / zero;
}

// The head of the thread's exception registration chain (fs:[0]) on 32-bit Windows.
void* ExceptionChainHead() {
#if defined(_WIN32) && defined(__i386__)
  void* head;
  asm volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
#else
  return nullptr;
#endif
}

TEST(FaultGuard, ProcessorFaultsBecomeResultsAndEverythingIsPutBack) {
  struct Case {
    const char* name;
    void (*body)(void*);
    uint32_t wantCode;
  };
  const Case cases[] = {
      {"write to address 0", NullWrite, kFaultAccessViolation},
      {"integer division by zero", DivideByZero, kFaultIntegerDivideByZero},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    void* const chainBefore = ExceptionChainHead();
    // Values live across the call in callee-saved registers and on the stack.
    volatile int before = 1234;
    int context = 0;
    TProcessorFault fault;
    for (int round = 0; round < 3; ++round) {
      EXPECT_FALSE(RunFaultContained(c.body, &context, fault));
      EXPECT_EQ(fault.Code, c.wantCode);
      EXPECT_NE(fault.Address, 0u);
    }
    EXPECT_EQ(before, 1234);
    EXPECT_EQ(ExceptionChainHead(), chainBefore);
    // C++ exceptions still find their handlers after a contained fault.
    EXPECT_THROW(throw std::runtime_error("still works"), std::runtime_error);
  }
}

TEST(FaultGuard, AnInnerContainedCallTakesItsOwnFault) {
  struct TOuter {
    bool InnerReturned = true;
    TProcessorFault InnerFault;
  } outer;
  TProcessorFault fault;
  const bool returned = RunFaultContained(
      [](void* context) {
        auto* o = static_cast<TOuter*>(context);
        o->InnerReturned = RunFaultContained(NullWrite, nullptr, o->InnerFault);
      },
      &outer, fault);
  EXPECT_TRUE(returned);
  EXPECT_FALSE(outer.InnerReturned);
  EXPECT_EQ(outer.InnerFault.Code, kFaultAccessViolation);
}

TEST(ReaderBinding, AFaultInALibraryCallIsAnErrorOfThatCallAndTheLibraryStaysCallable) {
  TReaderWorld world;
  world.Install("lurmScard_faulty.dll", "lurmScard.dll", "reader=A\nfault=SCListReaders\n");
  TLURMScardInvoker invoker(world.HostPathOf("lurmScard.dll"));
  ASSERT_TRUE(invoker.Loaded());
  TReaderBuffer list(kSCListBufferSize);
  try {
    invoker.SCListReaders(list.Data());
    ADD_FAILURE() << "the fault was not raised";
  } catch (const ProcessorFaultError& e) {
    EXPECT_EQ(e.Code(), kFaultAccessViolation);
    char address[24];
    std::snprintf(address, sizeof address, "%08llX", static_cast<unsigned long long>(e.Address()));
    EXPECT_EQ(
        std::string(e.what()),
        std::string(
            "库函数执行时发生处理器异常，调用已中止 SCListReaders，异常代码 C0000005，地址 ") +
            address);
  }
  char out[kSCConnectBufferSize];
  EXPECT_EQ(invoker.SCConnectReader("A", out), 0);
  EXPECT_EQ(invoker.SCDisConnectReader(), 0);
  EXPECT_EQ(world.TraceLines(), (Lines{"SCListReaders zeroed=1", "SCListReaders fault",
                                       "SCConnectReader name=A", "SCDisConnectReader"}));
}

}  // namespace
