// Text helpers shared by the command-line tools: printf into strings, names
// made safe to show on one line, modes and dates as listings show them, and
// the two-call conversions of the library between locale bytes and UTF-8.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dpxtool {

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string vformat(const char* fmt, va_list ap);

// Control characters and backslashes escaped ("\\n", "\\t", "\\\\", "\\ooo"),
// so that every name stays on one line whatever bytes it holds.
std::string shown(std::string_view s);

// "drwxr-xr-x" style text of a Linux st_mode.
std::string mode_text(uint32_t mode);

// Seconds since 1970 as "YYYY-MM-DD HH:MM:SS" in local time; "-" when the
// time cannot be represented.
std::string date_text(int64_t seconds);

// A packed DOS date and time as "YYYY-MM-DD HH:MM:SS", "none" for 0.
std::string dos_date_text(uint32_t packed);

// The code set the library found for the locale ("" if none).
std::string current_codeset();

// Locale bytes to UTF-8 and wide text and back, through the library's
// conversions; false when the text does not convert. NoMap forms: a name
// that happens to hold "[XXXX]" keeps it as text.
bool locale_to_utf8(const std::string& loc, std::string& utf);
bool utf8_to_locale(const std::string& utf, std::string& loc);
bool locale_to_wide(const std::string& loc, std::vector<wchar_t>& wide);
bool wide_to_locale(const wchar_t* wide, std::string& loc);

}  // namespace dpxtool
