// What std::terminate does in our DLLs: ends the process at once. The C++ runtime's own
// handler first writes the type of the exception in flight to the standard error of the
// process, which in a host's GUI process goes nowhere, and for that carries the runtime's
// name demangler (about 47 KB of code and tables). Every exception of ours is caught at
// the DLL's boundary, so the handler runs only when that has failed, and a plain abort says
// as much.
#include <cstdlib>

namespace __gnu_cxx {

// The runtime's default terminate handler, replaced by name: the linker takes this one and
// leaves the runtime's out of the DLL.
[[noreturn]] void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
