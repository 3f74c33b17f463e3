// Text helpers shared by the command-line tools (see text.h).
#include "text.h"

#include <dpxut.h>

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

std::string shown(std::string_view s) {
  std::string r;
  r.reserve(s.size());
  for (unsigned char c : s) {
    if (c == '\\') {
      r += "\\\\";
    } else if (c == '\n') {
      r += "\\n";
    } else if (c == '\t') {
      r += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char b[8];
      std::snprintf(b, sizeof b, "\\%03o", c);
      r += b;
    } else {
      r += static_cast<char>(c);
    }
  }
  return r;
}

std::string mode_text(uint32_t mode) {
  std::string s = "?---------";
  switch (mode & DPXUT_IFMT) {
    case DPXUT_IFREG: s[0] = '-'; break;
    case DPXUT_IFDIR: s[0] = 'd'; break;
    case DPXUT_IFLNK: s[0] = 'l'; break;
  }
  static const char kRwx[] = "rwxrwxrwx";
  for (int i = 0; i < 9; ++i)
    if (mode & (0400u >> i)) s[1 + i] = kRwx[i];
  if (mode & 04000u) s[3] = (mode & 0100u) ? 's' : 'S';
  if (mode & 02000u) s[6] = (mode & 0010u) ? 's' : 'S';
  if (mode & 01000u) s[9] = (mode & 0001u) ? 't' : 'T';
  return s;
}

std::string date_text(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  struct tm tm {};
  if (static_cast<int64_t>(t) != seconds || localtime_r(&t, &tm) == nullptr) return "-";
  char b[64];
  std::strftime(b, sizeof b, "%Y-%m-%d %H:%M:%S", &tm);
  return b;
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
