#pragma once
// 64-bit Windows: starts an unwind with no target frame from inside the library, as a
// runtime does that restarts the unwind of an exception that none of its frames caught
// without knowing where it ends (RtlUnwindEx with no target: an exit unwind). It runs every
// frame's unwind handler up to the end of the stack and never comes back.
[[noreturn]] void UnwindToNowhere();
