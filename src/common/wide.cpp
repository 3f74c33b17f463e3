// Wide-string primitives on 4-byte units at any alignment (see wide.h).
// Aligned pointers go to glibc's vectorised functions where their result is
// the same; misaligned ones take unit loops built on memcpy loads, which
// never read beyond the terminating unit.
#include "common/wide.h"

#include <cstdlib>
#include <cwctype>

#include "common/heap.h"

namespace dpxut::wide {

namespace {

// Units of s scanned one at a time from index `from`, four per turn; the
// loads stay in order so that nothing after the terminator is touched.
size_t scan_zero(const void* s, size_t from) noexcept {
  size_t i = from;
  for (;; i += 4) {
    if (load(s, i) == 0) return i;
    if (load(s, i + 1) == 0) return i + 1;
    if (load(s, i + 2) == 0) return i + 2;
    if (load(s, i + 3) == 0) return i + 3;
  }
}

}  // namespace

size_t length_unaligned(const void* s) noexcept { return scan_zero(s, 0); }

size_t nlength(const void* s, size_t max) noexcept {
  if (is_aligned(s)) return ::wcsnlen(static_cast<const wchar_t*>(s), max);
  size_t i = 0;
  while (i < max && load(s, i) != 0) ++i;
  return i;
}

size_t copy(void* dst, const void* src) noexcept {
  size_t n = length(src);
  copy_units(dst, src, n + 1);
  return n;
}

void ncopy(void* dst, const void* src, size_t n) noexcept {
  size_t k = nlength(src, n);
  copy_units(dst, src, k);
  if (k < n) std::memset(at(dst, k), 0, (n - k) * kUnit);
}

size_t concat(void* dst, const void* src) noexcept {
  size_t old = length(dst);
  return old + copy(at(dst, old), src);
}

// glibc compares the units as signed wchar_t values too; only the sign of
// its result is kept so that every alignment gives the same answer.
int compare(const void* a, const void* b) noexcept {
  if (is_aligned(a) && is_aligned(b)) {
    int r = std::wcscmp(static_cast<const wchar_t*>(a), static_cast<const wchar_t*>(b));
    return (r > 0) - (r < 0);
  }
  for (size_t i = 0;; ++i) {
    wchar_t x = load(a, i);
    wchar_t y = load(b, i);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}

int ncompare(const void* a, const void* b, size_t n) noexcept {
  if (is_aligned(a) && is_aligned(b)) {
    int r = std::wcsncmp(static_cast<const wchar_t*>(a), static_cast<const wchar_t*>(b), n);
    return (r > 0) - (r < 0);
  }
  for (size_t i = 0; i < n; ++i) {
    wchar_t x = load(a, i);
    wchar_t y = load(b, i);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
  return 0;
}

// glibc folds with towlower and returns the unsigned difference of the
// folded units as an int; callers that only look at the sign see the same
// answer either way, callers that keep the value see glibc's.
int icompare(const void* a, const void* b) noexcept {
  return nicompare(a, b, SIZE_MAX);
}

int nicompare(const void* a, const void* b, size_t n) noexcept {
  if (a == b) return 0;
  for (size_t i = 0; i < n; ++i) {
    wint_t x = std::towlower(static_cast<wint_t>(load(a, i)));
    wint_t y = std::towlower(static_cast<wint_t>(load(b, i)));
    if (x == 0 || x != y) return static_cast<int>(x - y);
  }
  return 0;
}

void* find(const void* s, wchar_t c) noexcept {
  if (is_aligned(s)) {
    return const_cast<wchar_t*>(std::wcschr(static_cast<const wchar_t*>(s), c));
  }
  for (size_t i = 0;; ++i) {
    wchar_t u = load(s, i);
    if (u == c) return const_cast<unsigned char*>(at(s, i));
    if (u == 0) return nullptr;
  }
}

void* find_last(const void* s, wchar_t c) noexcept {
  if (is_aligned(s)) {
    return const_cast<wchar_t*>(std::wcsrchr(static_cast<const wchar_t*>(s), c));
  }
  const unsigned char* last = nullptr;
  for (size_t i = 0;; ++i) {
    wchar_t u = load(s, i);
    if (u == c) last = at(s, i);
    if (u == 0) return const_cast<unsigned char*>(last);
  }
}

void* find_string(const void* haystack, const void* needle) noexcept {
  size_t nlen = length(needle);
  if (nlen == 0) return const_cast<void*>(haystack);
  size_t hlen = length(haystack);
  if (nlen > hlen) return nullptr;
  wchar_t first = load(needle, 0);
  size_t rest = (nlen - 1) * kUnit;
  for (size_t i = 0; i + nlen <= hlen; ++i) {
    if (load(haystack, i) == first && std::memcmp(at(haystack, i + 1), at(needle, 1), rest) == 0) {
      return const_cast<unsigned char*>(at(haystack, i));
    }
  }
  return nullptr;
}

void reverse(void* s) noexcept {
  size_t n = length(s);
  for (size_t i = 0, j = n; i + 1 < j; ++i) {
    --j;
    wchar_t x = load(s, i);
    store(s, i, load(s, j));
    store(s, j, x);
  }
}

void upper(void* s) noexcept {
  for (size_t i = 0;; ++i) {
    wchar_t u = load(s, i);
    if (u == 0) return;
    wint_t up = std::towupper(static_cast<wint_t>(u));
    if (up != static_cast<wint_t>(u)) store(s, i, static_cast<wchar_t>(up));
  }
}

wchar_t* duplicate(const void* s) noexcept {
  size_t n = length(s) + 1;
  auto* copy = static_cast<wchar_t*>(heap_malloc(n * kUnit));
  if (copy != nullptr) std::memcpy(copy, s, n * kUnit);
  return copy;
}

}  // namespace dpxut::wide
