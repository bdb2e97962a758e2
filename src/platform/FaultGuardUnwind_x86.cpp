// The system's RtlUnwind as the fault guard's handler calls it (FaultGuard_x86.cpp), in a
// file of its own: a test program may link a definition of its own in its place (one that
// leaves the registers as Windows' RtlUnwind leaves them, whatever the system under test
// does), while the module always calls the system's.
#include <windows.h>

// void __stdcall RsSystemUnwind(void* targetFrame, void* targetIp, EXCEPTION_RECORD* record,
// void* returnValue): RtlUnwind itself, entered with the caller's arguments and return.
asm(R"(
    .text
    .globl _RsSystemUnwind@16
    .def _RsSystemUnwind@16; .scl 2; .type 32; .endef
_RsSystemUnwind@16:
    jmp *__imp__RtlUnwind@16
)");
