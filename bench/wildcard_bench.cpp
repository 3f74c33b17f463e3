// Wildcard matching beside glibc fnmatch: HVDPWildMatch and HVDPMatchName
// (locale, UTF-8 and wide name spaces, with and without case folding) on
// typical patterns over a list of ordinary file names, in a UTF-8 server
// locale; and, in absolute time, the patterns that would take exponential
// time in a naive backtracking matcher.
#include <benchmark/benchmark.h>
#include <fnmatch.h>

#include <clocale>
#include <cstdlib>
#include <string>
#include <vector>

#include "dpxut.h"

namespace {

const std::vector<std::string>& Names() {
  static const std::vector<std::string> names = {
      "report.txt",        "IMG_2043.JPG",          "main.cpp",         "libdpxut.so.0.1.0",
      "README",            ".bashrc",               "archive.tar.gz",   "notes-2023-10-01.txt",
      "abc.txt",           "a1c",                   "Makefile",         "setup.py",
      "index.html",        "style.min.css",         "photo (1).png",    "budget_2024.xlsx",
      "thesis-final-v3.docx", "core.12345",         "abcdef",           "data.csv",
      "vmlinuz-6.1.0-13-amd64", "changelog.Debian.gz", "a.out",          "id_rsa.pub",
      "Thumbs.db",         "backup.2024-01-15.tar", "summary.txt",      "axc.log",
  };
  return names;
}

void UseUtf8Server() {
  static const bool ready = [] {
    setenv("LOCPATH", DPXUT_BENCH_LOCPATH, 1);
    if (std::setlocale(LC_CTYPE, "en_US.UTF-8") == nullptr) std::abort();
    if (DPInitUniLibrary("UTF-8") != 0) std::abort();
    return true;
  }();
  (void)ready;
}

const char* const kPatterns[] = {"*.txt", "a?c*", "*"};

void SetLabel(benchmark::State& state) { state.SetLabel(kPatterns[state.range(0)]); }

void BM_WildMatch(benchmark::State& state) {
  UseUtf8Server();
  const char* pattern = kPatterns[state.range(0)];
  int hits = 0;
  for (auto _ : state) {
    for (const auto& n : Names()) hits += HVDPWildMatch(pattern, n.c_str());
  }
  benchmark::DoNotOptimize(hits);
  state.SetItemsProcessed(state.iterations() * Names().size());
  SetLabel(state);
}

// fnmatch as a host would call it in place of each matcher: plain for the
// name spaces that keep case, FNM_CASEFOLD for those that ignore it
// (name spaces 4, 0x104, 0x204).
template <int kFlags>
void BM_Fnmatch(benchmark::State& state) {
  UseUtf8Server();
  const char* pattern = kPatterns[state.range(0)];
  int hits = 0;
  for (auto _ : state) {
    for (const auto& n : Names()) hits += fnmatch(pattern, n.c_str(), kFlags) == 0;
  }
  benchmark::DoNotOptimize(hits);
  state.SetItemsProcessed(state.iterations() * Names().size());
  SetLabel(state);
}

template <uint32_t kNameSpace>
void BM_MatchName(benchmark::State& state) {
  UseUtf8Server();
  const char* pattern = kPatterns[state.range(0)];
  const bool wide = kNameSpace >= 0x200;
  std::vector<std::wstring> wide_names;
  for (const auto& n : Names()) wide_names.emplace_back(n.begin(), n.end());
  const std::string p(pattern);
  const std::wstring wp(p.begin(), p.end());
  std::vector<const void*> names;  // walked as fnmatch walks its list
  for (size_t i = 0; i < Names().size(); ++i)
    names.push_back(wide ? static_cast<const void*>(wide_names[i].c_str()) : Names()[i].c_str());
  const void* pat = wide ? static_cast<const void*>(wp.c_str()) : p.c_str();
  int hits = 0;
  for (auto _ : state) {
    for (const void* n : names) hits += HVDPMatchName(kNameSpace, pat, n, 0) == 0;
  }
  benchmark::DoNotOptimize(hits);
  state.SetItemsProcessed(state.iterations() * Names().size());
  SetLabel(state);
}

BENCHMARK(BM_WildMatch)->DenseRange(0, 2);
BENCHMARK(BM_Fnmatch<0>)->DenseRange(0, 2);
BENCHMARK(BM_Fnmatch<FNM_CASEFOLD>)->DenseRange(0, 2);
BENCHMARK(BM_MatchName<0>)->DenseRange(0, 2);
BENCHMARK(BM_MatchName<0x100>)->DenseRange(0, 2);
BENCHMARK(BM_MatchName<0x200>)->DenseRange(0, 2);
BENCHMARK(BM_MatchName<4>)->DenseRange(0, 2);
BENCHMARK(BM_MatchName<0x104>)->DenseRange(0, 2);
BENCHMARK(BM_MatchName<0x204>)->DenseRange(0, 2);

// Worst cases, in absolute time: patterns whose every star can start at
// every position of the name. Names: 0, 200 a's, which the greedy search
// settles; 1, a dot and a b after 197 a's, where a match found across the
// dot is left to the full search of HVDPMatchName; 2, an e-acute and 198
// a's, where multibyte text leaves HVDPWildMatch to its full search.
std::string ThirtyStars() {
  std::string p;
  for (int i = 0; i < 30; ++i) p += "*a";
  return p + "b";
}

const std::string& WorstPattern(int64_t which) {
  static const std::string patterns[] = {"a*a*a*a*a*a*a*a*b", ThirtyStars(), std::string(30, '*') + "?b"};
  return patterns[which];
}

const std::string& WorstName(int64_t which) {
  static const std::string names[] = {std::string(200, 'a'), std::string(197, 'a') + ".b",
                                      "\xC3\xA9" + std::string(198, 'a')};
  return names[which];
}

void SetWorstLabel(benchmark::State& state) {
  static const char* const kNames[] = {"200 a's", "a's . b", "e-acute a's"};
  state.SetLabel(WorstPattern(state.range(0)).substr(0, 20) + " vs " + kNames[state.range(1)]);
}

void BM_WorstWildMatch(benchmark::State& state) {
  UseUtf8Server();
  const std::string& p = WorstPattern(state.range(0));
  const std::string& name = WorstName(state.range(1));
  for (auto _ : state) benchmark::DoNotOptimize(HVDPWildMatch(p.c_str(), name.c_str()));
  SetWorstLabel(state);
}

template <uint32_t kNameSpace>
void BM_WorstMatchName(benchmark::State& state) {
  UseUtf8Server();
  const std::string& p = WorstPattern(state.range(0));
  const std::string& name = WorstName(state.range(1));
  const std::wstring wp(p.begin(), p.end()), wn(name.begin(), name.end());
  const bool wide = kNameSpace >= 0x200;
  const void* pat = wide ? static_cast<const void*>(wp.c_str()) : p.c_str();
  const void* n = wide ? static_cast<const void*>(wn.c_str()) : name.c_str();
  for (auto _ : state) benchmark::DoNotOptimize(HVDPMatchName(kNameSpace, pat, n, 0));
  SetWorstLabel(state);
}

void BM_WorstGenericWide(benchmark::State& state) {
  UseUtf8Server();
  const std::string& p = WorstPattern(state.range(0));
  const std::wstring wp(p.begin(), p.end()), wn(WorstName(0).begin(), WorstName(0).end());
  for (auto _ : state) benchmark::DoNotOptimize(HVDPGenericWildMatch(0x200, wp.c_str(), wn.c_str()));
  SetWorstLabel(state);
}

// glibc's fnmatch on the first worst case only: it backtracks without a
// memo, and the 30-star patterns would not finish.
void BM_WorstFnmatch(benchmark::State& state) {
  UseUtf8Server();
  const std::string p = "a*a*a*a*a*b";
  const std::string name(40, 'a');
  for (auto _ : state) benchmark::DoNotOptimize(fnmatch(p.c_str(), name.c_str(), 0));
  state.SetLabel("a*a*a*a*a*b vs 40 a's");
}

BENCHMARK(BM_WorstWildMatch)->ArgsProduct({{0, 1, 2}, {0, 2}})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WorstMatchName<0>)->ArgsProduct({{0, 1, 2}, {0, 1}})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WorstMatchName<0x100>)->ArgsProduct({{0, 1, 2}, {0, 1}})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WorstMatchName<0x200>)->ArgsProduct({{0, 1, 2}, {0, 1}})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WorstMatchName<4>)->ArgsProduct({{0, 1, 2}, {0, 1}})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WorstGenericWide)->ArgsProduct({{0, 1, 2}, {0}})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WorstFnmatch)->Unit(benchmark::kMicrosecond);

}  // namespace
