// The catalogue format filler against a plain reading of its rule: each "%s" takes the
// next argument, "%%" is one "%", and anything else after "%" (or a "%" at the end, or a
// count of "%s" other than the number of arguments) gives no text.
//
// Input: the format, then up to three arguments (FuzzedDataProvider strings); the
// argument count from the last byte.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "reader/tools_lurm.h"

namespace {

std::optional<std::string> PlainFill(const std::string& format,
                                     const std::vector<std::string>& args) {
  // First the shape: the "%" sequences alone decide whether a text comes out.
  size_t wanted = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    if (i + 1 == format.size()) return std::nullopt;
    if (format[i + 1] == 's') {
      ++wanted;
    } else if (format[i + 1] != '%') {
      return std::nullopt;
    }
    ++i;
  }
  if (wanted != args.size()) return std::nullopt;
  std::string out;
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%') {
      out += format[i + 1] == 's' ? args[next++] : "%";
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const int count = input.ConsumeIntegralInRange(0, 3);
  const std::string format = input.ConsumeRandomLengthString(1024);
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(input.ConsumeRandomLengthString(256));

  std::optional<std::string> got;
  switch (count) {
    case 0:
      got = FillCatalogueFormat(format, {});
      break;
    case 1:
      got = FillCatalogueFormat(format, {args[0]});
      break;
    case 2:
      got = FillCatalogueFormat(format, {args[0], args[1]});
      break;
    default:
      got = FillCatalogueFormat(format, {args[0], args[1], args[2]});
      break;
  }
  const std::optional<std::string> want = PlainFill(format, args);
  if (got != want) {
    std::fprintf(stderr, "FillCatalogueFormat differs: %d arguments, got %s, want %s\n", count,
                 got ? "a text" : "nothing", want ? "a text" : "nothing");
    std::abort();
  }
  return 0;
}
