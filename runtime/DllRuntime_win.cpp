#include <windows.h>

#include <pthread.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <utility>

#include "DllRuntime.h"

// The exception emergency pool's release, made for leak checkers; not declared by a
// header of the runtime.
namespace __gnu_cxx {
void __freeres() noexcept;
}

namespace {

// Mutexes: a word that holds a static initializer value until first use, then the
// address of a critical section from this pool. Critical sections are recursive, which
// covers the recursive mutexes and is allowed for the others.
struct TLockSlot {
  CRITICAL_SECTION Section;
  bool InUse;
  TLockSlot* NextExtra;  // extra slots only, beyond the pool
};
constexpr int kLockPoolSize = 32;
TLockSlot LockPool[kLockPoolSize];
// Slots made on the heap once the pool is full; given back by ReleaseDllRuntime.
TLockSlot* ExtraLocks = nullptr;
// Guards the slots and the binding of a mutex word to its slot.
SRWLOCK SlotsLock = SRWLOCK_INIT;

bool IsUnbound(intptr_t word) {
  return word == GENERIC_INITIALIZER || word == GENERIC_ERRORCHECK_INITIALIZER ||
         word == GENERIC_RECURSIVE_INITIALIZER;
}

TLockSlot* TakeLockSlot() {
  for (TLockSlot& slot : LockPool) {
    if (!slot.InUse) {
      slot.InUse = true;
      return &slot;
    }
  }
  for (TLockSlot* slot = ExtraLocks; slot != nullptr; slot = slot->NextExtra) {
    if (!slot->InUse) {
      slot->InUse = true;
      return slot;
    }
  }
  auto* slot = static_cast<TLockSlot*>(std::calloc(1, sizeof(TLockSlot)));
  if (slot == nullptr) return nullptr;
  slot->InUse = true;
  slot->NextExtra = ExtraLocks;
  ExtraLocks = slot;
  return slot;
}

CRITICAL_SECTION* SectionOf(pthread_mutex_t* mutex) {
  intptr_t word = __atomic_load_n(mutex, __ATOMIC_ACQUIRE);
  if (!IsUnbound(word)) return &reinterpret_cast<TLockSlot*>(word)->Section;
  AcquireSRWLockExclusive(&SlotsLock);
  word = *mutex;
  if (IsUnbound(word)) {
    TLockSlot* slot = TakeLockSlot();
    if (slot != nullptr) {
      InitializeCriticalSection(&slot->Section);
      word = reinterpret_cast<intptr_t>(slot);
      __atomic_store_n(mutex, word, __ATOMIC_RELEASE);
    }
  }
  ReleaseSRWLockExclusive(&SlotsLock);
  return IsUnbound(word) ? nullptr : &reinterpret_cast<TLockSlot*>(word)->Section;
}

// Condition variables: the system's condition variable fills the word; the static
// initializer's value becomes its initial value at first use.
static_assert(sizeof(CONDITION_VARIABLE) == sizeof(pthread_cond_t));
CONDITION_VARIABLE* ConditionOf(pthread_cond_t* cond) {
  InterlockedCompareExchange(reinterpret_cast<volatile LONG*>(cond), 0, GENERIC_INITIALIZER);
  return reinterpret_cast<CONDITION_VARIABLE*>(cond);
}

// Thread-local keys. A key is a fiber-local storage index where the process has one left:
// its callback runs the key's destructor at thread exit and, when the index is freed at
// unload, for every thread. A process has few of them (128 before Windows 10 version 1903,
// shared with every DLL built on the static Microsoft runtime), and the runtime ends the
// process when a key cannot be made (emulated thread-local storage at its first use, the
// exception globals at the first throw). So once they are gone a key lives in this layer's
// own record of each thread instead (TThreadValues), found through one TLS index that all
// such keys share: the records are chained here, so that the destructors run at the
// thread's DLL_THREAD_DETACH (ReleaseThreadValues) and, at unload, for every thread that
// still has a record, as the fiber-local storage callbacks do.
using TKeyDestructor = void (*)(void*);
constexpr int kKeyCount = 8;
struct TKeySlot {
  bool InUse = false;
  DWORD Index = FLS_OUT_OF_INDEXES;  // FLS_OUT_OF_INDEXES: the key lives in the thread records
  TKeyDestructor Destructor = nullptr;
};
TKeySlot Keys[kKeyCount];

struct TThreadValues {
  void* Values[kKeyCount];
  TThreadValues* Next;
  TThreadValues* Previous;
};
// The TLS index of the thread records, taken with the first key that needs it and given
// back at unload; the chain of every thread's record, guarded by SlotsLock.
DWORD ValuesIndex = TLS_OUT_OF_INDEXES;
TThreadValues* AllValues = nullptr;

bool IsRecordKey(pthread_key_t key) { return Keys[key].Index == FLS_OUT_OF_INDEXES; }

// The calling thread's record, or null; the thread's last error is kept (TlsGetValue clears
// it, and a thread-local variable may be read between a failing call and its GetLastError).
TThreadValues* OwnValues() {
  if (ValuesIndex == TLS_OUT_OF_INDEXES) return nullptr;
  const DWORD lastError = GetLastError();
  auto* values = static_cast<TThreadValues*>(TlsGetValue(ValuesIndex));
  SetLastError(lastError);
  return values;
}

// Runs the destructor of every record key with a value in values, each value cleared first;
// again while a destructor has set a value anew, at most PTHREAD_DESTRUCTOR_ITERATIONS times.
void RunRecordDestructors(TThreadValues* values) {
  for (int round = 0; round < PTHREAD_DESTRUCTOR_ITERATIONS; ++round) {
    bool ran = false;
    for (int i = 0; i < kKeyCount; ++i) {
      void* value = values->Values[i];
      const TKeyDestructor destructor = Keys[i].Destructor;
      if (value == nullptr || !Keys[i].InUse || !IsRecordKey(i)) continue;
      values->Values[i] = nullptr;
      if (destructor != nullptr) {
        destructor(value);
        ran = true;
      }
    }
    if (!ran) return;
  }
}

void Unchain(TThreadValues* values) {
  if (values->Previous != nullptr)
    values->Previous->Next = values->Next;
  else
    AllValues = values->Next;
  if (values->Next != nullptr) values->Next->Previous = values->Previous;
}

template <int I>
void WINAPI RunKeyDestructor(void* value) {
  const TKeyDestructor destructor = Keys[I].Destructor;
  if (value != nullptr && destructor != nullptr) destructor(value);
}
template <int... I>
constexpr auto MakeKeyCallbacks(std::integer_sequence<int, I...>) {
  return std::array<PFLS_CALLBACK_FUNCTION, sizeof...(I)>{&RunKeyDestructor<I>...};
}
constexpr auto kKeyCallbacks = MakeKeyCallbacks(std::make_integer_sequence<int, kKeyCount>());

// pthread_once states.
constexpr LONG kOnceNotRun = PTHREAD_ONCE_INIT;
constexpr LONG kOnceRunning = 1;
constexpr LONG kOnceDone = 2;

}  // namespace

extern "C" {

int pthread_once(pthread_once_t* once, void (*routine)(void)) {
  for (;;) {
    const LONG state = InterlockedCompareExchange(once, kOnceRunning, kOnceNotRun);
    if (state == kOnceDone) return 0;
    if (state == kOnceNotRun) break;
    Sleep(1);  // another thread runs the routine
  }
  try {
    routine();
  } catch (...) {
    InterlockedExchange(once, kOnceNotRun);
    throw;
  }
  InterlockedExchange(once, kOnceDone);
  return 0;
}

int pthread_mutex_init(pthread_mutex_t* mutex, const pthread_mutexattr_t*) {
  *mutex = PTHREAD_MUTEX_INITIALIZER;
  return 0;
}

int pthread_mutex_destroy(pthread_mutex_t* mutex) {
  AcquireSRWLockExclusive(&SlotsLock);
  const intptr_t word = *mutex;
  if (!IsUnbound(word)) {
    auto* slot = reinterpret_cast<TLockSlot*>(word);
    DeleteCriticalSection(&slot->Section);
    slot->InUse = false;
    *mutex = PTHREAD_MUTEX_INITIALIZER;
  }
  ReleaseSRWLockExclusive(&SlotsLock);
  return 0;
}

int pthread_mutex_lock(pthread_mutex_t* mutex) {
  CRITICAL_SECTION* section = SectionOf(mutex);
  if (section == nullptr) return ENOMEM;
  EnterCriticalSection(section);
  return 0;
}

int pthread_mutex_unlock(pthread_mutex_t* mutex) {
  CRITICAL_SECTION* section = SectionOf(mutex);
  if (section == nullptr) return EPERM;
  LeaveCriticalSection(section);
  return 0;
}

int pthread_cond_wait(pthread_cond_t* cond, pthread_mutex_t* mutex) {
  CRITICAL_SECTION* section = SectionOf(mutex);
  if (section == nullptr) return EPERM;
  SleepConditionVariableCS(ConditionOf(cond), section, INFINITE);
  return 0;
}

int pthread_cond_broadcast(pthread_cond_t* cond) {
  WakeAllConditionVariable(ConditionOf(cond));
  return 0;
}

int pthread_key_create(pthread_key_t* key, void (*destructor)(void*)) {
  int result = EAGAIN;
  AcquireSRWLockExclusive(&SlotsLock);
  for (int i = 0; i < kKeyCount; ++i) {
    if (Keys[i].InUse) continue;
    Keys[i].Destructor = destructor;
    Keys[i].Index = FlsAlloc(kKeyCallbacks[i]);
    if (Keys[i].Index == FLS_OUT_OF_INDEXES && ValuesIndex == TLS_OUT_OF_INDEXES)
      ValuesIndex = TlsAlloc();
    if (Keys[i].Index != FLS_OUT_OF_INDEXES || ValuesIndex != TLS_OUT_OF_INDEXES) {
      Keys[i].InUse = true;
      *key = static_cast<pthread_key_t>(i);
      result = 0;
    }
    break;
  }
  ReleaseSRWLockExclusive(&SlotsLock);
  return result;
}

int pthread_key_delete(pthread_key_t key) {
  if (key >= kKeyCount || !Keys[key].InUse) return EINVAL;
  // Deleting a key runs no destructor.
  AcquireSRWLockExclusive(&SlotsLock);
  Keys[key].Destructor = nullptr;
  if (IsRecordKey(key)) {
    for (TThreadValues* values = AllValues; values != nullptr; values = values->Next)
      values->Values[key] = nullptr;
  } else {
    FlsFree(Keys[key].Index);
  }
  Keys[key].Index = FLS_OUT_OF_INDEXES;
  Keys[key].InUse = false;
  ReleaseSRWLockExclusive(&SlotsLock);
  return 0;
}

void* pthread_getspecific(pthread_key_t key) {
  if (key >= kKeyCount || !Keys[key].InUse) return nullptr;
  if (IsRecordKey(key)) {
    const TThreadValues* values = OwnValues();
    return values != nullptr ? values->Values[key] : nullptr;
  }
  const DWORD lastError = GetLastError();
  void* value = FlsGetValue(Keys[key].Index);
  SetLastError(lastError);
  return value;
}

int pthread_setspecific(pthread_key_t key, const void* value) {
  if (key >= kKeyCount || !Keys[key].InUse) return EINVAL;
  if (!IsRecordKey(key)) return FlsSetValue(Keys[key].Index, const_cast<void*>(value)) ? 0 : ENOMEM;
  TThreadValues* values = OwnValues();
  if (values == nullptr) {
    if (value == nullptr) return 0;
    // Given back at the thread's exit or at unload, whichever comes first.
    values = static_cast<TThreadValues*>(std::calloc(1, sizeof(TThreadValues)));
    if (values == nullptr) return ENOMEM;
    if (!TlsSetValue(ValuesIndex, values)) {
      std::free(values);
      return ENOMEM;
    }
    AcquireSRWLockExclusive(&SlotsLock);
    values->Next = AllValues;
    if (AllValues != nullptr) AllValues->Previous = values;
    AllValues = values;
    ReleaseSRWLockExclusive(&SlotsLock);
  }
  values->Values[key] = const_cast<void*>(value);
  return 0;
}

}  // extern "C"

void ReleaseDllRuntime() {
  // Keys first: freeing an index runs its destructor for every thread that has a value,
  // and so does this layer for every thread record.
  while (AllValues != nullptr) {
    TThreadValues* values = AllValues;
    RunRecordDestructors(values);
    Unchain(values);
    std::free(values);
  }
  for (TKeySlot& key : Keys) {
    if (key.InUse && key.Index != FLS_OUT_OF_INDEXES) FlsFree(key.Index);
    key = TKeySlot{};
  }
  if (ValuesIndex != TLS_OUT_OF_INDEXES) TlsFree(ValuesIndex);
  ValuesIndex = TLS_OUT_OF_INDEXES;
  __gnu_cxx::__freeres();
  for (TLockSlot& slot : LockPool) {
    if (slot.InUse) DeleteCriticalSection(&slot.Section);
    slot.InUse = false;
  }
  while (ExtraLocks != nullptr) {
    TLockSlot* slot = ExtraLocks;
    ExtraLocks = slot->NextExtra;
    if (slot->InUse) DeleteCriticalSection(&slot->Section);
    std::free(slot);
  }
}

void ReleaseThreadValues() {
  TThreadValues* values = OwnValues();
  if (values == nullptr) return;
  RunRecordDestructors(values);
  TlsSetValue(ValuesIndex, nullptr);
  AcquireSRWLockExclusive(&SlotsLock);
  Unchain(values);
  ReleaseSRWLockExclusive(&SlotsLock);
  std::free(values);
}
