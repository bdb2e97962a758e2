#pragma once
// lurmScard over PC/SC: the reader access library that the reader settings module loads
// from a sub-application folder as "lurmScard.dll". It talks to the system's smart-card
// service (WinSCard on Windows, pcsc-lite elsewhere) and returns the service's own result
// codes unchanged (0 = success, PC/SC codes such as 0x8010000C otherwise).
//
//   char names[1024] = {};  SCListReaders(names);  // "Virtual PCD 00 00\0Virtual PCD 00 01\0"
//
// Contract of the exports (C names, stdcall on 32-bit Windows, exported undecorated):
// - SCListReaders: the service's readers into the 1024-byte buffer, each name followed by
//   one NUL, the rest of the 1024 bytes zero. Nothing is written past 1024 bytes; a name
//   that does not fit in the room left is left out whole, later names that fit still
//   follow, and the code stays 0. With no service or no readers the buffer is all zero
//   and the service's code is returned (0x8010001D, 0x8010002E).
// - SCConnectReader: connects to the named reader in shared mode, T=0 or T=1, and keeps
//   the card handle (an earlier one is released first). The 256-byte area receives the
//   card's answer to reset: byte 0 = its length n (at most 33), bytes 1..n = the ATR,
//   every other byte zero; all 256 bytes zero when the connect fails.
//   The connect ends within a time limit, 5 s unless the environment variable
//   LURMSCARD_CONNECT_TIMEOUT_MS gives another (whole milliseconds, 1 to 600000; any other
//   value means 5 s; read at every connect). When the service showed a card in the reader
//   and the card did not answer in time, the code is 0x80100066 (unresponsive card);
//   when the service itself did not answer, 0x8010000A (timeout). The connect that did
//   not end is left to finish in the service on a thread of its own, which releases what
//   it gets; the library then stays loaded until the process ends. A later connect to the
//   same reader first waits, within its own limit, for that one to end.
// - SCDisConnectReader: releases the card handle, leaving the card powered. Safe with
//   nothing connected, after a connect that failed or timed out, and when called twice;
//   returns 0 or the service's code.
// - SCSendCmd: one APDU to the connected card. The response (data and status word) goes
//   to response, never more than responseSize bytes; *responseLength receives its length.
//   A response longer than responseSize writes nothing, sets *responseLength to the size
//   needed and returns 0x80100008; so does a command longer than the longest APDU (65544
//   bytes), with *responseLength set to that limit. A response shorter than a status word
//   (the card dropped the line) writes nothing and returns 0x80100066. With no card
//   connected it returns 0x80100003.
// - SCGetErrorText: the service's description of a code, owned by the library and valid
//   until the next call of SCGetErrorText. Never null.
// A service that went away since the last call (stopped, restarted) is met once per call:
// the library establishes a new service context and tries the call again once. SCSendCmd
// connects the kept reader again, once per call, even when its handle was lost in an
// earlier call, until SCDisConnectReader or a new connect forgets the reader. A service
// that is going away resets the connections of its clients, which pcsc-lite reports as
// 0x8010006A (access denied); the library tries a new context after short pauses (under
// 1 s in all) and reports what it finds: 0x8010001D (no service) or 0x8010001E (service
// stopped), never 0x8010006A for a service that went away.
// Service objects: one listing context per loaded library, kept between calls and
// released when the library unloads (an ELF destructor function); on Windows, where
// DllMain may not call the service, the listing context lasts one call. Each connect has
// a context of its own, released with its card. All calls come from one thread.
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define LURM_API __stdcall
#else
#define LURM_API
#endif

#if defined(_WIN32)
#define LURM_EXPORT __declspec(dllexport)
#else
#define LURM_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
LURM_EXPORT int32_t LURM_API SCListReaders(char* buffer);
LURM_EXPORT int32_t LURM_API SCConnectReader(const char* readerName, char* out);
LURM_EXPORT int32_t LURM_API SCDisConnectReader(void);
LURM_EXPORT int32_t LURM_API SCSendCmd(const uint8_t* command, int32_t commandLength,
                                       uint8_t* response, int32_t responseSize,
                                       int32_t* responseLength);
LURM_EXPORT const char* LURM_API SCGetErrorText(int32_t code);
}

// Sizes the caller's buffers have; the library never writes beyond them.
constexpr int32_t kReaderListSize = 1024;
constexpr int32_t kConnectAreaSize = 256;
