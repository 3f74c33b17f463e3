// Locale conversions of names of 16, 64 and 256 bytes (sizing call plus
// filling call, as hosts use them) beside what a host would otherwise do:
// a loop over one reused iconv descriptor that converts the name twice,
// into a scratch area to size it and then into the destination.
//
// Code sets (first argument): 0 ISO-8859-1, 1 ISO-8859-15, 2 EUC-JP,
// 3 Shift_JIS, 4 UTF-8 (a code set without tables, for comparison).
// Names: Latin text with an accented letter (or the euro sign) every
// fourth character; Japanese text of kana and kanji with an ASCII letter
// every fourth character; the UTF-8 name mixes both.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <clocale>
#include <cstdlib>
#include <string>
#include <vector>

#include "dpxut.h"

namespace {

struct CodeSet {
  const char* locale;
  const char* iconv_name;
  const wchar_t* pattern;  // repeated to make names
};
const CodeSet kCodeSets[] = {
    {"en_US.ISO-8859-1", "ISO-8859-1", L"abc\u00E9def\u00E8ghi\u00FCjkl\u00E7"},
    {"de_DE.ISO-8859-15", "ISO-8859-15", L"abc\u00E9def\u20ACghi\u00FCjkl\u0153"},
    {"ja_JP.EUC-JP", "EUC-JP", L"\u30D5\u30A1\u30A4a\u30EB\u540D\u524Db\u5831\u544A\u66F8c\u3066\u3059\u3068d"},
    {"ja_JP.SHIFT_JIS", "SHIFT_JIS", L"\u30D5\u30A1\u30A4a\u30EB\u540D\u524Db\u5831\u544A\u66F8c\u3066\u3059\u3068d"},
    {"en_US.UTF-8", "UTF-8", L"abc\u00E9def\u20ACghi\u540Djkl\u30D5"},
};

// Converts wide text with iconv; empty when it cannot.
std::string Encode(const std::wstring& w, const char* to, const char* from = "WCHAR_T") {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) std::abort();
  std::string out(w.size() * 8 + 8, '\0');
  char* in = reinterpret_cast<char*>(const_cast<wchar_t*>(w.data()));
  size_t in_left = w.size() * sizeof(wchar_t), out_left = out.size();
  char* o = out.data();
  const bool ok = iconv(cd, &in, &in_left, &o, &out_left) != static_cast<size_t>(-1);
  iconv_close(cd);
  out.resize(ok ? out.size() - out_left : 0);
  return out;
}

// The same name of `len` bytes in the code set, in UTF-8 and in wide
// characters: whole characters of the pattern while they fit, then ASCII.
struct Name {
  std::string loc, utf8;
  std::wstring wide;
};
Name MakeName(const CodeSet& cs, size_t len) {
  Name n;
  for (size_t i = 0;; ++i) {
    const std::wstring next = n.wide + cs.pattern[i % wcslen(cs.pattern)];
    if (Encode(next, cs.iconv_name).size() > len) break;
    n.wide = next;
  }
  while (Encode(n.wide, cs.iconv_name).size() < len) n.wide += L'x';
  n.loc = Encode(n.wide, cs.iconv_name);
  n.utf8 = Encode(n.wide, "UTF-8");
  return n;
}

const CodeSet& SetUp(benchmark::State& state) {
  const CodeSet& cs = kCodeSets[state.range(0)];
  setenv("LOCPATH", DPXUT_BENCH_LOCPATH, 1);
  if (std::setlocale(LC_CTYPE, cs.locale) == nullptr || DPInitUniLibrary(cs.iconv_name) != 0) std::abort();
  return cs;
}

template <class Src>
const Src* Source(const Name& n);
template <>
const char* Source<char>(const Name& n) { return n.loc.c_str(); }
template <>
const wchar_t* Source<wchar_t>(const Name& n) { return n.wide.c_str(); }

// The library: sizing call, then filling call. `utf8_source`: the source
// is the UTF-8 form of the name rather than its locale form.
template <class Dst, class Src>
void Library(benchmark::State& state, uint32_t (*f)(Dst*, size_t*, const Src*), bool utf8_source = false) {
  const Name n = MakeName(SetUp(state), static_cast<size_t>(state.range(1)));
  const Src* src = utf8_source ? reinterpret_cast<const Src*>(n.utf8.c_str()) : Source<Src>(n);
  std::vector<Dst> dst(n.loc.size() * 4 + 8);
  for (auto _ : state) {
    size_t size = 0;
    if (f(nullptr, &size, src) != 0) state.SkipWithError("sizing failed");
    if (f(dst.data(), &size, src) != 0) state.SkipWithError("filling failed");
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n.loc.size()));
}

// One reused descriptor: the name converted into a scratch area to size
// it, then into the destination. `to`/`from`: null for the code set.
void Direct(benchmark::State& state, const char* to, const char* from) {
  const CodeSet& cs = SetUp(state);
  const Name n = MakeName(cs, static_cast<size_t>(state.range(1)));
  to = to != nullptr ? to : cs.iconv_name;
  from = from != nullptr ? from : cs.iconv_name;
  const std::string src = std::string(from) == "UTF-8" ? n.utf8 + '\0'
                          : std::string(from) == "WCHAR_T"
                              ? std::string(reinterpret_cast<const char*>(n.wide.c_str()), (n.wide.size() + 1) * 4)
                              : n.loc + '\0';
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) std::abort();
  std::vector<char> scratch(2048), dst(src.size() * 8 + 16);
  for (auto _ : state) {
    for (std::vector<char>* out : {&scratch, &dst}) {
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      char* in = const_cast<char*>(src.data());
      size_t in_left = src.size();
      char* o = out->data();
      size_t o_left = out->size();
      if (iconv(cd, &in, &in_left, &o, &o_left) == static_cast<size_t>(-1)) state.SkipWithError("iconv failed");
      benchmark::DoNotOptimize(o);
    }
  }
  iconv_close(cd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n.loc.size()));
}

void BM_DPloc2utf8(benchmark::State& s) { Library(s, DPloc2utf8); }
void BM_IconvLoc2Utf8(benchmark::State& s) { Direct(s, "UTF-8", nullptr); }
void BM_DPutf82loc(benchmark::State& s) { Library(s, DPutf82loc, true); }
void BM_IconvUtf82Loc(benchmark::State& s) { Direct(s, nullptr, "UTF-8"); }
void BM_DPloc2uni(benchmark::State& s) { Library(s, DPloc2uni); }
void BM_DPloc2uniNoMap(benchmark::State& s) { Library(s, DPloc2uniNoMap); }
void BM_IconvLoc2Wide(benchmark::State& s) { Direct(s, "WCHAR_T", nullptr); }
void BM_DPuni2loc(benchmark::State& s) { Library(s, DPuni2loc); }
void BM_DPuni2locNoMap(benchmark::State& s) { Library(s, DPuni2locNoMap); }
void BM_IconvWide2Loc(benchmark::State& s) { Direct(s, nullptr, "WCHAR_T"); }

// Arguments: code set, name length in the code set.
void Names(benchmark::internal::Benchmark* b) {
  b->ArgNames({"cs", "len"});
  for (int cs = 0; cs < 5; ++cs) {
    for (int len : {16, 64, 256}) b->Args({cs, len});
  }
}

BENCHMARK(BM_DPloc2utf8)->Apply(Names);
BENCHMARK(BM_IconvLoc2Utf8)->Apply(Names);
BENCHMARK(BM_DPutf82loc)->Apply(Names);
BENCHMARK(BM_IconvUtf82Loc)->Apply(Names);
BENCHMARK(BM_DPloc2uni)->Apply(Names);
BENCHMARK(BM_DPloc2uniNoMap)->Apply(Names);
BENCHMARK(BM_IconvLoc2Wide)->Apply(Names);
BENCHMARK(BM_DPuni2loc)->Apply(Names);
BENCHMARK(BM_DPuni2locNoMap)->Apply(Names);
BENCHMARK(BM_IconvWide2Loc)->Apply(Names);

}  // namespace
