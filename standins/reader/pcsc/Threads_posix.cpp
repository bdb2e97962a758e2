#include <time.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "Threads.h"

int64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void PauseMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

struct TJobLock::TState {
  std::mutex Mutex;
  std::condition_variable Changed;
};

TJobLock::TJobLock() : FState(std::make_unique<TState>()) {}
TJobLock::~TJobLock() = default;

void TJobLock::Lock() { FState->Mutex.lock(); }
void TJobLock::Unlock() { FState->Mutex.unlock(); }
void TJobLock::WakeAll() { FState->Changed.notify_all(); }

bool TJobLock::WaitOnce(int64_t deadlineMs) {
  const int64_t left = deadlineMs - MonotonicMs();
  if (left <= 0) return false;
  // The caller holds the mutex and keeps holding it: the guard only lends it to the wait.
  std::unique_lock<std::mutex> held(FState->Mutex, std::adopt_lock);
  FState->Changed.wait_for(held, std::chrono::milliseconds(left));
  held.release();
  return MonotonicMs() < deadlineMs;
}

struct TWorkerThread::TState {
  std::thread Thread;
};

TWorkerThread::TWorkerThread(std::function<void()> body) : FState(std::make_unique<TState>()) {
  FState->Thread = std::thread(std::move(body));
}

TWorkerThread::~TWorkerThread() {
  if (FState->Thread.joinable()) FState->Thread.join();
}

void TWorkerThread::Join() { FState->Thread.join(); }
void TWorkerThread::Detach() { FState->Thread.detach(); }
