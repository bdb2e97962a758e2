#include "util/FastStrings.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/Exception.h"

namespace {

using namespace std::string_literals;

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

TEST(ReplaceAll, LongSourceWithManyOccurrences) {
  // Every byte an occurrence and a long replacement: the result is exactly S x R bytes.
  const std::string source(100000, '\0');
  const std::string replacement = "0123456789";
  const std::string got = ReplaceAll(source, "\0"s, replacement, false);
  ASSERT_EQ(got.size(), source.size() * replacement.size());
  EXPECT_EQ(got.substr(got.size() - 10), replacement);
}

}  // namespace
