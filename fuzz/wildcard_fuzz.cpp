// Fuzzes every wildcard matcher in every encoding. Input: one flag byte
// (bit 0: partial), then the pattern up to the first NUL byte, then the
// name. Strings sit in heap blocks of exactly their size, wide ones at an
// odd address. Besides memory safety and the result ranges, ASCII input
// must give the same result in the locale, UTF-8 and wide name spaces, and
// the matchers' quick paths the same as their full search.
#include <algorithm>
#include <array>
#include <clocale>
#include <vector>

#include "dpxut.h"
#include "fuzz_input.h"
#include "paths/match_support.h"

// Each byte becomes one wide character; the top bytes stand for
// characters above 0xFF that look like wildcards in their low byte.
static Block wide_string(const std::string& s) {
  static const uint32_t kHigh[8] = {0x1AA, 0x12A, 0x1BF, 0x13F, 0x1AE, 0x4E2D, 0x10041, 0xFFFF};
  std::vector<uint32_t> w;
  for (const uint8_t c : s) w.push_back(c >= 0xF8 ? kHigh[c - 0xF8] : c);
  return Block((w.size() + 1) * 4, 1, w.data(), w.size() * 4);
}

static bool valid(int32_t r) { return (r >= -1 && r <= 2) || static_cast<uint32_t>(r) == HVDPUT_OUT_OF_MEMORY; }

void fuzz(const uint8_t* data, size_t size) {
  // A multibyte server code set: EUC-JP characters are one to three bytes.
  [[maybe_unused]] static const int euc_jp = (std::setlocale(LC_CTYPE, "ja_JP.EUC-JP"), DPInitUniLibrary("EUC-JP"));
  if (size == 0 || size > 4096) return;
  FuzzInput in{data, size};
  const int16_t partial = in.byte() & 1;
  const std::string pattern = in.until_nul(), name = in.until_nul(), both = pattern + name;
  const bool ascii = std::all_of(both.begin(), both.end(), [](char c) { return (c & 0x80) == 0; });
  const Block bp = c_string(pattern), bn = c_string(name), wp = wide_string(pattern), wn = wide_string(name);
  std::array<int32_t, 4> results[3];  // per encoding: exact match, match ignoring case, generic wild match, is wild
  for (int e = 0; e < 3; ++e) {
    const uint32_t ns = e * 0x100;  // locale, UTF-8, wide
    const void *p = e == 2 ? wp.at : bp.at, *n = e == 2 ? wn.at : bn.at;
    const auto& r = results[e] = {matchNameEnabled(ns, p, n, partial), HVDPMatchName(ns + 4, p, n, partial),
                                  HVDPGenericWildMatch(ns, p, n), HVDPGenericIsWild(ns, p)};
    check(valid(r[0]) && valid(r[1]) && (r[2] == 0 || r[2] == 1) && (r[3] == 0 || r[3] == 1), "result ranges");
    check(HVDPMatchName(ns, p, n, partial) == r[0], "HVDPMatchName without folding");
    check(r[0] == dpxut::paths::match_name_fully(ns, p, n, partial) &&
              r[2] == dpxut::paths::generic_wild_match_fully(ns, p, n),
          "quick paths as the full search");
    check(!ascii || r == results[0], "ASCII matches alike in every encoding");
  }
  const int32_t wild = HVDPWildMatch(bp.as<char>(), bn.as<char>());
  check(static_cast<uint32_t>(wild) <= 1, "HVDPWildMatch's range");
  check(wild == dpxut::paths::wild_match_fully(bp.as<char>(), bn.as<char>()), "HVDPWildMatch's quick paths");
  check(!ascii || HVDPIsWild(bp.as<char>()) == (pattern.find_first_of("*?") != std::string::npos),
        "HVDPIsWild on ASCII");
}
