#pragma once
// The threads layer of a DLL's static C and C++ runtime, its entry point, and the release
// of what the runtime holds when the DLL is unloaded. Every DLL this project builds for
// Windows gets both through rs_dll_runtime(target) in CMake:
//
//   rs_dll_runtime(lurmScard)   # entry point RuntimeDllEntry, the threads layer below
//
// The compiler's runtime linked into each DLL (the unwinder's frame registry, emulated
// thread-local storage, the exception globals, the guards of function-local statics)
// reaches its threads library through a few POSIX functions: pthread_once, the mutex,
// condition and key functions. The layer defines them itself over the system's own
// primitives, which keeps the compiler's threads library out of the DLL. That library
// gives every thread that calls into it a record holding a duplicated thread handle, an
// event and heap memory, plus one TLS index for the library, and gives none of them back
// when the DLL is unloaded while the thread lives on: a host thread that loaded and freed
// a DLL lost two handles, about 19 KB and a TLS index per load, and the process failed
// once the TLS indexes ran out. The definitions here hold no kernel object; their locks
// live in the DLL's own data. Code that needs a threads function not defined here
// (std::thread, a timed wait) makes the link fail with "multiple definition of
// pthread_...": use the system's threads for it in a *_win.cpp, or define that function
// here too, without kernel objects kept per thread.
//
// Thread-local keys are fiber-local storage indexes while the process has them. A process
// that has none left (128 before Windows 10 version 1903, taken by every DLL built on the
// static Microsoft runtime) still gets its keys: they then live in a record per thread,
// reached through one TLS index, whose destructors run at the thread's DLL_THREAD_DETACH,
// so a DLL built with this layer must not turn thread notifications off
// (DisableThreadLibraryCalls). Only a process without a free TLS index either is refused a
// key, which the runtime answers by ending the process.
//
// The entry point, RuntimeDllEntry (the linker's --entry), is the C runtime's own
// (DllMainCRTStartup: static initialisers, then the DLL's DllMain at attach; DllMain,
// then the static finalisers at detach), followed at unload, not at process exit, by
// ReleaseDllRuntime(). A DLL keeps its own DllMain, or the C runtime's empty one.

// Gives back what the runtime still holds when the DLL is unloaded (not at process exit):
// the per-thread values of every thread-local key, with their destructors run for every
// thread; the locks; the exception emergency pool. Runs once the runtime's own
// finalisation is over; nothing of the runtime may run afterwards.
void ReleaseDllRuntime();

// Runs the destructors of the calling thread's values of the keys kept in thread records
// and gives the record back; at the thread's DLL_THREAD_DETACH.
void ReleaseThreadValues();
