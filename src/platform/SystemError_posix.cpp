#include <cstring>

#include "platform/SystemError.h"

std::string SystemErrorDescription(long osError) {
  return std::strerror(static_cast<int>(osError));
}
