// Measures arbitrary bytes as EUC-JP or UTF-8 server text. The first input
// byte picks the code set (bit 1) and the mblen route (bit 0); the rest,
// cut at its first NUL, is measured at every position with several limits
// and walked with HVNextChar. dp_mblen must agree with plain trial
// conversion, stay within its limit and the string, and walks must never
// step past the terminator.
#include <algorithm>
#include <clocale>

#include "charset/multibyte.h"
#include "dpxut.h"
#include "fuzz_input.h"

void fuzz(const uint8_t* data, size_t size) {
  static const size_t kLimits[] = {0, 1, 2, 3, 4, 7, SIZE_MAX};
  FuzzInput in{data, size};
  const uint8_t mode = in.byte();
  // The replay test sets LOCPATH to the hermetic test locales; a fuzzing
  // run gets it from its environment. Without them MB_CUR_MAX stays 1.
  static const bool have_locales = std::setlocale(LC_CTYPE, "ja_JP.EUC-JP") && std::setlocale(LC_CTYPE, "en_US.UTF-8");
  static int codeset = -1;  // that of the inputs measured so far
  if (have_locales && codeset != (mode & 2)) std::setlocale(LC_CTYPE, mode & 2 ? "en_US.UTF-8" : "ja_JP.EUC-JP");
  if (codeset != (mode & 2)) check(DPInitUniLibrary(mode & 2 ? "UTF-8" : "EUC-JP") == 0, "code set");
  codeset = mode & 2;
  DPUseMbFunctions = mode & 1;
  const std::string text = in.until_nul();
  const Block block = c_string(text);
  const char *s = block.as<char>(), *end = s + text.size();
  for (const char* at = s; at <= end; ++at) {
    for (size_t n : kLimits) {
      const int r = dp_mblen(at, n);
      check(r == dpxut::charset::mblen_by_trial(at, n), "dp_mblen agrees with trial conversion");
      check(at == end ? r == 0 : r >= 1 && size_t(r) <= std::max<size_t>(n, 1) && r <= end - at, "dp_mblen in bounds");
    }
    const int t = HVCharType(at);
    check(t >= 1 && (at == end ? t == 1 : t <= end - at), "HVCharType");
    if (at + t <= end) check(HVPrevChar(s, at + t) == at + t - HVCharType(at + t), "HVPrevChar");
  }
  // A walk stops exactly at the terminator.
  const char* p = s;
  for (const char* next; *p != '\0'; p = next) check((next = HVNextChar(p)) > p && next <= end, "HVNextChar");
  check(p == end && HVNextChar(p) == end + 1, "walk ends at the terminator");
}
