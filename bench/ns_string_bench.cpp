// The name-space string layer beside the glibc calls a host would make
// directly: wide length and search at an aligned and a misaligned address,
// generic-character lookups inside a scan loop, and case-insensitive
// comparisons in the byte and UTF-8 name spaces.
#include <benchmark/benchmark.h>
#include <strings.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "dpxut.h"

namespace {

// A 200-character wide path at `offset` bytes past an aligned start.
struct WidePath {
  std::vector<unsigned char> buf = std::vector<unsigned char>(4 * 256 + 16);
  unsigned char* p;
  explicit WidePath(size_t offset) {
    auto addr = reinterpret_cast<uintptr_t>(buf.data());
    p = buf.data() + (16 - addr % 16) % 16 + offset;
    std::wstring s;
    while (s.size() < 200) s += L"dir/sub\x4E2D/";
    s.resize(200);
    s.back() = L'x';
    std::memcpy(p, s.c_str(), 4 * (s.size() + 1));
  }
};

void BM_WideLength_glibc_wcslen(benchmark::State& state) {
  WidePath w(0);
  for (auto _ : state) benchmark::DoNotOptimize(wcslen(reinterpret_cast<const wchar_t*>(w.p)));
}
void BM_WideLength_DPstrlen(benchmark::State& state) {
  WidePath w(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(DPstrlen(0x200, w.p));
}
void BM_WideLastSlash_glibc_wcsrchr(benchmark::State& state) {
  WidePath w(0);
  for (auto _ : state) benchmark::DoNotOptimize(wcsrchr(reinterpret_cast<const wchar_t*>(w.p), L'/'));
}
void BM_WideLastSlash_DPstrrchr(benchmark::State& state) {
  WidePath w(state.range(0));
  const void* slash = GenericChar(0x200, '/');
  for (auto _ : state) benchmark::DoNotOptimize(DPstrrchr(0x200, w.p, slash));
}

// Counting separators the way path code does: a generic-character lookup
// and DPcheckChar per position, against a plain byte loop.
std::string byte_path() {
  std::string s;
  while (s.size() < 200) s += "dir/sub/";
  return s;
}
void BM_CountSlashes_plain_bytes(benchmark::State& state) {
  std::string s = byte_path();
  for (auto _ : state) {
    int n = 0;
    for (const char* p = s.c_str(); *p; ++p) n += *p == '/';
    benchmark::DoNotOptimize(n);
  }
}
void BM_CountSlashes_GenericChar_DPcheckChar_utf8(benchmark::State& state) {
  std::string s = byte_path();
  for (auto _ : state) {
    int n = 0;
    for (const char* p = s.c_str(); !DPcheckChar(0x100, p, GenericChar(0x100, 0));
         p = static_cast<const char*>(DPnextChar(0x100, p)))
      n += DPcheckChar(0x100, p, GenericChar(0x100, '/'));
    benchmark::DoNotOptimize(n);
  }
}

void BM_CaseInsensitive_glibc_strncasecmp(benchmark::State& state) {
  std::string a = byte_path(), b = a;
  for (auto& c : b) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  for (auto _ : state) benchmark::DoNotOptimize(strncasecmp(a.c_str(), b.c_str(), a.size()));
}
void BM_CaseInsensitive_DPstrnicmp(benchmark::State& state) {
  std::string a = byte_path(), b = a;
  for (auto& c : b) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  const uint32_t ns = static_cast<uint32_t>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(DPstrnicmp(ns, a.c_str(), b.c_str(), a.size()));
}

}  // namespace

BENCHMARK(BM_WideLength_glibc_wcslen);
BENCHMARK(BM_WideLength_DPstrlen)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK(BM_WideLastSlash_glibc_wcsrchr);
BENCHMARK(BM_WideLastSlash_DPstrrchr)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK(BM_CountSlashes_plain_bytes);
BENCHMARK(BM_CountSlashes_GenericChar_DPcheckChar_utf8);
BENCHMARK(BM_CaseInsensitive_glibc_strncasecmp);
BENCHMARK(BM_CaseInsensitive_DPstrnicmp)->Arg(0)->Arg(0x100);
