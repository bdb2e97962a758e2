// The threads of the PC/SC library's bounded connect (Threads.h), on this platform's own
// implementation: the standard library's natively, the system's under Wine. A caller waits
// for its worker within a deadline; a worker it gave up on runs on by itself.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "Threads.h"

namespace {

// Far enough that reaching it means the wake was lost.
constexpr int64_t kLongWaitMs = 30000;

struct TSharedJob {
  TJobLock lock;
  bool done = false;  // guarded by lock
};

void FinishJob(TSharedJob& job) {
  TLockScope scope(job.lock);
  job.done = true;
  job.lock.WakeAll();
}

TEST(PcscThreads, AWaitNobodyEndsReportsTheDeadlineOnlyOnceItHasPassed) {
  TSharedJob job;
  const int64_t deadline = MonotonicMs() + 60;
  TLockScope scope(job.lock);
  EXPECT_FALSE(WaitUntil(job.lock, deadline, [&] { return job.done; }));
  EXPECT_GE(MonotonicMs(), deadline);
}

TEST(PcscThreads, AWaitForAJobAlreadyDoneDoesNotWait) {
  TSharedJob job;
  FinishJob(job);
  TLockScope scope(job.lock);
  // A deadline already past: only the job's state answers.
  EXPECT_TRUE(WaitUntil(job.lock, MonotonicMs() - 1, [&] { return job.done; }));
}

TEST(PcscThreads, TheWorkerWakesItsWaiterLongBeforeTheDeadline) {
  TSharedJob job;
  TWorkerThread worker([&] {
    PauseMs(20);
    FinishJob(job);
  });
  const int64_t deadline = MonotonicMs() + kLongWaitMs;
  bool finished = false;
  {
    TLockScope scope(job.lock);
    finished = WaitUntil(job.lock, deadline, [&] { return job.done; });
  }
  worker.Join();
  EXPECT_TRUE(finished);
  EXPECT_LT(MonotonicMs(), deadline) << "the waiter was not woken";
}

TEST(PcscThreads, JoinAndTheDestructorWaitForTheBodyToEnd) {
  std::atomic<int> ended{0};
  {
    TWorkerThread joined([&] {
      PauseMs(30);
      ++ended;
    });
    joined.Join();
    EXPECT_EQ(ended.load(), 1);
    TWorkerThread leftJoinable([&] {
      PauseMs(30);
      ++ended;
    });
  }
  EXPECT_EQ(ended.load(), 2);
}

TEST(PcscThreads, ADetachedWorkerRunsOnAndReportsThroughItsJob) {
  auto job = std::make_shared<TSharedJob>();
  {
    TWorkerThread worker([job] {
      PauseMs(30);
      FinishJob(*job);
    });
    worker.Detach();
  }
  const int64_t deadline = MonotonicMs() + kLongWaitMs;
  TLockScope scope(job->lock);
  EXPECT_TRUE(WaitUntil(job->lock, deadline, [&] { return job->done; }));
  EXPECT_LT(MonotonicMs(), deadline) << "the waiter was not woken";
}

TEST(PcscThreads, TheLockKeepsWorkersOutOfEachOther) {
  constexpr int kWorkers = 8;
  constexpr int kRounds = 20000;
  TJobLock lock;
  int count = 0;  // guarded by lock; a plain increment that loses updates when unguarded
  {
    std::vector<std::unique_ptr<TWorkerThread>> workers;
    for (int i = 0; i < kWorkers; ++i) {
      workers.push_back(std::make_unique<TWorkerThread>([&] {
        for (int round = 0; round < kRounds; ++round) {
          TLockScope scope(lock);
          const int seen = count;
          count = seen + 1;
        }
      }));
    }
    for (auto& worker : workers) worker->Join();
  }
  EXPECT_EQ(count, kWorkers * kRounds);
}

}  // namespace
