#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>

#include "LocalTime_un.h"
#include "LogDefs_un.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

constexpr double SecondsPerDay = 86400;

double Days(const char* text) {
  double value = 0;
  EXPECT_TRUE(StrToLogDateTime(text, value)) << text;
  return value;
}

std::int32_t DirectOffset(double utc) {
  std::int32_t offset = 0;
  EXPECT_TRUE(LocalOffsetAt(static_cast<std::int64_t>(std::llround(utc * SecondsPerDay)), offset));
  return offset;
}

// The cached converter must agree with asking the platform for every instant,
// in whatever order instants come, across transitions in both directions.
TEST(LocalTime, CacheAgreesWithThePlatform) {
  TLocalTimeConverter converter;
  std::mt19937 random(7);
  const double anchors[] = {Days("2011-03-27T01:00:00"), Days("2011-10-30T01:00:00"), Days("2024-06-01T00:00:00"),
                            Days("1999-12-31T23:00:00")};
  for (int i = 0; i < 4000; ++i) {
    const double anchor = anchors[random() % 4];
    const double utc = anchor + (static_cast<int>(random() % 14401) - 7200) / SecondsPerDay;
    const double expected = utc + DirectOffset(utc) / SecondsPerDay;
    ASSERT_NEAR(expected, converter.UtcToLocal(utc), 1e-9) << "at " << utc;
  }
}

// A zone with transitions inside an hour, on an hour and a minute off one.
constexpr std::int64_t SyntheticBase = 3'600'000'000;

bool SyntheticZone(std::int64_t utcSeconds, std::int32_t& offsetSeconds) {
  const std::int64_t t = utcSeconds - SyntheticBase;
  offsetSeconds = t < 1234 ? 3600 : t < 3 * 3600 ? 5400 : t < 5 * 3600 + 59 ? 1800 : -7200;
  return true;
}

TEST(LocalTime, CacheFindsTransitionsToTheSecond) {
  TLocalTimeConverter converter(SyntheticZone);
  std::mt19937 random(11);
  for (int i = 0; i < 4000; ++i) {
    const std::int64_t utc = SyntheticBase - 7200 + static_cast<std::int64_t>(random() % (10 * 3600));
    std::int32_t offset = 0;
    SyntheticZone(utc, offset);
    ASSERT_NEAR((utc + offset) / SecondsPerDay, converter.UtcToLocal(utc / SecondsPerDay), 1e-9)
        << "at " << utc - SyntheticBase;
  }
}

#ifdef _WIN32
// The offset straight from the platform, reading the year's rules every time.
std::int32_t PlatformOffset(const SYSTEMTIME& utc) {
  TIME_ZONE_INFORMATION zone{};
  const bool found = GetTimeZoneInformationForYear(utc.wYear, nullptr, &zone) != FALSE;
  SYSTEMTIME local{};
  EXPECT_TRUE(SystemTimeToTzSpecificLocalTime(found ? &zone : nullptr, &utc, &local));
  FILETIME utcTime{}, localTime{};
  SystemTimeToFileTime(&utc, &utcTime);
  SystemTimeToFileTime(&local, &localTime);
  const auto ticks = [](const FILETIME& t) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
  };
  return static_cast<std::int32_t>((ticks(localTime) - ticks(utcTime)) / 10000000);
}

// The rules of one year are kept between calls; switching years, and
// forgetting them, must not change a single offset. The instants fall where
// zones have changed their rules over the years (the US in 2007, for one).
TEST(LocalTime, KeptYearRulesAgreeWithThePlatform) {
  struct TInstant {
    WORD Year, Month, Day;
    const char* Text; // month, day and time, after the year
  };
  for (WORD year = 1985; year <= 2024; ++year) {
    if (year % 10 == 0)
      ForgetLocalZoneRules();
    for (const TInstant& instant : {TInstant{year, 10, 1, "-10-01T12:00:00"}, TInstant{year, 3, 20, "-03-20T12:00:00"},
                                    TInstant{2011, 7, 1, "-07-01T12:00:00"}}) {
      const SYSTEMTIME utc{instant.Year, instant.Month, 0, instant.Day, 12, 0, 0, 0};
      const std::string text = std::to_string(instant.Year) + instant.Text;
      EXPECT_EQ(PlatformOffset(utc), DirectOffset(Days(text.c_str()))) << text;
    }
  }
}
#endif

TEST(LocalTime, BerlinSummerAndWinter) {
  const char* zone = std::getenv("TZ");
  if (zone == nullptr || std::string(zone) != "Europe/Berlin")
    GTEST_SKIP() << "needs TZ=Europe/Berlin";
  EXPECT_EQ(3600, DirectOffset(Days("2015-01-10T08:00:00")));
  EXPECT_EQ(7200, DirectOffset(Days("2015-07-10T08:00:00")));
  TLocalTimeConverter converter;
  EXPECT_EQ(Days("2021-03-28T01:59:59"), converter.UtcToLocal(Days("2021-03-28T00:59:59")));
  EXPECT_EQ(Days("2021-03-28T03:00:00"), converter.UtcToLocal(Days("2021-03-28T01:00:00")));
  EXPECT_EQ(Days("2021-10-31T02:59:59"), converter.UtcToLocal(Days("2021-10-31T00:59:59")));
  EXPECT_EQ(Days("2021-10-31T02:00:00"), converter.UtcToLocal(Days("2021-10-31T01:00:00")));
}

} // namespace
