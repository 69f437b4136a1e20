#pragma once
// Automation dates (days since 1899-12-30, the fraction being the time of day)
// as ISO 8601 text.
#include <cstdint>
#include <limits>

// Writes "YYYY-MM-DDTHH:MM:SS", rounded to the nearest second, and a closing
// NUL. False, writing nothing, for a value that is not a date of the years
// 1 to 9999.
bool AutomationDateToIsoText(double date, char (&text)[20]);

// The same for a series of times, as a log's lines have them: the date is
// worked out once per day, not once per time.
class TIsoTimeWriter {
public:
  bool Write(double date, char (&text)[20]) noexcept;
  // The same in two pieces, for a caller that writes them out itself: the
  // date "YYYY-MM-DDT" in DateText() until the next call, and the time of
  // day "HH:MM:SS" as the eight bytes of timeOfDay in memory order, built
  // in a register, so that it is stored whole rather than read back from
  // small stores.
  bool Split(double date, std::uint64_t& timeOfDay) noexcept;
  const char* DateText() const noexcept { return DayText; }

private:
  std::int64_t Day = std::numeric_limits<std::int64_t>::min(); // whose date DayText holds
  char DayText[11] = {};                                      // "YYYY-MM-DDT"
};
