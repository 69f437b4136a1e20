#include "LocalTime_un.h"

#include "CivilDate_un.h"

#include <cmath>
#include <ctime>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

constexpr std::int64_t SecondsPerDay = 86400;
constexpr std::int64_t SecondsPerHour = 3600;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) noexcept {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

#ifdef _WIN32
// 1601-01-01, the FILETIME epoch, in days since 1899-12-30.
constexpr std::int64_t FileTimeEpochDays = -109205;
constexpr std::int64_t FileTimeTicksPerSecond = 10000000;
#else
// 1970-01-01 in days since 1899-12-30.
constexpr std::int64_t UnixEpochDays = 25569;
#endif

// The offset in force now; used for instants the platform cannot convert.
std::int32_t CurrentOffset(TZoneOffsetSource source) {
  constexpr std::int64_t AutomationSecondsOfUnixEpoch = 25569 * SecondsPerDay;
  std::int32_t offset = 0;
  return source(static_cast<std::int64_t>(std::time(nullptr)) + AutomationSecondsOfUnixEpoch, offset) ? offset : 0;
}

} // namespace

#ifdef _WIN32

namespace {

// The zone's rules for one year, as GetTimeZoneInformationForYear gives them.
// Reading them goes to the registry, which costs far more than converting an
// instant, and logs keep to one year for long stretches.
struct TYearZoneRules {
  bool Valid = false;
  WORD Year = 0;
  bool Found = false; // false: Windows has no rules for the year
  TIME_ZONE_INFORMATION Zone{};
};

std::mutex YearZoneRulesLock;
TYearZoneRules YearZoneRules;

TYearZoneRules ZoneRulesOfYear(WORD year) {
  const std::lock_guard<std::mutex> lock(YearZoneRulesLock);
  if (!YearZoneRules.Valid || YearZoneRules.Year != year) {
    YearZoneRules.Zone = {};
    YearZoneRules.Found = GetTimeZoneInformationForYear(year, nullptr, &YearZoneRules.Zone) != FALSE;
    YearZoneRules.Year = year;
    YearZoneRules.Valid = true;
  }
  return YearZoneRules;
}

} // namespace

void ForgetLocalZoneRules() noexcept {
  const std::lock_guard<std::mutex> lock(YearZoneRulesLock);
  YearZoneRules.Valid = false;
}

bool LocalOffsetAt(std::int64_t utcSeconds, std::int32_t& offsetSeconds) {
  const std::int64_t fileTimeSeconds = utcSeconds - FileTimeEpochDays * SecondsPerDay;
  if (fileTimeSeconds < 0)
    return false;
  const auto ticks = static_cast<std::uint64_t>(fileTimeSeconds) * FileTimeTicksPerSecond;
  FILETIME utcFileTime{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME utc{}, local{};
  if (!FileTimeToSystemTime(&utcFileTime, &utc))
    return false;
  // The zone's rules for the event's year (historical rules where Windows
  // has them); the current rules when it has none.
  const TYearZoneRules rules = ZoneRulesOfYear(utc.wYear);
  if (!SystemTimeToTzSpecificLocalTime(rules.Found ? &rules.Zone : nullptr, &utc, &local))
    return false;
  FILETIME localFileTime{};
  if (!SystemTimeToFileTime(&local, &localFileTime))
    return false;
  const std::uint64_t localTicks =
      (static_cast<std::uint64_t>(localFileTime.dwHighDateTime) << 32) | localFileTime.dwLowDateTime;
  offsetSeconds = static_cast<std::int32_t>(
      (static_cast<std::int64_t>(localTicks) - static_cast<std::int64_t>(ticks)) / FileTimeTicksPerSecond);
  return true;
}

#else

// The zone is loaded once per process (tzset), so there is nothing to forget.
void ForgetLocalZoneRules() noexcept {}

bool LocalOffsetAt(std::int64_t utcSeconds, std::int32_t& offsetSeconds) {
  static std::once_flag zoneLoaded;
  std::call_once(zoneLoaded, [] { tzset(); });
  const auto unixSeconds = static_cast<std::time_t>(utcSeconds - UnixEpochDays * SecondsPerDay);
  std::tm local{};
  if (localtime_r(&unixSeconds, &local) == nullptr)
    return false;
  offsetSeconds = static_cast<std::int32_t>(local.tm_gmtoff);
  return true;
}

#endif

std::int32_t TLocalTimeConverter::OffsetAt(std::int64_t utcSeconds) const {
  std::int32_t offset = 0;
  return OffsetSource(utcSeconds, offset) ? offset : CurrentOffset(OffsetSource);
}

void TLocalTimeConverter::Reset() noexcept {
  CachedStart = CachedEnd = 0;
  ForgetLocalZoneRules();
}

// Zones change their offset at most once within an hour, so one hour of UTC
// whose two ends agree has one offset; an hour whose ends differ is bisected
// to the second of its transition. Logs run forward in time, so this costs
// about two platform calls per hour of log.
double TLocalTimeConverter::UtcToLocal(double utcTime) { return UtcSecondsToLocal(SecondsFromAutomationDate(utcTime)); }

double TLocalTimeConverter::UtcSecondsToLocal(std::int64_t utcSeconds) {
  return AutomationDateFromSeconds(UtcSecondsToLocalSeconds(utcSeconds));
}

std::int64_t TLocalTimeConverter::UtcSecondsToLocalSeconds(std::int64_t utcSeconds) {
  if (utcSeconds < CachedStart || utcSeconds >= CachedEnd) {
    const std::int64_t hourStart = FloorDiv(utcSeconds, SecondsPerHour) * SecondsPerHour;
    const std::int64_t hourEnd = hourStart + SecondsPerHour;
    const std::int32_t startOffset = OffsetAt(hourStart);
    const std::int32_t endOffset = OffsetAt(hourEnd);
    std::int64_t transition = hourEnd;
    if (startOffset != endOffset) {
      std::int64_t before = hourStart;
      while (transition - before > 1) {
        const std::int64_t middle = before + (transition - before) / 2;
        if (OffsetAt(middle) == startOffset)
          before = middle;
        else
          transition = middle;
      }
    }
    if (utcSeconds < transition) {
      CachedStart = hourStart;
      CachedEnd = transition;
      CachedOffset = startOffset;
    } else {
      CachedStart = transition;
      CachedEnd = hourEnd;
      CachedOffset = endOffset;
    }
  }
  return utcSeconds + CachedOffset;
}
