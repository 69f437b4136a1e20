#include "ZelLogDbRecord_un.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double SecondsPerDay = 86400.0;

template <class E, std::size_t N>
std::array<std::string, N> DisplayTexts(std::string_view (*text)(E) noexcept) {
  std::array<std::string, N> texts;
  for (std::size_t i = 0; i < N; ++i) texts[i] = std::string(text(static_cast<E>(i)));
  return texts;
}

template <class E, std::size_t N>
const std::string& DisplayTextOf(const std::array<std::string, N>& texts, E value) noexcept {
  static const std::string none;
  const auto index = static_cast<std::size_t>(value);
  return index < N ? texts[index] : none;
}
}  // namespace

double ZelLogRowTime(double time) noexcept {
  // nearbyint rounds halves to even in the default rounding mode.
  return (std::nearbyint(time * SecondsPerDay) + 0.003) / SecondsPerDay;
}

void TZelLogDbRecord::Complete() noexcept {
  Time = ZelLogRowTime(Parsed.Time);
  Verbose = Parsed.LogMode ? VARIANT_TRUE : VARIANT_FALSE;
  for (std::size_t i = 0; i < Actions.size(); ++i)
    Actions[i] = Parsed.Actions.Contains(static_cast<TLogAction>(i)) ? VARIANT_TRUE : VARIANT_FALSE;
}

const std::string& EventClassDisplayText(TLogEventClass value) noexcept {
  static const auto texts =
      DisplayTexts<TLogEventClass, LogEventClassNames.size()>(&EventClassToDisplayText);
  return DisplayTextOf(texts, value);
}

const std::string& SeverityDisplayText(TLogSeverity value) noexcept {
  static const auto texts = DisplayTexts<TLogSeverity, LogSeverityNames.size()>(&SeverityToDisplayText);
  return DisplayTextOf(texts, value);
}

const std::string& FilteringPointDisplayText(TFilteringPoint value) noexcept {
  static const auto texts =
      DisplayTexts<TFilteringPoint, FilteringPointNames.size()>(&FilteringPointToDisplayText);
  return DisplayTextOf(texts, value);
}

TZelLogDbRecord* TZelLogRecordPool::Record(std::int32_t slot) noexcept {
  if (slot < 0 || static_cast<std::size_t>(slot) >= records_.size()) return nullptr;
  return records_[static_cast<std::size_t>(slot)].get();
}

std::int32_t TZelLogRecordPool::TakeFree() {
  if (!free_.empty()) {
    const std::int32_t slot = free_.back();
    free_.pop_back();
    return slot;
  }
  // Room for every record to come back without allocating, grown
  // geometrically: an exact reserve would reallocate for every new row.
  if (free_.capacity() <= records_.size())
    free_.reserve(std::max<std::size_t>(records_.size() + 1, 2 * free_.capacity()));
  records_.push_back(std::make_unique<TZelLogDbRecord>());
  return static_cast<std::int32_t>(records_.size() - 1);
}

void TZelLogRecordPool::GiveBack(std::int32_t slot) {
  if (Record(slot)) free_.push_back(slot);
}
