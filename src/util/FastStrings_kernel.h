#pragma once
// Inside FastStrings: the plan of one ReplaceAll call and the block kernel that carries it
// out. The kernel is one template over a block policy; FastStrings.cpp builds it with plain
// C++, FastStrings_sse2.cpp with SSE2 and FastStrings_avx2.cpp with AVX2. Everything with
// code here has internal linkage, so a build made for one instruction set never stands in
// for another at link time.
//
// How a block is done: for the W candidate start positions q..q+W-1, the source bytes
// under two chosen find positions are compared with the find bytes there (and with their
// case partners when folding); a start position survives only if both compare equal. A
// block without survivors is stored to the output as it is. Survivors are confirmed left
// to right against the whole find text; a confirmed one is an occurrence, and the bytes
// before it and the replacement are written, which gives leftmost, non-overlapping
// occurrences as a skip search finds them. The output holds at least the worst-case
// length plus kOutputSlack bytes, so stores may run up to one block past the bytes they
// mean to write; loads never leave the source.
#include <cstddef>
#include <cstdint>
#include <cstring>

// Output bytes beyond the worst-case length that a kernel may overwrite.
constexpr size_t kOutputSlack = 64;

struct TReplacePlan {
  const uint8_t* find;
  size_t findLength;
  const uint8_t* replacement;
  size_t replacementLength;
  const uint8_t* upper;  // UpperCaseMap, for the byte-wise compare when folding
  bool fold;             // some find byte has a case partner and the call folds
  bool twoPerClass;      // every find byte has at most one partner (the vector filters need it)
  size_t pos1, pos2;     // the find positions the filter looks at (pos2 only when findLength > 1)
  uint8_t byte1, alt1;   // bytes accepted at pos1 (alt1 == byte1 without a partner)
  uint8_t byte2, alt2;   // bytes accepted at pos2
  uint8_t head[16];      // the find text's first bytes, for the vector confirmation
  uint8_t headAlt[16];   // their case partners (the same byte without one)
  uint32_t headBits;     // one bit per byte of head in use
  uint8_t replacementHead[32];  // the replacement, when it fits, padded for block stores
};

// The three builds of the kernel. Each returns the result length written to out.
size_t ReplaceWithScalar(const TReplacePlan& plan, const uint8_t* source, size_t length,
                         uint8_t* out);
size_t ReplaceWithSse2(const TReplacePlan& plan, const uint8_t* source, size_t length,
                       uint8_t* out);
size_t ReplaceWithAvx2(const TReplacePlan& plan, const uint8_t* source, size_t length,
                       uint8_t* out);

// Called with the output block before a kernel writes a result of `length` bytes or more
// into it: lets the platform map large blocks cheaply (FastStrings_posix.cpp / _win.cpp).
void PrepareLargeOutput(void* block, size_t length);

namespace {

inline unsigned LowestBit(uint32_t mask) { return static_cast<unsigned>(__builtin_ctz(mask)); }

// Whether the source byte matches find byte k of the plan.
template <bool kFold>
inline bool SameByte(const TReplacePlan& p, uint8_t text, size_t k) {
  if (kFold) return p.upper[text] == p.upper[p.find[k]];
  return text == p.find[k];
}

template <bool kFold>
inline bool MatchesAt(const TReplacePlan& p, const uint8_t* at) {
  if (!kFold) return std::memcmp(at, p.find, p.findLength) == 0;
  for (size_t k = 0; k < p.findLength; ++k)
    if (!SameByte<true>(p, at[k], k)) return false;
  return true;
}

// The bytes the vector loop leaves, one candidate position at a time; also the whole
// job for sources too short for a block. pos is the next source byte not yet written.
template <bool kFold>
inline size_t ReplaceTail(const TReplacePlan& p, const uint8_t* s, size_t length, size_t pos,
                          uint8_t* out, size_t w) {
  const size_t F = p.findLength;
  const size_t R = p.replacementLength;
  for (size_t c = pos; c + F <= length;) {
    if (SameByte<kFold>(p, s[c + p.pos1], p.pos1) && MatchesAt<kFold>(p, s + c)) {
      std::memcpy(out + w, s + pos, c - pos);
      w += c - pos;
      std::memcpy(out + w, p.replacement, R);
      w += R;
      c += F;
      pos = c;
    } else {
      ++c;
    }
  }
  std::memcpy(out + w, s + pos, length - pos);
  return w + length - pos;
}

// Find texts up to this length have their last bytes done by blocks over a padded copy.
constexpr size_t kMaxPaddedFind = 64;

// V is the block policy: V::kWidth bytes per block, V(plan) prepares its constants,
// Candidates<kOne, kFold>(at) gives one bit per surviving start position at..at+W-1,
// Confirm<kFold>(at) checks the whole find text at a survivor, Copy(dst, src) moves one
// block; with kCompress, CopyWithout(dst, at, drop) writes the block's bytes whose bits are
// clear in drop, packed, and returns their number.
template <class V, bool kOne, bool kFold>
size_t ReplaceBlocks(const TReplacePlan& p, const uint8_t* s, size_t length, uint8_t* out) {
  constexpr size_t W = V::kWidth;
  const V v(p);
  const size_t F = p.findLength;
  const size_t R = p.replacementLength;
  size_t w = 0;  // bytes written

  // The block at q of buffer b (every byte before q done) with its survivors in mask:
  // writes up to the block's end or the end of its last occurrence, returns where the
  // next block starts. Reads reach at most 2W + F - 1 bytes past q.
  const auto block = [&](const uint8_t* b, size_t q, uint32_t mask) {
    size_t pos = q;  // next byte not yet written
    do {
      const size_t c = q + LowestBit(mask);
      mask &= mask - 1;
      if (!kOne && (c < pos || !v.template Confirm<kFold>(b + c))) continue;
      V::Copy(out + w, b + pos);  // c - pos < W bytes
      w += c - pos;
      if (R <= W) {
        V::Copy(out + w, p.replacementHead);
      } else {
        for (size_t i = 0; i + W < R; i += W) V::Copy(out + w + i, p.replacement + i);
        V::Copy(out + w + R - W, p.replacement + R - W);
      }
      w += R;
      pos = c + F;
    } while (mask != 0);
    if (pos >= q + W) return pos;  // the last occurrence ran past the block
    V::Copy(out + w, b + pos);
    w += q + W - pos;
    return q + W;
  };

  size_t q = 0;  // every source byte before q is done
  if (length >= 2 * W + F) {
    const size_t last = length - 2 * W - F;
    while (q <= last) {
      const uint32_t mask = v.template Candidates<kOne, kFold>(s + q);
      if (mask != 0) {
        if constexpr (kOne && V::kCompress) {
          if (R == 0) {  // deleting one byte value: pack the block's other bytes
            w += V::CopyWithout(out + w, s + q, mask);
            q += W;
            continue;
          }
        }
        q = block(s, q, mask);
        continue;
      }
      V::Copy(out + w, s + q);
      w += W;
      q += W;
    }
  }
  if (F > kMaxPaddedFind) return ReplaceTail<kFold>(p, s, length, q, out, w);

  // The last bytes (fewer than 2W + F) go through the same blocks over a zero-padded copy;
  // survivors that would run past the real end are dropped, and what the blocks write
  // beyond it is taken back.
  uint8_t pad[4 * W + 2 * kMaxPaddedFind] = {};
  const size_t rest = length - q;
  size_t i = 0;
  for (; i + W <= rest; i += W) V::Copy(pad + i, s + q + i);
  for (; i < rest; ++i) pad[i] = s[q + i];
  size_t t = 0;
  const size_t starts = rest >= F ? rest - F + 1 : 0;  // start positions with room for F
  while (t < starts) {
    uint32_t mask = v.template Candidates<kOne, kFold>(pad + t);
    if (starts - t < W) mask &= (uint32_t{1} << (starts - t)) - 1;
    if (mask != 0) {
      t = block(pad, t, mask);
      continue;
    }
    V::Copy(out + w, pad + t);
    w += W;
    t += W;
  }
  if (t >= rest) return w - (t - rest);
  for (; t + W < rest; t += W, w += W) V::Copy(out + w, pad + t);
  V::Copy(out + w, pad + t);
  return w + rest - t;
}

template <class V>
size_t ReplaceWith(const TReplacePlan& p, const uint8_t* s, size_t length, uint8_t* out) {
  const bool one = p.findLength == 1;
  if (p.fold) {
    return one ? ReplaceBlocks<V, true, true>(p, s, length, out)
               : ReplaceBlocks<V, false, true>(p, s, length, out);
  }
  return one ? ReplaceBlocks<V, true, false>(p, s, length, out)
             : ReplaceBlocks<V, false, false>(p, s, length, out);
}

}  // namespace
