#pragma once
// The PC/SC client API under one set of names: WinSCard's ANSI functions on Windows,
// pcsc-lite elsewhere (whose functions take 8-bit texts already), and the few things the
// library needs from its platform (Library_win.cpp / Library_posix.cpp).
#include <cstdint>
#include <string>

#if defined(_WIN32)
#include <windows.h>

#include <winscard.h>
#define PcscListReaders SCardListReadersA
#define PcscConnect SCardConnectA
#define PcscStatus SCardStatusA
#define PcscGetStatusChange SCardGetStatusChangeA
using PcscReaderState = SCARD_READERSTATEA;
#else
#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>
#define PcscListReaders SCardListReaders
#define PcscConnect SCardConnect
#define PcscStatus SCardStatus
#define PcscGetStatusChange SCardGetStatusChange
using PcscReaderState = SCARD_READERSTATE;
#endif

// A service result as the library's exports return it: the 32-bit code, whatever width
// the platform's LONG has (pcsc-lite on 64-bit Linux uses a 64-bit long).
constexpr int32_t ToCode(LONG rv) { return static_cast<int32_t>(static_cast<uint32_t>(rv)); }

// Whether the library's listing context may stay open between calls. It may only where
// the library's unload hook can release it: an ELF destructor function runs outside any
// loader lock and may talk to pcscd; DllMain runs under the loader lock, where a call
// into WinSCard (a request to the Smart Card service) is not safe, so on Windows the
// context lives for one call only.
#if defined(_WIN32)
constexpr bool kContextOutlivesCalls = false;
#else
constexpr bool kContextOutlivesCalls = true;
#endif

// The service's own description of a code, in the system code page.
std::string ServiceErrorText(int32_t code);

// The value of an environment variable as the process has it now; empty when unset.
std::string EnvironmentText(const char* name);

// Keeps this library mapped until the process ends, so that a worker thread still
// running its code can never outlive it. Safe to call more than once.
void KeepLibraryLoaded();

// Releases every service object the library holds (card handle, contexts). Called by the
// unload hook where that is safe; see kContextOutlivesCalls.
void ReleaseHeldService();
