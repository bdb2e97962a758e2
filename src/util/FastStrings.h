#pragma once
// FastStrings: replace every occurrence of a find text in an 8-bit text, in one
// left-to-right pass.
//
//   ReplaceAll(std::string("a\0b\0", 4), std::string(1, '\0'), "\r\n", false) == "a\r\nb\r\n"
//
// Texts are bytes in the system code page. Occurrences do not overlap: the leftmost one
// is replaced, the search resumes at the byte after it, and the result is not rescanned.
// The case-insensitive search compares bytes through UpperCaseMap, so bytes from 128
// up match across cases only as the platform's upper-casing of the code page allows.
// The result is byte for byte the one of a Boyer-Moore-Horspool skip search (SkipFind,
// SkipFindNoCase below); ReplaceAll itself finds occurrences with a block filter on two
// bytes of the find text and confirms each candidate (see docs/performance.md).
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The platform's upper-case form of each byte value, built on the first use (never while
// the library is being loaded) and read-only afterwards. Indexed like the table itself:
//
//   UpperCaseMap['a'] == 'A';  const std::array<uint8_t, 256>& all = UpperCaseMap();
struct TUpperCaseMap {
  const std::array<uint8_t, 256>& operator()() const;
  uint8_t operator[](size_t byte) const { return (*this)()[byte]; }
};
inline constexpr TUpperCaseMap UpperCaseMap{};

// Distance the search window moves, by the text byte under the pattern's last position.
using TSkipTable = std::array<int32_t, 256>;

// Fill the table for a pattern; raise Exception("BufferLen is 0") when length is 0.
void BuildSkipTable(const char* pattern, int32_t length, TSkipTable& table);
void BuildSkipTableNoCase(const char* pattern, int32_t length, TSkipTable& table);

// Leftmost occurrence of the pattern in the text, or nullptr. The table must have been
// built for that pattern by the matching builder.
const char* SkipFind(const char* text, const char* pattern, int32_t textLength,
                     int32_t patternLength, const TSkipTable& table);
const char* SkipFindNoCase(const char* text, const char* pattern, int32_t textLength,
                           int32_t patternLength, const TSkipTable& table);

// A new text with every non-overlapping occurrence of find replaced by replacement;
// source is not changed. An empty find text returns the source unchanged.
std::string ReplaceAll(std::string_view source, std::string_view find, std::string_view replacement,
                       bool caseSensitive);

// The block kernels ReplaceAll chooses from, once, by what the processor has: the same
// filter and confirmation in plain C++ (kScalar), with SSE2 (16-byte blocks) and with AVX2
// (32-byte blocks). Exposed so that tests run every kernel on the same cases.
enum class TReplaceKernel { kScalar, kSse2, kAvx2 };

// Whether this build and this processor can run the kernel.
bool ReplaceKernelAvailable(TReplaceKernel kernel);

// ReplaceAll through the given kernel (which must be available); the same results.
std::string ReplaceAllWith(TReplaceKernel kernel, std::string_view source, std::string_view find,
                           std::string_view replacement, bool caseSensitive);
