#include "LogTimeText.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "CivilDate_un.h"

namespace {

// "00" to "99".
constexpr auto TwoDigits = [] {
  struct {
    char Pairs[200];
  } table{};
  for (int i = 0; i < 100; ++i) {
    table.Pairs[2 * i] = static_cast<char>('0' + i / 10);
    table.Pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return table;
}();

void PutTwoDigits(char* at, unsigned value) noexcept { std::memcpy(at, TwoDigits.Pairs + 2 * value, 2); }

constexpr std::int64_t AutomationEpochFromUnixEpoch = -25569;  // 1899-12-30
// Keeps the day count far from overflow; the year check below is the exact one.
constexpr double MaxDayMagnitude = 4e6;

// Rounds a magnitude to the nearest integer, halves away from zero, as
// llround does but without a library call on the way of every line.
std::int64_t RoundMagnitude(double magnitude) noexcept {
  auto rounded = static_cast<std::int64_t>(magnitude + 0.5);
  // The sum itself rounds up for the largest double below a half.
  if (static_cast<double>(rounded) - magnitude > 0.5) --rounded;
  return rounded;
}

}  // namespace

bool TIsoTimeWriter::Split(double date, std::uint64_t& timeOfDay) noexcept {
  if (!std::isfinite(date) || std::fabs(date) > MaxDayMagnitude) return false;
  // The day is the integral part and the time of day the magnitude of the
  // fraction, also before the epoch (-1.25 is 1899-12-29 06:00). Splitting
  // before scaling keeps the rounding to the second exact. The magnitude is
  // bounded, so the conversion truncates exactly, without a library call.
  std::int64_t days = static_cast<std::int64_t>(date);
  const auto whole = static_cast<double>(days);
  std::int64_t seconds = RoundMagnitude(std::fabs(date - whole) * 86400.0);
  if (seconds >= 86400) {
    ++days;
    seconds -= 86400;
  }
  if (days != Day) {
    const TCivilDate civil = CivilFromDays(days + AutomationEpochFromUnixEpoch);
    if (civil.Year < 1 || civil.Year > 9999) return false;
    const auto year = static_cast<unsigned>(civil.Year);
    PutTwoDigits(DayText, year / 100);
    PutTwoDigits(DayText + 2, year % 100);
    DayText[4] = '-';
    PutTwoDigits(DayText + 5, civil.Month);
    DayText[7] = '-';
    PutTwoDigits(DayText + 8, civil.Day);
    DayText[10] = 'T';
    Day = days;
  }
  const auto secondOfDay = static_cast<unsigned>(seconds);
  const unsigned parts[3] = {secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60};
  const unsigned char bytes[8] = {static_cast<unsigned char>('0' + parts[0] / 10),
                                  static_cast<unsigned char>('0' + parts[0] % 10),
                                  ':',
                                  static_cast<unsigned char>('0' + parts[1] / 10),
                                  static_cast<unsigned char>('0' + parts[1] % 10),
                                  ':',
                                  static_cast<unsigned char>('0' + parts[2] / 10),
                                  static_cast<unsigned char>('0' + parts[2] % 10)};
  std::uint64_t text = 0;
  for (int i = 0; i < 8; ++i) {
    const int shift = std::endian::native == std::endian::little ? 8 * i : 56 - 8 * i;
    text |= std::uint64_t{bytes[i]} << shift;
  }
  timeOfDay = text;
  return true;
}

bool TIsoTimeWriter::Write(double date, char (&text)[20]) noexcept {
  std::uint64_t timeOfDay = 0;
  if (!Split(date, timeOfDay)) return false;
  std::memcpy(text, DayText, sizeof DayText);
  std::memcpy(text + sizeof DayText, &timeOfDay, sizeof timeOfDay);
  text[19] = '\0';
  return true;
}

bool AutomationDateToIsoText(double date, char (&text)[20]) { return TIsoTimeWriter().Write(date, text); }
