#pragma once
// The published boundary between the host and its modules: the host module services
// of ModuleLib and the host log of logQuery, as C functions exported by name.
//
// Both sides see only this header (and HostMemory.h). No C++ type, no exception and
// no std::string crosses it. Texts cross as host strings (HostMemory.h); the parameter
// text of a message is a short text (at most 255 bytes, length byte first).
//
//   HostStr path = nullptr;
//   GetCurSubAppPath(&path);          // the caller now holds one reference
//   HostStrRelease(path);
//
// Calling conventions: the ModuleLib functions use the C convention; logQuery's Error
// is stdcall, as the host log has always been. Window handles are pointer-sized
// (32 bits on the target).
#include <cstdint>

#include "host/HostMemory.h"

#if defined(_WIN32)
#define RS_STDCALL __stdcall
#if defined(RS_BUILDING_MODULELIB)
#define MODULELIB_API __declspec(dllexport)
#else
#define MODULELIB_API __declspec(dllimport)
#endif
#if defined(RS_BUILDING_LOGQUERY)
#define LOGQUERY_API __declspec(dllexport)
#else
#define LOGQUERY_API __declspec(dllimport)
#endif
#else
#define RS_STDCALL
#define MODULELIB_API __attribute__((visibility("default")))
#define LOGQUERY_API __attribute__((visibility("default")))
#endif

// A window handle as the host hands it out; 0 is none.
using THostHandle = uintptr_t;

// Short text: one length byte (0..255), then the characters. Longer texts are cut.
struct TShortText {
  uint8_t Length;
  char Chars[255];
};

extern "C" {

// Window handles of the host: its application window and its main frame (0 when none).
MODULELIB_API THostHandle GetAppHandle(void);
MODULELIB_API THostHandle GetMainFrameHandle(void);

// Texts of the host. Each writes a new host string into *result, holding one reference
// that the caller releases; a value already in *result is released first.
MODULELIB_API void GetAppPath(HostStr* result);
// The current sub-application's directory, ending in a path separator.
MODULELIB_API void GetCurSubAppPath(HostStr* result);
MODULELIB_API void GetCurSubAppCode(HostStr* result);
MODULELIB_API void GetCurFuncCode(HostStr* result);

// Host-owned objects: stored and passed, never released by a module.
MODULELIB_API void* GetCurSubAppInfo(void);
// The current sub-application object; its parameter list reference is at offset 4
// (a pointer-sized field after the first pointer-sized field on native builds).
MODULELIB_API void* GetCurSubAppVo(void);
MODULELIB_API void* GetUserInfoVO(void);
MODULELIB_API void* GetCompanyInfoVO(void);

// The user's configured value of section/key, or defaultValue when none.
MODULELIB_API void GetUserConfigParam(HostStr section, HostStr key, HostStr defaultValue,
                                      HostStr* result);

// Skin values: colours as 0x00BBGGRR, font size in points, 8-bit character set.
MODULELIB_API uint32_t gclModuleBackColor(void);
MODULELIB_API uint32_t gclTopBarColor(void);
MODULELIB_API uint32_t gclSysFontColor(void);
MODULELIB_API int32_t giSysFontSize(void);
MODULELIB_API uint8_t giSysFontCharSet(void);
// Skins the controls of a module dialog; the dialog is opaque to the host stand-in.
MODULELIB_API void SetSkinSchemeCtrls(void* dialog);

// Shows the catalogue message msgId to the operator and returns when it is dismissed.
MODULELIB_API void InforMsg(int32_t msgId, const TShortText* param, bool flag);
// The catalogue text of msgId, not shown.
MODULELIB_API void GetMsg(int32_t msgId, const TShortText* param, bool flag, HostStr* result);
// Shows a text that the module built.
MODULELIB_API void InfoMsgBox(HostStr text, int32_t kind);

// Appends an entry to the host log. Both texts NUL-terminated, system code page.
LOGQUERY_API void RS_STDCALL Error(const char* category, const char* text);

}  // extern "C"
