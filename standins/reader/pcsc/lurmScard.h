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
// - SCDisConnectReader: releases the card handle, leaving the card powered. Safe with
//   nothing connected and when called twice; returns 0 or the service's code.
// - SCSendCmd: one APDU to the connected card. The response (data and status word) goes
//   to response, never more than responseSize bytes; *responseLength receives its length.
//   A response longer than responseSize writes nothing, sets *responseLength to the size
//   needed and returns 0x80100008. With no card connected it returns 0x80100003.
// - SCGetErrorText: the service's description of a code, owned by the library and valid
//   until the next call of SCGetErrorText. Never null.
// A service that went away since the last call (stopped, restarted) is met once per call:
// the library establishes a new service context (and reconnects the kept reader for
// SCSendCmd) and tries the call again once. All calls come from one thread.
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
