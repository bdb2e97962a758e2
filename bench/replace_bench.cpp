// ReplaceAll next to the replacements a C++ programmer would pick instead, on the inputs
// of BenchInputs.h, with memcpy of the same bytes into a buffer made beforehand as the
// ceiling. Every peer's output is
// first checked against ours byte for byte. Run by scripts/bench in a Release build.
#include <absl/strings/str_replace.h>
#include <benchmark/benchmark.h>

#include <boost/algorithm/string/replace.hpp>
#include <cstdio>
#include <cstring>
#include <locale>
#include <memory>

#include "BenchInputs.h"
#include "util/FastStrings.h"

namespace {

using Fn = std::function<std::string(const bench::Input&)>;

struct Impl {
  const char* name;
  bool caseSensitive;  // compared with ours in this mode
  Fn run;
  bool (*applies)(const bench::Input&);
};

bool Always(const bench::Input&) { return true; }
bool OneByte(const bench::Input& in) { return in.find.size() == 1; }
bool Longer(const bench::Input& in) { return in.find.size() > 1; }

std::string MemmemReplace(std::string_view s, std::string_view f, std::string_view r) {
  std::string out;
  out.reserve(s.size());
  const char* p = s.data();
  const char* const end = p + s.size();
  while (const void* hit = memmem(p, size_t(end - p), f.data(), f.size())) {
    const char* h = static_cast<const char*>(hit);
    out.append(p, h).append(r);
    p = h + f.size();
  }
  return out.append(p, end);
}

const std::vector<Impl>& Impls() {
  static const std::vector<Impl> impls = {
      {"ours", true,
       [](const bench::Input& in) { return ReplaceAll(in.source, in.find, in.replacement, true); },
       Always},
      {"ours-nocase", false,
       [](const bench::Input& in) { return ReplaceAll(in.source, in.find, in.replacement, false); },
       Always},
      {"absl", true,
       [](const bench::Input& in) {
         return absl::StrReplaceAll(in.source, {{in.find, in.replacement}});
       },
       Always},
      {"boost", true,
       [](const bench::Input& in) {
         return boost::algorithm::replace_all_copy(in.source, in.find, in.replacement);
       },
       Always},
      {"boost-nocase", false,
       [](const bench::Input& in) {
         return boost::algorithm::ireplace_all_copy(in.source, in.find, in.replacement,
                                                    std::locale::classic());
       },
       Always},
      {"std-bmh", true,
       [](const bench::Input& in) { return bench::BmhReplace(in.source, in.find, in.replacement); },
       Always},
      {"memchr-loop", true,
       [](const bench::Input& in) {
         return bench::MemchrReplace(in.source, in.find, in.replacement);
       },
       OneByte},
      {"memmem-loop", true,
       [](const bench::Input& in) { return MemmemReplace(in.source, in.find, in.replacement); },
       Longer},
  };
  return impls;
}

}  // namespace

int main(int argc, char** argv) {
  static const std::vector<bench::Input> inputs = bench::MakeInputs();
  // On the 64 MiB input every implementation runs a fixed 16 times, the boost ones (which
  // take seconds there) once.
  for (const bench::Input& in : inputs) {
    const std::string ours = ReplaceAll(in.source, in.find, in.replacement, true);
    const std::string oursNoCase = ReplaceAll(in.source, in.find, in.replacement, false);
    for (const Impl& impl : Impls()) {
      if (!impl.applies(in)) continue;
      if (impl.run(in) != (impl.caseSensitive ? ours : oursNoCase)) {
        std::fprintf(stderr, "replace_bench: %s differs from ours on input %s\n", impl.name,
                     in.name.c_str());
        return 1;
      }
      auto* b = benchmark::RegisterBenchmark(
          (in.name + "/" + impl.name).c_str(), [&in, &impl](benchmark::State& state) {
            for (auto _ : state) benchmark::DoNotOptimize(impl.run(in));
            state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.source.size()));
          });
      if (in.source.size() > (size_t{8} << 20))
        b->Iterations(std::string(impl.name).find("boost") == 0 ? 1 : 16);
    }
    // A new string holding a copy of the source: what any replacement that returns a new
    // text pays at least (the allocation, and the first touch of its pages).
    auto* fresh = benchmark::RegisterBenchmark(
        (in.name + "/string-copy").c_str(), [&in](benchmark::State& state) {
          for (auto _ : state) benchmark::DoNotOptimize(std::string(in.source));
          state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.source.size()));
        });
    if (in.source.size() > (size_t{8} << 20)) fresh->Iterations(16);
    auto* copy =
        benchmark::RegisterBenchmark((in.name + "/memcpy").c_str(), [&in](benchmark::State& state) {
          std::unique_ptr<char[]> target(new char[in.source.size()]);
          for (auto _ : state) {
            std::memcpy(target.get(), in.source.data(), in.source.size());
            benchmark::ClobberMemory();
          }
          state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.source.size()));
        });
    if (in.source.size() > (size_t{8} << 20)) copy->Iterations(16);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
