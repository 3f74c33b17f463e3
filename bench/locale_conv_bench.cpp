// Locale conversions of names of 16, 64 and 256 bytes (sizing call plus
// filling call, as hosts use them) beside what a host would otherwise do:
// a loop over one reused iconv descriptor that converts the name twice
// (into a scratch area to size it, then into the destination), and once.
// Names are plain ASCII or Latin-1 with accented letters (every fourth
// character), in the ISO-8859-1 test locale.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <clocale>
#include <cstdlib>
#include <string>
#include <vector>

#include "dpxut.h"

namespace {

void SetUpLocale() {
  static const bool done = [] {
    setenv("LOCPATH", DPXUT_BENCH_LOCPATH, 1);
    std::setlocale(LC_ALL, "en_US.ISO-8859-1");
    return DPInitUniLibrary("ISO-8859-1") == 0;
  }();
  if (!done) std::abort();
}

// A Latin-1 name of `len` bytes; accented when `latin`.
std::string Name(size_t len, bool latin) {
  std::string s;
  for (size_t i = 0; i < len; ++i) {
    s += latin && i % 4 == 3 ? static_cast<char>(0xE9) : static_cast<char>('a' + i % 26);
  }
  return s;
}

// The same name in UTF-8.
std::string Utf8Name(size_t len, bool latin) {
  std::string s;
  for (char c : Name(len, latin)) {
    if (static_cast<unsigned char>(c) < 0x80) {
      s += c;
    } else {
      s += static_cast<char>(0xC3);
      s += static_cast<char>(static_cast<unsigned char>(c) - 0x40);
    }
  }
  return s;
}


template <class Dst>
void Library(benchmark::State& state, uint32_t (*f)(Dst*, size_t*, const char*), bool utf8_source) {
  SetUpLocale();
  const size_t len = static_cast<size_t>(state.range(0));
  const bool latin = state.range(1) != 0;
  const std::string src = utf8_source ? Utf8Name(len, latin) : Name(len, latin);
  std::vector<Dst> dst(src.size() * 4 + 8);
  for (auto _ : state) {
    size_t size = 0;
    if (f(nullptr, &size, src.c_str()) != 0) state.SkipWithError("sizing failed");
    if (f(dst.data(), &size, src.c_str()) != 0) state.SkipWithError("filling failed");
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * src.size()));
}

// One reused descriptor; `passes` conversions of the name per iteration,
// the first into a scratch area when there are two.
void Direct(benchmark::State& state, const char* to, const char* from, bool utf8_source,
            int passes) {
  SetUpLocale();
  const size_t len = static_cast<size_t>(state.range(0));
  const bool latin = state.range(1) != 0;
  const std::string src = utf8_source ? Utf8Name(len, latin) : Name(len, latin);
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) std::abort();
  std::vector<char> scratch(2048), dst(src.size() * 16 + 16);
  for (auto _ : state) {
    for (int pass = 0; pass < passes; ++pass) {
      std::vector<char>& out = pass + 1 < passes ? scratch : dst;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      char* in = const_cast<char*>(src.c_str());
      size_t in_left = src.size() + 1;
      char* o = out.data();
      size_t o_left = out.size();
      if (iconv(cd, &in, &in_left, &o, &o_left) == static_cast<size_t>(-1)) {
        state.SkipWithError("iconv failed");
      }
      benchmark::DoNotOptimize(o);
    }
  }
  iconv_close(cd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * src.size()));
}

void BM_DPloc2utf8(benchmark::State& s) { Library(s, DPloc2utf8, false); }
void BM_IconvLoc2Utf8_SizeAndFill(benchmark::State& s) { Direct(s, "UTF-8", "ISO-8859-1", false, 2); }
void BM_IconvLoc2Utf8_Once(benchmark::State& s) { Direct(s, "UTF-8", "ISO-8859-1", false, 1); }
void BM_DPutf82loc(benchmark::State& s) { Library(s, DPutf82loc, true); }
void BM_IconvUtf82Loc_SizeAndFill(benchmark::State& s) { Direct(s, "ISO-8859-1", "UTF-8", true, 2); }
void BM_IconvUtf82Loc_Once(benchmark::State& s) { Direct(s, "ISO-8859-1", "UTF-8", true, 1); }
void BM_DPloc2uni(benchmark::State& s) { Library(s, DPloc2uni, false); }
void BM_IconvLoc2Wide_SizeAndFill(benchmark::State& s) { Direct(s, "WCHAR_T", "ISO-8859-1", false, 2); }
void BM_IconvLoc2Wide_Once(benchmark::State& s) { Direct(s, "WCHAR_T", "ISO-8859-1", false, 1); }

// Arguments: name length, accented (1) or plain ASCII (0).
void Names(benchmark::internal::Benchmark* b) {
  b->ArgNames({"len", "latin"});
  for (int latin : {0, 1}) {
    for (int len : {16, 64, 256}) b->Args({len, latin});
  }
}

BENCHMARK(BM_DPloc2utf8)->Apply(Names);
BENCHMARK(BM_IconvLoc2Utf8_SizeAndFill)->Apply(Names);
BENCHMARK(BM_IconvLoc2Utf8_Once)->Apply(Names);
BENCHMARK(BM_DPutf82loc)->Apply(Names);
BENCHMARK(BM_IconvUtf82Loc_SizeAndFill)->Apply(Names);
BENCHMARK(BM_IconvUtf82Loc_Once)->Apply(Names);
BENCHMARK(BM_DPloc2uni)->Apply(Names);
BENCHMARK(BM_IconvLoc2Wide_SizeAndFill)->Apply(Names);
BENCHMARK(BM_IconvLoc2Wide_Once)->Apply(Names);

}  // namespace
