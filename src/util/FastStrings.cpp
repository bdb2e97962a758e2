#include "util/FastStrings.h"

#include <algorithm>
#include <limits>
#include <new>
#include <stdexcept>

#include "platform/CodePage.h"
#include "platform/Exception.h"

namespace {

std::array<uint8_t, 256> BuildUpperCaseMap() {
  std::array<uint8_t, 256> map{};
  for (int b = 0; b < 256; ++b) map[b] = static_cast<uint8_t>(b);
  UpperCaseBytes(map.data(), map.size());
  return map;
}

// Built during the library's start-up, before any dialog exists; read-only afterwards.
const std::array<uint8_t, 256> kUpperCaseMap = BuildUpperCaseMap();

inline uint8_t Byte(const char* p, int32_t i) { return static_cast<uint8_t>(p[i]); }

template <typename Fold>
void BuildTable(const char* pattern, int32_t length, TSkipTable& table, Fold fold) {
  if (length == 0) throw Exception("BufferLen is 0");
  table.fill(length);
  for (int32_t i = 0; i <= length - 2; ++i) table[fold(Byte(pattern, i))] = length - 1 - i;
}

template <typename Fold>
const char* Find(const char* text, const char* pattern, int32_t textLength, int32_t patternLength,
                 const TSkipTable& table, Fold fold) {
  int32_t windowEnd = patternLength - 1;
  while (windowEnd <= textLength - 1) {
    int32_t t = windowEnd;
    int32_t p = patternLength - 1;
    while (p >= 0 && fold(Byte(text, t)) == fold(Byte(pattern, p))) {
      --t;
      --p;
    }
    if (p < 0) return text + windowEnd - patternLength + 1;
    windowEnd += table[fold(Byte(text, windowEnd))];
  }
  return nullptr;
}

uint8_t Same(uint8_t b) { return b; }
uint8_t Upper(uint8_t b) { return kUpperCaseMap[b]; }

// Host texts are at most 2^31 - 1 bytes long: a larger estimate cannot be allocated.
constexpr int64_t kMaxText = std::numeric_limits<int32_t>::max();

bool TryAllocate(std::string& out, int64_t capacity) {
  if (capacity <= 0 || capacity > kMaxText) return false;
  try {
    out.resize(static_cast<size_t>(capacity));
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
}

}  // namespace

const std::array<uint8_t, 256>& UpperCaseMap = kUpperCaseMap;

void BuildSkipTable(const char* pattern, int32_t length, TSkipTable& table) {
  BuildTable(pattern, length, table, Same);
}

void BuildSkipTableNoCase(const char* pattern, int32_t length, TSkipTable& table) {
  BuildTable(pattern, length, table, Upper);
}

const char* SkipFind(const char* text, const char* pattern, int32_t textLength,
                     int32_t patternLength, const TSkipTable& table) {
  return Find(text, pattern, textLength, patternLength, table, Same);
}

const char* SkipFindNoCase(const char* text, const char* pattern, int32_t textLength,
                           int32_t patternLength, const TSkipTable& table) {
  return Find(text, pattern, textLength, patternLength, table, Upper);
}

std::string ReplaceAll(std::string_view source, std::string_view find, std::string_view replacement,
                       bool caseSensitive) {
  const int32_t S = static_cast<int32_t>(source.size());
  const int32_t F = static_cast<int32_t>(find.size());
  const int32_t R = static_cast<int32_t>(replacement.size());
  if (S == 0 || F == 0) return std::string(source);

  // Worst case: the whole source made of occurrences. Formed in 64-bit arithmetic so
  // that no input can make the estimate wrap.
  int64_t capacity = R <= F ? S : int64_t{S} * R / F;
  std::string out;
  if (!TryAllocate(out, capacity)) {
    capacity = (int64_t{S} + R) * 3 / 2;
    out.resize(static_cast<size_t>(capacity));
  }

  TSkipTable table;
  const auto search = caseSensitive ? SkipFind : SkipFindNoCase;
  (caseSensitive ? BuildSkipTable : BuildSkipTableNoCase)(find.data(), F, table);

  const char* read = source.data();
  int32_t remaining = S;
  int64_t write = 0;
  int64_t written = 0;
  do {
    const char* hit = search(read, find.data(), remaining, F, table);
    if (hit == nullptr) break;
    const int32_t n = static_cast<int32_t>(hit - read);
    if (R > 0) {
      written += n + R;
      if (written >= capacity) {
        // Growth by half is the fallback; it always moves forward, even from 1.
        while (capacity < written) capacity = std::max(capacity * 3 / 2, capacity + 1);
        out.resize(static_cast<size_t>(capacity));
      }
      std::copy_n(read, n, out.begin() + write);
      std::copy_n(replacement.data(), R, out.begin() + write + n);
      write += n + R;
    } else {
      std::copy_n(read, n, out.begin() + write);
      write += n;
      written += n;
    }
    read += n + F;
    remaining -= n + F;
  } while (remaining >= F);

  out.resize(static_cast<size_t>(write + remaining));
  if (remaining > 0) std::copy_n(read, remaining, out.begin() + written);
  return out;
}
