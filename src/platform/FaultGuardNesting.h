#pragma once
// The per-thread list of the contained calls in progress, shared by the Windows call stubs
// of both architectures (whose recovery points differ in layout): innermost last. Calls
// nested deeper than kMaxNestedCalls run inside the innermost contained one, which then
// takes their faults.
//
//   thread_local TThreadRecovery<TRecoveryPoint> tRecovery;
//   return RunNested(tRecovery, body, context, fault, RsRunContained);
#include "platform/FaultGuard.h"

inline constexpr int kMaxNestedCalls = 8;

template <typename TPoint>
struct TThreadRecovery {
  TPoint Points[kMaxNestedCalls];
  int Depth = 0;
};

// Runs body(context) through run (the stub that saves the recovery point and calls it),
// on a fresh point pushed on the thread's list; run answers 0 when body returned, and the
// point then holds no fault.
template <typename TPoint, typename TRun>
bool RunNested(TThreadRecovery<TPoint>& recovery, void (*body)(void*), void* context,
               TProcessorFault& fault, TRun run) {
  fault = {};
  if (recovery.Depth == kMaxNestedCalls) {
    body(context);
    return true;
  }
  const int depth = recovery.Depth;
  TPoint& point = recovery.Points[depth];
  point = {};
  ++recovery.Depth;
  const int faulted = run(body, context, &point);
  recovery.Depth = depth;
  if (faulted == 0) return true;
  fault.Code = point.Code;
  fault.Address = point.Address;
  return false;
}
