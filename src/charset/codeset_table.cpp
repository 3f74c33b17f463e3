// Building and sharing the conversion tables of codeset_table.h (the walks
// over them are in codeset_walk.cpp).
//
// A table is built by asking iconv about every byte, every pair after a
// lead byte, and every code point met there (and 0x01..0xFF), each from the
// initial shift state and followed by a flush that must write nothing. A
// character that does not convert alone into exactly one character that
// way (one a converter holds back to combine, one that takes a reset
// sequence, one of three bytes) is left to iconv; a code set whose ASCII
// bytes are not all characters by themselves (escapes, shifts, combining
// letters) gets no table at all. Finally every character of the table is
// converted once more as one run through each of the four routes, so a
// converter whose output depends on the characters around fails too. A
// code set of longer characters gets the walks' own UTF-8 when it converts
// every scalar value, a plane at a time, exactly as UTF-8 does.
//
// Tables are kept process-wide, one per code set name (up to kMaxTables
// names, with tables or without), built under a mutex the first time a
// thread needs them and never freed; each thread remembers the name it saw
// last.
#include "charset/codeset_table.h"

#include <cerrno>
#include <cstring>
#include <mutex>

#include "charset/ascii_path.h"
#include "charset/locale_conv.h"
#include "charset/setup.h"
#include "common/heap.h"
#include "common/iconv_cache.h"

namespace dpxut::charset {
namespace {

// Code sets whose pairs may continue into longer sequences after this many
// lead bytes (EUC-JP's 8F, EUC-TW's 8E) are left to iconv: in GB18030 or
// UTF-8 too much text would fall back.
constexpr int kMaxLongLeads = 2;
constexpr size_t kMaxTables = 16;  // names registered, with tables or without

// Builds run one at a time, under this mutex; one that ran out of memory
// says so here, and is not remembered, so the next use tries again.
std::mutex g_mutex;
bool g_out_of_memory = false;

// A zeroed block of `count` T for a build.
template <class T>
HeapPtr<T> zeroed(size_t count) noexcept {
  HeapPtr<T> p(static_cast<T*>(heap_calloc(count, sizeof(T))));
  g_out_of_memory |= !p;
  return p;
}

// ---- asking iconv ----------------------------------------------------------

enum class Probe { kChar, kIncomplete, kInvalid, kOther };

// True when a flush from the state `cd` is in writes nothing.
bool flush_is_empty(iconv_t cd) noexcept {
  char out[16];
  char* o = out;
  size_t left = sizeof out;
  return iconv(cd, nullptr, nullptr, &o, &left) != kIconvFailed && left == sizeof out;
}

// Converts n bytes from the initial state into wide characters. kChar: all
// of them became exactly one character (*cp) and nothing is held back;
// kIncomplete / kInvalid: refused at once with EINVAL / EILSEQ; kOther:
// anything else.
Probe decode_probe(iconv_t cd, const unsigned char* bytes, size_t n, uint32_t* cp) noexcept {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  wchar_t out[4];
  char* o = reinterpret_cast<char*>(out);
  size_t out_left = sizeof out;
  char* in = reinterpret_cast<char*>(const_cast<unsigned char*>(bytes));
  size_t in_left = n;
  if (iconv(cd, &in, &in_left, &o, &out_left) == kIconvFailed) {
    const int err = errno;
    if (in_left != n || out_left != sizeof out) return Probe::kOther;
    return err == EINVAL ? Probe::kIncomplete : err == EILSEQ ? Probe::kInvalid : Probe::kOther;
  }
  if (in_left != 0 || out_left != sizeof out - sizeof(wchar_t) || !flush_is_empty(cd)) return Probe::kOther;
  *cp = static_cast<uint32_t>(out[0]);
  return Probe::kChar;
}

// Converts one code point into the code set: its table entry (one or two
// bytes), or 0 when it takes anything else.
uint16_t encode_probe(iconv_t cd, uint32_t cp) noexcept {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  const auto w = static_cast<wchar_t>(cp);
  unsigned char out[8];
  char* o = reinterpret_cast<char*>(out);
  size_t out_left = sizeof out;
  char* in = reinterpret_cast<char*>(const_cast<wchar_t*>(&w));
  size_t in_left = sizeof w;
  if (iconv(cd, &in, &in_left, &o, &out_left) == kIconvFailed || in_left != 0 || !flush_is_empty(cd)) return 0;
  const size_t n = sizeof out - out_left;
  if (n == 1 && out[0] != 0) return out[0];
  // Memory order; a zero second byte would read as a one-byte entry.
  if (n == 2 && out[0] != 0 && out[1] != 0) return static_cast<uint16_t>(out[0] | out[1] << 8);
  return 0;
}

// The page of the code points a table holds none of.
constexpr uint16_t kEmptyPage[256] = {};

bool is_scalar(uint32_t cp) noexcept { return cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF); }

// ---- building --------------------------------------------------------------

// The table and the blocks it points to, owned until it is published.
struct Draft {
  HeapPtr<CodesetTable> table;
  HeapPtr<uint16_t> pairs;
  HeapPtr<uint16_t> pages;
};

// Bytes and pairs. False when some ASCII byte is no character by itself or
// the NUL is not U+0000, or when too many sequences run past two bytes.
bool fill_decoding(Draft& d, iconv_t dec) noexcept {
  CodesetTable& t = *d.table;
  int leads = 0;
  for (unsigned b = 0; b < 256; ++b) {
    const auto byte = static_cast<unsigned char>(b);
    uint32_t cp = 0;
    switch (decode_probe(dec, &byte, 1, &cp)) {
      case Probe::kChar:  // only the NUL is U+0000
        t.single[b] = is_scalar(cp) && cp <= 0xFFFF && (cp != 0) == (b != 0) ? cp : kFallbackByte;
        break;
      case Probe::kIncomplete: t.single[b] = kLeadByte; t.lead_row[b] = static_cast<uint32_t>(256 * leads++); break;
      case Probe::kInvalid: t.single[b] = kInvalidByte; break;
      case Probe::kOther: t.single[b] = kFallbackByte; break;
    }
  }
  // Escapes and shifts (ISO-2022-*, UTF-7, HZ) start with ASCII bytes, and
  // so do Vietnamese combining sequences: such code sets stay with iconv.
  if (t.single[0] != 0) return false;
  for (unsigned b = 1; b < 0x80; ++b) {
    if (t.single[b] > 0x10FFFF) return false;
  }
  d.pairs = zeroed<uint16_t>(256 * static_cast<size_t>(leads) + 1);
  if (!d.pairs) return false;
  int long_leads = 0;
  // From the top down: the lead bytes of four-byte UTF-8 and of GB18030
  // are high, so such a code set is turned down after a few rows.
  for (unsigned b = 256; b-- > 0;) {
    if (t.single[b] != kLeadByte) continue;
    uint16_t* row = d.pairs.get() + t.lead_row[b];
    bool long_lead = false;
    for (unsigned trail = 0; trail < 256; ++trail) {
      const unsigned char pair[2] = {static_cast<unsigned char>(b), static_cast<unsigned char>(trail)};
      uint32_t cp = 0;
      const Probe p = decode_probe(dec, pair, 2, &cp);
      long_lead |= p == Probe::kIncomplete;
      // A NUL never ends up inside a character: the walks stop at it.
      const bool usable = p == Probe::kChar && trail != 0 && cp != 0 && cp < kFallbackPair && is_scalar(cp);
      row[trail] = usable ? static_cast<uint16_t>(cp) : p == Probe::kInvalid ? kInvalidPair : kFallbackPair;
    }
    if (long_lead && ++long_leads > kMaxLongLeads) return false;
  }
  t.pairs = d.pairs.get();
  return true;
}

// Visits every code point the decoding tables produce, and 0x01..0xFF.
template <class Visit>
void for_each_decoded(const CodesetTable& t, Visit visit) noexcept {
  for (uint32_t cp = 1; cp < 256; ++cp) visit(cp);
  for (unsigned b = 0; b < 256; ++b) {
    if (t.single[b] <= 0xFFFF) visit(t.single[b]);
    if (t.single[b] != kLeadByte) continue;
    for (unsigned trail = 0; trail < 256; ++trail) {
      const uint16_t e = t.pairs[t.lead_row[b] + trail];
      if (e != kInvalidPair && e != kFallbackPair) visit(e);
    }
  }
}

// Code points to bytes, for the code points the decoding produces.
bool fill_encoding(Draft& d, iconv_t enc) noexcept {
  CodesetTable& t = *d.table;
  static constexpr size_t kBmp = 0x10000;
  HeapPtr<uint16_t> entries = zeroed<uint16_t>(kBmp);
  HeapPtr<uint8_t> asked = zeroed<uint8_t>(kBmp);
  if (!entries || !asked) return false;
  for_each_decoded(t, [&](uint32_t cp) {
    if (cp == 0 || asked.get()[cp]) return;
    asked.get()[cp] = 1;
    entries.get()[cp] = encode_probe(enc, cp);
  });
  // The terminator: U+0000 must be the NUL byte.
  iconv(enc, nullptr, nullptr, nullptr, nullptr);
  const wchar_t zero = 0;
  char nul = 1, *o = &nul, *in = reinterpret_cast<char*>(const_cast<wchar_t*>(&zero));
  size_t in_left = sizeof zero, out_left = 1;
  if (iconv(enc, &in, &in_left, &o, &out_left) == kIconvFailed || out_left != 0 || nul != 0) return false;

  size_t used = 0;
  for (size_t page = 0; page < 256; ++page) {
    for (size_t i = 0; i < 256; ++i) {
      if (entries.get()[page * 256 + i] != 0) {
        ++used;
        break;
      }
    }
  }
  d.pages = zeroed<uint16_t>((used + 1) * 256);
  if (!d.pages) return false;
  uint16_t* next = d.pages.get();
  for (size_t page = 0; page < 256; ++page) {
    const uint16_t* src = entries.get() + page * 256;
    bool any = false;
    for (size_t i = 0; i < 256 && !any; ++i) any = src[i] != 0;
    if (!any) continue;
    std::memcpy(next, src, 256 * sizeof(uint16_t));
    t.pages[page] = next;
    next += 256;
  }
  return true;
}

// Number of units `walk` counts, or SIZE_MAX when it does not finish.
template <class Walk>
size_t counted_units(Walk walk) noexcept {
  const TableResult r = walk(nullptr, 0);
  return r.step == TableStep::kDone ? r.units : SIZE_MAX;
}

// Converts `len` bytes plus their terminating zero unit with iconv in one
// call: true when exactly `want` (want_len bytes) comes out.
bool run_matches(const char* to, const char* from, const char* src, size_t len, const char* want,
                 size_t want_len) noexcept {
  IconvHandle cd(to, from);
  HeapPtr<char> out = zeroed<char>(want_len + 16);
  if (!cd.valid() || !out) return false;
  char* in = const_cast<char*>(src);
  char* o = out.get();
  size_t in_left = len, out_left = want_len + 16;
  return iconv(cd.get(), &in, &in_left, &o, &out_left) != kIconvFailed && in_left == 0 &&
         out_left == 16 && std::memcmp(out.get(), want, want_len) == 0;
}

// Every character of the tables once more, as one run through each route:
// the bytes of every character the decoding holds, and the code points the
// encoding holds (ASCII for last), each converted in one piece and compared
// with what the table walks write.
bool runs_match(const CodesetTable& t, const char* codeset) noexcept {
  size_t bytes = 1, points = 1;
  for (unsigned b = 1; b < 256; ++b) {
    if (t.single[b] <= 0x10FFFF) bytes += 1;
    if (t.single[b] != kLeadByte) continue;
    for (unsigned trail = 0; trail < 256; ++trail) {
      const uint16_t e = t.pairs[t.lead_row[b] + trail];
      bytes += e != kInvalidPair && e != kFallbackPair ? 2 : 0;
    }
  }
  for (const uint16_t* page : t.pages) {
    for (size_t i = 0; page != nullptr && i < 256; ++i) points += page[i] != 0 ? 1 : 0;
  }
  HeapPtr<char> loc = zeroed<char>(bytes);
  HeapPtr<wchar_t> uni = zeroed<wchar_t>(points);
  HeapPtr<char> utf = zeroed<char>(points * 3 + 1);
  HeapPtr<char> out = zeroed<char>(4 * (bytes + points) + 8);
  if (!loc || !uni || !utf || !out) return false;
  size_t n = 0;
  for (unsigned b = 1; b < 256; ++b) {
    if (t.single[b] <= 0x10FFFF) loc.get()[n++] = static_cast<char>(b);
    if (t.single[b] != kLeadByte) continue;
    for (unsigned trail = 0; trail < 256; ++trail) {
      const uint16_t e = t.pairs[t.lead_row[b] + trail];
      if (e == kInvalidPair || e == kFallbackPair) continue;
      loc.get()[n++] = static_cast<char>(b);
      loc.get()[n++] = static_cast<char>(trail);
    }
  }
  loc.get()[n] = '\0';
  size_t m = 0, u = 0;
  for (size_t cp = 0x80; cp <= 0x1007F; ++cp) {  // from 0x80 up, then 0x00..0x7F
    const auto c = static_cast<uint32_t>(cp & 0xFFFF);
    const uint16_t* page = t.pages[c >> 8];
    if (c == 0 || page == nullptr || page[c & 0xFF] == 0) continue;
    uni.get()[m++] = static_cast<wchar_t>(c);
    u += utf8_encode(c, reinterpret_cast<unsigned char*>(utf.get() + u));
  }
  uni.get()[m] = 0;
  utf.get()[u] = '\0';

  char* const o = out.get();
  const char* const l = loc.get();
  const size_t to_utf8 = counted_units([&](char* dst, size_t cap) { return table_to_utf8(t, l, n, dst, cap); });
  const size_t to_wide = counted_units([&](void* dst, size_t cap) { return table_to_wide(t, l, n, dst, cap); });
  if (to_utf8 == SIZE_MAX || to_wide == SIZE_MAX) return false;
  if (table_to_utf8(t, l, n, o, to_utf8).step != TableStep::kDone ||
      !run_matches("UTF-8", codeset, l, n + 1, o, to_utf8)) return false;
  if (table_to_wide(t, l, n, o, to_wide).step != TableStep::kDone ||
      !run_matches("WCHAR_T", codeset, l, n + 1, o, to_wide * sizeof(wchar_t))) return false;
  const size_t from_utf8 = counted_units([&](char* dst, size_t cap) { return table_from_utf8(t, utf.get(), u, dst, cap); });
  const size_t from_wide = counted_units([&](char* dst, size_t cap) { return table_from_wide(t, uni.get(), m, dst, cap); });
  if (from_utf8 == SIZE_MAX || from_wide != from_utf8) return false;
  if (table_from_utf8(t, utf.get(), u, o, from_utf8).step != TableStep::kDone ||
      !run_matches(codeset, "UTF-8", utf.get(), u + 1, o, from_utf8)) return false;
  return table_from_wide(t, uni.get(), m, o, from_wide).step == TableStep::kDone &&
         run_matches(codeset, "WCHAR_T", reinterpret_cast<const char*>(uni.get()), (m + 1) * sizeof(wchar_t), o,
                     from_wide);
}

// True when the code set converts as UTF-8 does: every scalar value but
// U+0000, a plane at a time, as one run through each of the four routes.
bool converts_as_utf8(const char* codeset) noexcept {
  static constexpr size_t kPlane = 0x10000;
  HeapPtr<wchar_t> uni = zeroed<wchar_t>(kPlane);
  HeapPtr<char> utf = zeroed<char>(4 * kPlane);
  if (!uni || !utf) return false;
  for (uint32_t plane = 0; plane <= 0x10; ++plane) {
    size_t m = 0, u = 0;
    for (uint32_t cp = plane << 16; cp < (plane + 1) << 16; ++cp) {
      if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF)) continue;
      uni.get()[m++] = static_cast<wchar_t>(cp);
      u += utf8_encode(cp, reinterpret_cast<unsigned char*>(utf.get() + u));
    }
    const char* const w = reinterpret_cast<const char*>(uni.get());
    if (!run_matches("WCHAR_T", codeset, utf.get(), u, w, m * sizeof(wchar_t)) ||
        !run_matches(codeset, "WCHAR_T", w, m * sizeof(wchar_t), utf.get(), u) ||
        !run_matches("UTF-8", codeset, utf.get(), u, utf.get(), u) ||
        !run_matches(codeset, "UTF-8", utf.get(), u, utf.get(), u)) {
      return false;
    }
  }
  return true;
}

// The tables of `codeset` (a name iconv accepts both ways), or null. The
// C library names the code set of every UTF-8 locale "UTF-8", and its
// converter of that name is the UTF-8 the walks know: no run through iconv
// is made for it, which would cost a process tens of milliseconds at its
// first conversion (tests check plane by plane that the two agree).
const CodesetTable* build(const char* codeset) noexcept {
  if (std::strcmp(codeset, "UTF-8") == 0) {
    HeapPtr<CodesetTable> t = zeroed<CodesetTable>(1);
    if (!t) return nullptr;
    t->as_utf8 = t->ascii_identity = true;
    return t.release();
  }
  IconvHandle dec("WCHAR_T", codeset), enc(codeset, "WCHAR_T");
  if (!dec.valid() || !enc.valid()) return nullptr;
  Draft d;
  d.table = zeroed<CodesetTable>(1);
  if (!d.table) return nullptr;
  if (!fill_decoding(d, dec.get())) {
    // Characters of up to four bytes: the walks know UTF-8 without tables.
    if (g_out_of_memory || !converts_as_utf8(codeset)) return nullptr;
    d.table->as_utf8 = d.table->ascii_identity = true;
    return d.table.release();
  }
  if (!fill_encoding(d, enc.get())) return nullptr;
  CodesetTable& t = *d.table;
  t.ascii_identity = t.all_single = t.latin1 = true;
  t.patch_lo = 0xFF;
  t.patch_hi = 0;
  for (uint32_t b = 0; b < 256; ++b) {
    if (t.single[b] != b) {
      t.patch_lo = static_cast<uint8_t>(b < t.patch_lo ? b : t.patch_lo);
      t.patch_hi = static_cast<uint8_t>(b);
    }
    const bool same = b == 0 || (t.single[b] == b && t.pages[0] != nullptr && t.pages[0][b] == b);
    if (b < 0x80) t.ascii_identity &= same;
    if (b > 0 && b < 0x80 && same) t.ascii_same[b >> 6] |= uint64_t{1} << (b & 63);
    t.latin1 &= same;
    t.all_single &= t.single[b] <= 0xFFFF;
    if (t.single[b] > 0xFFFF) continue;
    unsigned char bytes[4] = {};
    t.utf8_len[b] = static_cast<uint8_t>(utf8_encode(t.single[b], bytes));
    std::memcpy(&t.utf8[b], bytes, 4);
  }
  t.narrow_patched = t.all_single && t.pages[0] != nullptr;
  for (uint32_t u = 1; u < 256 && t.narrow_patched; ++u) {
    t.narrow_patched = (u >= t.patch_lo && u <= t.patch_hi) || t.pages[0][u] == u;
  }
  if (!runs_match(t, codeset)) return nullptr;
  for (const uint16_t*& page : t.pages) {
    if (page == nullptr) page = kEmptyPage;
  }
  d.pairs.release();
  d.pages.release();
  return d.table.release();
}

// ---- sharing ---------------------------------------------------------------

struct Registered {
  char name[kCodeSetSize];
  const CodesetTable* table;  // null: the code set has none
};

Registered g_registry[kMaxTables];
size_t g_registered = 0;

// Per thread: the code set name last asked for, and what it refers to.
// Every conversion compares the name, so a name of less than 16 bytes is
// kept as two words with masks that cover it and its NUL (short_name is
// set only once the record is complete, so it alone admits the fast test).
struct Remembered {
  bool known;
  bool short_name;
  CodesetRef ref;
  uint64_t word[2], mask[2];
  char name[kCodeSetSize];
};
constinit thread_local Remembered tl_last{};

bool same_short_name(const Remembered& r, const char* codeset) noexcept {
  uint64_t w[2];
  std::memcpy(w, codeset, sizeof w);  // codeset is a 128-byte array
  return ((w[0] & r.mask[0]) ^ r.word[0]) == 0 && ((w[1] & r.mask[1]) ^ r.word[1]) == 0;
}

bool same_name(const Remembered& r, const char* codeset) noexcept {
  if (!r.short_name) return std::strncmp(r.name, codeset, kCodeSetSize) == 0;
  return same_short_name(r, codeset);
}

void remember(Remembered& r, const char* codeset, size_t len, CodesetRef ref) noexcept {
  std::memset(r.name, 0, sizeof r.name);
  std::memcpy(r.name, codeset, len + 1);
  for (size_t i = 0; i < 2; ++i) {
    const size_t bytes = len + 1 > 8 * i ? len + 1 - 8 * i : 0;
    r.mask[i] = bytes >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * bytes)) - 1;
    std::memcpy(&r.word[i], r.name + 8 * i, 8);
  }
  r.ref = ref;
  r.known = true;
  r.short_name = len + 1 <= 16;
}

// The registered entry of `codeset`, its tables built now if need be; null
// when the registry is full, or when a build ran out of memory (nothing is
// registered then, and *decided is false).
const Registered* find_or_build(const char* codeset, size_t len, bool* decided) noexcept {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (size_t i = 0; i < g_registered; ++i) {
    if (std::strcmp(g_registry[i].name, codeset) == 0) return &g_registry[i];
  }
  if (g_registered == kMaxTables) return nullptr;
  g_out_of_memory = false;
  const CodesetTable* t = build(codeset);
  if (t == nullptr && g_out_of_memory) {
    *decided = false;
    return nullptr;
  }
  Registered& r = g_registry[g_registered++];
  std::memcpy(r.name, codeset, len + 1);
  r.table = t;
  return &r;
}

}  // namespace

bool iconv_converts_as_utf8(const char* codeset) noexcept { return converts_as_utf8(codeset); }

const CodesetTable* build_or_find_table(const char* codeset) noexcept {
  const size_t len = strnlen(codeset, kCodeSetSize);
  bool decided = true;
  const Registered* r = len == 0 || len >= kCodeSetSize ? nullptr : find_or_build(codeset, len, &decided);
  return r != nullptr ? r->table : nullptr;
}

namespace {

// Everything but the short name met again: a long name, a new name, the
// fast paths off.
[[gnu::noinline]] CodesetRef codeset_ref_slow(Remembered& r, const char* codeset) noexcept {
  if (!fast_paths_on()) return {};
  if (r.known && same_name(r, codeset)) return r.ref;
  const size_t len = strnlen(codeset, kCodeSetSize);
  if (len == 0 || len >= kCodeSetSize) return {};
  bool decided = true;
  const Registered* entry = find_or_build(codeset, len, &decided);
  if (!decided) return {};
  r.short_name = false;
  remember(r, codeset, len, entry != nullptr ? CodesetRef{entry->table, entry} : CodesetRef{});
  return r.ref;
}

}  // namespace

CodesetRef codeset_ref(const char* codeset) noexcept {
  Remembered& r = tl_last;
  if (r.short_name && same_short_name(r, codeset) && fast_paths_on()) return r.ref;
  return codeset_ref_slow(r, codeset);
}

}  // namespace dpxut::charset
