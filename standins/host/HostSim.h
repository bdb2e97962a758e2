#pragma once
// The stand-in host's own controls, for our tests and the host simulator only. These are
// extra exports of the stand-in ModuleLib and logQuery; the module never imports them.
//
//   HostSim_Open("/tmp/world");            // read the host profile folder
//   ...module calls InforMsg...            // recorded in HostSim_TranscriptPath()
//   HostSim_Close();
//
// Without HostSim_Open, the first call into ModuleLib opens the folder named by the
// environment variable RS_HOST_PROFILE; without that, the host runs on defaults: an empty
// catalogue, recording mode with transcript and log lines written to stderr.
#include <cstdint>

#include "host/HostApi.h"

#if defined(_WIN32) && defined(RS_BUILDING_MODULELIB)
#define HOSTSIM_API __declspec(dllexport)
#elif defined(_WIN32)
#define HOSTSIM_API __declspec(dllimport)
#else
#define HOSTSIM_API __attribute__((visibility("default")))
#endif

extern "C" {

// Replaces the host world by the one read from the profile folder profileDir (system code
// page path). Returns 1, or 0 when the folder is missing or a file in it is malformed; the
// host then runs on defaults and HostSim_LastError() tells why. The old sub-application
// object is destroyed with its parameter list.
HOSTSIM_API int32_t HostSim_Open(const char* profileDir);
// Destroys the sub-application object and returns to the defaults.
HOSTSIM_API void HostSim_Close(void);
// Why the last HostSim_Open failed; "" after a success.
HOSTSIM_API const char* HostSim_LastError(void);
// Where recorded messages and log lines go; "" for stderr.
HOSTSIM_API const char* HostSim_TranscriptPath(void);
HOSTSIM_API const char* HostSim_LogPath(void);
// Whether messages are recorded (Mode=record) rather than shown in message boxes; the
// setter switches the mode of the world now open (a scripted run of an interactive profile).
HOSTSIM_API int32_t HostSim_Recording(void);
HOSTSIM_API void HostSim_SetRecording(int32_t recording);
// Window handles the host hands out from now on (the simulator's own windows).
HOSTSIM_API void HostSim_SetHandles(THostHandle app, THostHandle mainFrame);

// The parameter list as the host's own code sees it.
// Appends an entry as the host does (duplicates allowed): the name cut to 255 bytes, a new
// value record holding a copy of text and, for kinds 7 and 8, obj. For kind 7 the entry
// takes ownership of obj.
HOSTSIM_API void HostSim_AddParam(const char* name, uint8_t kind, const char* text, void* obj);
HOSTSIM_API int32_t HostSim_ParamCount(void);
// Looks name up as the host does (ASCII letters folded, first match). Returns 1 and writes
// a new reference to the entry's text into *result, or 0 when there is no such entry.
HOSTSIM_API int32_t HostSim_GetParamText(const char* name, HostStr* result);

// logQuery: where Error appends from now on; "" for stderr.
LOGQUERY_API void HostLog_SetFile(const char* path);
}
