// Any bytes as UTF-8 text (and as wide units) through the conversions and
// string walks. Every destination is a heap block of exactly the capacity
// passed, so a write past it is caught; sizing must equal filling, a
// capacity one unit short must overflow, the fast passes must write what
// the table-walking coder decodes, and text without overlong forms must
// come back as it was. The wide string functions are fuzzed with hostile
// units by the name-space string target; here they run in a UTF-8 locale.
#include <clocale>

#include "common/wide.h"
#include "dpxut.h"
#include "fuzz_input.h"

namespace wide = dpxut::wide;

// Wide units to UTF-8, in blocks of exactly the size reported and one less.
static std::string to_utf8(const wchar_t* w) {
  size_t bytes = 0, n = 0;
  check(DPuni2utf8(nullptr, w, &bytes) == 0, "any units size");
  const Block out(bytes + 1), short_out(bytes);
  check(DPuni2utf8(out.as<char>(), w, &(n = bytes + 1)) == 0 && n == bytes &&
            DPuni2utf8(short_out.as<char>(), w, &(n = bytes)) == HVDPUT_OVERFLOW,
        "exact UTF-8 capacity, one byte short");
  return std::string(out.as<char>(), bytes);
}

// UTF-8 to wide at tiny capacities, one unit short and exact (a failure
// leaves the size as it was); the units must be what dp_utf2uni decodes.
// Gives the text back through the units, "" for invalid text.
static std::string round_trip(const char* s, size_t offset) {
  size_t count = 0, size = 0;
  const uint32_t sized = DPutf82uni(nullptr, s, &count);
  check(sized == 0 || sized == HVDPUT_INVALID_PARAMETER, "sizing code");
  for (size_t capacity : {size_t{0}, size_t{1}, size_t{2}, size_t{3}, count, count + 1}) {
    const Block out(capacity * 4, offset);
    const uint32_t code = DPutf82uni(out.as<wchar_t>(), s, &(size = capacity));
    check((sized ? code != 0 : code == (count < capacity ? 0 : HVDPUT_OVERFLOW)) && size == (code ? capacity : count),
          "filling as sized");
  }
  if (sized != 0) return "";
  const Block block((count + 1) * 4, offset);
  auto* uni = block.as<wchar_t>();
  DPutf82uni(uni, s, &(size = count + 1));
  const char* p = s;
  for (int i = 0, n = 0; i < static_cast<int>(count); ++i, p += n) {
    uint16_t v;
    check((n = dp_utf2uni(&v, p)) > 0 && static_cast<uint32_t>(wide::load(uni, i)) == v, "what the coder decodes");
  }
  check(*p == '\0' && wide::load(uni, count) == 0, "all of the text, terminated");
  return to_utf8(uni);
}

// Upper-casing and case folding follow the locale: a UTF-8 locale with
// full case tables (from LOCPATH, as the test runs set it) when there is one.
void fuzz(const uint8_t* data, size_t size) {
  [[maybe_unused]] static const bool utf8 = std::setlocale(LC_ALL, "en_US.UTF-8") || std::setlocale(LC_ALL, "C.UTF-8");
  const std::string text = FuzzInput{data, size}.until_nul();
  const size_t offset = size ? data[0] % 4 : 0, len = text.size();
  const Block block = c_string(text), copy = c_string(text);
  const char *s = block.as<char>(), *ch = s + len / 2, *first = xutf8chr(s, ch), *last = xutf8rchr(s, ch);
  const std::string back = round_trip(s, offset);
  check(back.size() <= len && (back.size() != len || back == text), "back to UTF-8: never longer, as it was");
  check(xutf8len(s) <= len && (first == nullptr) == (last == nullptr) && first <= last, "xutf8len, first and last hit");
  for (const char* p = s; *p != '\0'; p = xutf8next(p)) check(p < s + len, "xutf8next stays in the text");
  xutf8nicmp(s, ch, static_cast<uint32_t>(len));
  xutf8icmp(s, ch);
  char* c = copy.as<char>();
  check(xutf8upr(c) == c && std::strlen(c) <= len, "upper-cased in place");
  std::memcpy(c, s, len + 1);
  check(xutf8rev(c) == c && std::strlen(c) <= len, "reversed in place");
  check(back != text || (xutf8rev(c) == c && std::memcmp(c, s, len + 1) == 0), "reversed twice, the text");

  // Any units to UTF-8, whose 16-bit forms encode validly, and through the
  // wide upper-casing and reversal.
  const Block units((size / 4 + 1) * 4, offset, data, size / 4 * 4);
  auto* w = units.as<wchar_t>();
  size_t n = 0;
  check(DPutf82uni(nullptr, to_utf8(w).c_str(), &n) == 0, "any units convert");
  const size_t wlen = wide::length(w);
  check(wide::find(w, wide::load(w)) == w || wlen == 0, "the first unit is found first");
  check(DPunirev(DPuniupr(w)) == w && wide::length(w) == wlen, "upper-casing and reversal keep the length");
}
