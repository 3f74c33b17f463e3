// Conversion tables of the server code set: for stateless single- and
// double-byte code sets (ISO-8859-*, EUC-JP, Shift_JIS, EUC-KR, Big5 ...)
// the locale conversions look characters up instead of calling iconv.
// The tables are filled from iconv itself, one character at a time, and
// hold only what iconv converts the same way wherever the character
// stands; whatever they do not hold (an invalid UTF-8 sequence, a wide
// character outside them, a three-byte sequence) makes the walk answer
// kFallback, and the pass then runs the iconv route from the start, which
// stays the reference. Code sets with shift states or combining characters,
// and those whose characters run longer than two bytes, get no tables; a
// code set that converts as UTF-8 does is walked without them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dpxut::charset {

// Immutable once built; shared by all threads for the life of the process.
struct CodesetTable {
  // The code set converts as UTF-8 (checked over every scalar value): the
  // walks decode and encode UTF-8 themselves, and nothing below is used.
  bool as_utf8;
  // Byte -> character: the code point (0..0xFFFF) of a byte that is a
  // character by itself, or kLeadByte, kInvalidByte, kFallbackByte.
  uint32_t single[256];
  // Lead byte -> first entry of its row of 256 pair entries in `pairs`.
  uint32_t lead_row[256];
  // (lead, trail) -> code point 1..0xFFFE, kInvalidPair or kFallbackPair.
  const uint16_t* pairs;
  // Code point -> bytes, a page of 256 entries per high byte (pages that
  // hold nothing share one page of zeros, so no entry is ever null): 0 not
  // held, 0x01..0xFF one byte, lead | trail << 8 two bytes (the low byte
  // first, so both are stored at once; the trail byte is never zero).
  const uint16_t* pages[256];
  // UTF-8 of the byte's character (unused bytes zero) and its length, for
  // the bytes that are characters by themselves (0 for the others).
  uint32_t utf8[256];
  uint8_t utf8_len[256];
  // Bytes and code points 0x01..0x7F convert to themselves both ways, so
  // runs of them are copied a word at a time, and text made only of them
  // converts by copying (set for as_utf8 too).
  bool ascii_identity;
  // Bit b (0 < b < 0x80) set: byte b and code point b convert to each other
  // (all of them but Shift_JIS's 0x5C and 0x7E, say).
  uint64_t ascii_same[2];
  // Every byte is a character by itself (no lead, invalid or fallback byte).
  bool all_single;
  // ISO-8859-1: every byte is the code point of the same value, both ways.
  bool latin1;
  // The bytes whose character is not the code point of their value lie in
  // patch_lo..patch_hi (none when patch_lo > patch_hi).
  uint8_t patch_lo, patch_hi;
  // Every byte is a character by itself, and code points U+0001..U+00FF
  // outside patch_lo..patch_hi are bytes of the same value.
  bool narrow_patched;
};

inline constexpr uint32_t kLeadByte = 0xFFFFFFFEu;      // starts a pair
inline constexpr uint32_t kInvalidByte = 0xFFFFFFFFu;   // iconv refuses it
inline constexpr uint32_t kFallbackByte = 0xFFFFFFFDu;  // only iconv knows
inline constexpr uint16_t kInvalidPair = 0;
inline constexpr uint16_t kFallbackPair = 0xFFFF;

// The code set named `codeset` as the calling thread sees it: its tables,
// built on first use (null when it has none), and a key that stands for
// the name, the same for every call with the same name. Both are null when
// the name is empty or unterminated within 128 bytes, and while the fast
// paths are off (set_ascii_fast_path); the key is null too when more than
// 16 names have been met. `codeset` is a 128-byte array (dp_current_codeset).
struct CodesetRef {
  const CodesetTable* table;
  const void* key;
};
CodesetRef codeset_ref(const char* codeset) noexcept;

// The tables of a code set as built from iconv, whatever the fast-path
// switch says (tests). Null as above.
const CodesetTable* build_or_find_table(const char* codeset) noexcept;

// Whether iconv converts the code set as UTF-8 in all four directions,
// every scalar value but U+0000 (what a code set without tables but with
// characters of up to four bytes must do for the UTF-8 walks to serve it).
bool iconv_converts_as_utf8(const char* codeset) noexcept;

// Writes the UTF-8 form of the scalar value cp; returns its length.
inline size_t utf8_encode(uint32_t cp, unsigned char* out) noexcept {
  if (cp < 0x80) {
    out[0] = static_cast<unsigned char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<unsigned char>(0xC0 | cp >> 6);
    out[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<unsigned char>(0xE0 | cp >> 12);
    out[1] = static_cast<unsigned char>(0x80 | (cp >> 6 & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<unsigned char>(0xF0 | cp >> 18);
  out[1] = static_cast<unsigned char>(0x80 | (cp >> 12 & 0x3F));
  out[2] = static_cast<unsigned char>(0x80 | (cp >> 6 & 0x3F));
  out[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
  return 4;
}

// ---- table walks -----------------------------------------------------------
// Each converts `len` units of source and the terminator after them. With
// a null destination it counts the units it would write (terminator
// included); otherwise it writes into `capacity` units and stops with
// kOverflow at the first character that does not fit, after the ones
// before it, as the iconv route fills. kInvalid: the source holds a
// sequence that iconv refuses before anything the tables cannot decide.
enum class TableStep { kDone, kOverflow, kInvalid, kFallback };
struct TableResult {
  TableStep step;
  size_t units;  // counted units, when counting
};

TableResult table_to_utf8(const CodesetTable& t, const char* loc, size_t len, char* utf, size_t capacity) noexcept;
TableResult table_to_wide(const CodesetTable& t, const char* loc, size_t len, void* uni, size_t capacity) noexcept;
TableResult table_from_utf8(const CodesetTable& t, const char* utf, size_t len, char* loc, size_t capacity) noexcept;
TableResult table_from_wide(const CodesetTable& t, const void* uni, size_t units, char* loc,
                            size_t capacity) noexcept;

}  // namespace dpxut::charset
