// Measures arbitrary bytes as EUC-JP or UTF-8 server text. The first input
// byte picks the code set (bit 1) and the mblen route (bit 0); the rest,
// cut at its first NUL, is measured at every position with several limits
// and walked with HVNextChar. dp_mblen must agree with plain trial
// conversion, stay within its limit and the string, and walks must never
// step past the terminator.
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "charset/multibyte.h"
#include "dpxut.h"

namespace {

bool g_have_locales = false;
int g_mode = -1;  // code set bit of the inputs measured so far

void check(bool ok) {
  if (!ok) __builtin_trap();
}

void use_codeset(bool utf8) {
  if (g_mode == static_cast<int>(utf8)) return;
  g_mode = utf8;
  if (g_have_locales) std::setlocale(LC_CTYPE, utf8 ? "en_US.UTF-8" : "ja_JP.EUC-JP");
  check(DPInitUniLibrary(utf8 ? "UTF-8" : "EUC-JP") == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The replay test sets LOCPATH to the hermetic test locales; a fuzzing
  // run gets it from its environment. Without them MB_CUR_MAX stays 1.
  g_have_locales = std::setlocale(LC_CTYPE, "ja_JP.EUC-JP") != nullptr &&
                   std::setlocale(LC_CTYPE, "en_US.UTF-8") != nullptr;
  use_codeset(false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  use_codeset((mode & 2) != 0);
  DPUseMbFunctions = mode & 1;

  std::vector<char> text(data + 1, data + size);
  text.push_back('\0');
  const char* s = text.data();
  const size_t len = std::strlen(s);

  const size_t limits[] = {0, 1, 2, 3, 4, 7, SIZE_MAX};
  for (size_t i = 0; i <= len; ++i) {
    const size_t rest = len - i;
    for (size_t n : limits) {
      const int r = dp_mblen(s + i, n);
      check(r == dpxut::charset::mblen_by_trial(s + i, n));
      if (rest == 0) {
        check(r == 0);
      } else {
        check(r >= 1 && static_cast<size_t>(r) <= (n == 0 ? 1 : n) &&
               static_cast<size_t>(r) <= rest);
      }
    }
    const int t = HVCharType(s + i);
    check(t >= 1 && (rest == 0 ? t == 1 : static_cast<size_t>(t) <= rest));
    if (i + t <= len) check(HVPrevChar(s, s + i + t) == s + i + t - HVCharType(s + i + t));
  }

  // A walk stops exactly at the terminator.
  const char* end = s + len;
  const char* p = s;
  while (*p != '\0') {
    const char* next = HVNextChar(p);
    check(next > p && next <= end);
    p = next;
  }
  check(p == end && HVNextChar(p) == end + 1);
  DPUseMbFunctions = 0;
  return 0;
}
