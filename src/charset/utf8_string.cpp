// UTF-8 string primitives: the built-in xutf8* functions, the DPutf8*
// wrappers the name-space string functions call, and the nine hook
// variables through which a host replaces some of them. Walks step by the
// length a lead byte announces but never past the terminating NUL.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwctype>

#include "charset/utf8.h"
#include "common/export.h"
#include "common/heap.h"
#include "common/le.h"
#include "common/wide.h"
#include "dpxut.h"

// A braced linkage block: `extern "C" T x = ...;` alone reads as an
// initialised extern declaration. Null at load; only hosts store here.
extern "C" {
#define DPXUT_HOOK __attribute__((visibility("default")))
DPXUT_HOOK DPutf8SizeHook imp_utf8width = nullptr;
DPXUT_HOOK DPutf8NextHook imp_utf8next = nullptr;
DPXUT_HOOK DPutf8LenHook imp_utf8len = nullptr;
DPXUT_HOOK DPutf8ChrHook imp_utf8chr = nullptr;
DPXUT_HOOK DPutf8ChrHook imp_utf8rchr = nullptr;
DPXUT_HOOK DPutf8CmpHook imp_utf8cmp = nullptr;
DPXUT_HOOK DPutf8StrHook imp_utf8str = nullptr;
DPXUT_HOOK DPutf8InPlaceHook imp_utf8upr = nullptr;
DPXUT_HOOK DPutf8InPlaceHook imp_utf8rev = nullptr;
#undef DPXUT_HOOK
}

namespace {

namespace utf8 = dpxut::utf8;
namespace wide = dpxut::wide;

// The host may store a hook at any time; a relaxed atomic load is a plain
// load that the compiler may neither cache nor tear.
template <typename Hook>
inline Hook current(Hook& variable) noexcept {
  return __atomic_load_n(&variable, __ATOMIC_RELAXED);
}

// Next character: the announced length, cut short at a NUL inside it.
inline const char* step(const char* p) noexcept {
  unsigned n = utf8::lead_length(static_cast<unsigned char>(*p));
  for (unsigned k = 1; k < n; ++k) {
    if (p[k] == '\0') return p + k;
  }
  return p + n;
}

// Past the blocks of 8 ASCII bytes at p that hold no byte c, within the
// text before end; every byte of such a block is a character of its own.
// c is 0 when no ASCII byte can match (the NUL never appears before end).
inline const char* skip_ascii(const char* p, const char* end, unsigned char c) noexcept {
  constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
  for (; end - p >= 8; p += 8) {
    const uint64_t v = dpxut::load_le64(p), x = v ^ (kOnes * c);
    if ((v & kHigh) != 0 || ((x - kOnes) & ~x & kHigh) != 0) break;  // not ASCII, or holds c
  }
  return p;
}

// True when the character at p (not the terminator) has the same n bytes
// as the character at ch. A sequence cut by a NUL never matches, and no
// byte of either string is read past its NUL.
inline bool same_char(const char* p, const char* ch, unsigned n) noexcept {
  if (p[0] != ch[0]) return false;
  for (unsigned k = 1; k < n; ++k) {
    if (p[k] == '\0' || p[k] != ch[k]) return false;
  }
  return true;
}

// A UTF-8 string decoded into 16-bit values held in wide elements, as the
// conversion makes them. Short strings are decoded on the stack.
class WideCopy {
 public:
  enum Status { kOk, kInvalid, kNoMemory };

  Status load(const char* s) noexcept {
    utf8::Pass size = utf8::measure_utf8(s);
    if (size.code != 0) return kInvalid;
    size_t elements = size.count + 1;
    if (elements <= kInline) {
      data_ = inline_;
    } else {
      heap_.reset(dpxut::heap_calloc(elements, wide::kUnit));
      data_ = heap_.get();
      if (data_ == nullptr) return kNoMemory;
    }
    utf8::utf8_to_wide(data_, s, elements);  // sized above: cannot fail
    return kOk;
  }
  void* data() noexcept { return data_; }

 private:
  static constexpr size_t kInline = 256;
  wchar_t inline_[kInline];
  dpxut::HeapPtr<void> heap_;
  void* data_ = nullptr;
};

inline uint16_t low16(wint_t c) noexcept { return static_cast<uint16_t>(c); }

}  // namespace

DPXUT_EXPORT uint32_t xutf8size(const char* p) {
  return p != nullptr ? utf8::lead_length(static_cast<unsigned char>(*p)) : 0;
}

DPXUT_EXPORT char* xutf8next(const char* p) {
  return p != nullptr ? const_cast<char*>(step(p)) : nullptr;
}

DPXUT_EXPORT char* xutf8prev(const char* p) {
  return p != nullptr ? const_cast<char*>(p - utf8::lead_length(static_cast<unsigned char>(*p)))
                      : nullptr;
}

// Steps through DPutf8next so that a hooked stepper decides what a
// character is; a step that does not advance is taken as one byte, so a
// faulty hook cannot make the count loop for ever. Without a hook the
// built-in steps are taken here, ASCII runs eight bytes at a time.
DPXUT_EXPORT size_t xutf8len(const char* s) {
  if (s == nullptr) return 0;
  size_t count = 0;
  if (current(imp_utf8next) == nullptr) {
    const char* const end = s + std::strlen(s);
    for (const char* p = s; p < end; ++count) {
      const char* q = skip_ascii(p, end, 0);
      count += static_cast<size_t>(q - p);
      if (q == end) break;
      p = q + std::min<size_t>(utf8::lead_length(static_cast<unsigned char>(*q)), static_cast<size_t>(end - q));
    }
    return count;
  }
  for (const char* p = s; *p != '\0'; ++count) {
    const char* q = DPutf8next(p);
    p = q > p ? q : p + 1;
  }
  return count;
}

DPXUT_EXPORT char* xutf8ncat(char* dst, const char* src, size_t n) { return std::strncat(dst, src, n); }
DPXUT_EXPORT char* xutf8cat(char* dst, const char* src) { return std::strcat(dst, src); }
DPXUT_EXPORT char* xutf8dup(const char* s) { return s != nullptr ? dpxut::heap_strdup(s) : nullptr; }
DPXUT_EXPORT int xutf8cmp(const char* a, const char* b) { return std::strcmp(a, b); }
DPXUT_EXPORT char* xutf8str(const char* haystack, const char* needle) {
  return const_cast<char*>(std::strstr(haystack, needle));
}

// An ASCII block without the character's first byte holds no match, so the
// walks pass such blocks whole.
DPXUT_EXPORT char* xutf8chr(const char* s, const char* ch) {
  if (s == nullptr || ch == nullptr) return nullptr;
  const auto first = static_cast<unsigned char>(*ch);
  const unsigned n = utf8::lead_length(first);
  const char* const end = s + std::strlen(s);
  for (const char* p = skip_ascii(s, end, first); p < end; p = skip_ascii(step(p), end, first)) {
    if (same_char(p, ch, n)) return const_cast<char*>(p);
  }
  return nullptr;
}

DPXUT_EXPORT char* xutf8rchr(const char* s, const char* ch) {
  if (s == nullptr || ch == nullptr) return nullptr;
  const auto first = static_cast<unsigned char>(*ch);
  const unsigned n = utf8::lead_length(first);
  const char* const end = s + std::strlen(s);
  const char* last = nullptr;
  for (const char* p = skip_ascii(s, end, first); p < end; p = skip_ascii(step(p), end, first)) {
    if (same_char(p, ch, n)) last = p;
  }
  return const_cast<char*>(last);
}

// Upper-cases through the 16-bit wide form. The text must stay within the
// bytes it had: characters are taken from the left, and one whose upper
// case (towupper, current locale) would leave too little room for the rest
// keeps its own form. The rest is counted at the smaller of each
// character's two forms, so whenever the whole upper-cased text fits, every
// character is upper-cased. Invalid UTF-8 is left as it is.
DPXUT_EXPORT char* xutf8upr(char* s) {
  if (s == nullptr) return s;
  WideCopy text;
  if (text.load(s) != WideCopy::kOk) return s;
  const size_t room = std::strlen(s);
  const void* chars = text.data();
  // A 4-byte form cut to 16 bits can yield a zero element, which ends the
  // wide text as it ends any wide string.
  const size_t n = wide::length(chars);
  size_t rest = 0;
  for (size_t i = 0; i < n; ++i) {
    auto c = static_cast<wint_t>(wide::load(chars, i));
    unsigned own = utf8::encoded_length(low16(c));
    unsigned up = utf8::encoded_length(low16(std::towupper(c)));
    rest += own < up ? own : up;
  }
  auto out = reinterpret_cast<unsigned char*>(s);
  size_t pos = 0;
  for (size_t i = 0; i < n; ++i) {
    auto c = static_cast<wint_t>(wide::load(chars, i));
    wint_t u = std::towupper(c);
    unsigned own = utf8::encoded_length(low16(c));
    unsigned up = utf8::encoded_length(low16(u));
    rest -= own < up ? own : up;
    pos += utf8::encode(out + pos, low16(pos + up + rest <= room ? u : c));
  }
  out[pos] = '\0';
  return s;
}

// Reverses characters, not bytes, through the 16-bit wide form; the
// re-encoded text is never longer than the original.
DPXUT_EXPORT char* xutf8rev(char* s) {
  if (s == nullptr) return nullptr;
  WideCopy text;
  switch (text.load(s)) {
    case WideCopy::kInvalid:
      return s;
    case WideCopy::kNoMemory:
      return nullptr;
    case WideCopy::kOk:
      break;
  }
  wide::reverse(text.data());
  utf8::wide_to_utf8(s, text.data(), std::strlen(s) + 1);
  return s;
}

namespace {

// Upper-cased heap copies of a and b (DPutf8dup, DPutf8upr), compared by
// `compare`; -1 when a copy cannot be made.
template <typename Compare>
int compare_upper_copies(const char* a, const char* b, Compare compare) {
  if (a == nullptr || b == nullptr) return -1;
  dpxut::HeapPtr<char> ca(DPutf8dup(a));
  if (!ca) return -1;
  dpxut::HeapPtr<char> cb(DPutf8dup(b));
  if (!cb) return -1;
  DPutf8upr(ca.get());
  DPutf8upr(cb.get());
  return compare(ca.get(), cb.get());
}

}  // namespace

DPXUT_EXPORT int xutf8nicmp(const char* a, const char* b, uint32_t n) {
  return compare_upper_copies(a, b, [n](const char* x, const char* y) { return std::strncmp(x, y, n); });
}

DPXUT_EXPORT int xutf8icmp(const char* a, const char* b) {
  return compare_upper_copies(a, b, [](const char* x, const char* y) { return DPutf8cmp(x, y); });
}

// Hooked wrappers: each rereads its variable on every call.
DPXUT_EXPORT uint32_t DPutf8Size(const char* p) {
  if (auto hook = current(imp_utf8width)) return hook(p);
  return xutf8size(p);
}
DPXUT_EXPORT char* DPutf8next(const char* p) {
  if (auto hook = current(imp_utf8next)) return hook(p);
  return xutf8next(p);
}
DPXUT_EXPORT size_t DPutf8len(const char* s) {
  if (auto hook = current(imp_utf8len)) return hook(s);
  return xutf8len(s);
}
DPXUT_EXPORT char* DPutf8chr(const char* s, const char* ch) {
  if (auto hook = current(imp_utf8chr)) return hook(s, ch);
  return xutf8chr(s, ch);
}
DPXUT_EXPORT char* DPutf8rchr(const char* s, const char* ch) {
  if (auto hook = current(imp_utf8rchr)) return hook(s, ch);
  return xutf8rchr(s, ch);
}
DPXUT_EXPORT int DPutf8cmp(const char* a, const char* b) {
  if (auto hook = current(imp_utf8cmp)) return hook(a, b);
  return xutf8cmp(a, b);
}
DPXUT_EXPORT char* DPutf8str(const char* haystack, const char* needle) {
  if (auto hook = current(imp_utf8str)) return hook(haystack, needle);
  return xutf8str(haystack, needle);
}
DPXUT_EXPORT char* DPutf8upr(char* s) {
  if (auto hook = current(imp_utf8upr)) return hook(s);
  return xutf8upr(s);
}
DPXUT_EXPORT char* DPutf8rev(char* s) {
  if (auto hook = current(imp_utf8rev)) return hook(s);
  return xutf8rev(s);
}

// Unhooked wrappers.
DPXUT_EXPORT char* DPutf8ncat(char* dst, const char* src, size_t n) { return xutf8ncat(dst, src, n); }
DPXUT_EXPORT char* DPutf8cat(char* dst, const char* src) { return xutf8cat(dst, src); }
DPXUT_EXPORT char* DPutf8dup(const char* s) { return xutf8dup(s); }
DPXUT_EXPORT int DPutf8nicmp(const char* a, const char* b, uint32_t n) { return xutf8nicmp(a, b, n); }
DPXUT_EXPORT int DPutf8icmp(const char* a, const char* b) { return xutf8icmp(a, b); }
