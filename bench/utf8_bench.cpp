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

std::vector<std::string> ascii_names() {
  const char* parts[] = {"home", "projects", "backup", "report_final_v3.txt", "src", "include", "Makefile",
                         "2024-03-17", "photos", "IMG_20240317_101500.jpg", "mail", "inbox.mbox"};
  std::vector<std::string> names;
  for (int i = 0; i < 64; ++i) {
    std::string s;
    for (int k = 0; k < 2 + i % 4; ++k) s += std::string(k ? "/" : "") + parts[(i * 7 + k * 5) % 12];
    names.push_back(s);
  }
  return names;
}

std::vector<std::string> mixed_names() {
  const char* parts[] = {"Überweisung_2024", "été", "Ærø_kort.pdf", "報告書_最終版.docx", "Доклад.txt",
                         "café", "naïve résumé.odt", "Straße", "€_Rechnung", "テスト", "data", "ñandú.png"};
  std::vector<std::string> names;
  for (int i = 0; i < 64; ++i) {
    std::string s;
    for (int k = 0; k < 2 + i % 4; ++k) s += std::string(k ? "/" : "") + parts[(i * 7 + k * 5) % 12];
    names.push_back(s);
  }
  return names;
}

const std::vector<std::string> kAscii = ascii_names();
const std::vector<std::string> kMixed = mixed_names();

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

// ---- UTF-8 -> wide ---------------------------------------------------------

// What a host does: size, then fill the exact capacity.
void Utf8ToWide_DPutf82uni(benchmark::State& state, const std::vector<std::string>* names) {
  std::vector<wchar_t> out(1024);
  for (auto _ : state) {
    for (const auto& n : *names) {
      size_t size = 0;
      DPutf82uni(nullptr, n.c_str(), &size);
      size += 1;
      DPutf82uni(out.data(), n.c_str(), &size);
      benchmark::DoNotOptimize(out.data());
    }
  }
  count(state, *names);
}

// Filling a buffer known to be large enough, as iconv is used.
void Utf8ToWide_DPutf82uniFillOnly(benchmark::State& state, const std::vector<std::string>* names) {
  std::vector<wchar_t> out(1024);
  for (auto _ : state) {
    for (const auto& n : *names) {
      size_t size = out.size();
      DPutf82uni(out.data(), n.c_str(), &size);
      benchmark::DoNotOptimize(out.data());
    }
  }
  count(state, *names);
}

void Utf8ToWide_mbstowcs(benchmark::State& state, const std::vector<std::string>* names) {
  std::vector<wchar_t> out(1024);
  for (auto _ : state) {
    for (const auto& n : *names) {
      size_t size = std::mbstowcs(nullptr, n.c_str(), 0);
      std::mbstowcs(out.data(), n.c_str(), size + 1);
      benchmark::DoNotOptimize(out.data());
    }
  }
  count(state, *names);
}

void Utf8ToWide_iconv(benchmark::State& state, const std::vector<std::string>* names) {
  iconv_t cd = iconv_open("WCHAR_T", "UTF-8");
  std::vector<wchar_t> out(1024);
  for (auto _ : state) {
    for (const auto& n : *names) {
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      char* in = const_cast<char*>(n.c_str());
      size_t in_left = n.size() + 1;
      char* dst = reinterpret_cast<char*>(out.data());
      size_t out_left = out.size() * sizeof(wchar_t);
      iconv(cd, &in, &in_left, &dst, &out_left);
      benchmark::DoNotOptimize(out.data());
    }
  }
  iconv_close(cd);
  count(state, *names);
}

// ---- wide -> UTF-8 ---------------------------------------------------------

void WideToUtf8_DPuni2utf8(benchmark::State& state, const std::vector<std::wstring>* names) {
  std::vector<char> out(4096);
  for (auto _ : state) {
    for (const auto& n : *names) {
      size_t size = 0;
      DPuni2utf8(nullptr, n.c_str(), &size);
      size += 1;
      DPuni2utf8(out.data(), n.c_str(), &size);
      benchmark::DoNotOptimize(out.data());
    }
  }
  count(state, names == &kAsciiWide ? kAscii : kMixed);
}

void WideToUtf8_DPuni2utf8FillOnly(benchmark::State& state, const std::vector<std::wstring>* names) {
  std::vector<char> out(4096);
  for (auto _ : state) {
    for (const auto& n : *names) {
      size_t size = out.size();
      DPuni2utf8(out.data(), n.c_str(), &size);
      benchmark::DoNotOptimize(out.data());
    }
  }
  count(state, names == &kAsciiWide ? kAscii : kMixed);
}

void WideToUtf8_wcstombs(benchmark::State& state, const std::vector<std::wstring>* names) {
  std::vector<char> out(4096);
  for (auto _ : state) {
    for (const auto& n : *names) {
      size_t size = std::wcstombs(nullptr, n.c_str(), 0);
      std::wcstombs(out.data(), n.c_str(), size + 1);
      benchmark::DoNotOptimize(out.data());
    }
  }
  count(state, names == &kAsciiWide ? kAscii : kMixed);
}

void WideToUtf8_iconv(benchmark::State& state, const std::vector<std::wstring>* names) {
  iconv_t cd = iconv_open("UTF-8", "WCHAR_T");
  std::vector<char> out(4096);
  for (auto _ : state) {
    for (const auto& n : *names) {
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      char* in = reinterpret_cast<char*>(const_cast<wchar_t*>(n.c_str()));
      size_t in_left = (n.size() + 1) * sizeof(wchar_t);
      char* dst = out.data();
      size_t out_left = out.size();
      iconv(cd, &in, &in_left, &dst, &out_left);
      benchmark::DoNotOptimize(out.data());
    }
  }
  iconv_close(cd);
  count(state, names == &kAsciiWide ? kAscii : kMixed);
}

BENCHMARK_CAPTURE(Utf8ToWide_DPutf82uni, ascii, &kAscii);
BENCHMARK_CAPTURE(Utf8ToWide_DPutf82uniFillOnly, ascii, &kAscii);
BENCHMARK_CAPTURE(Utf8ToWide_mbstowcs, ascii, &kAscii);
BENCHMARK_CAPTURE(Utf8ToWide_iconv, ascii, &kAscii);
BENCHMARK_CAPTURE(Utf8ToWide_DPutf82uni, mixed, &kMixed);
BENCHMARK_CAPTURE(Utf8ToWide_DPutf82uniFillOnly, mixed, &kMixed);
BENCHMARK_CAPTURE(Utf8ToWide_mbstowcs, mixed, &kMixed);
BENCHMARK_CAPTURE(Utf8ToWide_iconv, mixed, &kMixed);
BENCHMARK_CAPTURE(WideToUtf8_DPuni2utf8, ascii, &kAsciiWide);
BENCHMARK_CAPTURE(WideToUtf8_DPuni2utf8FillOnly, ascii, &kAsciiWide);
BENCHMARK_CAPTURE(WideToUtf8_wcstombs, ascii, &kAsciiWide);
BENCHMARK_CAPTURE(WideToUtf8_iconv, ascii, &kAsciiWide);
BENCHMARK_CAPTURE(WideToUtf8_DPuni2utf8, mixed, &kMixedWide);
BENCHMARK_CAPTURE(WideToUtf8_DPuni2utf8FillOnly, mixed, &kMixedWide);
BENCHMARK_CAPTURE(WideToUtf8_wcstombs, mixed, &kMixedWide);
BENCHMARK_CAPTURE(WideToUtf8_iconv, mixed, &kMixedWide);

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
