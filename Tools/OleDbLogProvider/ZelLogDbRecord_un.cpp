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

namespace {
TZelLogValue TextValue(const std::string& text) noexcept { return {text.c_str(), text.size()}; }

template <std::string TLogRecord::*Field>
TZelLogValue ParsedText(const TZelLogDbRecord& record) noexcept {
  return TextValue(record.Parsed.*Field);
}

TZelLogValue ClassText(const TZelLogDbRecord& record) noexcept {
  return TextValue(EventClassDisplayText(record.Parsed.Class));
}
TZelLogValue SeverityText(const TZelLogDbRecord& record) noexcept {
  return TextValue(SeverityDisplayText(record.Parsed.Severity));
}
TZelLogValue FilteringPointText(const TZelLogDbRecord& record) noexcept {
  return TextValue(FilteringPointDisplayText(record.Parsed.FilteringPoint));
}
TZelLogValue SubjectText(const TZelLogDbRecord& record) noexcept {
  const std::u16string& subject = record.Parsed.Subject;
  return {subject.c_str(), subject.size() * sizeof(char16_t)};
}
TZelLogValue VerboseFlag(const TZelLogDbRecord& record) noexcept { return {&record.Verbose, sizeof record.Verbose}; }
TZelLogValue RowTime(const TZelLogDbRecord& record) noexcept { return {&record.Time, sizeof record.Time}; }
TZelLogValue LineNumber(const TZelLogDbRecord& record) noexcept {
  return {&record.Parsed.LineNr, sizeof record.Parsed.LineNr};
}

TZelLogValue LogFileName(const TZelLogDbRecord& record) noexcept {
  static const std::wstring none;
  const std::wstring& name = record.LogFile ? *record.LogFile : none;
  return {name.c_str(), name.size() * sizeof(wchar_t)};
}

template <TLogAction Action>
TZelLogValue ActionFlag(const TZelLogDbRecord& record) noexcept {
  return {&record.Actions[static_cast<std::size_t>(Action)], sizeof(VARIANT_BOOL)};
}

constexpr std::array<TZelLogColumnDef, ZelLogPatternColumnCount> Columns = {{
    {L"Version", DBTYPE_STR, 50, 0, &ParsedText<&TLogRecord::Version>},
    {L"Verbose", DBTYPE_BOOL, 2, 0, &VerboseFlag},
    {L"Class", DBTYPE_STR, 15, 0, &ClassText},
    {L"Server", DBTYPE_STR, 1024, 0, &ParsedText<&TLogRecord::Server>},
    {L"Source", DBTYPE_STR, 1024, 0, &ParsedText<&TLogRecord::Source>},
    {L"Time", DBTYPE_DATE, 8, 0, &RowTime},
    {L"Action_Reject", DBTYPE_BOOL, 2, 0, &ActionFlag<TLogAction::Reject>},
    {L"Action_TagSubject", DBTYPE_BOOL, 2, 0, &ActionFlag<TLogAction::TagSubject>},
    {L"Action_TagHeader", DBTYPE_BOOL, 2, 0, &ActionFlag<TLogAction::TagHeader>},
    {L"Action_Redirect", DBTYPE_BOOL, 2, 0, &ActionFlag<TLogAction::Redirect>},
    {L"Action_ReplaceAtt", DBTYPE_BOOL, 2, 0, &ActionFlag<TLogAction::ReplaceAttachment>},
    {L"Action_RemoveRcpt", DBTYPE_BOOL, 2, 0, &ActionFlag<TLogAction::RemoveRecipient>},
    {L"Action_WhitelistRcpt", DBTYPE_BOOL, 2, 0, &ActionFlag<TLogAction::WhitelistRecipient>},
    {L"Severity", DBTYPE_STR, 16, 0, &SeverityText},
    {L"FilteringPoint", DBTYPE_STR, 16, 0, &FilteringPointText},
    {L"RelatedIP", DBTYPE_STR, 45, 0, &ParsedText<&TLogRecord::IP>},  // the longest IPv6 text, not only IPv4
    {L"MessageID", DBTYPE_STR, 16384, 0, &ParsedText<&TLogRecord::MessageID>},
    {L"Sender", DBTYPE_STR, 1024, 0, &ParsedText<&TLogRecord::Sender>},
    {L"Recipients", DBTYPE_STR, 16384, 0, &ParsedText<&TLogRecord::Recipients>},
    {L"HeloDomain", DBTYPE_STR, 1024, 0, &ParsedText<&TLogRecord::HeloDomain>},
    {L"Subject", DBTYPE_WSTR, 16384, 0, &SubjectText},
    {L"Message", DBTYPE_STR, 16384, 0, &ParsedText<&TLogRecord::Message>},
    {L"LineNr", DBTYPE_I4, 4, 0, &LineNumber},
    // Relative to the data source folder, as TABLES lists it; any name the
    // file system can list fits.
    {L"LogFile", DBTYPE_WSTR, MAX_PATH * sizeof(wchar_t), 0, &LogFileName},
}};
}  // namespace

const std::array<TZelLogColumnDef, ZelLogPatternColumnCount>& ZelLogColumns() noexcept { return Columns; }
