#include <cstdio>

#include "HostShow.h"

void ShowOperatorBox(uintptr_t, const std::string& caption, const std::string& text) {
  std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
}
