// ReplaceAll against a plain left-to-right scan, in both modes, on any bytes.
//
// Input: source, find text and replacement as three length-delimited fields (libFuzzer's
// FuzzedDataProvider strings: a backslash followed by any other byte ends a field), the
// mode taken from the last byte.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "util/FastStrings.h"

namespace {

// Code page 936 upper-cases only the 26 ASCII letters as single bytes.
char Fold(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool MatchesAt(const std::string& source, size_t at, const std::string& find, bool caseSensitive) {
  for (size_t k = 0; k < find.size(); ++k) {
    const char a = source[at + k], b = find[k];
    if (caseSensitive ? a != b : Fold(a) != Fold(b)) return false;
  }
  return true;
}

std::string PlainReplaceAll(const std::string& source, const std::string& find,
                            const std::string& replacement, bool caseSensitive) {
  if (find.empty()) return source;
  std::string out;
  size_t i = 0;
  while (i < source.size()) {
    if (source.size() - i >= find.size() && MatchesAt(source, i, find, caseSensitive)) {
      out += replacement;
      i += find.size();
    } else {
      out += source[i++];
    }
  }
  return out;
}

std::string Hex(const std::string& s) {
  std::string out;
  char b[4];
  for (unsigned char c : s) {
    std::snprintf(b, sizeof b, "%02X ", c);
    out += b;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const bool caseSensitive = input.ConsumeBool();
  const std::string source = input.ConsumeRandomLengthString(4096);
  const std::string find = input.ConsumeRandomLengthString(64);
  const std::string replacement = input.ConsumeRandomLengthString(64);

  const std::string got = ReplaceAll(source, find, replacement, caseSensitive);
  const std::string want = PlainReplaceAll(source, find, replacement, caseSensitive);
  if (got != want) {
    std::fprintf(stderr,
                 "ReplaceAll differs (caseSensitive=%d)\nsource: %s\nfind: %s\nreplacement: "
                 "%s\ngot: %s\nwant: %s\n",
                 caseSensitive, Hex(source).c_str(), Hex(find).c_str(), Hex(replacement).c_str(),
                 Hex(got).c_str(), Hex(want).c_str());
    std::abort();
  }
  return 0;
}
