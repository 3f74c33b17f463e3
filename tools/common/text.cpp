// Text helpers shared by the command-line tools (see text.h).
#include "text.h"

#include <dpxut.h>

#include <langinfo.h>
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace dpxtool {

std::string vformat(const char* fmt, va_list ap) {
  char b[512];
  va_list again;
  va_copy(again, ap);
  const int n = std::vsnprintf(b, sizeof b, fmt, ap);
  std::string out;
  if (n >= 0 && static_cast<size_t>(n) >= sizeof b) {
    out.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), fmt, again);
    out.resize(static_cast<size_t>(n));
  } else if (n >= 0) {
    out.assign(b, static_cast<size_t>(n));
  }
  va_end(again);
  return out;
}

std::string format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = vformat(fmt, ap);
  va_end(ap);
  return s;
}

namespace {

// A well-formed UTF-8 character at s[i]: its length and code point, 0 if
// none (overlong forms, surrogates and values past U+10FFFF are none).
size_t utf8_at(std::string_view s, size_t i, uint32_t& cp) {
  const auto b = static_cast<unsigned char>(s[i]);
  const size_t len = b < 0xC2 ? 0 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF5 ? 4 : 0;
  if (len == 0 || len > s.size() - i) return 0;
  uint32_t v = b & (0x7F >> len);
  for (size_t k = 1; k < len; ++k) {
    const auto t = static_cast<unsigned char>(s[i + k]);
    if ((t & 0xC0) != 0x80) return 0;
    v = v << 6 | (t & 0x3F);
  }
  static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (v < kMin[len] || (v >= 0xD800 && v < 0xE000) || v > 0x10FFFF) return 0;
  cp = v;
  return len;
}

void escape_byte(std::string& r, unsigned char c) {
  switch (c) {
    case '\\': r += "\\\\"; return;
    case '\n': r += "\\n"; return;
    case '\t': r += "\\t"; return;
  }
  const char b[4] = {'\\', static_cast<char>('0' + (c >> 6)), static_cast<char>('0' + (c >> 3 & 7)),
                     static_cast<char>('0' + (c & 7))};
  r.append(b, 4);
}

// Escapes as shown() does; backslashes too when `backslash`.
std::string escaped(std::string_view s, bool utf8, bool backslash) {
  std::string r;
  r.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    // Runs of plain ASCII go in at once.
    size_t j = i;
    while (j < s.size()) {
      const auto c = static_cast<unsigned char>(s[j]);
      if (c < 0x20 || c >= 0x7F || (c == '\\' && backslash)) break;
      ++j;
    }
    r.append(s.data() + i, j - i);
    if ((i = j) == s.size()) break;
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      escape_byte(r, c);
      ++i;
    } else if (!utf8) {
      // Other code sets: the bytes of C1 controls (ISO 8859) are escaped;
      // they also stand in every UTF-8 form of the characters above.
      if (c <= 0x9F) escape_byte(r, c);
      else r += static_cast<char>(c);
      ++i;
    } else {
      uint32_t cp = 0;
      const size_t len = utf8_at(s, i, cp);
      if (len == 0) {
        escape_byte(r, c);
        ++i;
      } else {
        if (hidden_control(cp)) r += format("\\u{%04X}", cp);
        else r.append(s.data() + i, len);
        i += len;
      }
    }
  }
  return r;
}

}  // namespace

bool hidden_control(uint32_t cp) {
  return (cp >= 0x80 && cp <= 0x9F) || cp == 0x61C || cp == 0x200E || cp == 0x200F || (cp >= 0x2028 && cp <= 0x202E) ||
         (cp >= 0x2066 && cp <= 0x2069);
}

bool locale_is_utf8() {
  const char* set = nl_langinfo(CODESET);
  return set != nullptr && (strcasecmp(set, "UTF-8") == 0 || strcasecmp(set, "UTF8") == 0);
}

std::string shown(std::string_view s) { return shown(s, locale_is_utf8()); }

std::string shown(std::string_view s, bool utf8) { return escaped(s, utf8, true); }

std::string shown_message(std::string_view s) { return escaped(s, locale_is_utf8(), false); }


std::string mode_text(uint32_t mode) {
  std::string s = "?---------";
  switch (mode & DPXUT_IFMT) {
    case DPXUT_IFREG: s[0] = '-'; break;
    case DPXUT_IFDIR: s[0] = 'd'; break;
    case DPXUT_IFLNK: s[0] = 'l'; break;
    case DPXUT_IFIFO: s[0] = 'p'; break;
    case DPXUT_IFCHR: s[0] = 'c'; break;
    case DPXUT_IFBLK: s[0] = 'b'; break;
    case DPXUT_IFSOCK: s[0] = 's'; break;
  }
  static const char kRwx[] = "rwxrwxrwx";
  for (int i = 0; i < 9; ++i)
    if (mode & (0400u >> i)) s[1 + i] = kRwx[i];
  if (mode & 04000u) s[3] = (mode & 0100u) ? 's' : 'S';
  if (mode & 02000u) s[6] = (mode & 0010u) ? 's' : 'S';
  if (mode & 01000u) s[9] = (mode & 0001u) ? 't' : 'T';
  return s;
}

static std::string local_date_text(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  struct tm tm {};
  if (static_cast<int64_t>(t) != seconds || localtime_r(&t, &tm) == nullptr) return "-";
  char b[64];
  std::strftime(b, sizeof b, "%Y-%m-%d %H:%M:%S", &tm);
  return b;
}

std::string date_text(int64_t seconds) {
  // Entries of one tree share their times: the last one is kept.
  thread_local int64_t last = 0;
  thread_local std::string last_text;
  if (!last_text.empty() && seconds == last) return last_text;
  last_text = local_date_text(seconds);
  last = seconds;
  return last_text;
}

std::string dos_date_text(uint32_t packed) {
  if (packed == 0) return "none";
  uint16_t y, mo, d, h, mi, s;
  HVDPUnPackDateTime(packed, &y, &mo, &d, &h, &mi, &s);
  char b[48];
  std::snprintf(b, sizeof b, "%04u-%02u-%02u %02u:%02u:%02u", y, mo, d, h, mi, s);
  return b;
}

std::string current_codeset() { return dp_current_codeset[0] != '\0' ? std::string(dp_current_codeset) : ""; }

namespace {

// The library's conversions come in two calls: the first sizes the result
// (terminator included), the second fills a destination of that size.
template <class Source>
bool to_bytes(uint32_t (*convert)(char*, size_t*, const Source*), const Source* source, std::string& out) {
  size_t size = 0;
  if (convert(nullptr, &size, source) != 0 || size == 0) return false;
  std::vector<char> b(size);
  if (convert(b.data(), &size, source) != 0) return false;
  out.assign(b.data(), strnlen(b.data(), b.size()));
  return true;
}

}  // namespace

bool locale_to_utf8(const std::string& loc, std::string& utf) { return to_bytes(DPloc2utf8, loc.c_str(), utf); }
bool utf8_to_locale(const std::string& utf, std::string& loc) { return to_bytes(DPutf82loc, utf.c_str(), loc); }
bool wide_to_locale(const wchar_t* wide, std::string& loc) { return to_bytes(DPuni2locNoMap, wide, loc); }

bool locale_to_wide(const std::string& loc, std::vector<wchar_t>& wide) {
  size_t size = 0;
  if (DPloc2uniNoMap(nullptr, &size, loc.c_str()) != 0 || size == 0) return false;
  wide.assign(size, L'\0');
  if (DPloc2uniNoMap(wide.data(), &size, loc.c_str()) != 0) return false;
  wide.back() = L'\0';
  return true;
}

}  // namespace dpxtool
