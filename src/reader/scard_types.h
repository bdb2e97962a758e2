#pragma once
// The reader access library's exports ("lurmScard.dll" / "lurmScard_old.dll") as both
// sides see them: the module binds them by name, and every library standing in for
// the closed one implements exactly these.
//
//   char list[kSCListBufferSize] = {};
//   int32_t code = SCListReaders(list);   // names, each followed by one NUL
//
// All five use the 32-bit Windows standard calling convention (none on 64-bit
// builds) and are exported by their plain names, without "@N" decoration. Result
// codes: 0 is success; other values are PC/SC return codes, ISO/IEC 7816-4 status
// words or the library's own codes. Texts are NUL-terminated, system code page.
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define RS_SCARD_CALL __stdcall
#else
#define RS_SCARD_CALL
#endif

// The list buffer: the caller zero-fills it; the library writes the reader names,
// each followed by one NUL, and never writes beyond it.
inline constexpr int kSCListBufferSize = 1024;
// The area handed to SCConnectReader: the library may write into it, the caller
// neither fills nor reads it.
inline constexpr int kSCConnectBufferSize = 256;

using SCListReadersFn = int32_t(RS_SCARD_CALL*)(char* buffer);
using SCConnectReaderFn = int32_t(RS_SCARD_CALL*)(const char* readerName, char* out);
using SCDisConnectReaderFn = int32_t(RS_SCARD_CALL*)(void);
// Resolved with the others; the module never calls it.
using SCSendCmdFn = int32_t(RS_SCARD_CALL*)(const uint8_t* command, int32_t commandLength,
                                            uint8_t* response, int32_t responseSize,
                                            int32_t* responseLength);
// The library's description of code; the text is the library's, read at once, never
// kept or freed by the caller. May be null.
using SCGetErrorTextFn = const char*(RS_SCARD_CALL*)(int32_t code);

// For the libraries themselves: define RS_SCARD_LIBRARY before including this header
// to declare the exports (the build exports them by plain name).
#if defined(RS_SCARD_LIBRARY)
#if defined(_WIN32)
#define RS_SCARD_EXPORT __declspec(dllexport)
#else
#define RS_SCARD_EXPORT __attribute__((visibility("default")))
#endif
extern "C" {
RS_SCARD_EXPORT int32_t RS_SCARD_CALL SCListReaders(char* buffer);
RS_SCARD_EXPORT int32_t RS_SCARD_CALL SCConnectReader(const char* readerName, char* out);
RS_SCARD_EXPORT int32_t RS_SCARD_CALL SCDisConnectReader(void);
RS_SCARD_EXPORT int32_t RS_SCARD_CALL SCSendCmd(const uint8_t* command, int32_t commandLength,
                                                uint8_t* response, int32_t responseSize,
                                                int32_t* responseLength);
RS_SCARD_EXPORT const char* RS_SCARD_CALL SCGetErrorText(int32_t code);
}
#endif
