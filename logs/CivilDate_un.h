#pragma once
// Proleptic Gregorian dates as day counts from 1970-01-01, both ways, for
// every year a 64-bit count can hold; automation dates to and from seconds.
#include <cmath>
#include <cstdint>

struct TCivilDate {
  std::int64_t Year;
  unsigned Month;
  unsigned Day;
};

constexpr std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) noexcept {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

constexpr TCivilDate CivilFromDays(std::int64_t days) noexcept {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
  const unsigned day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const unsigned month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  return {static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2), month, day};
}

// Automation dates count days from 1899-12-30 with the time of day as the
// magnitude of the fraction, also before that day: -1.25 is 1899-12-29 06:00,
// not 1899-12-28 18:00. So they are no linear scale: arithmetic on times goes
// through seconds from 1899-12-30 00:00.
inline std::int64_t SecondsFromAutomationDate(double date) noexcept {
  const double whole = std::trunc(date);
  return static_cast<std::int64_t>(whole) * 86400 + std::llround(std::fabs(date - whole) * 86400.0);
}

inline double AutomationDateFromSeconds(std::int64_t seconds) noexcept {
  const std::int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
  const double timeOfDay = static_cast<double>(seconds - days * 86400) / 86400.0;
  return days >= 0 ? static_cast<double>(days) + timeOfDay : static_cast<double>(days) - timeOfDay;
}

static_assert(DaysFromCivil(1970, 1, 1) == 0);
static_assert(DaysFromCivil(1899, 12, 30) == -25569);
static_assert(CivilFromDays(DaysFromCivil(2012, 2, 29)).Day == 29);
