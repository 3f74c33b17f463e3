// The special sequence "[XXXX]": how the locale conversions write a wide
// character that the server code set cannot hold, and recognise one in
// locale text. Six bytes: "[", four hexadecimal digits (upper case when
// written, either case when read), "]"; the digits hold one UTF-16 unit.
#include "charset/locale_conv.h"
#include "common/export.h"
#include "dpxut.h"

namespace dpxut::charset {
namespace {

// Value of a hexadecimal digit, or -1. The digit set of every locale is
// exactly 0-9, A-F and a-f, so no locale lookup is needed.
constexpr int hex_value(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

uint32_t unit_at(const char* s) noexcept {
  uint32_t v = 0;
  for (int i = 1; i <= 4; ++i) v = v << 4 | static_cast<uint32_t>(hex_value(s[i]));
  return v;
}

void write_unit(char* out, uint32_t unit) noexcept {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out[0] = '[';
  for (int i = 4; i >= 1; --i, unit >>= 4) out[i] = kDigits[unit & 0xF];
  out[5] = ']';
}

}  // namespace

bool is_special_sequence(const char* s) noexcept {
  // Each byte is tested before the next is read: a NUL fails its test, so
  // nothing past the terminator is touched.
  if (s == nullptr || s[0] != '[') return false;
  for (int i = 1; i <= 4; ++i) {
    if (hex_value(s[i]) < 0) return false;
  }
  return s[5] == ']';
}

size_t decode_special(const char* s, uint32_t* ch) noexcept {
  const uint32_t unit = unit_at(s);
  if (unit >= 0xD800 && unit <= 0xDBFF && is_special_sequence(s + kSpecialLen)) {
    const uint32_t low = unit_at(s + kSpecialLen);
    if (low >= 0xDC00 && low <= 0xDFFF) {
      *ch = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      return kSpecialMax;
    }
  }
  *ch = unit;
  return kSpecialLen;
}

size_t encode_special(uint32_t ch, char (&out)[kSpecialMax]) noexcept {
  if (ch <= 0xFFFF) {
    write_unit(out, ch);
    return kSpecialLen;
  }
  if (ch > 0x10FFFF) return 0;
  const uint32_t v = ch - 0x10000;
  write_unit(out, 0xD800 + (v >> 10));
  write_unit(out + kSpecialLen, 0xDC00 + (v & 0x3FF));
  return kSpecialMax;
}

}  // namespace dpxut::charset

DPXUT_EXPORT int isSpecialSequence(const char* s) {
  return dpxut::charset::is_special_sequence(s) ? 1 : 0;
}
