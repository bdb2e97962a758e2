#include "util/FastStrings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/Exception.h"

namespace {

using namespace std::string_literals;

struct Kernel {
  const char* name;
  TReplaceKernel kernel;
};

// Every kernel this build and processor can run: each one is held to the same results.
std::vector<Kernel> AvailableKernels() {
  std::vector<Kernel> all;
  for (const Kernel& k :
       {Kernel{"scalar", TReplaceKernel::kScalar}, Kernel{"sse2", TReplaceKernel::kSse2},
        Kernel{"avx2", TReplaceKernel::kAvx2}})
    if (ReplaceKernelAvailable(k.kernel)) all.push_back(k);
  return all;
}

struct Case {
  const char* name;
  std::string source, find, replacement;
  bool caseSensitive;
  std::string want;
};

TEST(ReplaceAll, Cases) {
  const Case cases[] = {
      {"empty source", "", "a", "bc", true, ""},
      {"empty source, empty find", "", "", "x", false, ""},
      {"no occurrence copies the source", "hello", "xyz", "Q", true, "hello"},
      {"reader names to lines", "Reader A\0Reader B\0"s, "\0"s, "\r\n", false,
       "Reader A\r\nReader B\r\n"},
      {"occurrences do not overlap", "aaa", "aa", "b", true, "ba"},
      {"empty replacement deletes", "xaxbxx", "x", "", true, "ab"},
      {"deleting everything", "aaaa", "a", "", false, ""},
      {"case-insensitive matches every case", "ab AB Ab aB", "ab", "-", false, "- - - -"},
      {"case-sensitive matches exact case only", "ab AB Ab aB", "ab", "-", true, "- AB Ab aB"},
      {"find longer than source", "ab", "abc", "z", false, "ab"},
      {"every byte an occurrence, longer replacement", "\0\0\0\0"s, "\0"s, "xyz", true,
       "xyzxyzxyzxyz"},
      {"tail shorter than find copied", "abcab", "abc", "", true, "ab"},
      {"multi-byte find at both ends", "读卡器A读卡器", "读卡器", "R", true, "RAR"},
      {"bytes from 128 up are not folded", "\xB6\xC1\xD6\xC3", "\xB6\xC1", "!", false, "!\xD6\xC3"},
      {"high byte does not match its ASCII fold", "\xE1\xC1", "\xC1", "x", false, "\xE1x"},
      {"empty find returns the source", "abc", "", "x", false, "abc"},
      {"replacement shorter than find", "abcabc", "bc", "Z", true, "aZaZ"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReplaceAll(c.source, c.find, c.replacement, c.caseSensitive), c.want);
    for (const Kernel& k : AvailableKernels()) {
      SCOPED_TRACE(k.name);
      EXPECT_EQ(ReplaceAllWith(k.kernel, c.source, c.find, c.replacement, c.caseSensitive), c.want);
    }
  }
}

TEST(UpperCaseMap, FoldsOnlyTheAsciiLettersUnderCodePage936) {
  // The same on both builds: Windows' CharUpperBuffA under code page 936 and the
  // portable table must agree.
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    const int want = (b >= 'a' && b <= 'z') ? b - 'a' + 'A' : b;
    EXPECT_EQ(UpperCaseMap[b], want);
  }
}

TEST(SkipTable, EmptyPatternRaisesBufferLenIsZero) {
  TSkipTable table;
  for (auto build : {BuildSkipTable, BuildSkipTableNoCase}) {
    try {
      build("x", 0, table);
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "BufferLen is 0");
    }
  }
}

TEST(SkipTable, DistancesFromThePatternEnd) {
  TSkipTable table;
  BuildSkipTable("abca", 4, table);
  EXPECT_EQ(table['a'], 3);  // only the first 'a' counts: the last byte is not entered
  EXPECT_EQ(table['b'], 2);
  EXPECT_EQ(table['c'], 1);
  EXPECT_EQ(table['z'], 4);
  EXPECT_EQ(table[0xFF], 4);

  BuildSkipTableNoCase("aBc", 3, table);
  EXPECT_EQ(table['A'], 2);
  EXPECT_EQ(table['B'], 1);
  EXPECT_EQ(table['a'], 3);
}

TEST(SkipFind, LeftmostOccurrenceOrNull) {
  const std::string text = "xxABxab\xB6\xC1";
  TSkipTable table;
  BuildSkipTable("ab", 2, table);
  EXPECT_EQ(SkipFind(text.data(), "ab", 9, 2, table), text.data() + 5);
  EXPECT_EQ(SkipFind(text.data(), "ab", 6, 2, table), nullptr);  // text cut before the match
  BuildSkipTableNoCase("ab", 2, table);
  EXPECT_EQ(SkipFindNoCase(text.data(), "ab", 9, 2, table), text.data() + 2);
  BuildSkipTable("\xB6\xC1", 2, table);
  EXPECT_EQ(SkipFind(text.data(), "\xB6\xC1", 9, 2, table), text.data() + 7);
}

// Plain left-to-right search and replace: the reference the skip search must match.
std::string ReferenceReplace(const std::string& s, const std::string& f, const std::string& r,
                             bool caseSensitive) {
  if (f.empty()) return s;
  auto fold = [&](char c) {
    return caseSensitive ? static_cast<unsigned char>(c)
                         : UpperCaseMap[static_cast<unsigned char>(c)];
  };
  std::string out;
  size_t i = 0;
  while (i + f.size() <= s.size()) {
    size_t k = 0;
    while (k < f.size() && fold(s[i + k]) == fold(f[k])) ++k;
    if (k == f.size()) {
      out += r;
      i += f.size();
    } else {
      out += s[i++];
    }
  }
  return out + s.substr(i);
}

TEST(ReplaceAll, MatchesPlainReplaceOnRandomInputs) {
  // A small alphabet so that occurrences are frequent, with NUL, both cases and bytes
  // 0x80-0xFF, which catch signed-char indexing faults.
  const std::string alphabet = "aAbB\0\xB6\xC1\xFF"s;
  std::mt19937 rng(20261210);
  auto randomText = [&](int maxLength) {
    std::string t(std::uniform_int_distribution<int>(0, maxLength)(rng), ' ');
    for (char& c : t)
      c = alphabet[std::uniform_int_distribution<size_t>(0, alphabet.size() - 1)(rng)];
    return t;
  };
  for (int round = 0; round < 20000; ++round) {
    const std::string source = randomText(24);
    const std::string find = randomText(4);
    const std::string replacement = randomText(5);
    const bool caseSensitive = round % 2 == 0;
    const std::string got = ReplaceAll(source, find, replacement, caseSensitive);
    const std::string want = ReferenceReplace(source, find, replacement, caseSensitive);
    if (got != want) {
      ADD_FAILURE() << "round " << round << " caseSensitive=" << caseSensitive << " source size "
                    << source.size() << " find size " << find.size();
      break;
    }
  }
}

// The replace loop over the skip search, as ReplaceAll's results are defined: search the
// rest of the source, copy up to the occurrence, the replacement, resume after it.
std::string SkipSearchReplace(const std::string& s, const std::string& f, const std::string& r,
                              bool caseSensitive) {
  if (s.empty() || f.empty()) return s;
  TSkipTable table;
  (caseSensitive ? BuildSkipTable : BuildSkipTableNoCase)(f.data(), int32_t(f.size()), table);
  const auto search = caseSensitive ? SkipFind : SkipFindNoCase;
  std::string out;
  size_t read = 0;
  while (const char* hit = search(s.data() + read, f.data(), int32_t(s.size() - read),
                                  int32_t(f.size()), table)) {
    const size_t at = size_t(hit - s.data());
    out.append(s, read, at - read).append(r);
    read = at + f.size();
  }
  return out + s.substr(read);
}

// A byte's case partner under UpperCaseMap, or the byte itself.
char OtherCase(char c) {
  for (int b = 0; b < 256; ++b)
    if (char(b) != c && UpperCaseMap[uint8_t(b)] == UpperCaseMap[uint8_t(c)]) return char(b);
  return c;
}

// A copy of a text in a heap block of exactly its length.
struct ExactBlock {
  std::unique_ptr<char[]> bytes;
  std::string_view view;
  explicit ExactBlock(const std::string& text)
      : bytes(new char[text.size()]), view(bytes.get(), text.size()) {
    std::copy(text.begin(), text.end(), bytes.get());
  }
};

// Checks every kernel, ReplaceAll and the skip-search loop against the plain reference;
// returns false (after reporting) at the first difference.
bool AllAgree(const std::string& source, const std::string& find, const std::string& replacement,
              bool caseSensitive) {
  const std::string want = ReferenceReplace(source, find, replacement, caseSensitive);
  auto differs = [&](const char* who, const std::string& got) {
    if (got == want) return false;
    ADD_FAILURE() << who << " differs; caseSensitive=" << caseSensitive << " source size "
                  << source.size() << " find size " << find.size() << " replacement size "
                  << replacement.size();
    return true;
  };
  // The kernels see the texts in heap blocks of exactly their length, so that the address
  // sanitizer reports a read past any of them.
  const ExactBlock s(source), f(find), r(replacement);
  if (differs("skip search", SkipSearchReplace(source, find, replacement, caseSensitive)) ||
      differs("ReplaceAll", ReplaceAll(s.view, f.view, r.view, caseSensitive)))
    return false;
  for (const Kernel& k : AvailableKernels())
    if (differs(k.name, ReplaceAllWith(k.kernel, s.view, f.view, r.view, caseSensitive)))
      return false;
  return true;
}

TEST(ReplaceAll, EveryKernelMatchesPlainReplaceOnLongRandomInputs) {
  // Sources long enough for several 16- and 32-byte blocks and the byte-wise tail; find
  // texts of every length from 1 to past the block width; occurrences planted at random
  // places (so some straddle block ends and some end the source), in the other case when
  // folding, and near misses; replacements shorter and longer than a block. NUL and bytes 0x80-0xFF
  // are in the alphabet; 'a' and 'A' fold together, the others only to themselves.
  const std::string alphabet = "aAbB\0\xB6\xC1\xFF\x80"s;
  std::mt19937 rng(20261211);
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  auto randomText = [&](int length) {
    std::string t(size_t(length), ' ');
    for (char& c : t) c = alphabet[size_t(pick(int(alphabet.size())))];
    return t;
  };
  for (int round = 0; round < 6000; ++round) {
    const int findLength = 1 + round % 40;
    const bool caseSensitive = (round / 40) % 2 == 0;
    const std::string find = randomText(findLength);
    std::string source;
    const int sourceLength = pick(300);
    while (int(source.size()) < sourceLength) {
      if (pick(3) == 0) {
        std::string copy = find;
        if (!caseSensitive)
          for (char& c : copy)
            if (pick(2) == 0) c = OtherCase(c);
        source += copy;
      } else if (pick(3) == 0) {
        // A near miss: the find text with one byte changed, which only a full
        // confirmation rejects.
        std::string copy = find;
        char& changed = copy[size_t(pick(findLength))];
        const char was = changed;
        while (UpperCaseMap[uint8_t(changed)] == UpperCaseMap[uint8_t(was)])
          changed = alphabet[size_t(pick(int(alphabet.size())))];
        source += copy;
      } else {
        source += randomText(1 + pick(40));
      }
    }
    if (pick(4) == 0) source += find;  // an occurrence in the last bytes
    const std::string replacement = randomText(pick(4) == 0 ? pick(80) : pick(6));
    if (!AllAgree(source, find, replacement, caseSensitive)) {
      ADD_FAILURE() << "round " << round;
      break;
    }
  }
}

TEST(ReplaceAll, OccurrencesAtEveryOffset) {
  // One occurrence, then two back to back, at every start position of a source made of
  // bytes the find text does not contain: every place relative to block ends and to the
  // end of the source, for every find length to past the widest block.
  const std::string findBytes = "aB\0\x80\xFF"s;
  const std::string filler = "xyz\xC1\x81"s;
  for (size_t findLength = 1; findLength <= 40; ++findLength) {
    std::string find;
    for (size_t k = 0; k < findLength; ++k) find += findBytes[(k * 7 + findLength) % 5];
    for (size_t length : {findLength, size_t{64} + findLength, size_t{150}}) {
      for (size_t at = 0; at + findLength <= length; ++at) {
        for (int copies = 1; copies <= 2; ++copies) {
          std::string source;
          for (size_t i = 0; i < length; ++i) source += filler[i % filler.size()];
          for (int n = 0; n < copies; ++n)
            if (at + (n + 1) * findLength <= length)
              source.replace(at + n * findLength, findLength, find);
          for (bool caseSensitive : {true, false}) {
            if (!AllAgree(source, find, "<>", caseSensitive)) {
              ADD_FAILURE() << "find length " << findLength << " at " << at << " copies " << copies;
              return;
            }
          }
        }
      }
    }
  }
}

TEST(ReplaceAll, FindTextCutOffByTheSourceEnd) {
  // The source ends with the find text minus its last bytes, which are NUL: nothing past
  // the end of the source (where a kernel may hold zero padding) may complete it. Every
  // source length, so the cut falls at every place in a block.
  const struct {
    const char* name;
    std::string find;
  } finds[] = {
      {"one NUL after a letter", "a\0"s},
      {"two NULs", "aB\0\0"s},
      {"NULs after a high byte", "\xB6\0\0\0"s},
      {"a long text ending in NULs", std::string(30, 'x') + "\xC1" + std::string(9, '\0')},
  };
  for (const auto& f : finds) {
    SCOPED_TRACE(f.name);
    const size_t nonNul = f.find.find_last_not_of('\0') + 1;
    for (size_t length = nonNul; length <= 160; ++length) {
      std::string source(length - nonNul, 'z');
      source += f.find.substr(0, nonNul);
      for (bool caseSensitive : {true, false}) {
        if (!AllAgree(source, f.find, "#", caseSensitive)) {
          ADD_FAILURE() << "source length " << length;
          return;
        }
      }
    }
  }
}

TEST(ReplaceAll, DeletingADenseByte) {
  // One byte value deleted from sources where it is every other byte or more: blocks with
  // any pattern of occurrences, in both modes ('a' also deletes 'A' when folding).
  std::mt19937 rng(20261212);
  for (int round = 0; round < 600; ++round) {
    const std::string find = round % 3 == 0 ? "\0"s : round % 3 == 1 ? "a" : "\xB6";
    std::string source(size_t(rng() % 300), ' ');
    for (char& c : source) {
      const unsigned r = rng() % 8;
      c = r < 4 ? find[0] : r == 4 ? 'A' : r == 5 ? '\xC1' : char('b' + r);
    }
    if (!AllAgree(source, find, "", round % 2 == 0)) {
      ADD_FAILURE() << "round " << round;
      break;
    }
  }
}

TEST(ReplaceAll, LargeResultsThroughEveryKernel) {
  // Results of several MiB, where the output block is prepared for large writes: sparse
  // occurrences of a 7-byte text replaced by 9 bytes, both modes.
  std::string source(6 << 20, 'x');
  for (size_t at = 12345; at + 7 <= source.size(); at += 777777) source.replace(at, 7, "QuiXote");
  for (bool caseSensitive : {true, false}) {
    SCOPED_TRACE(caseSensitive);
    const std::string want = ReferenceReplace(source, "quixote", "Rocinante", caseSensitive);
    for (const Kernel& k : AvailableKernels()) {
      SCOPED_TRACE(k.name);
      EXPECT_EQ(ReplaceAllWith(k.kernel, source, "quixote", "Rocinante", caseSensitive), want);
    }
  }
}

TEST(ReplaceAll, WorstCaseBeyondTwoGigabytesIsNotNeeded) {
  // A source of 3000 bytes with two occurrences of a one-byte find text and a replacement
  // of a million bytes: the worst case (3 GB) is never reserved, the result is exact.
  std::string source(3000, 'x');
  source[10] = source[2999] = '\0';
  const std::string replacement(1000000, 'r');
  const std::string got = ReplaceAll(source, "\0"s, replacement, false);
  ASSERT_EQ(got.size(), source.size() - 2 + 2 * replacement.size());
  EXPECT_EQ(got, ReferenceReplace(source, "\0"s, replacement, false));
}

TEST(ReplaceAll, LongSourceWithManyOccurrences) {
  // Every byte an occurrence and a long replacement: the result is exactly S x R bytes.
  const std::string source(100000, '\0');
  const std::string replacement = "0123456789";
  const std::string got = ReplaceAll(source, "\0"s, replacement, false);
  ASSERT_EQ(got.size(), source.size() * replacement.size());
  EXPECT_EQ(got.substr(got.size() - 10), replacement);
}

}  // namespace
