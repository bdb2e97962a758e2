#include <windows.h>

#include "platform/SystemError.h"
#include "platform/WinHandles.h"

std::string SystemErrorDescription(long osError) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(osError), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  const UniqueLocalMemory owner(text);
  std::string message = n != 0 && text != nullptr ? std::string(text, n) : std::string();
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  return message;
}
