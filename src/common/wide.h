// Wide strings at any address. Name buffers and string records keep wide
// text (32-bit wchar_t units) at odd offsets, so a wide string handed to the
// library may start at 1, 2 or 3 mod 4. Dereferencing a misaligned wchar_t*
// is undefined, and glibc's optimised wcs* functions assume 4-byte alignment
// and return wrong answers otherwise. Every wide-string access in the library
// goes through this layer instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>

namespace dpxut::wide {

static_assert(sizeof(wchar_t) == 4, "wide strings are arrays of 32-bit units");

// Size of one unit in bytes. Every position and count below is in units
// unless its name says bytes.
inline constexpr size_t kUnit = 4;

// Conventions of the whole API:
//  - A string is a sequence of 4-byte units ending in the first unit whose
//    32 bits are all zero. It is passed as an untyped pointer to its first
//    byte and may sit at any address; units are loaded and stored with
//    memcpy, never through a wchar_t*.
//  - No function reads past the terminating unit of a string it scans, nor
//    writes outside the units it is asked to write; none allocates except
//    duplicate().
//  - Pointers that are results point into the string given (C style: a
//    const input yields a non-const result, as strchr does).
//  - When the pointers happen to be 4-byte aligned, length, nlength, find,
//    find_last, compare and ncompare hand over to glibc's vectorised wcs*
//    functions; the tests hold both paths to the same answers.

// True when p may be used as a wchar_t* (4-byte aligned).
inline bool is_aligned(const void* p) noexcept {
  return reinterpret_cast<uintptr_t>(p) % alignof(wchar_t) == 0;
}

// Byte address of unit i of s.
inline unsigned char* at(void* s, size_t i) noexcept {
  return static_cast<unsigned char*>(s) + i * kUnit;
}
inline const unsigned char* at(const void* s, size_t i) noexcept {
  return static_cast<const unsigned char*>(s) + i * kUnit;
}

// Unit i of s (s need not be aligned).
inline wchar_t load(const void* s, size_t i = 0) noexcept {
  wchar_t c;
  std::memcpy(&c, at(s, i), kUnit);
  return c;
}

// Stores c as unit i of s.
inline void store(void* s, size_t i, wchar_t c) noexcept {
  std::memcpy(at(s, i), &c, kUnit);
}

// Number of units before the terminating zero unit (wcslen). Inline: the
// conversions of short names call it twice (sizing, then filling).
size_t length_unaligned(const void* s) noexcept;
inline size_t length(const void* s) noexcept {
  return is_aligned(s) ? std::wcslen(static_cast<const wchar_t*>(s)) : length_unaligned(s);
}

// The smaller of length(s) and max; reads at most max units (wcsnlen).
size_t nlength(const void* s, size_t max) noexcept;

// Copies n units from src to dst; the ranges may overlap. No terminator.
inline void copy_units(void* dst, const void* src, size_t n) noexcept {
  if (n != 0) std::memmove(dst, src, n * kUnit);
}

// Copies src with its terminator to dst (wcscpy); returns length(src).
// The ranges may overlap.
size_t copy(void* dst, const void* src) noexcept;

// wcsncpy: copies at most n units of src to dst and fills the rest of the
// n units with zero units. dst is terminated only if length(src) < n.
void ncopy(void* dst, const void* src, size_t n) noexcept;

// Appends src with its terminator after the text of dst (wcscat); returns
// the new length of dst. The caller provides the room.
size_t concat(void* dst, const void* src) noexcept;

// wcscmp / wcsncmp: compares units as signed wchar_t values; returns -1, 0
// or 1. ncompare looks at no more than n units of either string.
int compare(const void* a, const void* b) noexcept;
int ncompare(const void* a, const void* b, size_t n) noexcept;

// wcscasecmp / wcsncasecmp of glibc, result included: units are folded with
// towlower of the current locale and the result is the difference of the
// first pair of folded units that differ (0 when equal).
int icompare(const void* a, const void* b) noexcept;
int nicompare(const void* a, const void* b, size_t n) noexcept;

// wcschr / wcsrchr: first / last unit equal to c, or null. Searching for
// the zero unit finds the terminator.
void* find(const void* s, wchar_t c) noexcept;
void* find_last(const void* s, wchar_t c) noexcept;

// wcsstr: first occurrence of needle in haystack, or null; an empty needle
// is found at haystack.
void* find_string(const void* haystack, const void* needle) noexcept;

// Reverses the units of s in place (the terminator stays last).
void reverse(void* s) noexcept;

// Replaces every unit by towupper of its full 32-bit value, in place.
void upper(void* s) noexcept;

// New malloc block of (length(s) + 1) * 4 bytes holding s and its
// terminator; the caller releases it with free. Null when out of memory.
wchar_t* duplicate(const void* s) noexcept;

}  // namespace dpxut::wide
