#pragma once
// The inputs the text replace is measured on, made the same way on every platform (a
// fixed-seed generator), and the peers that need no library beyond the standard one.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

struct Input {
  std::string name;         // A, A0, B, C, D, E1, E2
  std::string description;  // one line for the table
  std::string source;
  std::string find;
  std::string replacement;
  bool perCall;  // a small real call: reported in ns per call rather than GB/s
};

// Reader names as a PC/SC stack lists them: 10 to 40 bytes of letters, digits, spaces,
// punctuation and now and then a double-byte character, one NUL after each.
inline std::string ReaderName(std::mt19937& rng) {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 -()";
  const int length = std::uniform_int_distribution<int>(10, 40)(rng);
  std::string name;
  while (int(name.size()) < length) {
    if (std::uniform_int_distribution<int>(0, 15)(rng) == 0) {
      name += char(0xB0 + rng() % 0x40);  // a GB2312 lead and trail byte
      name += char(0xA1 + rng() % 0x5E);
    } else {
      name += kChars[rng() % (sizeof kChars - 1)];
    }
  }
  return name.substr(0, size_t(length));
}

// English-like text: common words, spaces, now and then punctuation and a line end.
inline std::string EnglishText(std::mt19937& rng, size_t length, std::string_view rare,
                               size_t rareEvery) {
  static const char* const kWords[] = {
      "the",    "of",   "and",   "to",     "in",     "is",       "that",   "for",     "it",
      "as",     "was",  "with",  "be",     "by",     "on",       "not",    "he",      "this",
      "are",    "or",   "his",   "from",   "at",     "which",    "but",    "have",    "an",
      "had",    "they", "you",   "were",   "their",  "one",      "all",    "we",      "can",
      "her",    "has",  "there", "been",   "if",     "more",     "when",   "will",    "would",
      "who",    "so",   "no",    "reader", "card",   "settings", "select", "connect", "name",
      "window", "text", "host",  "module", "dialog", "list",     "test",   "value",   "time"};
  std::string text;
  text.reserve(length + 64);
  size_t nextRare = rareEvery ? rareEvery / 2 : SIZE_MAX;
  while (text.size() < length) {
    if (text.size() >= nextRare) {
      text += rare;
      nextRare += rareEvery;
    } else {
      text += kWords[rng() % (sizeof kWords / sizeof kWords[0])];
    }
    const unsigned r = rng() % 20;
    text += r == 0 ? ", " : r == 1 ? ".\r\n" : " ";
  }
  text.resize(length);
  return text;
}

inline std::vector<Input> MakeInputs() {
  std::mt19937 rng(20261210);
  const size_t kMiB = size_t{1} << 20;
  std::vector<Input> inputs;
  const std::string nul(1, '\0');

  std::string list;
  while (list.size() < kMiB) list += ReaderName(rng) + nul;
  inputs.push_back({"A", "reader-list text, NUL -> CR LF", list, nul, "\r\n", false});

  // The real call: a 1024-byte list buffer with about 20 names and a zero tail, trimmed
  // as the dialog trims it (the trailing NUL goes with the tail).
  std::string buffer;
  for (int i = 0; i < 20; ++i) buffer += ReaderName(rng) + nul;
  buffer.resize(1024, '\0');
  const size_t end = buffer.find_last_not_of('\0') + 1;
  inputs.push_back({"A0", "one 1024-byte list buffer, trimmed, NUL -> CR LF", buffer.substr(0, end),
                    nul, "\r\n", true});

  inputs.push_back({"B", "English-like text, a rare 7-byte word -> 9 bytes",
                    EnglishText(rng, kMiB, "Quixote", 16 * 1024), "Quixote", "Rocinante", false});

  inputs.push_back({"C", "64 MiB, an 8-byte find text that never occurs",
                    EnglishText(rng, 64 * kMiB, "", 0), "xq7#Zk9!", "12345678", false});

  std::string dense(kMiB, ' ');
  for (char& c : dense) c = rng() % 4 == 0 ? '\0' : char('a' + rng() % 26);
  inputs.push_back(
      {"D", "deleting a dense one-byte find text (NUL, 1 in 4)", dense, nul, "", false});

  const std::string as(kMiB, 'a');
  inputs.push_back({"E1", "\"aaaa...a\", find \"baaaaaaa\"", as, "baaaaaaa", "XXXXXXXX", false});
  inputs.push_back({"E2", "\"aaaa...a\", find \"aaaaaaab\"", as, "aaaaaaab", "XXXXXXXX", false});
  return inputs;
}

// A memchr loop (one-byte find texts), as one would write it with the C library.
inline std::string MemchrReplace(std::string_view s, std::string_view f, std::string_view r) {
  std::string out;
  out.reserve(s.size());
  const char* p = s.data();
  const char* const end = p + s.size();
  while (const void* hit = std::memchr(p, f[0], size_t(end - p))) {
    const char* h = static_cast<const char*>(hit);
    out.append(p, h).append(r);
    p = h + 1;
  }
  return out.append(p, end);
}

// A loop over the standard library's Boyer-Moore-Horspool searcher.
inline std::string BmhReplace(std::string_view s, std::string_view f, std::string_view r) {
  std::string out;
  out.reserve(s.size());
  const std::boyer_moore_horspool_searcher searcher(f.begin(), f.end());
  auto p = s.begin();
  while (true) {
    const auto hit = std::search(p, s.end(), searcher);
    if (hit == s.end()) break;
    out.append(p, hit).append(r);
    p = hit + std::ptrdiff_t(f.size());
  }
  return out.append(p, s.end());
}

}  // namespace bench
