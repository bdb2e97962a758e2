// The AVX2 build of the ReplaceAll kernel: 32-byte blocks. Compiled with AVX2 enabled;
// ReplaceAll calls it only after the processor has been asked whether it has AVX2.
#include "util/FastStrings_kernel.h"

#if defined(__AVX2__)
#include <immintrin.h>

namespace {

inline __m256i Load(const uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

inline __m128i Load16(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// For each 8-bit mask of bytes to drop: the byte shuffle that packs the kept bytes of an
// 8-byte group to its front, and how many are kept.
struct TPackTable {
  uint8_t shuffle[256][8];
  uint8_t kept[256];
};

constexpr TPackTable MakePackTable() {
  TPackTable t{};
  for (int drop = 0; drop < 256; ++drop) {
    int n = 0;
    for (int i = 0; i < 8; ++i)
      if (!(drop >> i & 1)) t.shuffle[drop][n++] = static_cast<uint8_t>(i);
    for (int i = n; i < 8; ++i) t.shuffle[drop][i] = 0x80;
    t.kept[drop] = static_cast<uint8_t>(n);
  }
  return t;
}

constexpr TPackTable kPack = MakePackTable();

struct TAvx2Block {
  static constexpr size_t kWidth = 32;
  static constexpr bool kCompress = true;
  const TReplacePlan& p;
  const size_t pos1, pos2;
  const __m256i byte1, alt1, byte2, alt2;
  const __m128i head, headAlt;

  explicit TAvx2Block(const TReplacePlan& plan)
      : p(plan),
        pos1(plan.pos1),
        pos2(plan.pos2),
        byte1(_mm256_set1_epi8(static_cast<char>(plan.byte1))),
        alt1(_mm256_set1_epi8(static_cast<char>(plan.alt1))),
        byte2(_mm256_set1_epi8(static_cast<char>(plan.byte2))),
        alt2(_mm256_set1_epi8(static_cast<char>(plan.alt2))),
        head(Load16(plan.head)),
        headAlt(Load16(plan.headAlt)) {}

  template <bool kOne, bool kFold>
  uint32_t Candidates(const uint8_t* at) const {
    const __m256i x = Load(at + pos1);
    __m256i m = _mm256_cmpeq_epi8(x, byte1);
    if (kFold) m = _mm256_or_si256(m, _mm256_cmpeq_epi8(x, alt1));
    if (!kOne) {
      const __m256i y = Load(at + pos2);
      __m256i m2 = _mm256_cmpeq_epi8(y, byte2);
      if (kFold) m2 = _mm256_or_si256(m2, _mm256_cmpeq_epi8(y, alt2));
      m = _mm256_and_si256(m, m2);
    }
    return static_cast<uint32_t>(_mm256_movemask_epi8(m));
  }

  // The first 16 find bytes in one compare; any further ones byte by byte.
  template <bool kFold>
  bool Confirm(const uint8_t* at) const {
    const __m128i x = Load16(at);
    __m128i m = _mm_cmpeq_epi8(x, head);
    if (kFold) m = _mm_or_si128(m, _mm_cmpeq_epi8(x, headAlt));
    if ((static_cast<uint32_t>(_mm_movemask_epi8(m)) & p.headBits) != p.headBits) return false;
    if (p.findLength <= 16) return true;
    if (!kFold) return std::memcmp(at + 16, p.find + 16, p.findLength - 16) == 0;
    for (size_t k = 16; k < p.findLength; ++k)
      if (!SameByte<true>(p, at[k], k)) return false;
    return true;
  }

  // Four 8-byte groups, each packed by one shuffle and stored whole (up to 8 bytes more
  // than kept are written).
  static size_t CopyWithout(uint8_t* dst, const uint8_t* at, uint32_t drop) {
    size_t n = 0;
    for (int group = 0; group < 4; ++group) {
      const uint32_t bits = drop >> (8 * group) & 0xFF;
      const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(at + 8 * group));
      const __m128i order = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPack.shuffle[bits]));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + n), _mm_shuffle_epi8(bytes, order));
      n += kPack.kept[bits];
    }
    return n;
  }

  static void Copy(uint8_t* dst, const uint8_t* src) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), Load(src));
  }
};

}  // namespace

size_t ReplaceWithAvx2(const TReplacePlan& plan, const uint8_t* source, size_t length,
                       uint8_t* out) {
  return ReplaceWith<TAvx2Block>(plan, source, length, out);
}

#else

size_t ReplaceWithAvx2(const TReplacePlan& plan, const uint8_t* source, size_t length,
                       uint8_t* out) {
  return ReplaceWithScalar(plan, source, length, out);
}

#endif
