// The catalogue format filler on its own: it needs nothing of the host, so the text
// routines can be exercised without one.
#include "reader/tools_lurm.h"

std::optional<std::string> FillCatalogueFormat(std::string_view format,
                                               std::initializer_list<std::string_view> args) {
  std::string out;
  auto next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out.push_back(format[i]);
      continue;
    }
    if (i + 1 >= format.size()) return std::nullopt;
    const char spec = format[++i];
    if (spec == '%') {
      out.push_back('%');
    } else if (spec == 's' && next != args.end()) {
      out.append(*next++);
    } else {
      return std::nullopt;
    }
  }
  if (next != args.end()) return std::nullopt;
  return out;
}
