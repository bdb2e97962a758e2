#include <cstdio>

#include "PcscApi.h"

std::string ServiceErrorText(int32_t code) {
  char text[512] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  // The system appends a line break to its messages; the caller puts the text in a line.
  while (length > 0 &&
         (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' '))
    --length;
  if (length > 0) return std::string(text, length);
  char fallback[40];
  std::snprintf(fallback, sizeof fallback, "Error 0x%08X",
                static_cast<unsigned>(static_cast<uint32_t>(code)));
  return fallback;
}

std::string EnvironmentText(const char* name) {
  // The process environment itself, not the C runtime's copy made at start: a host that
  // sets the variable with SetEnvironmentVariable is heard.
  char value[64] = {};
  DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  if (length == 0 || length >= sizeof value) return std::string();
  return std::string(value, length);
}

void KeepLibraryLoaded() {
  HMODULE self = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCSTR>(&KeepLibraryLoaded), &self);
}

// The unload hook does nothing with the service: it runs under the loader lock, and every
// WinSCard call is a request to the Smart Card service whose client side may wait on
// threads of its own. The library holds no context between calls on Windows instead
// (kContextOutlivesCalls), and SCDisConnectReader releases a card's context; a card
// still connected when the library unloads stays with the process until it ends.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
