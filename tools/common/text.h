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

// A name as listings show it: on one line, and only as itself whatever
// bytes it holds. Backslashes and control characters are escaped ("\\\\",
// "\\n", "\\t", other bytes "\\ooo" in octal); in a UTF-8 locale also bytes
// that are no character ("\\ooo") and C1 controls, bidirectional controls
// and line separators ("\\u{XXXX}"); in other locales the bytes 0x80-0x9F
// (C1 controls in ISO 8859, and part of every UTF-8 form of the others).
std::string shown(std::string_view s);
std::string shown(std::string_view s, bool utf8);
// A message from the library, whose names have their backslashes and C0
// controls escaped already: the rest escaped as shown does, backslashes kept.
std::string shown_message(std::string_view s);
// Characters that change how the text around them shows: C1 controls, the
// bidirectional marks, embeddings, overrides and isolates, and the line and
// paragraph separators.
bool hidden_control(uint32_t cp);
// Whether the locale's code set is UTF-8.
bool locale_is_utf8();

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
