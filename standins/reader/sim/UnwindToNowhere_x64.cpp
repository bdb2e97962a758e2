#include <windows.h>

#include <cstdlib>

#include "UnwindToNowhere.h"

void UnwindToNowhere() {
  EXCEPTION_RECORD record{};
  record.ExceptionCode = 0xE0000002;
  record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
  CONTEXT context{};
  RtlCaptureContext(&context);
  RtlUnwindEx(nullptr, nullptr, &record, nullptr, &context, nullptr);
  std::abort();  // RtlUnwindEx does not come back
}
