// Internal side of the locale conversions: the passes between the server's
// code set and UTF-8 or wide text with their completion code and size kept
// apart, and the special sequence "[XXXX]" that carries a character the
// code set cannot hold. The exported DP*loc*/dp_*locs* functions wrap these.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dpxut::charset {

// Outcome of a pass: code is 0 or an HVDPUT_* completion code; on success
// value is the size a sizing pass counted (terminator included, in the
// destination's unit) or what a filling pass reports (its capacity, or the
// count the multibyte route of locale-to-wide converted).
struct PassResult {
  uint32_t code;
  size_t value;
};

// ---- special sequences ---------------------------------------------------
// "[" + four hexadecimal digits + "]": one UTF-16 unit. A character above
// U+FFFF is written as two sequences holding its surrogate pair, and such a
// pair of sequences reads back as the one character.
inline constexpr size_t kSpecialLen = 6;
inline constexpr size_t kSpecialMax = 2 * kSpecialLen;

// True when a sequence starts at s (never reads past the NUL).
bool is_special_sequence(const char* s) noexcept;
// Decodes the sequence at s (is_special_sequence(s) must hold): stores the
// character and returns the bytes it took, 6, or 12 for a surrogate pair.
size_t decode_special(const char* s, uint32_t* ch) noexcept;
// Writes the sequence(s) for ch into out: returns 6 for ch <= U+FFFF, 12 for
// U+10000..U+10FFFF, 0 (nothing written) when ch is no character at all.
size_t encode_special(uint32_t ch, char (&out)[kSpecialMax]) noexcept;

// ---- passes (no set-up: the public functions run it) ---------------------
PassResult utf8_to_locale_size(const char* utf) noexcept;
PassResult utf8_to_locale(char* loc, const char* utf, size_t capacity) noexcept;
PassResult locale_to_utf8_size(const char* loc) noexcept;
PassResult locale_to_utf8(char* utf, const char* loc, size_t capacity) noexcept;
// Wide text may sit at any address; capacities of wide destinations are
// counted in wide characters.
PassResult wide_to_locale_size(const void* uni, bool map) noexcept;
PassResult wide_to_locale(char* loc, const void* uni, size_t capacity, bool map) noexcept;
PassResult locale_to_wide_size(const char* loc, bool map) noexcept;
PassResult locale_to_wide(void* uni, const char* loc, size_t capacity, bool map) noexcept;

// ---- ASCII fast path -----------------------------------------------------
// True when the current server code set (name in codeset) converts every
// byte 0x01..0x7F to and from the same byte of UTF-8, one by one and as a
// run, so that text made only of such bytes converts by copying. Decided
// once per thread and code set by converting those bytes through iconv.
bool ascii_transparent(const char* codeset) noexcept;
// Tests and benchmarks: false makes every conversion take the iconv route,
// the reference the fast paths (this one, the code set tables of
// codeset_table.h and the kept sizing results of conv_memo.h) are checked
// against. Process-wide.
void set_ascii_fast_path(bool enabled) noexcept;
bool fast_paths_enabled() noexcept;

}  // namespace dpxut::charset
