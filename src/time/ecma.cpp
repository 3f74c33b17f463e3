// ECMA time stamps: conversion to and from DOS packed dates and Unix time,
// and ordering of two stamps. Stamps arrive from media, so every field
// value, however far out of range, converts with defined arithmetic.
#include <cstring>
#include <limits>

#include "common/export.h"
#include "time/civil.h"
#include "time/time.h"

namespace dpxut::time {
namespace {

constexpr int32_t kZoneUnspecified = HVDP_ECMA_ZONE_UNSPECIFIED;
constexpr int16_t kFirstDosYear = 1980, kLastDosYear = 1980 + 127;
constexpr int16_t kFirstUnixYear = 1970;

// A stamp's fields read as UTC, in seconds since 1970, normalised like
// timegm. Independent of TZ: a zone's history (London kept UTC+1 through
// 1970) cannot shift it.
constexpr int64_t stamp_utc_seconds(const HVDPECMATimeStamp& s) noexcept {
  return utc_seconds(s.year, s.month, s.day, s.hour, s.minute, s.second);
}

// The fields as they stand, without a zone shift, into `packed`. Years past
// 2107 would wrap into 1980-2107 under the 7-bit year mask and give a wrong
// date silently; they fail and leave "no date", like years before 1980.
bool pack_dos(const HVDPECMATimeStamp& s, uint32_t& packed) noexcept {
  if (s.year < kFirstDosYear || s.year > kLastDosYear) return false;
  packed = HVDPPackDateTime(static_cast<uint32_t>(s.year), s.month, s.day, s.hour, s.minute, s.second);
  return true;
}

// A stamp with the sub-second and reserved bytes 0. Its 16 bytes are put
// together in two words: a packed record filled member by member and then
// copied whole would stall on store forwarding.
HVDPECMATimeStamp make_stamp(uint16_t word, uint32_t year, uint32_t month, uint32_t day, uint32_t hour,
                             uint32_t minute, uint32_t second) noexcept {
  const uint64_t low = word | uint64_t{year & 0xFFFFu} << 16 | uint64_t{month & 0xFFu} << 32 |
                       uint64_t{day & 0xFFu} << 40 | uint64_t{hour & 0xFFu} << 48 | uint64_t{minute & 0xFFu} << 56;
  const uint64_t high = second & 0xFFu;
  HVDPECMATimeStamp s;
  std::memcpy(&s, &low, 8);
  std::memcpy(reinterpret_cast<uint8_t*>(&s) + 8, &high, 8);
  return s;
}

}  // namespace

int32_t decode_zone(uint16_t word) noexcept {
  if (word == 0) return 0;
  if ((word & 0xF000u) != HVDP_ECMA_TYPE_LOCAL) return kZoneUnspecified;
  const uint32_t bits = word & 0xFFFu;
  return static_cast<int32_t>((bits & 0x800u) ? (bits | 0xFFFFF000u) : bits);
}

uint32_t dos_from_stamp_bytes(const void* bytes) noexcept {
  uint32_t packed = 0;
  pack_dos(load_stamp(bytes), packed);
  return packed;
}

HVDPECMATimeStamp stamp_from_dos(uint32_t dosDateTime, uint16_t zoneWord) noexcept {
  uint16_t year, month, day, hour, minute, second;
  HVDPUnPackDateTime(dosDateTime, &year, &month, &day, &hour, &minute, &second);
  return make_stamp(zoneWord, year, month, day, hour, minute, second);  // 1980-2107
}

HVDPECMATimeStamp stamp_from_unix(uint32_t unixTime, uint16_t zoneWord) noexcept {
  const int64_t days = unixTime / kSecondsPerDay;
  const uint32_t rest = static_cast<uint32_t>(unixTime % kSecondsPerDay);
  const CivilDate date = civil_from_days(days);  // 1970-2106
  return make_stamp(zoneWord, static_cast<uint32_t>(date.year), date.month, date.day, rest / 3600, rest / 60 % 60,
                    rest % 60);
}

}  // namespace dpxut::time

using namespace dpxut::time;

DPXUT_EXPORT uint32_t HVDPECMAToDOSTime(const HVDPECMATimeStamp* stamp, uint32_t* dosDateTime) {
  uint32_t packed = 0;
  const bool packed_ok = stamp && pack_dos(load_stamp(stamp), packed);
  if (dosDateTime) *dosDateTime = packed;
  return packed_ok ? 0 : 1;
}

// A DOS date and time is local time: its fields are copied unshifted and the
// server's standard zone is recorded with them.
DPXUT_EXPORT uint32_t HVDPDOSTimeToECMA(uint32_t dosDateTime, HVDPECMATimeStamp* stamp) {
  if (!stamp) return 1;
  store_stamp(stamp, stamp_from_dos(dosDateTime, local_zone_word()));
  return 0;
}

DPXUT_EXPORT uint32_t HVDPUnixTimeToECMA(uint32_t unixTime, HVDPECMATimeStamp* stamp, uint32_t withTimeZone) {
  if (!stamp) return 1;
  store_stamp(stamp, stamp_from_unix(unixTime, withTimeZone ? local_zone_word() : 0));
  return 0;
}

// The fields read as UTC whatever the zone word says; the zone is only
// reported. Moments that an unsigned 32-bit count cannot hold (before 1970
// once out-of-range fields are normalised, or after 2106-02-07 06:28:15)
// fail like years before 1970 instead of wrapping to an unrelated time.
DPXUT_EXPORT uint32_t HVDPECMAToUnixTime(const HVDPECMATimeStamp* stamp, uint32_t* unixTime, int32_t* timeZone) {
  uint32_t seconds = 0;
  int32_t zone = kZoneUnspecified;
  uint32_t result = 1;
  if (stamp) {
    const HVDPECMATimeStamp s = load_stamp(stamp);
    const int64_t utc = stamp_utc_seconds(s);
    if (s.year >= kFirstUnixYear && utc >= 0 && utc <= std::numeric_limits<uint32_t>::max()) {
      seconds = static_cast<uint32_t>(utc);
      zone = decode_zone(s.typeAndTimeZone);
      result = 0;
    }
  }
  if (unixTime) *unixTime = seconds;
  if (timeZone) *timeZone = zone;
  return result;
}

// Stamps are ordered by the moments they denote: fields read as UTC minus
// the zone's offset, in 64 bits so no year wraps. Stamps of one zone thus
// order by their fields alone. A stamp before 1970 or without a specified
// zone (including words of a type other than 0 and 1) cannot be ordered.
DPXUT_EXPORT uint32_t HVDPECMATimeCompare(const HVDPECMATimeStamp* first, const HVDPECMATimeStamp* second) {
  if (!first || !second) return HVDP_ECMA_INCOMPARABLE;
  int64_t moment[2];
  const HVDPECMATimeStamp* stamps[2] = {first, second};
  for (int i = 0; i < 2; ++i) {
    const HVDPECMATimeStamp s = load_stamp(stamps[i]);
    const int32_t zone = decode_zone(s.typeAndTimeZone);
    if (s.year < kFirstUnixYear || zone == kZoneUnspecified) return HVDP_ECMA_INCOMPARABLE;
    moment[i] = stamp_utc_seconds(s) - int64_t{zone} * 60;
  }
  if (moment[0] < moment[1]) return 0xFFFFFFFFu;
  return moment[0] > moment[1] ? 1u : 0u;
}
