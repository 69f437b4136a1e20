#include "LogTimeText.h"

#include <cmath>
#include <cstdint>

namespace {

struct TCivilDate {
  std::int64_t Year;
  unsigned Month;
  unsigned Day;
};

// The proleptic Gregorian date of a day count from 1970-01-01.
TCivilDate CivilFromDays(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

void PutDigits(char* at, unsigned value, int count) {
  for (int i = count - 1; i >= 0; --i) {
    at[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

constexpr std::int64_t AutomationEpochFromUnixEpoch = -25569;  // 1899-12-30
// Keeps the day count far from overflow; the year check below is the exact one.
constexpr double MaxDayMagnitude = 4e6;

}  // namespace

bool AutomationDateToIsoText(double date, char (&text)[20]) {
  if (!std::isfinite(date) || std::fabs(date) > MaxDayMagnitude) return false;
  // The day is the integral part and the time of day the magnitude of the
  // fraction, also before the epoch (-1.25 is 1899-12-29 06:00). Splitting
  // before scaling keeps the rounding to the second exact.
  const double whole = std::trunc(date);
  std::int64_t days = static_cast<std::int64_t>(whole);
  std::int64_t seconds = std::llround(std::fabs(date - whole) * 86400.0);
  if (seconds >= 86400) {
    ++days;
    seconds -= 86400;
  }
  const TCivilDate civil = CivilFromDays(days + AutomationEpochFromUnixEpoch);
  if (civil.Year < 1 || civil.Year > 9999) return false;
  const auto secondOfDay = static_cast<unsigned>(seconds);
  PutDigits(text, static_cast<unsigned>(civil.Year), 4);
  text[4] = '-';
  PutDigits(text + 5, civil.Month, 2);
  text[7] = '-';
  PutDigits(text + 8, civil.Day, 2);
  text[10] = 'T';
  PutDigits(text + 11, secondOfDay / 3600, 2);
  text[13] = ':';
  PutDigits(text + 14, secondOfDay / 60 % 60, 2);
  text[16] = ':';
  PutDigits(text + 17, secondOfDay % 60, 2);
  text[19] = '\0';
  return true;
}
