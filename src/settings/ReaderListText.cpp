#include "settings/ReaderListText.h"

#include "util/FastStrings.h"

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string_view Trim(std::string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

}  // namespace

std::string ReaderListText(std::string_view buffer) {
  return ReplaceAll(Trim(buffer), std::string_view("\0", 1), "\r\n", false);
}
