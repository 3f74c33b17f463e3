// Proleptic Gregorian calendar arithmetic on plain integers, the base of
// every conversion between ECMA fields and Unix time. Exact for any year a
// 16-bit stamp can hold and independent of the process time zone, so the
// fields of a stamp always read as UTC (no leap seconds, as Unix time).
#pragma once

#include <cstdint>

namespace dpxut::time {

struct CivilDate {
  int64_t year;
  unsigned month;  // 1-12
  unsigned day;    // 1-31
};

inline constexpr int64_t kSecondsPerDay = 86400;

// Days from 1970-01-01 to year-month-day, for a month in 1-12 and a day in
// 1-31. Years are counted in 400-year eras starting on March 1st, so that
// the leap day is the last day of its year.
constexpr int64_t days_from_civil(int64_t year, unsigned month, unsigned day) noexcept {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;                                  // 0-399
  const int64_t month_from_march = month > 2 ? month - 3 : month + 9;            // 0-11
  const int64_t day_of_year = (153 * month_from_march + 2) / 5 + day - 1;        // 0-365
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

// The inverse of days_from_civil.
constexpr CivilDate civil_from_days(int64_t days) noexcept {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t day_of_era = days - era * 146097;                                          // 0-146096
  const int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t month_from_march = (5 * day_of_year + 2) / 153;                            // 0-11
  const unsigned day = static_cast<unsigned>(day_of_year - (153 * month_from_march + 2) / 5 + 1);
  const unsigned month = static_cast<unsigned>(month_from_march < 10 ? month_from_march + 3 : month_from_march - 9);
  return {year_of_era + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

// Seconds since 1970-01-01 00:00 UTC of broken-down fields that may lie out
// of their ranges, normalised the way mktime/timegm normalise them: the
// month (1-based) carries into the year, the day counts on from the first
// of that month (day 0 is the day before), and hours, minutes and seconds
// simply add up.
constexpr int64_t utc_seconds(int64_t year, int64_t month, int64_t day, int64_t hour,
                              int64_t minute, int64_t second) noexcept {
  const int64_t month0 = month - 1;
  const int64_t carry = (month0 >= 0 ? month0 : month0 - 11) / 12;
  year += carry;
  const auto month_in_year = static_cast<unsigned>(month0 - carry * 12 + 1);
  const int64_t days = days_from_civil(year, month_in_year, 1) + day - 1;
  return days * kSecondsPerDay + hour * 3600 + minute * 60 + second;
}

}  // namespace dpxut::time
