// UTF-8 <-> wide conversion of data set names of 16, 64 and 256 bytes,
// ASCII and mixed, beside what a host would otherwise call: glibc's
// mbstowcs/wcstombs in en_US.UTF-8 (the test locale), sizing then filling
// on both sides. Also the wide layer's length and compare at aligned and
// misaligned addresses beside glibc on aligned strings.
#include <benchmark/benchmark.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "charset/utf8.h"
#include "common/wide.h"
#include "dpxut.h"

namespace {

namespace wide = dpxut::wide;

struct Locale {
  Locale() {
    ::setenv("LOCPATH", DPXUT_BENCH_LOCPATH, 1);
    if (std::setlocale(LC_ALL, "en_US.UTF-8") == nullptr) std::abort();
  }
} const locale;

// Path components of data set names; the mixed ones hold 2- and 3-byte
// characters (Latin, Greek, Cyrillic, CJK) between ASCII runs.
const std::vector<const char*> kAsciiParts = {
    "home", "projects", "backup", "report_final_v3.txt", "src", "include", "Makefile", "2024-03-17",
    "photos", "IMG_20240317_101500.jpg", "mail", "inbox.mbox"};
const std::vector<const char*> kMixedParts = {
    "Überweisung_2024", "été", "Ærø_kort.pdf", "報告書_最終版.docx", "Доклад.txt", "café",
    "naïve résumé.odt", "Straße", "€_Rechnung", "テスト", "data", "ñandú.png"};

// 64 names of about `length` UTF-8 bytes, joined from components with '/'
// and cut at a character boundary.
std::vector<std::string> names_from(const std::vector<const char*>& parts, size_t length) {
  std::vector<std::string> names;
  for (size_t i = 0; i < 64; ++i) {
    std::string s;
    for (size_t k = 0; s.size() < length; ++k) s += std::string(k ? "/" : "") + parts[(i * 7 + k * 5) % parts.size()];
    size_t cut = length;
    while ((static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
    names.push_back(s.substr(0, cut));
  }
  return names;
}

std::vector<std::wstring> widen_all(const std::vector<std::string>& names) {
  std::vector<std::wstring> out;
  for (const auto& n : names) {
    std::wstring w(n.size() + 1, 0);
    w.resize(std::mbstowcs(w.data(), n.c_str(), w.size()));
    out.push_back(w);
  }
  return out;
}

// A name set in both forms; throughput is counted in names and in bytes of
// their UTF-8 form.
struct Names {
  std::vector<std::string> utf8;
  std::vector<std::wstring> wide;
  size_t bytes = 0;
};

enum Kind { kAscii, kMixed };

const Names& names(Kind kind, int64_t length) {
  static std::map<std::pair<Kind, int64_t>, Names> sets;
  Names& set = sets[{kind, length}];
  if (set.utf8.empty()) {
    set.utf8 = names_from(kind == kAscii ? kAsciiParts : kMixedParts, static_cast<size_t>(length));
    set.wide = widen_all(set.utf8);
    for (const auto& n : set.utf8) set.bytes += n.size();
  }
  return set;
}

void count(benchmark::State& state, const Names& set) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * set.utf8.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * set.bytes));
}

// What a host does in both cases: size, then fill the exact capacity.
template <typename Convert>
void run_utf8(benchmark::State& state, Kind kind, Convert convert) {
  const Names& set = names(kind, state.range(0));
  std::vector<wchar_t> out(1024);
  for (auto _ : state) {
    for (const auto& n : set.utf8) {
      convert(out.data(), n.c_str());
      benchmark::DoNotOptimize(out.data());
    }
  }
  count(state, set);
}

template <typename Convert>
void run_wide(benchmark::State& state, Kind kind, Convert convert) {
  const Names& set = names(kind, state.range(0));
  std::vector<char> out(4096);
  for (auto _ : state) {
    for (const auto& n : set.wide) {
      convert(out.data(), n.c_str());
      benchmark::DoNotOptimize(out.data());
    }
  }
  count(state, set);
}

template <typename Out, typename In>
void size_then_fill(uint32_t (*convert)(Out*, const In*, size_t*), Out* out, const In* s) {
  size_t size = 0;
  convert(nullptr, s, &size);
  size += 1;
  convert(out, s, &size);
}

void Utf8ToWide_DPutf82uni(benchmark::State& state, Kind kind) {
  run_utf8(state, kind, [](wchar_t* out, const char* s) { size_then_fill(DPutf82uni, out, s); });
}

void Utf8ToWide_mbstowcs(benchmark::State& state, Kind kind) {
  run_utf8(state, kind, [](wchar_t* out, const char* s) { std::mbstowcs(out, s, std::mbstowcs(nullptr, s, 0) + 1); });
}

void WideToUtf8_DPuni2utf8(benchmark::State& state, Kind kind) {
  run_wide(state, kind, [](char* out, const wchar_t* s) { size_then_fill(DPuni2utf8, out, s); });
}

void WideToUtf8_wcstombs(benchmark::State& state, Kind kind) {
  run_wide(state, kind, [](char* out, const wchar_t* s) { std::wcstombs(out, s, std::wcstombs(nullptr, s, 0) + 1); });
}

// Names of 16, 64 and 256 UTF-8 bytes.
#define DPXUT_NAME_LENGTHS ->Arg(16)->Arg(64)->Arg(256)
BENCHMARK_CAPTURE(Utf8ToWide_DPutf82uni, ascii, kAscii) DPXUT_NAME_LENGTHS;
BENCHMARK_CAPTURE(Utf8ToWide_mbstowcs, ascii, kAscii) DPXUT_NAME_LENGTHS;
BENCHMARK_CAPTURE(Utf8ToWide_DPutf82uni, mixed, kMixed) DPXUT_NAME_LENGTHS;
BENCHMARK_CAPTURE(Utf8ToWide_mbstowcs, mixed, kMixed) DPXUT_NAME_LENGTHS;
BENCHMARK_CAPTURE(WideToUtf8_DPuni2utf8, ascii, kAscii) DPXUT_NAME_LENGTHS;
BENCHMARK_CAPTURE(WideToUtf8_wcstombs, ascii, kAscii) DPXUT_NAME_LENGTHS;
BENCHMARK_CAPTURE(WideToUtf8_DPuni2utf8, mixed, kMixed) DPXUT_NAME_LENGTHS;
BENCHMARK_CAPTURE(WideToUtf8_wcstombs, mixed, kMixed) DPXUT_NAME_LENGTHS;

// Each kernel forced in turn (second argument: 0 portable, 1 SSE2, 2 AVX2),
// sizing then filling as above; the selection is put back afterwards.
template <typename Run>
void with_kernel(benchmark::State& state, Run run) {
  namespace utf8 = dpxut::utf8;
  if (!utf8::force_kernel(static_cast<utf8::Kernel>(state.range(1)))) {
    state.SkipWithError("kernel not available");
    return;
  }
  run();
  if (!utf8::force_kernel(utf8::Kernel::kAvx2)) utf8::force_kernel(utf8::Kernel::kSse2);
}

void Utf8ToWide_kernel(benchmark::State& state, Kind kind) {
  with_kernel(state, [&] { Utf8ToWide_DPutf82uni(state, kind); });
}

void WideToUtf8_kernel(benchmark::State& state, Kind kind) {
  with_kernel(state, [&] { WideToUtf8_DPuni2utf8(state, kind); });
}

#define DPXUT_KERNELS ->ArgsProduct({{16, 64, 256}, {0, 1, 2}})
BENCHMARK_CAPTURE(Utf8ToWide_kernel, ascii, kAscii) DPXUT_KERNELS;
BENCHMARK_CAPTURE(Utf8ToWide_kernel, mixed, kMixed) DPXUT_KERNELS;
BENCHMARK_CAPTURE(WideToUtf8_kernel, ascii, kAscii) DPXUT_KERNELS;
BENCHMARK_CAPTURE(WideToUtf8_kernel, mixed, kMixed) DPXUT_KERNELS;

// ---- the wide layer at an offset ---------------------------------------------

// The wide names copied into one byte buffer, each at `offset` mod 4.
struct Placed {
  Placed(const std::vector<std::wstring>& names, size_t offset) {
    size_t total = 0;
    for (const auto& n : names) total += (n.size() + 2) * 4;
    bytes.resize(total + 16);
    size_t at = (16 - reinterpret_cast<uintptr_t>(bytes.data()) % 16) % 16 + offset;
    for (const auto& n : names) {
      std::memcpy(bytes.data() + at, n.c_str(), (n.size() + 1) * 4);
      strings.push_back(bytes.data() + at);
      at += (n.size() + 2) * 4;
    }
  }
  std::vector<unsigned char> bytes;
  std::vector<const void*> strings;
};

void WideLength_layer(benchmark::State& state) {
  Placed placed(names(kMixed, 64).wide, static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    for (const void* s : placed.strings) benchmark::DoNotOptimize(wide::length(s));
  }
  count(state, names(kMixed, 64));
}

void WideLength_glibcAligned(benchmark::State& state) {
  for (auto _ : state) {
    for (const auto& s : names(kMixed, 64).wide) benchmark::DoNotOptimize(std::wcslen(s.c_str()));
  }
  count(state, names(kMixed, 64));
}

void WideCompare_layer(benchmark::State& state) {
  Placed a(names(kMixed, 64).wide, static_cast<size_t>(state.range(0)));
  Placed b(names(kMixed, 64).wide, 0);
  for (auto _ : state) {
    for (size_t i = 0; i < a.strings.size(); ++i) benchmark::DoNotOptimize(wide::compare(a.strings[i], b.strings[i]));
  }
  count(state, names(kMixed, 64));
}

void WideCompare_glibcAligned(benchmark::State& state) {
  const std::vector<std::wstring>& originals = names(kMixed, 64).wide;
  std::vector<std::wstring> copy = originals;
  for (auto _ : state) {
    for (size_t i = 0; i < copy.size(); ++i) {
      benchmark::DoNotOptimize(std::wcscmp(copy[i].c_str(), originals[i].c_str()));
    }
  }
  count(state, names(kMixed, 64));
}

BENCHMARK(WideLength_layer)->Arg(0)->Arg(2);
BENCHMARK(WideLength_glibcAligned);
BENCHMARK(WideCompare_layer)->Arg(0)->Arg(2);
BENCHMARK(WideCompare_glibcAligned);

}  // namespace
