// Any bytes as UTF-8 text (and as wide units) through the conversions and
// string walks. Every destination is a heap block of exactly the capacity
// passed, so a write past it is caught; sizing must equal filling, a
// capacity one unit short must overflow, and the fast passes must write
// what the table-walking coder decodes.
#include <clocale>

#include "common/wide.h"
#include "dpxut.h"
#include "fuzz_input.h"

namespace wide = dpxut::wide;

// UTF-8 to wide at every capacity up to the exact one and one short; the
// units must be what dp_utf2uni decodes and come back as no longer a text.
static void convert_utf8(const char* s, size_t len, size_t offset) {
  size_t count = 0, size = 0, bytes = 0;
  const uint32_t sized = DPutf82uni(nullptr, s, &count);
  check(sized == 0 || sized == HVDPUT_INVALID_PARAMETER, "sizing code");
  // Tiny capacities: never a write outside them, never a false success.
  for (size_t capacity = 0; capacity < 4; ++capacity) {
    const Block out(capacity * 4, offset);
    const uint32_t code = DPutf82uni(out.as<wchar_t>(), s, &(size = capacity));
    check(sized ? code != 0 : (code == 0) == (count < capacity) && (code != 0 || size == count), "tiny capacity");
  }
  if (sized != 0) return;
  const Block block((count + 1) * 4, offset);
  auto* uni = block.as<wchar_t>();
  check(DPutf82uni(uni, s, &(size = count + 1)) == 0 && size == count, "exact capacity");
  const char* p = s;
  for (size_t i = 0; i < count; ++i) {
    uint16_t v;
    const int n = dp_utf2uni(&v, p);
    check(n > 0 && static_cast<uint32_t>(wide::load(uni, i)) == v, "the fast pass writes what the coder decodes");
    p += n;
  }
  check(*p == '\0' && wide::load(uni, count) == 0, "all of the text, terminated");
  check(DPutf82uni(uni, s, &(size = count)) == HVDPUT_OVERFLOW && size == count, "one unit short");
  check(DPuni2utf8(nullptr, uni, &bytes) == 0 && bytes <= len, "back to UTF-8, never longer");
  const Block out(bytes + 1), short_out(bytes);
  check(DPuni2utf8(out.as<char>(), uni, &(size = bytes + 1)) == 0 && size == bytes, "exact UTF-8 capacity");
  check(DPuni2utf8(short_out.as<char>(), uni, &(size = bytes)) == HVDPUT_OVERFLOW, "one byte short");
  // Text of 1- to 3-byte forms (it comes back as long as it was) reverses
  // back to itself.
  const Block copy(len + 1, 0, s, len);
  char* c = copy.as<char>();
  check(wide::length(uni) != count || bytes != len || (xutf8rev(xutf8rev(c)) == c && std::memcmp(c, s, len + 1) == 0),
        "reversed twice, the text");
}

// Any units to UTF-8 and through the wide string functions.
static void convert_wide(const uint8_t* data, size_t size, size_t offset) {
  const Block block((size / 4 + 1) * 4, offset, data, size / 4 * 4);
  auto* w = block.as<wchar_t>();
  size_t bytes = 0, n = 0, back = 0;
  check(DPuni2utf8(nullptr, w, &bytes) == 0, "any units size");
  const Block out(bytes + 1);
  check(DPuni2utf8(out.as<char>(), w, &(n = bytes + 1)) == 0 && n == bytes, "any units convert");
  check(DPutf82uni(nullptr, out.as<char>(), &back) == 0, "whatever the units, their 16-bit forms encode validly");
  const size_t len = wide::length(w);
  const wchar_t first = len ? wide::load(w, 0) : 0;
  check(wide::find(w, first) == w || len == 0, "the first unit is found first");
  wide::find_last(w, first);
  wide::find_string(w, wide::at(w, len / 2));
  wide::icompare(w, wide::at(w, len / 2));
  DPuninicmp(w, w, static_cast<int32_t>(len));
  check(DPunirev(DPuniupr(w)) == w && wide::length(w) == len, "upper-casing and reversal keep the length");
  std::free(DPunidup(w));
}

static void walk(const char* s, size_t len) {
  check(xutf8len(s) <= len, "xutf8len");
  for (const char* p = s; *p != '\0'; p = xutf8next(p)) check(p < s + len, "xutf8next stays in the text");
  const char *ch = s + len / 2, *first = xutf8chr(s, ch), *last = xutf8rchr(s, ch);
  check((first == nullptr) == (last == nullptr) && first <= last, "first and last hit");
  xutf8cmp(s, ch);
  xutf8str(s, ch);
  xutf8nicmp(s, ch, static_cast<uint32_t>(len));
  xutf8icmp(s, ch);
  const Block block(len + 1, 0, s, len);
  char* copy = block.as<char>();
  check(xutf8upr(copy) == copy && std::strlen(copy) <= len, "upper-cased in place");
  std::memcpy(copy, s, len + 1);
  check(xutf8rev(copy) == copy && std::strlen(copy) <= len, "reversed in place");
}

// Upper-casing and case folding follow the locale: a UTF-8 locale with
// full case tables (from LOCPATH, as the test runs set it) when there is one.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  [[maybe_unused]] static const bool utf8 = std::setlocale(LC_ALL, "en_US.UTF-8") || std::setlocale(LC_ALL, "C.UTF-8");
  const std::string s = FuzzInput{data, size}.until_nul();
  const size_t offset = size ? data[0] % 4 : 0;
  const Block text = c_string(s);
  convert_utf8(text.as<char>(), s.size(), offset);
  walk(text.as<char>(), s.size());
  convert_wide(data, size, offset);
  return 0;
}
