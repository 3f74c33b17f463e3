// Generic characters and strings: the separators, wildcards, dot and
// terminator that path and wildcard code looks for, in the encoding of any
// name space, plus DPsetChar/DPcheckChar that copy and compare one character
// of a name space. The UTF-8 and wide tables are converted from the server's
// code set on first use, once per process, and are read-only afterwards.
#include <atomic>
#include <cstring>
#include <mutex>

#include "charset/namespace.h"
#include "common/export.h"
#include "dpxut.h"

namespace dpxut::charset {
namespace {

// Catalogue order of the generic characters; every table follows it.
constexpr int kCharCodes[] = {0x2F, 0, 0x2A, 0x2E, 0x3A, 0x3F, 0x5C};
constexpr size_t kCharCount = sizeof kCharCodes / sizeof kCharCodes[0];
// The one-character locale strings the UTF-8 and wide forms are made from.
constexpr const char* kCharSources[kCharCount] = {"/", "", "*", ".", ":", "?", "\\"};

constexpr const char* kStringKeys[] = {":/", ":/\\", "/\\", ":", "/", "::", ">", "<", "|", "//"};
constexpr size_t kStringCount = sizeof kStringKeys / sizeof kStringKeys[0];

constexpr int char_index(int code) noexcept {
  for (size_t i = 0; i < kCharCount; ++i)
    if (kCharCodes[i] == code) return static_cast<int>(i);
  return -1;
}

// True when `key` holds exactly `entry` and then its terminator. Stops at
// the first differing byte, so it never reads past the end of `key`.
bool key_equals(const char* key, const char* entry) noexcept {
  size_t i = 0;
  for (; entry[i] != '\0'; ++i)
    if (key[i] != entry[i]) return false;
  return key[i] == '\0';
}

int string_index(const char* key) noexcept {
  if (key == nullptr) return -1;
  for (size_t i = 0; i < kStringCount; ++i)
    if (key_equals(key, kStringKeys[i])) return static_cast<int>(i);
  return -1;
}

// The locale forms need no conversion: each is the catalogue byte and a NUL.
constexpr char kMbcsChars[kCharCount][2] = {{'/', 0}, {0, 0}, {'*', 0}, {'.', 0},
                                            {':', 0}, {'?', 0}, {'\\', 0}};

// A converted table: fixed-room NUL-terminated entries, filled once. An
// entry whose conversion fails stays all zero, i.e. the empty string.
template <typename Unit, size_t Entries, size_t Room>
struct ConvertedTable {
  Unit entry[Entries][Room];
  std::once_flag filling;
  // Set (release) once the entries are complete; lookups inside path loops
  // test it (acquire) and skip the once-only machinery after the first fill.
  std::atomic<bool> filled;
};

ConvertedTable<char, kCharCount, 20> utf8_chars;
ConvertedTable<wchar_t, kCharCount, 2> wide_chars;
ConvertedTable<char, kStringCount, 20> utf8_strings;
ConvertedTable<wchar_t, kStringCount, 12> wide_strings;

// The first fill of a table may run the process-wide conversion set-up,
// which switches the process locale; first fills of different tables are
// kept apart so that two set-ups never overlap from here.
std::mutex fill_mutex;

void convert_entry(char* dst, size_t room, const char* src) noexcept {
  size_t size = room;
  if (DPloc2utf8(dst, &size, src) != HVDPUT_SUCCESS) std::memset(dst, 0, room);
  dst[room - 1] = '\0';
}

void convert_entry(wchar_t* dst, size_t room, const char* src) noexcept {
  size_t size = room;
  if (DPloc2uni(dst, &size, src) != HVDPUT_SUCCESS) std::memset(dst, 0, room * sizeof *dst);
  dst[room - 1] = 0;
}

template <typename Unit, size_t Entries, size_t Room>
const Unit* lookup(ConvertedTable<Unit, Entries, Room>& table, const char* const (&sources)[Entries],
                   int index) noexcept {
  if (index < 0) return nullptr;
  if (!table.filled.load(std::memory_order_acquire)) {
    std::call_once(table.filling, [&] {
      std::lock_guard<std::mutex> hold(fill_mutex);
      for (size_t i = 0; i < Entries; ++i) convert_entry(table.entry[i], Room, sources[i]);
      table.filled.store(true, std::memory_order_release);
    });
  }
  return table.entry[index];
}

// Bytes one character of the name space occupies, measured at `ch`.
size_t char_length(uint32_t ns, const void* ch) noexcept {
  switch (encoding_of(ns)) {
    case Encoding::wide:
      return 4;
    case Encoding::utf8: {
      size_t n = DPutf8Size(static_cast<const char*>(ch));
      return n ? n : 1;
    }
    case Encoding::bytes:
      break;
  }
  int n = HVCharType(static_cast<const char*>(ch));
  return n > 0 ? static_cast<size_t>(n) : 1;
}

}  // namespace
}  // namespace dpxut::charset

using namespace dpxut::charset;

DPXUT_EXPORT const char* GenericMBCSChar(int code) {
  int i = char_index(code);
  return i < 0 ? nullptr : kMbcsChars[i];
}

DPXUT_EXPORT const char* GenericUtf8Char(int code) {
  return lookup(utf8_chars, kCharSources, char_index(code));
}

DPXUT_EXPORT const wchar_t* GenericUniChar(int code) {
  return lookup(wide_chars, kCharSources, char_index(code));
}

DPXUT_EXPORT const void* GenericChar(uint32_t nameSpace, int code) {
  switch (encoding_of(nameSpace)) {
    case Encoding::wide:
      return GenericUniChar(code);
    case Encoding::utf8:
      return GenericUtf8Char(code);
    case Encoding::bytes:
      break;
  }
  return GenericMBCSChar(code);
}

DPXUT_EXPORT const char* GenericUtf8String(const char* key) {
  return lookup(utf8_strings, kStringKeys, string_index(key));
}

DPXUT_EXPORT const wchar_t* GenericUniString(const char* key) {
  return lookup(wide_strings, kStringKeys, string_index(key));
}

// In a locale name space the key already is the string asked for.
DPXUT_EXPORT const void* GenericString(uint32_t nameSpace, const char* key) {
  switch (encoding_of(nameSpace)) {
    case Encoding::wide:
      return GenericUniString(key);
    case Encoding::utf8:
      return GenericUtf8String(key);
    case Encoding::bytes:
      break;
  }
  return key;
}

// Copies the character at `ch` over whatever `dst` holds, measured by `ch`
// alone. A multibyte character cut short by its terminator is copied only
// up to that terminator, so nothing beyond the source string is read.
DPXUT_EXPORT void DPsetChar(uint32_t nameSpace, void* dst, const void* ch) {
  if (ch == nullptr || dst == nullptr) return;
  size_t n = char_length(nameSpace, ch);
  if (!is_wide_ns(nameSpace)) {
    size_t present = strnlen(static_cast<const char*>(ch), n);
    n = present ? present : 1;  // the terminator itself is one byte
  }
  std::memcpy(dst, ch, n);
}

// Compares the character at `ch` (its length decides) with the bytes at
// `s`. The byte loop stops at the first difference or at the terminator of
// `ch`, so a short `s` or a truncated `ch` is never read past its end.
DPXUT_EXPORT uint16_t DPcheckChar(uint32_t nameSpace, const void* s, const void* ch) {
  if (s == nullptr || ch == nullptr) return 0;
  size_t n = char_length(nameSpace, ch);
  if (is_wide_ns(nameSpace)) return std::memcmp(s, ch, 4) == 0;
  const auto* a = static_cast<const unsigned char*>(s);
  const auto* b = static_cast<const unsigned char*>(ch);
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return 0;
    if (b[i] == 0) break;
  }
  return 1;
}

DPXUT_EXPORT uint16_t DPisQuestion(uint32_t nameSpace, const void* s) {
  return DPcheckChar(nameSpace, s, GenericChar(nameSpace, '?'));
}

DPXUT_EXPORT uint16_t DPisWild(uint32_t nameSpace, const void* s) {
  return DPcheckChar(nameSpace, s, GenericChar(nameSpace, '*')) ||
         DPcheckChar(nameSpace, s, GenericChar(nameSpace, '?'));
}
