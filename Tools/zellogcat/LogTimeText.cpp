#include "LogTimeText.h"

#include <cmath>
#include <cstdint>

#include "CivilDate_un.h"

namespace {

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
