#pragma once
// The threads layer of the module's static C and C++ runtime, and its release at unload.
//
//   ReleaseModuleRuntime();   // entry point, library unload, after the runtime's own finalisation
//
// The compiler's runtime linked into the module (the unwinder's frame registry, emulated
// thread-local storage, the exception globals, the guards of function-local statics)
// reaches its threads library through a few POSIX functions: pthread_once, the mutex,
// condition and key functions. The module defines them itself over the system's own
// primitives, which keeps the compiler's threads library out of the module. That library
// gives every thread that calls into it a record holding a duplicated thread handle, an
// event and heap memory, plus one TLS index for the library, and gives none of them back
// when the module is unloaded while the thread lives on: the host's thread that loads and
// frees the module lost two handles, about 19 KB and a TLS index per load, and the process
// failed once the TLS indexes ran out. The definitions here hold no kernel object; their
// locks live in the module's own data. Module code that needs a threads function not
// defined here (std::thread, a timed wait) makes the link fail with "multiple definition
// of pthread_...": define that one here too, without kernel objects kept per thread.

// Gives back what the runtime still holds when the module is unloaded (not at process
// exit): the per-thread values of every thread-local key, with their destructors run for
// every thread; the locks; the exception emergency pool. Runs once the runtime's own
// finalisation is over; nothing of the runtime may run afterwards.
void ReleaseModuleRuntime();
