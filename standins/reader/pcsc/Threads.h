#pragma once
// The threads of the library's bounded connect, behind one interface: the standard
// library's on POSIX (Threads_posix.cpp); the system's own on Windows (Threads_win.cpp),
// where the standard ones would bring the compiler's threads library into the DLL, which
// keeps a handle, an event, heap memory and a TLS index of every thread it meets after the
// DLL is unloaded. A worker made here holds a thread handle while it runs, no more.
//
//   TJobLock lock;  bool done = false;
//   TWorkerThread worker([&] { TLockScope scope(lock); done = true; lock.WakeAll(); });
//   { TLockScope scope(lock); WaitUntil(lock, MonotonicMs() + 100, [&] { return done; }); }
//   worker.Join();
#include <cstdint>
#include <functional>
#include <memory>

// Milliseconds of a clock that only goes forward, for deadlines within this process.
int64_t MonotonicMs();

// Suspends the calling thread for about ms milliseconds.
void PauseMs(int ms);

// A lock and a condition in one: guards the state a caller shares with its worker, and
// wakes the threads waiting for that state to change. Not recursive.
class TJobLock {
 public:
  TJobLock();
  ~TJobLock();
  TJobLock(const TJobLock&) = delete;
  TJobLock& operator=(const TJobLock&) = delete;

  void Lock();
  void Unlock();
  // Wakes every thread waiting in WaitOnce.
  void WakeAll();
  // Called with the lock held: releases it until WakeAll or deadlineMs (MonotonicMs),
  // holds it again on return. False when the deadline has passed; true otherwise, which
  // may also be a spurious wake, so the caller looks at its state again.
  bool WaitOnce(int64_t deadlineMs);

 private:
  struct TState;
  std::unique_ptr<TState> FState;
};

// Holds a TJobLock for its scope.
class TLockScope {
 public:
  explicit TLockScope(TJobLock& lock) : FLock(lock) { FLock.Lock(); }
  ~TLockScope() { FLock.Unlock(); }
  TLockScope(const TLockScope&) = delete;
  TLockScope& operator=(const TLockScope&) = delete;

 private:
  TJobLock& FLock;
};

// With the lock held: waits until done() holds or the deadline passes; returns done().
template <class TDone>
bool WaitUntil(TJobLock& lock, int64_t deadlineMs, TDone done) {
  while (!done()) {
    if (!lock.WaitOnce(deadlineMs)) return done();
  }
  return true;
}

// A thread running one function. Its owner joins it or detaches it; one left joinable is
// joined by the destructor, so that no thread runs the library's code unowned. A thread
// that cannot be made throws std::system_error, as std::thread does.
class TWorkerThread {
 public:
  explicit TWorkerThread(std::function<void()> body);
  ~TWorkerThread();
  TWorkerThread(const TWorkerThread&) = delete;
  TWorkerThread& operator=(const TWorkerThread&) = delete;

  // Waits until the thread has ended, its body and the thread's own exit included.
  void Join();
  // Lets the thread run on by itself.
  void Detach();

 private:
  struct TState;
  std::unique_ptr<TState> FState;
};
