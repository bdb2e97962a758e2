#pragma once
// The system's own description of one of its error codes (GetLastError on Windows, errno
// elsewhere), as an 8-bit text in the system code page without a trailing line end or
// full stop; empty when the system has none.
//
//   SystemErrorDescription(ERROR_ACCESS_DENIED)   // "拒绝访问" under code page 936
#include <string>

std::string SystemErrorDescription(long osError);
