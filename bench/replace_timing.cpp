// A plain timing program for the text replace, for builds without Google Benchmark (the
// 32-bit Windows build, run under Wine): the inputs of BenchInputs.h, ours in both modes,
// the standard-library peers, a new string holding a copy of the source (what any
// function returning a new text pays at least) and memcpy into a buffer made beforehand. Prints one
// line per measurement:
//   input<TAB>implementation<TAB>bytes per second<TAB>ns per call
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "BenchInputs.h"
#include "util/FastStrings.h"

namespace {

// Elapsed time. (The process clock under Wine advances in steps of tens of milliseconds
// and misses short stretches, so it cannot be used here; interference from other programs
// only adds time, so the least of several runs is taken.)
double Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

volatile size_t gSink;

// Seconds per call of fn: the least of five runs of at least 50 ms each.
template <typename Fn>
double SecondsPerCall(Fn&& fn) {
  size_t calls = 1;
  double best = 1e30;
  for (int run = 0; run < 5; ++run) {
    while (true) {
      const double start = Now();
      for (size_t i = 0; i < calls; ++i) gSink = gSink + fn();
      const double took = Now() - start;
      if (took >= 0.05) {
        best = std::min(best, took / double(calls));
        break;
      }
      calls = took < 0.005 ? calls * 10 : calls * 2;
    }
  }
  return best;
}

void Report(const bench::Input& in, const char* impl, double seconds) {
  std::printf("%s\t%s\t%.6g\t%.6g\n", in.name.c_str(), impl, double(in.source.size()) / seconds,
              seconds * 1e9);
  std::fflush(stdout);
}

}  // namespace

int main() {
  const std::vector<bench::Input> inputs = bench::MakeInputs();
  std::printf("# kernel\t%s\n", ReplaceKernelAvailable(TReplaceKernel::kAvx2) ? "avx2" : "sse2");
  for (const bench::Input& in : inputs) {
    const std::string ours = ReplaceAll(in.source, in.find, in.replacement, true);
    const std::string peer = in.find.size() == 1
                                 ? bench::MemchrReplace(in.source, in.find, in.replacement)
                                 : bench::BmhReplace(in.source, in.find, in.replacement);
    if (peer != ours || ReplaceAll(in.source, in.find, in.replacement, false) != ours) {
      std::fprintf(stderr, "replace_timing: results differ on input %s\n", in.name.c_str());
      return 1;
    }
    Report(in, "ours", SecondsPerCall([&] {
             return ReplaceAll(in.source, in.find, in.replacement, true).size();
           }));
    Report(in, "ours-nocase", SecondsPerCall([&] {
             return ReplaceAll(in.source, in.find, in.replacement, false).size();
           }));
    Report(in, "std-bmh", SecondsPerCall([&] {
             return bench::BmhReplace(in.source, in.find, in.replacement).size();
           }));
    if (in.find.size() == 1)
      Report(in, "memchr-loop", SecondsPerCall([&] {
               return bench::MemchrReplace(in.source, in.find, in.replacement).size();
             }));
    Report(in, "string-copy", SecondsPerCall([&] { return std::string(in.source).size(); }));
    std::unique_ptr<char[]> target(new char[in.source.size()]);
    Report(in, "memcpy", SecondsPerCall([&] {
             std::memcpy(target.get(), in.source.data(), in.source.size());
             return size_t(target[in.source.size() / 2]);
           }));
  }
  return 0;
}
