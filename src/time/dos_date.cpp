// DOS packed dates and times: packing, unpacking, the range check and the
// present local time. A packed date and time holds the date in bits 31-16
// and the time in bits 15-0, so packed values order like their moments and
// 0 stands for "no date".
#include <ctime>

#include "common/export.h"
#include "time/time.h"

namespace {

// Bit layout of the 32-bit form; the 16-bit forms are its halves.
constexpr uint32_t kYearShift = 25, kMonthShift = 21, kDayShift = 16;
constexpr uint32_t kHourShift = 11, kMinuteShift = 5;
constexpr uint32_t kDosEpochYear = 1980;

template <typename T>
void put(T* out, uint32_t value) noexcept {
  if (out) *out = static_cast<T>(value);
}

}  // namespace

DPXUT_EXPORT uint32_t HVDPCheckDateAndTimeRange(uint32_t firstDateAndTime, uint32_t lastDateAndTime,
                                                uint32_t dateAndTime) {
  if (lastDateAndTime != 0 && dateAndTime > lastDateAndTime) return 1;
  if (firstDateAndTime == 0 || dateAndTime == 0) return 0;
  return dateAndTime < firstDateAndTime ? 1 : 0;
}

// The 16-bit packers keep their historical unmasked form: a field beyond
// its width spills into the next one. Arithmetic is unsigned 32-bit so that
// a year before 1980 wraps instead of shifting a negative number.
DPXUT_EXPORT uint16_t HVDPPackDate(uint16_t year, uint16_t month, uint16_t day) {
  const uint32_t v = ((uint32_t{year} - kDosEpochYear) << 9) | (uint32_t{month} << 5) | day;
  return static_cast<uint16_t>(v);
}

DPXUT_EXPORT uint16_t HVDPPackTime(uint16_t hour, uint16_t minute, uint16_t second) {
  const uint32_t v = (uint32_t{hour} << kHourShift) | (uint32_t{minute} << kMinuteShift) | (second >> 1u);
  return static_cast<uint16_t>(v);
}

DPXUT_EXPORT uint32_t HVDPPackDateTime(uint32_t year, uint32_t month, uint32_t day, uint32_t hour,
                                       uint32_t minute, uint32_t second) {
  return ((year - kDosEpochYear) << kYearShift) | ((month & 0xFu) << kMonthShift) |
         ((day & 0x1Fu) << kDayShift) | ((hour << kHourShift) & 0xF800u) |
         ((minute & 0x3Fu) << kMinuteShift) | ((second & 0x3Fu) >> 1u);
}

DPXUT_EXPORT void HVDPUnPackDate(uint32_t packedDate, uint16_t* year, uint16_t* month, uint16_t* day) {
  const uint32_t v = packedDate & 0xFFFFu;
  put(year, (v >> 9) + kDosEpochYear);
  put(month, (v & 0x1E0u) >> 5);
  put(day, v & 0x1Fu);
}

DPXUT_EXPORT void HVDPUnPackTime(uint32_t packedTime, uint16_t* hour, uint16_t* minute, uint16_t* second) {
  const uint32_t v = packedTime & 0xFFFFu;
  put(hour, v >> kHourShift);
  put(minute, (v & 0x7E0u) >> kMinuteShift);
  put(second, (v & 0x1Fu) * 2);
}

// All six outputs are required by contract; a null one is skipped rather
// than written through.
DPXUT_EXPORT void HVDPUnPackDateTime(uint32_t packedDateTime, uint16_t* year, uint16_t* month,
                                     uint16_t* day, uint16_t* hour, uint16_t* minute,
                                     uint16_t* second) {
  const uint32_t v = packedDateTime;
  put(year, (v >> kYearShift) + kDosEpochYear);
  put(month, (v >> kMonthShift) & 0xFu);
  put(day, (v >> kDayShift) & 0x1Fu);
  put(hour, (v >> kHourShift) & 0x1Fu);
  put(minute, (v >> kMinuteShift) & 0x3Fu);
  put(second, (v & 0x1Fu) * 2);
}

DPXUT_EXPORT uint32_t HVDPGetCurrentDateAndTime(void) {
  const time_t now = ::time(nullptr);
  struct tm local {};
  if (now == static_cast<time_t>(-1) || localtime_r(&now, &local) == nullptr) return 0;
  // A clock outside 1980-2107 would wrap into a wrong packed year.
  const int64_t year = int64_t{local.tm_year} + 1900;
  if (year < kDosEpochYear || year > kDosEpochYear + 127) return 0;
  return HVDPPackDateTime(static_cast<uint32_t>(year), static_cast<uint32_t>(local.tm_mon + 1),
                          static_cast<uint32_t>(local.tm_mday), static_cast<uint32_t>(local.tm_hour),
                          static_cast<uint32_t>(local.tm_min), static_cast<uint32_t>(local.tm_sec));
}
