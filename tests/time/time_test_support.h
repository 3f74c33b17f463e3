// Helpers shared by the date and time tests: fixing the process time zone
// with a POSIX TZ string, and stamps written as hex bytes or as fields.
#pragma once

#include <dpxut.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "support/guard_page.h"

namespace dpxut::time_test {

// Each test runs in a process of its own, so the zone set here stays with
// that one test. POSIX rule strings need no zone database.
inline void use_zone(const char* tz) {
  ::setenv("TZ", tz, 1);
  ::tzset();
}

inline constexpr const char* kFixedZones[] = {"UTC0", "EST5EDT,M3.2.0,M11.1.0", "IST-5:30"};

inline HVDPECMATimeStamp stamp_from_hex(const std::string& hex) {
  HVDPECMATimeStamp s{};
  const std::string bytes = test::hex(hex);
  std::memcpy(&s, bytes.data(), std::min(bytes.size(), sizeof s));
  return s;
}

inline std::string hex_of(const HVDPECMATimeStamp& s) {
  return test::to_hex(std::string_view(reinterpret_cast<const char*>(&s), sizeof s));
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
