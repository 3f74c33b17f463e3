// Helpers shared by the date and time tests: fixing the process time zone
// with a POSIX TZ string, and stamps written as hex bytes or as fields.
#pragma once

#include <dpxut.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>
#include <string>

namespace dpxut::time_test {

// Each test runs in a process of its own, so the zone set here stays with
// that one test. POSIX rule strings need no zone database.
inline void use_zone(const char* tz) {
  ::setenv("TZ", tz, 1);
  ::tzset();
}

inline constexpr const char* kFixedZones[] = {"UTC0", "EST5EDT,M3.2.0,M11.1.0", "IST-5:30"};

// Stands alone (no hex helper of another folder), so that any test may
// include it next to either of those.
inline HVDPECMATimeStamp stamp_from_hex(const std::string& hex) {
  HVDPECMATimeStamp s{};
  auto* out = reinterpret_cast<unsigned char*>(&s);
  std::istringstream in(hex);
  unsigned byte = 0;
  for (size_t i = 0; i < sizeof s && (in >> std::hex >> byte); ++i) out[i] = static_cast<unsigned char>(byte);
  return s;
}

inline std::string hex_of(const HVDPECMATimeStamp& s) {
  const auto* p = reinterpret_cast<const unsigned char*>(&s);
  std::string out;
  for (size_t i = 0; i < sizeof s; ++i) {
    out += (i ? " " : "") + std::string(1, "0123456789ABCDEF"[p[i] >> 4]) + "0123456789ABCDEF"[p[i] & 15];
  }
  return out;
}

inline HVDPECMATimeStamp stamp(int year, int month, int day, int hour, int minute, int second,
                               uint16_t word = 0) {
  HVDPECMATimeStamp s{};
  s.typeAndTimeZone = word;
  s.year = static_cast<int16_t>(year);
  s.month = static_cast<uint8_t>(month);
  s.day = static_cast<uint8_t>(day);
  s.hour = static_cast<uint8_t>(hour);
  s.minute = static_cast<uint8_t>(minute);
  s.second = static_cast<uint8_t>(second);
  return s;
}

}  // namespace dpxut::time_test
