// Conversions between the server code set and wide strings. Wide to locale
// writes a character the code set cannot hold as a special sequence when
// mapping; locale to wide turns special sequences back into characters
// when mapping and the text holds one (the special route, one character at
// a time), and otherwise converts the string in one piece (the plain
// route). With DPUseMbFunctions set, the plain conversions first try the
// platform's multibyte functions and fall back to iconv when they fail.
// Wide text may sit at any address and is touched only through wide.h.
#include <climits>
#include <cwchar>

#include "charset/ascii_path.h"
#include "charset/conv_sink.h"
#include "charset/locale_conv.h"
#include "common/wide.h"
#include "dpxut.h"

namespace dpxut::charset {
namespace {

// ---- the platform's multibyte functions ---------------------------------

// Wide characters the multibyte routes move per call, through an aligned
// area on the stack: the caller's wide text may be misaligned, and glibc's
// wide functions need aligned wchar_t.
constexpr size_t kChunk = 256;

// How a multibyte route ended. `fell_back`: the platform refused the text
// and the pass starts over with iconv, as if the route had not been tried.
struct MbOutcome {
  bool fell_back;
  Step step;
  size_t value;
};
constexpr MbOutcome kFallBack{true, Step::kInvalid, 0};

// Copies up to kChunk wide characters of uni from unit `pos` on into chunk,
// stopping after the terminator; *ends tells whether it was copied.
size_t load_chunk(wchar_t (&chunk)[kChunk], const void* uni, size_t pos, bool* ends) noexcept {
  *ends = false;
  size_t n = 0;
  while (n < kChunk) {
    chunk[n] = wide::load(uni, pos + n);
    if (chunk[n++] == L'\0') {
      *ends = true;
      break;
    }
  }
  return n;
}

// wcsrtombs sizing: the byte length with the terminator.
MbOutcome wcs_size(const void* uni) noexcept {
  std::mbstate_t st{};
  wchar_t chunk[kChunk];
  size_t total = 0;
  for (size_t pos = 0;;) {
    bool ends;
    const size_t n = load_chunk(chunk, uni, pos, &ends);
    const wchar_t* p = chunk;
    const size_t r = wcsnrtombs(nullptr, &p, n, 0, &st);
    if (r == static_cast<size_t>(-1)) return kFallBack;
    total += r;
    pos += n;
    if (ends) return {false, Step::kDone, total + 1};
  }
}

// wcsrtombs filling. The platform stops at the capacity without writing a
// terminator when the text does not fit; that is an overflow, never a
// success with an unterminated result. Like iconv, glibc stops short of a
// character that needs no room (a dropped tag character) when the room
// left is less than the longest character, so each chunk is converted into
// a bounce area that always has room and copied as far as it really fits.
MbOutcome wcs_fill(char* loc, const void* uni, size_t capacity) noexcept {
  std::mbstate_t st{};
  wchar_t chunk[kChunk];
  char bounce[kChunk * MB_LEN_MAX];
  size_t written = 0;
  for (size_t pos = 0;;) {
    bool ends;
    const size_t n = load_chunk(chunk, uni, pos, &ends);
    const wchar_t* p = chunk;
    const size_t r = wcsnrtombs(bounce, &p, n, sizeof bounce, &st);
    if (r == static_cast<size_t>(-1)) return kFallBack;
    if (p != nullptr && p != chunk + n) return kFallBack;  // cannot happen: the area fits a chunk
    // At the end the NUL went out too, after the r bytes.
    const size_t bytes = p == nullptr ? r + 1 : r;
    if (bytes > capacity - written) return {false, Step::kOverflow, 0};
    std::memcpy(loc + written, bounce, bytes);
    written += bytes;
    if (p == nullptr) return {false, Step::kDone, capacity};
    pos += n;
  }
}

// mbsrtowcs sizing: the number of wide characters with the terminator.
MbOutcome mbs_size(const char* loc) noexcept {
  std::mbstate_t st{};
  const char* p = loc;
  const size_t r = std::mbsrtowcs(nullptr, &p, 0, &st);
  if (r == static_cast<size_t>(-1)) return kFallBack;
  return {false, Step::kDone, r + 1};
}

// mbsrtowcs filling: reports the characters converted, terminator not
// counted. Like wcs_fill, running out of room before the terminator is an
// overflow.
MbOutcome mbs_fill(void* uni, const char* loc, size_t capacity) noexcept {
  std::mbstate_t st{};
  wchar_t chunk[kChunk];
  const char* p = loc;
  for (size_t written = 0;;) {
    const size_t room = capacity - written;
    if (room == 0) return {false, Step::kOverflow, 0};
    const size_t r = std::mbsrtowcs(chunk, &p, room < kChunk ? room : kChunk, &st);
    if (r == static_cast<size_t>(-1)) return kFallBack;
    // At the end mbsrtowcs has stored the terminator after the r characters.
    wide::copy_units(wide::at(uni, written), chunk, p == nullptr ? r + 1 : r);
    written += r;
    if (p == nullptr) return {false, Step::kDone, written};
  }
}

// ---- wide to locale ------------------------------------------------------

// Converts the units of uni and its terminator. A character iconv refuses
// is an error without mapping; with mapping it is written as its special
// sequence, after returning the output to its initial shift state so that
// the sequence's ASCII bytes read as ASCII in a code set with shift states.
template <class Sink>
Step wide_to_locale_walk(IconvLease& cd, const void* uni, size_t units, bool map,
                         Sink& sink) noexcept {
  const char* in = static_cast<const char*>(uni);
  size_t in_left = (units + 1) * wide::kUnit;
  for (;;) {
    Step s = sink.convert(cd, &in, &in_left);
    if (s != Step::kUnconvertible) return s;
    if (!map || in_left < wide::kUnit) return Step::kInvalid;
    char seq[kSpecialMax];
    const size_t n = encode_special(static_cast<uint32_t>(wide::load(in)), seq);
    if (n == 0) return Step::kInvalid;  // above U+10FFFF: no character at all
    s = sink.convert(cd, nullptr, nullptr);
    if (s != Step::kDone) return s == Step::kOverflow ? s : Step::kInvalid;
    s = sink.put(seq, n);
    if (s != Step::kDone) return s;
    in += wide::kUnit;
    in_left -= wide::kUnit;
  }
}

// ---- locale to wide ------------------------------------------------------

// The special route is taken when mapping and some "[" starts a special
// sequence.
bool has_special_sequence(const char* loc, size_t len) noexcept {
  const char* end = loc + len;
  for (const char* p = loc; p < end; ++p) {
    p = static_cast<const char*>(std::memchr(p, '[', static_cast<size_t>(end - p)));
    if (p == nullptr) return false;
    if (is_special_sequence(p)) return true;
  }
  return false;
}

// The special route, one character at a time: a special sequence becomes
// its character, anything else is measured by HVCharType and converted by
// itself. A "[" inside a multibyte character is not looked at.
template <class Sink>
Step special_walk(IconvLease& cd, const char* loc, Sink& sink) noexcept {
  size_t pos = 0;
  while (loc[pos] != '\0') {
    if (loc[pos] == '[' && is_special_sequence(loc + pos)) {
      uint32_t ch;
      pos += decode_special(loc + pos, &ch);
      const auto w = static_cast<wchar_t>(ch);
      const Step s = sink.put(&w, sizeof w);
      if (s != Step::kDone) return s;
      continue;
    }
    // HVCharType never measures past the NUL; the bound keeps it so.
    const auto measured = static_cast<size_t>(HVCharType(loc + pos));
    const size_t n = strnlen(loc + pos, measured);
    const char* in = loc + pos;
    size_t in_left = n;
    const Step s = sink.convert(cd, &in, &in_left);
    if (s != Step::kDone) return s == Step::kUnconvertible ? Step::kInvalid : s;
    pos += n;
  }
  const wchar_t zero = L'\0';
  return sink.put(&zero, sizeof zero);
}

template <class Sink>
Step wide_to_locale_route(const void* uni, size_t units, bool map, Sink& sink) noexcept {
  RouteLease cd(Route::kWideToLocale);
  if (!cd) return Step::kInvalid;
  return wide_to_locale_walk(cd.get(), uni, units, map, sink);
}

template <class Sink>
Step locale_to_wide_route(bool special, const char* loc, size_t len, Sink& sink) noexcept {
  RouteLease cd(Route::kLocaleToWide);
  if (!cd) return Step::kInvalid;
  return special ? special_walk(cd.get(), loc, sink) : convert_whole(cd.get(), loc, len, sink);
}

// Walks that fill by the code set's tables t where they decide the text,
// and by iconv otherwise (or when t is null). Wide destinations count in
// wide characters, their room kept clear of wrap-around as wide_bytes()
// keeps it.
Filled wide_to_locale_fill(const CodesetTable* t, const void* uni, size_t units, bool map, char* loc,
                           size_t capacity) noexcept {
  if (t != nullptr) {
    const TableResult r = table_from_wide(*t, uni, units, loc, capacity);
    if (r.step != TableStep::kFallback) return table_filled(r);
  }
  BufferSink sink(loc, capacity);
  const Step s = wide_to_locale_route(uni, units, map, sink);
  return {s, sink.written()};
}

PassResult wide_to_locale_count(const CodesetTable* t, const void* uni, size_t units, bool map) noexcept {
  if (t != nullptr) {
    const TableResult r = table_from_wide(*t, uni, units, nullptr, 0);
    if (r.step != TableStep::kFallback) return table_counted(r);
  }
  CountingSink<kByteScratch> sink;
  const Step s = wide_to_locale_route(uni, units, map, sink);
  return counted(s, sink.total());
}

// The tables serve the plain route only: the caller passes null for the
// special one.
Filled locale_to_wide_fill(const CodesetTable* t, bool special, const char* loc, size_t len, void* uni,
                           size_t capacity) noexcept {
  const size_t bytes = wide_bytes(capacity);
  if (t != nullptr) {
    const TableResult r = table_to_wide(*t, loc, len, uni, bytes / wide::kUnit);
    if (r.step != TableStep::kFallback) return table_filled(r);
  }
  BufferSink sink(uni, bytes);
  const Step s = locale_to_wide_route(special, loc, len, sink);
  return {s, sink.written() / wide::kUnit};
}

PassResult locale_to_wide_count(const CodesetTable* t, bool special, const char* loc, size_t len) noexcept {
  if (t != nullptr) {
    const TableResult r = table_to_wide(*t, loc, len, nullptr, 0);
    if (r.step != TableStep::kFallback) return table_counted(r);
  }
  CountingSink<kWideScratch> sink;
  const Step s = locale_to_wide_route(special, loc, len, sink);
  return counted(s, sink.total() / wide::kUnit);
}

MemoKind wide_to_locale_kind(bool map) noexcept {
  return map ? MemoKind::kWideToLocaleMap : MemoKind::kWideToLocale;
}
MemoKind locale_to_wide_kind(bool map) noexcept {
  return map ? MemoKind::kLocaleToWideMap : MemoKind::kLocaleToWide;
}

PassResult from_platform(const MbOutcome& m) noexcept { return counted(m.step, m.value); }

// Where the tables size the text as fast as a kept result is copied (see
// below), the sizing pass keeps nothing and the filling pass converts.
bool counts_wide_to_locale(const CodesetTable* t) noexcept { return t != nullptr && (t->latin1 || t->as_utf8); }
bool counts_locale_to_wide(const CodesetTable* t) noexcept { return t != nullptr && t->all_single; }

}  // namespace

// Without DPUseMbFunctions the result is a function of the code set and
// the text alone, and a sizing pass keeps it for the filling pass, unless
// the tables size the text at little cost: ISO-8859-1 narrows, and UTF-8
// is measured, as fast as a kept result is copied, and where every byte
// is a character the count of wide characters is the length.
PassResult wide_to_locale_size(const void* uni, bool map) noexcept {
  if (DPUseMbFunctions != 0) {
    const MbOutcome m = wcs_size(uni);
    if (!m.fell_back) return from_platform(m);
  }
  bool ascii;
  const size_t units = scan_wide(uni, &ascii);
  const CodesetRef cs = codeset_ref(dp_current_codeset);
  if (ascii && ascii_copies(cs)) return {HVDPUT_SUCCESS, units + 1};
  const CodesetTable* t = cs.table;
  if (DPUseMbFunctions != 0 || counts_wide_to_locale(t)) {
    return wide_to_locale_count(t, uni, units, map);
  }
  return size_and_keep(
      wide_to_locale_kind(map), cs.key, uni, (units + 1) * wide::kUnit, 1,
      [&](unsigned char* area, size_t n) {
        return wide_to_locale_fill(t, uni, units, map, reinterpret_cast<char*>(area), n);
      },
      [&] { return wide_to_locale_count(t, uni, units, map); });
}

// The filling passes look for the sizing pass's result before anything
// else: it stands for the conversion of the very same text, whichever
// route made it, so the text is only measured and compared.
PassResult wide_to_locale(char* loc, const void* uni, size_t capacity, bool map) noexcept {
  const bool platform = DPUseMbFunctions != 0;
  if (platform) {
    const MbOutcome m = wcs_fill(loc, uni, capacity);
    if (!m.fell_back) return from_platform(m);
  }
  const size_t units = wide::length(uni);
  const CodesetRef cs = codeset_ref(dp_current_codeset);
  if (!platform &&
      memo_take(thread_memo(), wide_to_locale_kind(map), cs.key, uni, (units + 1) * wide::kUnit, loc, capacity)) {
    return {HVDPUT_SUCCESS, capacity};
  }
  if (wide_all_ascii(uni, units) && ascii_copies(cs)) {
    return fill_ascii(units, capacity, [&](size_t n) { narrow_ascii(loc, uni, n); });
  }
  return filled(wide_to_locale_fill(cs.table, uni, units, map, loc, capacity).step, capacity);
}

// The multibyte route and the fast paths serve the plain route only.
PassResult locale_to_wide_size(const char* loc, bool map) noexcept {
  bool ascii, bracket;
  const size_t len = scan_bytes(loc, &ascii, &bracket);
  const bool special = map && bracket && has_special_sequence(loc, len);
  if (!special && DPUseMbFunctions != 0) {
    const MbOutcome m = mbs_size(loc);
    if (!m.fell_back) return from_platform(m);
  }
  const CodesetRef cs = codeset_ref(dp_current_codeset);
  if (!special && ascii && ascii_copies(cs)) return {HVDPUT_SUCCESS, len + 1};
  const CodesetTable* t = special ? nullptr : cs.table;
  if (DPUseMbFunctions != 0 || counts_locale_to_wide(t)) return locale_to_wide_count(t, special, loc, len);
  return size_and_keep(
      locale_to_wide_kind(map), cs.key, loc, len + 1, wide::kUnit,
      [&](unsigned char* area, size_t n) { return locale_to_wide_fill(t, special, loc, len, area, n); },
      [&] { return locale_to_wide_count(t, special, loc, len); });
}

PassResult locale_to_wide(void* uni, const char* loc, size_t capacity, bool map) noexcept {
  const bool platform = DPUseMbFunctions != 0;
  const size_t len = std::strlen(loc);
  if (!platform && memo_take(thread_memo(), locale_to_wide_kind(map), codeset_ref(dp_current_codeset).key, loc,
                             len + 1, uni, wide_bytes(capacity))) {
    return {HVDPUT_SUCCESS, capacity};
  }
  bool ascii, bracket;
  byte_classes(loc, len, &ascii, &bracket);
  const bool special = map && bracket && has_special_sequence(loc, len);
  if (!special && platform) {
    const MbOutcome m = mbs_fill(uni, loc, capacity);
    if (!m.fell_back) return from_platform(m);
  }
  const CodesetRef cs = codeset_ref(dp_current_codeset);
  if (!special && ascii && ascii_copies(cs)) {
    return fill_ascii(len, capacity, [&](size_t n) { widen_ascii(uni, loc, n); });
  }
  return filled(locale_to_wide_fill(special ? nullptr : cs.table, special, loc, len, uni, capacity).step, capacity);
}

}  // namespace dpxut::charset
