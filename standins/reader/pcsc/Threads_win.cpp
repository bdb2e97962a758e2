#include <windows.h>

#include <system_error>
#include <utility>

#include "Threads.h"

int64_t MonotonicMs() {
  LARGE_INTEGER frequency{};
  LARGE_INTEGER count{};
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&count);
  const int64_t perSecond = frequency.QuadPart;
  return count.QuadPart / perSecond * 1000 + count.QuadPart % perSecond * 1000 / perSecond;
}

void PauseMs(int ms) { Sleep(static_cast<DWORD>(ms)); }

// Both need no release: the system's lock and condition variable are plain words.
struct TJobLock::TState {
  SRWLOCK Lock = SRWLOCK_INIT;
  CONDITION_VARIABLE Changed = CONDITION_VARIABLE_INIT;
};

TJobLock::TJobLock() : FState(std::make_unique<TState>()) {}
TJobLock::~TJobLock() = default;

void TJobLock::Lock() { AcquireSRWLockExclusive(&FState->Lock); }
void TJobLock::Unlock() { ReleaseSRWLockExclusive(&FState->Lock); }
void TJobLock::WakeAll() { WakeAllConditionVariable(&FState->Changed); }

bool TJobLock::WaitOnce(int64_t deadlineMs) {
  const int64_t left = deadlineMs - MonotonicMs();
  if (left <= 0) return false;
  // A timeout and a wake both come back holding the lock; the clock tells them apart.
  SleepConditionVariableSRW(&FState->Changed, &FState->Lock, static_cast<DWORD>(left), 0);
  return MonotonicMs() < deadlineMs;
}

namespace {

// The thread owns its body from its first instruction.
DWORD WINAPI RunBody(LPVOID param) noexcept {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(param));
  (*body)();
  return 0;
}

}  // namespace

struct TWorkerThread::TState {
  HANDLE Thread = nullptr;  // null once joined or detached
};

TWorkerThread::TWorkerThread(std::function<void()> body) : FState(std::make_unique<TState>()) {
  auto owned = std::make_unique<std::function<void()>>(std::move(body));
  FState->Thread = CreateThread(nullptr, 0, RunBody, owned.get(), 0, nullptr);
  if (FState->Thread == nullptr) {
    const DWORD error = GetLastError();
    throw std::system_error(static_cast<int>(error), std::system_category(), "CreateThread");
  }
  owned.release();  // the thread's now
}

TWorkerThread::~TWorkerThread() {
  if (FState->Thread != nullptr) Join();
}

void TWorkerThread::Join() {
  WaitForSingleObject(FState->Thread, INFINITE);
  CloseHandle(FState->Thread);
  FState->Thread = nullptr;
}

void TWorkerThread::Detach() {
  CloseHandle(FState->Thread);
  FState->Thread = nullptr;
}
