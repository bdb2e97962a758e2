#include "platform/FaultGuard.h"

bool FaultContainmentAvailable() { return false; }

// The native build calls directly: a fault ends the process, and the sanitizers say where.
bool RunFaultContained(void (*body)(void*), void* context, TProcessorFault& fault) {
  fault = {};
  body(context);
  return true;
}
