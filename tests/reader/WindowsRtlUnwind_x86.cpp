// RtlUnwind for the fault guard of a test program, as Windows' own leaves the registers:
// linked into the program, this definition takes the place of the module's
// (src/platform/FaultGuardUnwind_x86.cpp). It calls the system's RtlUnwind and then gives
// ebx, esi and edi the zero that Windows' RtlUnwind returns with (it restores a context
// captured on entry, with those three registers left zero), eax the return value and ecx
// and edx values of no use. Wine's RtlUnwind keeps them, so without this a handler that
// kept something in them across the call would pass every test here and fail on Windows.

// void __stdcall RsSystemUnwind(void* targetFrame, void* targetIp, EXCEPTION_RECORD* record,
// void* returnValue)
asm(R"(
    .text
    .globl _RsSystemUnwind@16
    .def _RsSystemUnwind@16; .scl 2; .type 32; .endef
_RsSystemUnwind@16:
    pushl 16(%esp)
    pushl 16(%esp)
    pushl 16(%esp)
    pushl 16(%esp)
    call *__imp__RtlUnwind@16
    movl 16(%esp), %eax
    xorl %ebx, %ebx
    xorl %esi, %esi
    xorl %edi, %edi
    movl $0xDEADBEEF, %ecx
    movl $0xDEADBEEF, %edx
    ret $16
)");
