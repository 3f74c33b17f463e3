// ECMA time stamps for test tables: written as hex bytes or as fields, and
// the fixed POSIX zones the conversions are tried in.
#pragma once

#include <dpxut.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "support/bytes.h"

namespace dpxut::time_test {

inline constexpr const char* kFixedZones[] = {"UTC0", "EST5EDT,M3.2.0,M11.1.0", "IST-5:30"};

inline HVDPECMATimeStamp stamp_from_hex(std::string_view text) {
  HVDPECMATimeStamp s{};
  const std::string bytes = dpxut::test::hex(text);
  std::memcpy(&s, bytes.data(), bytes.size() < sizeof s ? bytes.size() : sizeof s);
  return s;
}

inline std::string hex_of(const HVDPECMATimeStamp& s) { return dpxut::test::to_hex(&s, sizeof s); }

inline HVDPECMATimeStamp stamp(int year, int month, int day, int hour, int minute, int second, uint16_t word = 0) {
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
