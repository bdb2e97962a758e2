// The SSE2 build of the ReplaceAll kernel: 16-byte blocks. Compiled with SSE2 enabled
// (every x86 processor the module runs on has it, the 32-bit ones included).
#include "util/FastStrings_kernel.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace {

inline __m128i Load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

struct TSse2Block {
  static constexpr size_t kWidth = 16;
  static constexpr bool kCompress = false;  // packing bytes needs SSSE3's byte shuffle
  const TReplacePlan& p;
  const size_t pos1, pos2;
  const __m128i byte1, alt1, byte2, alt2, head, headAlt;

  explicit TSse2Block(const TReplacePlan& plan)
      : p(plan),
        pos1(plan.pos1),
        pos2(plan.pos2),
        byte1(_mm_set1_epi8(static_cast<char>(plan.byte1))),
        alt1(_mm_set1_epi8(static_cast<char>(plan.alt1))),
        byte2(_mm_set1_epi8(static_cast<char>(plan.byte2))),
        alt2(_mm_set1_epi8(static_cast<char>(plan.alt2))),
        head(Load(plan.head)),
        headAlt(Load(plan.headAlt)) {}

  template <bool kOne, bool kFold>
  uint32_t Candidates(const uint8_t* at) const {
    const __m128i x = Load(at + pos1);
    __m128i m = _mm_cmpeq_epi8(x, byte1);
    if (kFold) m = _mm_or_si128(m, _mm_cmpeq_epi8(x, alt1));
    if (!kOne) {
      const __m128i y = Load(at + pos2);
      __m128i m2 = _mm_cmpeq_epi8(y, byte2);
      if (kFold) m2 = _mm_or_si128(m2, _mm_cmpeq_epi8(y, alt2));
      m = _mm_and_si128(m, m2);
    }
    return static_cast<uint32_t>(_mm_movemask_epi8(m));
  }

  // The first 16 find bytes in one compare; any further ones byte by byte.
  template <bool kFold>
  bool Confirm(const uint8_t* at) const {
    const __m128i x = Load(at);
    __m128i m = _mm_cmpeq_epi8(x, head);
    if (kFold) m = _mm_or_si128(m, _mm_cmpeq_epi8(x, headAlt));
    if ((static_cast<uint32_t>(_mm_movemask_epi8(m)) & p.headBits) != p.headBits) return false;
    if (p.findLength <= 16) return true;
    if (!kFold) return std::memcmp(at + 16, p.find + 16, p.findLength - 16) == 0;
    for (size_t k = 16; k < p.findLength; ++k)
      if (!SameByte<true>(p, at[k], k)) return false;
    return true;
  }

  static void Copy(uint8_t* dst, const uint8_t* src) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), Load(src));
  }
};

}  // namespace

size_t ReplaceWithSse2(const TReplacePlan& plan, const uint8_t* source, size_t length,
                       uint8_t* out) {
  return ReplaceWith<TSse2Block>(plan, source, length, out);
}

#else

size_t ReplaceWithSse2(const TReplacePlan& plan, const uint8_t* source, size_t length,
                       uint8_t* out) {
  return ReplaceWithScalar(plan, source, length, out);
}

#endif
