#include "util/FastStrings.h"

#include <algorithm>
#include <new>
#include <stdexcept>

#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "util/FastStrings_kernel.h"

namespace {

// The upper-case map and what ReplaceAll derives from it: for each byte, the one other
// byte with the same upper-case form (the byte itself when it has none), and whether it
// has more than one such byte (a code page with such classes is searched byte-wise).
struct TFoldTables {
  std::array<uint8_t, 256> upper;
  std::array<uint8_t, 256> partner;
  std::array<bool, 256> crowded;
};

TFoldTables BuildFoldTables() {
  TFoldTables t{};
  // One call over all 256 byte values: the platform upper-cases whole characters of the
  // code page, and in this order every lead byte is followed by a byte that does not form
  // a convertible character with it, so each byte comes back as its own upper-case form.
  for (int b = 0; b < 256; ++b) t.upper[b] = static_cast<uint8_t>(b);
  UpperCaseBytes(t.upper.data(), t.upper.size());
  for (int b = 0; b < 256; ++b) {
    int others = 0;
    t.partner[b] = static_cast<uint8_t>(b);
    for (int c = 0; c < 256; ++c) {
      if (c != b && t.upper[c] == t.upper[b]) {
        ++others;
        t.partner[b] = static_cast<uint8_t>(c);
      }
    }
    t.crowded[b] = others > 1;
  }
  return t;
}

// Built on the first call that needs it, on the caller's thread: never from a static
// initialiser, which on Windows would run under the loader lock and call user32.
const TFoldTables& FoldTables() {
  static const TFoldTables tables = BuildFoldTables();
  return tables;
}

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

// How often a byte turns up in the texts this replaces in (English and Chinese text, names,
// lists): the filter looks at the two find bytes least likely to be there. Lower is rarer.
int Commonness(uint8_t b) {
  static constexpr char kLetters[] = "etaoinshrdlcumwfgypbvkjxqz";  // most frequent first
  if (b == ' ') return 100;
  if (b >= 'a' && b <= 'z') {
    int rank = 0;
    while (kLetters[rank] != static_cast<char>(b)) ++rank;
    return 90 - 2 * rank;
  }
  if (b >= 0x80) return 45;  // both bytes of a double-byte character
  if (b >= 'A' && b <= 'Z') return 35;
  if (b >= '0' && b <= '9') return 30;
  if (b == '\r' || b == '\n' || b == ',' || b == '.') return 40;
  if (b < 0x20) return 5;
  return 20;
}

TReplacePlan MakePlan(std::string_view find, std::string_view replacement, bool caseSensitive) {
  TReplacePlan p{};
  p.find = reinterpret_cast<const uint8_t*>(find.data());
  p.findLength = find.size();
  p.replacement = reinterpret_cast<const uint8_t*>(replacement.data());
  p.replacementLength = replacement.size();
  p.twoPerClass = true;
  const TFoldTables* t = caseSensitive ? nullptr : &FoldTables();
  auto partner = [&](uint8_t b) { return t ? t->partner[b] : b; };
  auto score = [&](uint8_t b) { return std::max(Commonness(b), Commonness(partner(b))); };
  if (t) {
    p.upper = t->upper.data();
    for (size_t k = 0; k < p.findLength; ++k) {
      const uint8_t b = p.find[k];
      if (t->partner[b] != b) p.fold = true;
      if (t->crowded[b]) p.twoPerClass = false;
    }
  }
  // pos2: the rarest find byte; pos1: the rarest one that is not the same byte.
  const auto same = [&](size_t i, size_t j) {
    return p.find[i] == p.find[j] || partner(p.find[i]) == p.find[j];
  };
  p.pos2 = p.findLength - 1;
  for (size_t k = p.findLength; k-- > 0;)
    if (score(p.find[k]) < score(p.find[p.pos2])) p.pos2 = k;
  p.pos1 = p.pos2 == 0 ? p.findLength - 1 : 0;
  for (size_t k = 0; k < p.findLength; ++k) {
    if (k == p.pos2 || same(k, p.pos2)) continue;
    if (same(p.pos1, p.pos2) || score(p.find[k]) < score(p.find[p.pos1])) p.pos1 = k;
  }
  if (p.findLength == 1) p.pos1 = p.pos2 = 0;
  p.byte1 = p.find[p.pos1];
  p.alt1 = partner(p.byte1);
  p.byte2 = p.find[p.pos2];
  p.alt2 = partner(p.byte2);
  const size_t headLength = std::min<size_t>(p.findLength, sizeof p.head);
  for (size_t k = 0; k < headLength; ++k) {
    p.head[k] = p.find[k];
    p.headAlt[k] = partner(p.find[k]);
  }
  p.headBits = headLength == 32 ? ~uint32_t{0} : (uint32_t{1} << headLength) - 1;
  if (p.replacementLength <= sizeof p.replacementHead)
    std::copy_n(p.replacement, p.replacementLength, p.replacementHead);
  return p;
}

// The plain C++ block: the same filter and confirmation, one byte at a time.
struct TScalarBlock {
  static constexpr size_t kWidth = 16;
  static constexpr bool kCompress = false;
  const TReplacePlan& p;
  explicit TScalarBlock(const TReplacePlan& plan) : p(plan) {}

  template <bool kOne, bool kFold>
  uint32_t Candidates(const uint8_t* at) const {
    uint32_t mask = 0;
    for (size_t i = 0; i < kWidth; ++i) {
      const bool hit = SameByte<kFold>(p, at[i + p.pos1], p.pos1) &&
                       (kOne || SameByte<kFold>(p, at[i + p.pos2], p.pos2));
      mask |= uint32_t{hit} << i;
    }
    return mask;
  }
  template <bool kFold>
  bool Confirm(const uint8_t* at) const {
    return MatchesAt<kFold>(p, at);
  }
  static void Copy(uint8_t* dst, const uint8_t* src) { std::memcpy(dst, src, kWidth); }
};

bool CpuHasAvx2() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

// Host texts are at most 2^31 - 1 bytes long.
constexpr uint64_t kMaxText = 0x7FFFFFFF;

using TKernelFn = size_t (*)(const TReplacePlan&, const uint8_t*, size_t, uint8_t*);

TKernelFn KernelFor(TReplaceKernel kernel) {
  switch (kernel) {
    case TReplaceKernel::kAvx2:
      return ReplaceWithAvx2;
    case TReplaceKernel::kSse2:
      return ReplaceWithSse2;
    case TReplaceKernel::kScalar:
      break;
  }
  return ReplaceWithScalar;
}

// The best kernel of this build and processor, chosen once.
TReplaceKernel BestKernel() {
  static const TReplaceKernel best =
      ReplaceKernelAvailable(TReplaceKernel::kAvx2)   ? TReplaceKernel::kAvx2
      : ReplaceKernelAvailable(TReplaceKernel::kSse2) ? TReplaceKernel::kSse2
                                                      : TReplaceKernel::kScalar;
  return best;
}

// The number of occurrences ReplaceAll replaces; only needed when the worst-case output
// cannot be had.
size_t CountOccurrences(const TReplacePlan& p, const uint8_t* s, size_t length) {
  size_t count = 0;
  for (size_t c = 0; c + p.findLength <= length;) {
    if (p.fold ? MatchesAt<true>(p, s + c) : MatchesAt<false>(p, s + c)) {
      ++count;
      c += p.findLength;
    } else {
      ++c;
    }
  }
  return count;
}

// Runs the kernel into a new text of `capacity` writable bytes (the result's length and
// kOutputSlack included) without clearing it first, and returns it at the result's length.
std::string RunInto(size_t capacity, TKernelFn kernel, const TReplacePlan& plan,
                    std::string_view source) {
  std::string out;
  auto run = [&](char* buffer, size_t) {
    PrepareLargeOutput(buffer, capacity);
    return kernel(plan, reinterpret_cast<const uint8_t*>(source.data()), source.size(),
                  reinterpret_cast<uint8_t*>(buffer));
  };
#if defined(__cpp_lib_string_resize_and_overwrite)
  out.resize_and_overwrite(capacity, run);
#else
  out.resize(capacity);
  out.resize(run(out.data(), capacity));
#endif
  return out;
}

}  // namespace

const std::array<uint8_t, 256>& TUpperCaseMap::operator()() const { return FoldTables().upper; }

void BuildSkipTable(const char* pattern, int32_t length, TSkipTable& table) {
  BuildTable(pattern, length, table, Same);
}

void BuildSkipTableNoCase(const char* pattern, int32_t length, TSkipTable& table) {
  const auto& upper = FoldTables().upper;
  BuildTable(pattern, length, table, [&](uint8_t b) { return upper[b]; });
}

const char* SkipFind(const char* text, const char* pattern, int32_t textLength,
                     int32_t patternLength, const TSkipTable& table) {
  return Find(text, pattern, textLength, patternLength, table, Same);
}

const char* SkipFindNoCase(const char* text, const char* pattern, int32_t textLength,
                           int32_t patternLength, const TSkipTable& table) {
  const auto& upper = FoldTables().upper;
  return Find(text, pattern, textLength, patternLength, table, [&](uint8_t b) { return upper[b]; });
}

size_t ReplaceWithScalar(const TReplacePlan& plan, const uint8_t* source, size_t length,
                         uint8_t* out) {
  return ReplaceWith<TScalarBlock>(plan, source, length, out);
}

bool ReplaceKernelAvailable(TReplaceKernel kernel) {
  switch (kernel) {
    case TReplaceKernel::kScalar:
      return true;
    case TReplaceKernel::kSse2:
#if defined(__x86_64__) || defined(__i386__)
      return true;
#else
      return false;
#endif
    case TReplaceKernel::kAvx2:
      return CpuHasAvx2();
  }
  return false;
}

std::string ReplaceAllWith(TReplaceKernel kernel, std::string_view source, std::string_view find,
                           std::string_view replacement, bool caseSensitive) {
  const size_t S = source.size();
  const size_t F = find.size();
  const size_t R = replacement.size();
  if (S == 0 || F == 0 || F > S) return std::string(source);

  const TReplacePlan plan = MakePlan(find, replacement, caseSensitive);
  // A code page whose upper-casing joins three or more bytes has no vector filter here.
  const TKernelFn run = plan.twoPerClass ? KernelFor(kernel) : ReplaceWithScalar;

  // Worst case: the whole source made of occurrences, in 64-bit arithmetic so that no
  // input makes the estimate wrap.
  const uint64_t worst = R <= F ? S : uint64_t{S} * R / F;
  if (worst <= kMaxText) {
    try {
      return RunInto(static_cast<size_t>(worst) + kOutputSlack, run, plan, source);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
  }
  // The worst case cannot be had: count the occurrences and take exactly what they need.
  // A failure here reaches the caller.
  const uint64_t count = CountOccurrences(plan, reinterpret_cast<const uint8_t*>(source.data()), S);
  const uint64_t exact = S + count * R - count * F;
  if (exact > SIZE_MAX - kOutputSlack) throw std::length_error("ReplaceAll: result too long");
  return RunInto(static_cast<size_t>(exact) + kOutputSlack, run, plan, source);
}

std::string ReplaceAll(std::string_view source, std::string_view find, std::string_view replacement,
                       bool caseSensitive) {
  return ReplaceAllWith(BestKernel(), source, find, replacement, caseSensitive);
}
