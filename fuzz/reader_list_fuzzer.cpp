// The reader list buffer to list lines against a plain reading: the lines the operator
// sees are the buffer's bytes with every leading and trailing byte of code 32 or less
// dropped, then cut at each NUL, CR LF, CR and LF.
//
// The list control's own split (SplitTextLines) is part of what is checked, so the fuzzer
// covers trim, replace and split of one listing. Input: the buffer, up to
// 1024 bytes, as it is.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "settings/ReaderListText.h"
#include "toolkit/TextLines.h"

namespace {

std::vector<std::string> PlainLines(std::string_view buffer) {
  size_t begin = 0, end = buffer.size();
  while (begin < end && static_cast<unsigned char>(buffer[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(buffer[end - 1]) <= 32) --end;
  std::vector<std::string> lines;
  if (begin == end) return lines;
  std::string line;
  for (size_t i = begin; i < end; ++i) {
    const char c = buffer[i];
    if (c == '\0' || c == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (c == '\r') {
      lines.push_back(line);
      line.clear();
      if (i + 1 < end && buffer[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  // The trimmed text never ends in a break, so the last line is always there.
  lines.push_back(line);
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1024) return -1;
  const std::string_view buffer(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> got = SplitTextLines(ReaderListText(buffer));
  const std::vector<std::string> want = PlainLines(buffer);
  if (got != want) {
    std::fprintf(stderr, "list lines differ: got %zu lines, want %zu\n", got.size(), want.size());
    for (size_t i = 0; i < got.size() || i < want.size(); ++i) {
      std::fprintf(stderr, "  %zu: got \"%s\" want \"%s\"\n", i,
                   i < got.size() ? got[i].c_str() : "-", i < want.size() ? want[i].c_str() : "-");
    }
    std::abort();
  }
  return 0;
}
