// UTF-8 <-> wide conversion of data set names beside what a host would
// otherwise call: glibc's mbstowcs/wcstombs in en_US.UTF-8 and an iconv
// loop on one reused descriptor. Also the wide layer's length and compare
// at aligned and misaligned addresses beside glibc on aligned strings.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

// 64 names of 2 to 5 components drawn from `parts`.
std::vector<std::string> names_from(const std::vector<const char*>& parts) {
  std::vector<std::string> names;
  for (size_t i = 0; i < 64; ++i) {
    std::string s;
    for (size_t k = 0; k < 2 + i % 4; ++k) s += std::string(k ? "/" : "") + parts[(i * 7 + k * 5) % parts.size()];
    names.push_back(s);
  }
  return names;
}

const std::vector<std::string> kAscii =
    names_from({"home", "projects", "backup", "report_final_v3.txt", "src", "include", "Makefile", "2024-03-17",
                "photos", "IMG_20240317_101500.jpg", "mail", "inbox.mbox"});
const std::vector<std::string> kMixed =
    names_from({"Überweisung_2024", "été", "Ærø_kort.pdf", "報告書_最終版.docx", "Доклад.txt", "café",
                "naïve résumé.odt", "Straße", "€_Rechnung", "テスト", "data", "ñandú.png"});

std::vector<std::wstring> widen_all(const std::vector<std::string>& names) {
  std::vector<std::wstring> out;
  for (const auto& n : names) {
    std::wstring w(n.size() + 1, 0);
    w.resize(std::mbstowcs(w.data(), n.c_str(), w.size()));
    out.push_back(w);
  }
  return out;
}

const std::vector<std::wstring> kAsciiWide = widen_all(kAscii);
const std::vector<std::wstring> kMixedWide = widen_all(kMixed);

void count(benchmark::State& state, const std::vector<std::string>& names) {
  size_t bytes = 0;
  for (const auto& n : names) bytes += n.size();
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * names.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

// A name set in both forms; throughput is counted in names and in bytes of
// their UTF-8 form.
struct Names {
  const std::vector<std::string>* utf8;
  const std::vector<std::wstring>* wide;
};
const Names kAsciiNames{&kAscii, &kAsciiWide};
const Names kMixedNames{&kMixed, &kMixedWide};

template <typename Convert>
void run_utf8(benchmark::State& state, const Names& names, Convert convert) {
  std::vector<wchar_t> out(1024);
  for (auto _ : state) {
    for (const auto& n : *names.utf8) {
      convert(out.data(), n.c_str(), out.size());
      benchmark::DoNotOptimize(out.data());
    }
  }
  count(state, *names.utf8);
}

template <typename Convert>
void run_wide(benchmark::State& state, const Names& names, Convert convert) {
  std::vector<char> out(4096);
  for (auto _ : state) {
    for (const auto& n : *names.wide) {
      convert(out.data(), n.c_str(), out.size());
      benchmark::DoNotOptimize(out.data());
    }
  }
  count(state, *names.utf8);
}

// iconv on one descriptor, reset before each name, into a buffer known to
// be large enough.
void iconv_into(iconv_t cd, const void* src, size_t src_bytes, void* dst, size_t dst_bytes) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = static_cast<char*>(const_cast<void*>(src));
  char* out = static_cast<char*>(dst);
  iconv(cd, &in, &src_bytes, &out, &dst_bytes);
}

// What a host does: size, then fill the exact capacity.
template <typename Out, typename In>
void size_then_fill(uint32_t (*convert)(Out*, const In*, size_t*), Out* out, const In* s) {
  size_t size = 0;
  convert(nullptr, s, &size);
  size += 1;
  convert(out, s, &size);
}

void Utf8ToWide_DPutf82uni(benchmark::State& state, const Names* names) {
  run_utf8(state, *names, [](wchar_t* out, const char* s, size_t) { size_then_fill(DPutf82uni, out, s); });
}

// Filling a buffer known to be large enough, as iconv is used.
void Utf8ToWide_DPutf82uniFillOnly(benchmark::State& state, const Names* names) {
  run_utf8(state, *names, [](wchar_t* out, const char* s, size_t room) { DPutf82uni(out, s, &room); });
}

void Utf8ToWide_mbstowcs(benchmark::State& state, const Names* names) {
  run_utf8(state, *names, [](wchar_t* out, const char* s, size_t) {
    std::mbstowcs(out, s, std::mbstowcs(nullptr, s, 0) + 1);
  });
}

void Utf8ToWide_iconv(benchmark::State& state, const Names* names) {
  iconv_t cd = iconv_open("WCHAR_T", "UTF-8");
  run_utf8(state, *names, [cd](wchar_t* out, const char* s, size_t room) {
    iconv_into(cd, s, std::strlen(s) + 1, out, room * sizeof(wchar_t));
  });
  iconv_close(cd);
}

void WideToUtf8_DPuni2utf8(benchmark::State& state, const Names* names) {
  run_wide(state, *names, [](char* out, const wchar_t* s, size_t) { size_then_fill(DPuni2utf8, out, s); });
}

void WideToUtf8_DPuni2utf8FillOnly(benchmark::State& state, const Names* names) {
  run_wide(state, *names, [](char* out, const wchar_t* s, size_t room) { DPuni2utf8(out, s, &room); });
}

void WideToUtf8_wcstombs(benchmark::State& state, const Names* names) {
  run_wide(state, *names, [](char* out, const wchar_t* s, size_t) {
    std::wcstombs(out, s, std::wcstombs(nullptr, s, 0) + 1);
  });
}

void WideToUtf8_iconv(benchmark::State& state, const Names* names) {
  iconv_t cd = iconv_open("UTF-8", "WCHAR_T");
  run_wide(state, *names, [cd](char* out, const wchar_t* s, size_t room) {
    iconv_into(cd, s, (std::wcslen(s) + 1) * sizeof(wchar_t), out, room);
  });
  iconv_close(cd);
}

BENCHMARK_CAPTURE(Utf8ToWide_DPutf82uni, ascii, &kAsciiNames);
BENCHMARK_CAPTURE(Utf8ToWide_DPutf82uniFillOnly, ascii, &kAsciiNames);
BENCHMARK_CAPTURE(Utf8ToWide_mbstowcs, ascii, &kAsciiNames);
BENCHMARK_CAPTURE(Utf8ToWide_iconv, ascii, &kAsciiNames);
BENCHMARK_CAPTURE(Utf8ToWide_DPutf82uni, mixed, &kMixedNames);
BENCHMARK_CAPTURE(Utf8ToWide_DPutf82uniFillOnly, mixed, &kMixedNames);
BENCHMARK_CAPTURE(Utf8ToWide_mbstowcs, mixed, &kMixedNames);
BENCHMARK_CAPTURE(Utf8ToWide_iconv, mixed, &kMixedNames);
BENCHMARK_CAPTURE(WideToUtf8_DPuni2utf8, ascii, &kAsciiNames);
BENCHMARK_CAPTURE(WideToUtf8_DPuni2utf8FillOnly, ascii, &kAsciiNames);
BENCHMARK_CAPTURE(WideToUtf8_wcstombs, ascii, &kAsciiNames);
BENCHMARK_CAPTURE(WideToUtf8_iconv, ascii, &kAsciiNames);
BENCHMARK_CAPTURE(WideToUtf8_DPuni2utf8, mixed, &kMixedNames);
BENCHMARK_CAPTURE(WideToUtf8_DPuni2utf8FillOnly, mixed, &kMixedNames);
BENCHMARK_CAPTURE(WideToUtf8_wcstombs, mixed, &kMixedNames);
BENCHMARK_CAPTURE(WideToUtf8_iconv, mixed, &kMixedNames);

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
  Placed placed(kMixedWide, static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    for (const void* s : placed.strings) benchmark::DoNotOptimize(wide::length(s));
  }
  count(state, kMixed);
}

void WideLength_glibcAligned(benchmark::State& state) {
  for (auto _ : state) {
    for (const auto& s : kMixedWide) benchmark::DoNotOptimize(std::wcslen(s.c_str()));
  }
  count(state, kMixed);
}

void WideCompare_layer(benchmark::State& state) {
  Placed a(kMixedWide, static_cast<size_t>(state.range(0)));
  Placed b(kMixedWide, 0);
  for (auto _ : state) {
    for (size_t i = 0; i < a.strings.size(); ++i) benchmark::DoNotOptimize(wide::compare(a.strings[i], b.strings[i]));
  }
  count(state, kMixed);
}

void WideCompare_glibcAligned(benchmark::State& state) {
  std::vector<std::wstring> copy = kMixedWide;
  for (auto _ : state) {
    for (size_t i = 0; i < copy.size(); ++i) {
      benchmark::DoNotOptimize(std::wcscmp(copy[i].c_str(), kMixedWide[i].c_str()));
    }
  }
  count(state, kMixed);
}

BENCHMARK(WideLength_layer)->Arg(0)->Arg(2);
BENCHMARK(WideLength_glibcAligned);
BENCHMARK(WideCompare_layer)->Arg(0)->Arg(2);
BENCHMARK(WideCompare_glibcAligned);

}  // namespace
