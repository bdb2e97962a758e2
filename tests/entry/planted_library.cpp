// A library planted in a host's folder under the name of a system library that is not one
// of the system's known libraries ("oleacc.dll"): the system's search for a bare name looks
// in the program's folder first, so a module asking for it by name would run this code in
// the host. Loaded, it leaves a mark in the process's environment and provides nothing.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) SetEnvironmentVariableW(L"RS_PLANTED_LIBRARY_RAN", L"1");
  return TRUE;
}
