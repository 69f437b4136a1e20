#include "ZelLogDbRecord_un.h"

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

namespace {
// The nearest whole number, halves to even, whatever rounding mode the host
// process set. The runtime's nearbyint saves and restores the floating-point
// environment on every call, which cost more than the rest of a row's own
// values; truncating and comparing the (exact) remainder gives the same.
double RoundHalfEven(double value) noexcept {
  // As a double, not wider: the x87 unit of a 32-bit build keeps excess
  // precision in registers, where a product that is a half as a double
  // need not be one.
  volatile double stored = value;
  value = stored;
  // From 2^52 on every double is a whole number; NaN passes through.
  if (!(std::fabs(value) < 4503599627370496.0)) return value;
  const double whole = static_cast<double>(static_cast<long long>(value));
  const double rest = value - whole;
  const bool odd = (static_cast<long long>(whole) & 1) != 0;
  if (rest > 0.5 || (rest == 0.5 && odd)) return whole + 1;
  if (rest < -0.5 || (rest == -0.5 && odd)) return whole - 1;
  return whole;
}
}  // namespace

double ZelLogRowTime(double time) noexcept {
  return (RoundHalfEven(time * SecondsPerDay) + 0.003) / SecondsPerDay;
}

void TZelLogDbRecord::Complete() noexcept {
  // Neighbouring lines mostly share their second: the rounding is redone
  // only when the parsed time changed (a NaN never compares equal).
  if (!(Parsed.Time == timeSource_)) {
    Time = ZelLogRowTime(Parsed.Time);
    timeSource_ = Parsed.Time;
  }
  Verbose = Parsed.LogMode ? VARIANT_TRUE : VARIANT_FALSE;
  // VARIANT_TRUE is all bits set: each flag's bit spread over its value.
  const unsigned bits = Parsed.Actions.Bits;
  for (std::size_t i = 0; i < Actions.size(); ++i)
    Actions[i] = static_cast<VARIANT_BOOL>(-static_cast<int>((bits >> i) & 1u));
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

namespace {
TOleDbColumnValue TextValue(const std::string& text) noexcept { return {text.c_str(), text.size()}; }
template <class C>
TOleDbColumnValue WideTextValue(const std::basic_string<C>& text) noexcept {
  return {text.c_str(), text.size() * sizeof(C)};
}
template <class T>
TOleDbColumnValue FixedValue(const T& value) noexcept {
  return {&value, sizeof value};
}
}  // namespace

void ZelLogRecordValues(const TZelLogDbRecord& record, std::span<TOleDbColumnValue> values) noexcept {
  static const std::wstring noFile;
  const TLogRecord& parsed = record.Parsed;
  values[0] = TextValue(parsed.Version);
  values[1] = FixedValue(record.Verbose);
  values[2] = TextValue(EventClassDisplayText(parsed.Class));
  values[3] = TextValue(parsed.Server);
  values[4] = TextValue(parsed.Source);
  values[5] = FixedValue(record.Time);
  for (std::size_t i = 0; i < record.Actions.size(); ++i) values[6 + i] = FixedValue(record.Actions[i]);
  values[13] = TextValue(SeverityDisplayText(parsed.Severity));
  values[14] = TextValue(FilteringPointDisplayText(parsed.FilteringPoint));
  values[15] = TextValue(parsed.IP);
  values[16] = TextValue(parsed.MessageID);
  values[17] = TextValue(parsed.Sender);
  values[18] = TextValue(parsed.Recipients);
  values[19] = TextValue(parsed.HeloDomain);
  values[20] = WideTextValue(parsed.Subject);
  values[21] = TextValue(parsed.Message);
  values[22] = FixedValue(parsed.LineNr);
  if (values.size() > 23) values[23] = WideTextValue(record.LogFile ? *record.LogFile : noFile);
}

namespace {
constexpr std::array<TZelLogColumnDef, ZelLogPatternColumnCount> Columns = {{
    // In the order of ZelLogRecordValues.
    {L"Version", DBTYPE_STR, 50, 0},
    {L"Verbose", DBTYPE_BOOL, 2, 0},
    {L"Class", DBTYPE_STR, 15, 0},
    {L"Server", DBTYPE_STR, 1024, 0},
    {L"Source", DBTYPE_STR, 1024, 0},
    {L"Time", DBTYPE_DATE, 8, 0},
    {L"Action_Reject", DBTYPE_BOOL, 2, 0},
    {L"Action_TagSubject", DBTYPE_BOOL, 2, 0},
    {L"Action_TagHeader", DBTYPE_BOOL, 2, 0},
    {L"Action_Redirect", DBTYPE_BOOL, 2, 0},
    {L"Action_ReplaceAtt", DBTYPE_BOOL, 2, 0},
    {L"Action_RemoveRcpt", DBTYPE_BOOL, 2, 0},
    {L"Action_WhitelistRcpt", DBTYPE_BOOL, 2, 0},
    {L"Severity", DBTYPE_STR, 16, 0},
    {L"FilteringPoint", DBTYPE_STR, 16, 0},
    {L"RelatedIP", DBTYPE_STR, 45, 0},  // the longest IPv6 text, not only IPv4
    {L"MessageID", DBTYPE_STR, 16384, 0},
    {L"Sender", DBTYPE_STR, 1024, 0},
    {L"Recipients", DBTYPE_STR, 16384, 0},
    {L"HeloDomain", DBTYPE_STR, 1024, 0},
    {L"Subject", DBTYPE_WSTR, 16384, 0},
    {L"Message", DBTYPE_STR, 16384, 0},
    {L"LineNr", DBTYPE_I4, 4, 0},
    // Relative to the data source folder, as TABLES lists it; any name the
    // file system can list fits.
    {L"LogFile", DBTYPE_WSTR, MAX_PATH * sizeof(wchar_t), 0},
}};
}  // namespace

const std::array<TZelLogColumnDef, ZelLogPatternColumnCount>& ZelLogColumns() noexcept { return Columns; }
