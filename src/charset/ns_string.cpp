// The string library of the name-space character layer: every function takes
// a name space number and works on wide strings (through the alignment-safe
// wide layer, since wide strings reach here at any address), on UTF-8 (through
// the UTF-8 functions and their hooks) or on locale bytes. Also the byte-string
// helpers strrev, strlwr and strupr.
#include <algorithm>
#include <ctype.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "charset/namespace.h"
#include "common/export.h"
#include "common/heap.h"
#include "common/wide.h"
#include "dpxut.h"

namespace dpxut::charset {
namespace {

const char* bytes_of(const void* p) noexcept { return static_cast<const char*>(p); }
char* mutable_bytes(const void* p) noexcept { return const_cast<char*>(static_cast<const char*>(p)); }

int sign_of(int r) noexcept { return (r > 0) - (r < 0); }

// Order for comparisons handed a null string: null equals null and sorts
// before every string. Returns true (and the order in *r) when either is null.
bool null_order(const void* a, const void* b, int* r) noexcept {
  if (a != nullptr && b != nullptr) return false;
  *r = (a != nullptr) - (b != nullptr);
  return true;
}

// Bounded comparison of the UTF-8 name spaces: the first m bytes, with m the
// smaller of both lengths and n, as unsigned values. The terminators are
// never compared, so a string equals each of its prefixes within n bytes.
int bounded_compare(const char* a, const char* b, size_t n) noexcept {
  size_t m = std::min(strnlen(a, n), strnlen(b, n));
  return sign_of(std::memcmp(a, b, m));
}

// strncasecmp of the byte name spaces, folding with the current locale's
// tolower table (so Latin-1 letters fold in a Latin-1 locale), at most n
// bytes. Kept here rather than calling the platform so that every build,
// sanitizer runtimes with their ASCII-only replacements included, folds the
// same way. Equal bytes skip the fold.
int byte_icompare(const char* a, const char* b, size_t n) noexcept {
  const int32_t* lower = *__ctype_tolower_loc();  // indexable by every unsigned char
  for (size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[i]);
    if (ca == cb) {
      if (ca == 0) break;
      continue;
    }
    const int la = lower[ca], lb = lower[cb];
    if (la != lb) return la - lb;
  }
  return 0;
}

void reverse_bytes(char* s) noexcept { std::reverse(s, s + std::strlen(s)); }

// Byte-wise case mapping in the current locale. The exported strupr and
// strlwr are thin doors to these, and the library calls these directly: a
// host that defines its own strupr (common in ported code) would otherwise
// take over the library's internal calls through symbol interposition.
template <int (*Map)(int)>
char* map_bytes(char* s) noexcept {
  for (char* p = s; *p != '\0'; ++p) *p = static_cast<char>(Map(static_cast<unsigned char>(*p)));
  return s;
}
int to_upper(int c) noexcept { return std::toupper(c); }
int to_lower(int c) noexcept { return std::tolower(c); }

// A heap copy of a byte string of `length` bytes and its terminator.
HeapPtr<char> copy_bytes(const char* s, size_t length) noexcept {
  HeapPtr<char> copy = heap_alloc<char>(length + 1);
  if (copy) std::memcpy(copy.get(), s, length + 1);
  return copy;
}

// DPstrnicmp in the UTF-8 name spaces: the bounded comparison of upper-cased
// heap copies of both strings; -1 when a copy cannot be made.
int upper_bounded_compare(const char* a, const char* b, size_t n) noexcept {
  HeapPtr<char> ca = copy_bytes(a, std::strlen(a));
  if (!ca) return -1;
  HeapPtr<char> cb = copy_bytes(b, std::strlen(b));
  if (!cb) return -1;
  DPutf8upr(ca.get());
  DPutf8upr(cb.get());
  return bounded_compare(ca.get(), cb.get(), n);
}

// Last character of a UTF-8 string: DPutf8len characters, reached in that
// many steps less one. A step that would land on or past the terminator (a
// lead byte announcing more bytes than are left, or a host's stepping hook
// disagreeing with its length hook) ends the walk at the character it left.
char* utf8_last_char(const char* s) noexcept {
  size_t k = DPutf8len(s);
  if (k <= 1) return mutable_bytes(s);
  const char* end = s + std::strlen(s);
  const char* p = s;
  for (size_t i = 1; i < k; ++i) {
    const char* q = DPutf8next(p);
    if (q <= p || q >= end) break;
    p = q;
  }
  return mutable_bytes(p);
}

}  // namespace
}  // namespace dpxut::charset

using namespace dpxut::charset;
namespace wide = dpxut::wide;

DPXUT_EXPORT uint32_t DPsizeOfChar(uint32_t nameSpace) { return static_cast<uint32_t>(unit_size(nameSpace)); }

DPXUT_EXPORT uint32_t DPstrlen(uint32_t nameSpace, const void* s) {
  if (s == nullptr) return 0;
  if (is_wide_ns(nameSpace)) return static_cast<uint32_t>(4 * wide::length(s));
  return static_cast<uint32_t>(std::strlen(bytes_of(s)));
}

DPXUT_EXPORT void* DPstrdup(uint32_t nameSpace, const void* s) {
  if (s == nullptr) return nullptr;
  if (is_wide_ns(nameSpace)) return DPunidup(static_cast<const wchar_t*>(s));
  return dpxut::heap_strdup(bytes_of(s));
}

DPXUT_EXPORT int DPstrcpy(uint32_t nameSpace, void* dst, const void* src) {
  if (dst == nullptr || src == nullptr) return 0;
  if (is_wide_ns(nameSpace))
    wide::copy(dst, src);
  else
    std::strcpy(static_cast<char*>(dst), bytes_of(src));
  return 0;
}

// `n` counts wide characters in a wide name space and bytes otherwise.
DPXUT_EXPORT int DPstrncpy(uint32_t nameSpace, void* dst, const void* src, uint32_t n) {
  if (dst == nullptr || src == nullptr) return 0;
  if (is_wide_ns(nameSpace))
    wide::ncopy(dst, src, n);
  else
    std::strncpy(static_cast<char*>(dst), bytes_of(src), n);
  return 0;
}

DPXUT_EXPORT int DPstrcat(uint32_t nameSpace, void* dst, const void* src) {
  if (dst == nullptr || src == nullptr) return 0;
  if (is_wide_ns(nameSpace))
    wide::concat(dst, src);
  else
    std::strcat(static_cast<char*>(dst), bytes_of(src));
  return 0;
}

DPXUT_EXPORT int DPstrcmp(uint32_t nameSpace, const void* a, const void* b) {
  int r;
  if (null_order(a, b, &r)) return r;
  if (is_wide_ns(nameSpace)) return wide::compare(a, b);
  if (is_utf8_ns(nameSpace)) return DPutf8cmp(bytes_of(a), bytes_of(b));
  return std::strcmp(bytes_of(a), bytes_of(b));
}

// `n` counts wide characters in a wide name space and bytes otherwise.
DPXUT_EXPORT int DPstrncmp(uint32_t nameSpace, const void* a, const void* b, uint32_t n) {
  int r;
  if (null_order(a, b, &r)) return r;
  if (is_wide_ns(nameSpace)) return wide::ncompare(a, b, n);
  if (is_utf8_ns(nameSpace)) return bounded_compare(bytes_of(a), bytes_of(b), n);
  return std::strncmp(bytes_of(a), bytes_of(b), n);
}

DPXUT_EXPORT int DPstricmp(uint32_t nameSpace, const void* a, const void* b) {
  int r;
  if (null_order(a, b, &r)) return r;
  if (is_wide_ns(nameSpace)) return wide::icompare(a, b);
  if (is_utf8_ns(nameSpace)) return DPutf8icmp(bytes_of(a), bytes_of(b));
  return byte_icompare(bytes_of(a), bytes_of(b), SIZE_MAX);
}

// `n` is a byte count in every name space: n / 4 wide characters.
DPXUT_EXPORT int DPstrnicmp(uint32_t nameSpace, const void* a, const void* b, uint32_t n) {
  int r;
  if (null_order(a, b, &r)) return r;
  if (is_wide_ns(nameSpace))
    return DPuninicmp(static_cast<const wchar_t*>(a), static_cast<const wchar_t*>(b),
                      static_cast<int32_t>(n / 4));
  if (is_utf8_ns(nameSpace)) return upper_bounded_compare(bytes_of(a), bytes_of(b), n);
  return byte_icompare(bytes_of(a), bytes_of(b), n);
}

DPXUT_EXPORT int StrNIEqu(uint32_t nameSpace, const void* a, const void* b, uint32_t n) {
  return DPstrnicmp(nameSpace, a, b, n) == 0;
}

// Lengths first (bytes, as DPstrlen gives them), then the texts.
DPXUT_EXPORT int StrIEqu(uint32_t nameSpace, const void* a, const void* b) {
  uint32_t length = DPstrlen(nameSpace, a);
  if (length != DPstrlen(nameSpace, b)) return 0;
  return StrNIEqu(nameSpace, a, b, length);
}

DPXUT_EXPORT void* DPstrupr(uint32_t nameSpace, void* s) {
  if (s == nullptr) return nullptr;
  if (is_wide_ns(nameSpace)) return DPuniupr(static_cast<wchar_t*>(s));
  if (is_utf8_ns(nameSpace)) return DPutf8upr(static_cast<char*>(s));
  return map_bytes<to_upper>(static_cast<char*>(s));
}

// Wide strings by elements, UTF-8 by characters (each sequence keeps its
// byte order), locale strings by bytes: a multibyte locale character comes
// back with its bytes swapped, as callers of the byte form expect.
DPXUT_EXPORT void* DPstrrev(uint32_t nameSpace, void* s) {
  if (s == nullptr) return nullptr;
  if (is_wide_ns(nameSpace)) return DPunirev(static_cast<wchar_t*>(s));
  if (is_utf8_ns(nameSpace)) return DPutf8rev(static_cast<char*>(s));
  reverse_bytes(static_cast<char*>(s));
  return s;
}

// The value searched for is the wide character or the byte at `ch`; in a
// UTF-8 name space the whole character at `ch`, which never matches the
// terminator.
DPXUT_EXPORT void* DPstrchr(uint32_t nameSpace, const void* s, const void* ch) {
  if (s == nullptr || ch == nullptr) return nullptr;
  if (is_wide_ns(nameSpace)) return wide::find(s, wide::load(ch));
  if (is_utf8_ns(nameSpace)) return DPutf8chr(bytes_of(s), bytes_of(ch));
  return std::strchr(mutable_bytes(s), *bytes_of(ch));
}

DPXUT_EXPORT void* DPstrrchr(uint32_t nameSpace, const void* s, const void* ch) {
  if (s == nullptr || ch == nullptr) return nullptr;
  if (is_wide_ns(nameSpace)) return wide::find_last(s, wide::load(ch));
  if (is_utf8_ns(nameSpace)) return DPutf8rchr(bytes_of(s), bytes_of(ch));
  return std::strrchr(mutable_bytes(s), *bytes_of(ch));
}

DPXUT_EXPORT void* DPstrstr(uint32_t nameSpace, const void* haystack, const void* needle) {
  if (haystack == nullptr || needle == nullptr) return nullptr;
  if (is_wide_ns(nameSpace)) return wide::find_string(haystack, needle);
  if (is_utf8_ns(nameSpace)) return DPutf8str(bytes_of(haystack), bytes_of(needle));
  return std::strstr(mutable_bytes(haystack), bytes_of(needle));
}

// A wide step is 4 bytes whatever the character holds.
DPXUT_EXPORT void* DPnextChar(uint32_t nameSpace, const void* p) {
  if (p == nullptr) return nullptr;
  if (is_wide_ns(nameSpace)) return mutable_bytes(p) + 4;
  if (is_utf8_ns(nameSpace)) return DPutf8next(bytes_of(p));
  return HVNextChar(bytes_of(p));
}

// Steps back by the length of the character AT p, like the byte stepper
// (which its callers use only over single-byte characters).
DPXUT_EXPORT void* DPprevChar(uint32_t nameSpace, const void* p) {
  if (p == nullptr) return nullptr;
  if (is_wide_ns(nameSpace)) return mutable_bytes(p) - 4;
  if (is_utf8_ns(nameSpace)) return mutable_bytes(p) - DPutf8Size(bytes_of(p));
  return HVPrevChar(bytes_of(p), bytes_of(p));
}

// In the locale name spaces the last byte, which in a multibyte string may
// be the trail byte of a longer character.
DPXUT_EXPORT void* DPlastChar(uint32_t nameSpace, const void* s) {
  if (s == nullptr) return nullptr;
  if (is_wide_ns(nameSpace)) {
    size_t k = wide::length(s);
    return mutable_bytes(s) + (k ? 4 * (k - 1) : 0);
  }
  if (is_utf8_ns(nameSpace)) return utf8_last_char(bytes_of(s));
  size_t k = std::strlen(bytes_of(s));
  return mutable_bytes(s) + (k ? k - 1 : 0);
}

// With an empty `s` the "last character" is the terminator, which the wide
// and byte searches find in `set` and the UTF-8 search never does.
DPXUT_EXPORT void* DPendChar(uint32_t nameSpace, const void* s, const void* set) {
  if (s == nullptr || set == nullptr) return nullptr;
  return DPstrchr(nameSpace, set, DPlastChar(nameSpace, s));
}

// strrev takes a destination it never uses; the reversal is done in `src`.
DPXUT_EXPORT char* strrev(char* /*dst*/, char* src) {
  if (src != nullptr) reverse_bytes(src);
  return src;
}

DPXUT_EXPORT char* strlwr(char* s) { return s != nullptr ? map_bytes<to_lower>(s) : s; }

DPXUT_EXPORT char* strupr(char* s) { return s != nullptr ? map_bytes<to_upper>(s) : s; }
