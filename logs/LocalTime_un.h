#pragma once
// Moves UTC instants to the local time of this machine with the zone rules in
// force at each instant (summer and winter times of past events included).
#include <cstdint>

// The local zone's offset (local minus UTC, seconds) at a UTC instant given in
// seconds since 1899-12-30; false when the platform cannot convert it.
bool LocalOffsetAt(std::int64_t utcSeconds, std::int32_t& offsetSeconds);

// Makes LocalOffsetAt read the zone's rules afresh, so that a changed zone is
// picked up; until then it may keep the rules it has read.
void ForgetLocalZoneRules() noexcept;

using TZoneOffsetSource = bool (*)(std::int64_t utcSeconds, std::int32_t& offsetSeconds);

class TLocalTimeConverter {
public:
  // Tests pass a synthetic zone.
  explicit TLocalTimeConverter(TZoneOffsetSource offsetSource = LocalOffsetAt) noexcept
      : OffsetSource(offsetSource) {}

  // Both in automation date form (days since 1899-12-30), whole seconds.
  double UtcToLocal(double utcTime);
  // The same from seconds since 1899-12-30 00:00.
  double UtcSecondsToLocal(std::int64_t utcSeconds);
  // The local time as seconds since 1899-12-30 00:00.
  std::int64_t UtcSecondsToLocalSeconds(std::int64_t utcSeconds);

  // Forgets the cached offset and the zone's rules (ForgetLocalZoneRules), so
  // that a changed zone is picked up.
  void Reset() noexcept;

private:
  std::int32_t OffsetAt(std::int64_t utcSeconds) const;

  TZoneOffsetSource OffsetSource;
  // The local offset holds for the UTC seconds [CachedStart, CachedEnd).
  std::int64_t CachedStart = 0;
  std::int64_t CachedEnd = 0;
  std::int32_t CachedOffset = 0;
};

