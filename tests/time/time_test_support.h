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

inline HVDPECMATimeStamp stamp(int16_t year, uint8_t month, uint8_t day, uint8_t hour, uint8_t minute, uint8_t second,
                               uint16_t word = 0) {
  return {.typeAndTimeZone = word, .year = year, .month = month, .day = day, .hour = hour, .minute = minute,
          .second = second};
}

}  // namespace dpxut::time_test
