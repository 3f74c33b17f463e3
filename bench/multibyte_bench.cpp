// Walking server code set text character by character: HVNextChar (the
// table-driven dp_mblen) beside the platform's mblen, the plain trial
// conversion on a cached descriptor, and trial conversion with an
// iconv_open per character, over 64 KiB of EUC-JP and of UTF-8 text; and
// the fixed cost of one HVCharType call, over 64 KiB of ASCII.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <random>
#include <string>

#include "charset/multibyte.h"
#include "dpxut.h"

namespace {

constexpr size_t kTextBytes = 64 * 1024;

// kTextBytes of text: 15 % ASCII letters, the rest from `other`.
template <typename Other>
std::string MixedText(Other other) {
  std::mt19937 rng(2024);
  std::string s;
  while (s.size() < kTextBytes - 3) {
    const unsigned r = rng() % 100;
    if (r < 15) {
      s += static_cast<char>('a' + rng() % 26);
    } else {
      other(s, r, rng);
    }
  }
  return s;
}

// Japanese-like EUC-JP text: mostly kana and kanji (two bytes), some ASCII,
// a few half-width katakana (8E xx) and JIS X 0212 kanji (8F xx xx).
std::string EucJpText() {
  return MixedText([](std::string& s, unsigned r, std::mt19937& rng) {
    if (r < 18) {
      s += '\x8E';
      s += static_cast<char>(0xA1 + rng() % 63);
    } else if (r < 19) {
      s += '\x8F';
      s += '\xB0';
      s += static_cast<char>(0xA1 + rng() % 94);
    } else {
      s += static_cast<char>(0xB0 + rng() % 40);
      s += static_cast<char>(0xA1 + rng() % 94);
    }
  });
}

// UTF-8 text of the same mix: ASCII, two-byte Latin and three-byte CJK,
// drawn from a working vocabulary of 3000 ideographs, or (rare) from all
// 20480 of the main block.
std::string Utf8Text(unsigned vocabulary) {
  return MixedText([vocabulary](std::string& s, unsigned r, std::mt19937& rng) {
    if (r < 20) {
      s += "\xC3\xA9";
    } else {
      const unsigned cp = 0x4E00 + rng() % vocabulary;
      s += static_cast<char>(0xE0 | (cp >> 12));
      s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      s += static_cast<char>(0x80 | (cp & 0x3F));
    }
  });
}

// Plain ASCII: every character is one byte, so a walk is all per-call cost.
std::string AsciiText() {
  std::string s;
  while (s.size() < kTextBytes - 1) s += static_cast<char>('a' + s.size() % 26);
  return s;
}

enum Kind { kEucJp, kUtf8, kUtf8Rare, kEucJpAscii, kUtf8Ascii };

const std::string& Text(Kind kind) {
  static const std::string euc_text = EucJpText();
  static const std::string utf8_text = Utf8Text(3000);
  static const std::string utf8_rare = Utf8Text(0x5000);
  static const std::string ascii = AsciiText();
  switch (kind) {
    case kEucJp: return euc_text;
    case kUtf8: return utf8_text;
    case kUtf8Rare: return utf8_rare;
    default: return ascii;
  }
}

void Prepare(Kind kind) {
  const bool euc = kind == kEucJp || kind == kEucJpAscii;
  setenv("LOCPATH", DPXUT_BENCH_LOCPATH, 1);
  if (std::setlocale(LC_CTYPE, euc ? "ja_JP.EUC-JP" : "en_US.UTF-8") == nullptr) std::abort();
  if (DPInitUniLibrary(euc ? "EUC-JP" : "UTF-8") != 0) std::abort();
  dp_mblen("x", 1);  // tables of the first byte
}

template <typename Step>
void Walk(benchmark::State& state, Kind kind, Step step) {
  Prepare(kind);
  const std::string& text = Text(kind);
  size_t chars = 0;
  for (auto _ : state) {
    chars = 0;
    for (const char* p = text.c_str(); *p != '\0'; p = step(p)) ++chars;
    benchmark::DoNotOptimize(chars);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["chars"] = static_cast<double>(chars);
}

const char* MblenStep(const char* p) {
  const int r = std::mblen(p, MB_CUR_MAX);
  return p + (r > 0 ? r : 1);
}

const char* TrialStep(const char* p) {
  const int r = dpxut::charset::mblen_by_trial(p, MB_CUR_MAX);
  return p + (r > 0 ? r : 1);
}

// What measuring costs when every character opens its own descriptor.
const char* OpenPerCharStep(const char* p) {
  iconv_t cd = iconv_open("UTF-8", dp_current_codeset);
  char out[16];
  char* op = out;
  size_t left = sizeof out;
  int len = 1;
  for (size_t k = 1; k <= MB_CUR_MAX && p[k - 1] != '\0'; ++k) {
    char* ip = const_cast<char*>(p);
    size_t il = k;
    if (iconv(cd, &ip, &il, &op, &left) != static_cast<size_t>(-1)) {
      len = static_cast<int>(k);
      break;
    }
    if (errno != EINVAL) break;
  }
  iconv_close(cd);
  return p + len;
}

const char* NextStep(const char* p) { return HVNextChar(p); }

const char* CharTypeStep(const char* p) { return p + HVCharType(p); }

void BM_EucJp_HVNextChar(benchmark::State& s) { Walk(s, kEucJp, NextStep); }
void BM_EucJp_mblen(benchmark::State& s) { Walk(s, kEucJp, MblenStep); }
void BM_EucJp_TrialOnCachedDescriptor(benchmark::State& s) { Walk(s, kEucJp, TrialStep); }
void BM_EucJp_IconvOpenPerChar(benchmark::State& s) { Walk(s, kEucJp, OpenPerCharStep); }
void BM_Utf8_HVNextChar(benchmark::State& s) { Walk(s, kUtf8, NextStep); }
void BM_Utf8_mblen(benchmark::State& s) { Walk(s, kUtf8, MblenStep); }
void BM_Utf8Rare_HVNextChar(benchmark::State& s) { Walk(s, kUtf8Rare, NextStep); }
void BM_Utf8Rare_mblen(benchmark::State& s) { Walk(s, kUtf8Rare, MblenStep); }
void BM_EucJpAscii_HVCharType(benchmark::State& s) { Walk(s, kEucJpAscii, CharTypeStep); }
void BM_EucJpAscii_mblen(benchmark::State& s) { Walk(s, kEucJpAscii, MblenStep); }
void BM_Utf8Ascii_HVCharType(benchmark::State& s) { Walk(s, kUtf8Ascii, CharTypeStep); }
void BM_Utf8Ascii_mblen(benchmark::State& s) { Walk(s, kUtf8Ascii, MblenStep); }

BENCHMARK(BM_EucJp_HVNextChar);
BENCHMARK(BM_EucJp_mblen);
BENCHMARK(BM_EucJp_TrialOnCachedDescriptor);
BENCHMARK(BM_EucJp_IconvOpenPerChar);
BENCHMARK(BM_Utf8_HVNextChar);
BENCHMARK(BM_Utf8_mblen);
BENCHMARK(BM_Utf8Rare_HVNextChar);
BENCHMARK(BM_Utf8Rare_mblen);
BENCHMARK(BM_EucJpAscii_HVCharType);
BENCHMARK(BM_EucJpAscii_mblen);
BENCHMARK(BM_Utf8Ascii_HVCharType);
BENCHMARK(BM_Utf8Ascii_mblen);

}  // namespace
