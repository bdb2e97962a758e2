#pragma once
// The PC/SC client API under one set of names: WinSCard's ANSI functions on Windows,
// pcsc-lite elsewhere (whose functions take 8-bit texts already).
#include <cstdint>
#include <string>

#if defined(_WIN32)
#include <windows.h>

#include <winscard.h>
#define PcscListReaders SCardListReadersA
#define PcscConnect SCardConnectA
#define PcscStatus SCardStatusA
#else
#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>
#define PcscListReaders SCardListReaders
#define PcscConnect SCardConnect
#define PcscStatus SCardStatus
#endif

// A service result as the library's exports return it: the 32-bit code, whatever width
// the platform's LONG has (pcsc-lite on 64-bit Linux uses a 64-bit long).
constexpr int32_t ToCode(LONG rv) { return static_cast<int32_t>(static_cast<uint32_t>(rv)); }

// The service's own description of a code, in the system code page.
std::string ServiceErrorText(int32_t code);
