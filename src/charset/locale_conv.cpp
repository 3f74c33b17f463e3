// Conversions between the server code set and UTF-8, and the exported
// entry points of all locale conversions (destination, size, source) with
// their passes. Every conversion comes as a sizing call (null destination:
// *size receives the size with the terminator) and a filling call (*size is
// the capacity, terminator included, in the destination's unit).
#include "charset/locale_conv.h"

#include "charset/ascii_path.h"
#include "charset/conv_sink.h"
#include "charset/setup.h"
#include "common/export.h"
#include "dpxut.h"

namespace dpxut::charset {
namespace {

template <class Sink>
Step bytes_walk(Route route, const char* src, size_t len, Sink& sink) noexcept {
  RouteLease cd(route);
  if (!cd) return Step::kInvalid;
  return convert_whole(cd.get(), src, len, sink);
}

MemoKind memo_kind(Route route) noexcept {
  return route == Route::kLocaleToUtf8 ? MemoKind::kLocaleToUtf8 : MemoKind::kUtf8ToLocale;
}

// The code set's tables t, where it has them (t not null) and they decide
// the text (null dst: counting); otherwise nothing is reported and iconv
// converts.
bool by_table(const CodesetTable* t, Route route, const char* src, size_t len, char* dst, size_t capacity,
              TableResult* r) noexcept {
  if (t == nullptr) return false;
  *r = route == Route::kLocaleToUtf8 ? table_to_utf8(*t, src, len, dst, capacity)
                                     : table_from_utf8(*t, src, len, dst, capacity);
  return r->step != TableStep::kFallback;
}

Filled fill_walk(const CodesetTable* t, Route route, const char* src, size_t len, char* dst,
                 size_t capacity) noexcept {
  TableResult r;
  if (by_table(t, route, src, len, dst, capacity, &r)) return table_filled(r);
  BufferSink sink(dst, capacity);
  const Step s = bytes_walk(route, src, len, sink);
  return {s, sink.written()};
}

PassResult size_bytes(Route route, const char* src) noexcept {
  bool ascii;
  const size_t len = scan_bytes(src, &ascii);
  const CodesetRef cs = codeset_ref(dp_current_codeset);
  if (ascii && ascii_copies(cs)) return {HVDPUT_SUCCESS, len + 1};
  const CodesetTable* t = cs.table;
  return size_and_keep(
      memo_kind(route), cs.key, src, len + 1, 1,
      [&](unsigned char* area, size_t units) {
        return fill_walk(t, route, src, len, reinterpret_cast<char*>(area), units);
      },
      [&] {
        TableResult r;
        if (by_table(t, route, src, len, nullptr, 0, &r)) return table_counted(r);
        CountingSink<kByteScratch> sink;
        const Step s = bytes_walk(route, src, len, sink);
        return counted(s, sink.total());
      });
}

// The sizing pass's result stands for the conversion of the very same
// text, whichever route made it, so it is looked for before the text is
// scanned.
PassResult fill_bytes(Route route, char* dst, const char* src, size_t capacity) noexcept {
  const size_t len = std::strlen(src);
  const CodesetRef cs = codeset_ref(dp_current_codeset);
  if (memo_take(thread_memo(), memo_kind(route), cs.key, src, len + 1, dst, capacity)) {
    return {HVDPUT_SUCCESS, capacity};
  }
  bool ascii;
  byte_classes(src, len, &ascii);
  if (ascii && ascii_copies(cs)) {
    return fill_ascii(len, capacity, [&](size_t n) { std::memmove(dst, src, n); });
  }
  return filled(fill_walk(cs.table, route, src, len, dst, capacity).step, capacity);
}

}  // namespace

PassResult utf8_to_locale_size(const char* utf) noexcept {
  return size_bytes(Route::kUtf8ToLocale, utf);
}
PassResult utf8_to_locale(char* loc, const char* utf, size_t capacity) noexcept {
  return fill_bytes(Route::kUtf8ToLocale, loc, utf, capacity);
}
PassResult locale_to_utf8_size(const char* loc) noexcept {
  return size_bytes(Route::kLocaleToUtf8, loc);
}
PassResult locale_to_utf8(char* utf, const char* loc, size_t capacity) noexcept {
  return fill_bytes(Route::kLocaleToUtf8, utf, loc, capacity);
}

}  // namespace dpxut::charset

// ---- exported entry points -------------------------------------------------

namespace {

using dpxut::charset::PassResult;

// A sizing call stores the size only when it succeeds.
uint32_t finish_sizing(PassResult r, size_t* size) noexcept {
  if (r.code == HVDPUT_SUCCESS) *size = r.value;
  return r.code;
}

// A filling call leaves *size alone on failure; on success it stores what
// the pass reports (the capacity itself, but for the count of the
// multibyte route of locale-to-wide), in full: no 32-bit truncation.
uint32_t finish_filling(PassResult r, size_t* size) noexcept {
  if (r.code != HVDPUT_SUCCESS) return r.code;
  *size = r.value;
  return HVDPUT_SUCCESS;
}

// Result of an exported filling pass: the value, or the completion code.
size_t pass_result(PassResult r) noexcept { return r.code == HVDPUT_SUCCESS ? r.value : r.code; }

// Locale, UTF-8 and wide sources: the arguments are checked before the
// set-up runs.
template <class Sizing, class Filling>
uint32_t checked_first(const void* dst, size_t* size, const void* src, Sizing sizing,
                       Filling filling) noexcept {
  if (src == nullptr || size == nullptr) return HVDPUT_INVALID_PARAMETER;
  dpxut::charset::ensure_setup();
  if (dst == nullptr) return finish_sizing(sizing(), size);
  return finish_filling(filling(), size);
}

// Wide sources to locale text: the set-up runs even when the arguments are
// then refused, as hosts have always seen it.
template <class Sizing, class Filling>
uint32_t setup_first(const void* dst, size_t* size, const void* src, Sizing sizing,
                     Filling filling) noexcept {
  dpxut::charset::ensure_setup();
  if (src == nullptr || size == nullptr) return HVDPUT_INVALID_PARAMETER;
  if (dst == nullptr) return finish_sizing(sizing(), size);
  return finish_filling(filling(), size);
}

}  // namespace

using namespace dpxut::charset;

DPXUT_EXPORT uint32_t DPutf82loc(char* loc, size_t* size, const char* utf) {
  return checked_first(
      loc, size, utf, [&] { return utf8_to_locale_size(utf); },
      [&] { return utf8_to_locale(loc, utf, *size); });
}

DPXUT_EXPORT uint32_t DPloc2utf8(char* utf, size_t* size, const char* loc) {
  return checked_first(
      utf, size, loc, [&] { return locale_to_utf8_size(loc); },
      [&] { return locale_to_utf8(utf, loc, *size); });
}

DPXUT_EXPORT uint32_t DPuni2loc(char* loc, size_t* size, const wchar_t* uni) {
  return setup_first(
      loc, size, uni, [&] { return wide_to_locale_size(uni, true); },
      [&] { return wide_to_locale(loc, uni, *size, true); });
}

DPXUT_EXPORT uint32_t DPuni2locNoMap(char* loc, size_t* size, const wchar_t* uni) {
  return setup_first(
      loc, size, uni, [&] { return wide_to_locale_size(uni, false); },
      [&] { return wide_to_locale(loc, uni, *size, false); });
}

DPXUT_EXPORT uint32_t DPloc2uni(wchar_t* uni, size_t* size, const char* loc) {
  return checked_first(
      uni, size, loc, [&] { return locale_to_wide_size(loc, true); },
      [&] { return locale_to_wide(uni, loc, *size, true); });
}

DPXUT_EXPORT uint32_t DPloc2uniNoMap(wchar_t* uni, size_t* size, const char* loc) {
  return checked_first(
      uni, size, loc, [&] { return locale_to_wide_size(loc, false); },
      [&] { return locale_to_wide(uni, loc, *size, false); });
}

// The passes themselves, exported for hosts that drive the two calls on
// their own. They run no set-up; a null argument is refused.

DPXUT_EXPORT uint32_t dp_utfs2locsize(const char* utf, size_t* size) {
  if (utf == nullptr || size == nullptr) return HVDPUT_INVALID_PARAMETER;
  return finish_sizing(utf8_to_locale_size(utf), size);
}

DPXUT_EXPORT uint32_t dp_locs2utfsize(const char* loc, size_t* size) {
  if (loc == nullptr || size == nullptr) return HVDPUT_INVALID_PARAMETER;
  return finish_sizing(locale_to_utf8_size(loc), size);
}

DPXUT_EXPORT size_t dp_utfs2locs(char* loc, const char* utf, size_t capacity) {
  if (loc == nullptr || utf == nullptr) return HVDPUT_INVALID_PARAMETER;
  return pass_result(utf8_to_locale(loc, utf, capacity));
}

DPXUT_EXPORT size_t dp_locs2utfs(char* utf, const char* loc, size_t capacity) {
  if (utf == nullptr || loc == nullptr) return HVDPUT_INVALID_PARAMETER;
  return pass_result(locale_to_utf8(utf, loc, capacity));
}

DPXUT_EXPORT uint32_t dp_unis2locsize(const wchar_t* uni, size_t* size, int map) {
  if (uni == nullptr || size == nullptr) return HVDPUT_INVALID_PARAMETER;
  return finish_sizing(wide_to_locale_size(uni, map != 0), size);
}

DPXUT_EXPORT size_t dp_unis2locs(char* loc, const wchar_t* uni, size_t capacity, int map) {
  if (loc == nullptr || uni == nullptr) return HVDPUT_INVALID_PARAMETER;
  return pass_result(wide_to_locale(loc, uni, capacity, map != 0));
}

DPXUT_EXPORT uint32_t dp_locs2unisize(const char* loc, size_t* size, int map) {
  if (loc == nullptr || size == nullptr) return HVDPUT_INVALID_PARAMETER;
  return finish_sizing(locale_to_wide_size(loc, map != 0), size);
}

DPXUT_EXPORT size_t dp_locs2unis(wchar_t* uni, const char* loc, size_t capacity, int map) {
  if (uni == nullptr || loc == nullptr) return HVDPUT_INVALID_PARAMETER;
  return pass_result(locale_to_wide(uni, loc, capacity, map != 0));
}
