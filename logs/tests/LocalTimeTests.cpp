#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>

#include "LocalTime_un.h"
#include "LogDefs_un.h"

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
