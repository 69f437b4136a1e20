#include "ValueText.h"

#include <charconv>
#include <cmath>
#include <cstdint>

#include "CivilDate_un.h"

namespace {

constexpr std::int64_t MillisecondsPerDay = 86'400'000;
constexpr std::int64_t AutomationEpochDays = -25569;  // 1899-12-30 from 1970-01-01

void AppendDigits(std::string& out, std::uint64_t value, int width) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  for (int n = static_cast<int>(result.ptr - digits); n < width; ++n) out.push_back('0');
  out.append(digits, result.ptr);
}

void AppendInteger(std::string& out, std::int64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

void AppendReal(std::string& out, double value) {
  char digits[32];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

void AppendDate(std::string& out, const TCellDateTime& value) {
  if (value.Year < 0) out.push_back('-');
  AppendDigits(out, static_cast<std::uint64_t>(value.Year < 0 ? -value.Year : value.Year), 4);
  out.push_back('-');
  AppendDigits(out, value.Month, 2);
  out.push_back('-');
  AppendDigits(out, value.Day, 2);
}

// Fraction digits in groups of three, as many groups as the value needs.
void AppendTime(std::string& out, const TCellDateTime& value) {
  AppendDigits(out, value.Hour, 2);
  out.push_back(':');
  AppendDigits(out, value.Minute, 2);
  out.push_back(':');
  AppendDigits(out, value.Second, 2);
  if (value.Nanosecond == 0) return;
  out.push_back('.');
  if (value.Nanosecond % 1'000'000 == 0) {
    AppendDigits(out, value.Nanosecond / 1'000'000, 3);
  } else if (value.Nanosecond % 1'000 == 0) {
    AppendDigits(out, value.Nanosecond / 1'000, 6);
  } else {
    AppendDigits(out, value.Nanosecond, 9);
  }
}

bool IsContinuationByte(char c) noexcept { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

bool AutomationDateToDateTime(double date, TCellDateTime& out) noexcept {
  if (!std::isfinite(date) || std::fabs(date) > 3.0e6) return false;
  // Before the epoch the integer part counts days back and the fraction still
  // runs forward: -1.25 is 1899-12-29 06:00.
  const double whole = std::trunc(date);
  std::int64_t days = static_cast<std::int64_t>(whole);
  std::int64_t milliseconds = std::llround(std::fabs(date - whole) * MillisecondsPerDay);
  if (milliseconds >= MillisecondsPerDay) {
    milliseconds -= MillisecondsPerDay;
    days += date < 0 ? -1 : 1;
  }
  const TCivilDate civil = CivilFromDays(days + AutomationEpochDays);
  if (civil.Year < 1 || civil.Year > 9999) return false;
  out.Year = civil.Year;
  out.Month = civil.Month;
  out.Day = civil.Day;
  out.Hour = static_cast<unsigned>(milliseconds / 3'600'000);
  out.Minute = static_cast<unsigned>(milliseconds / 60'000 % 60);
  out.Second = static_cast<unsigned>(milliseconds / 1'000 % 60);
  out.Nanosecond = static_cast<std::uint32_t>(milliseconds % 1'000) * 1'000'000;
  return true;
}

void AppendCellText(std::string& out, const TQueryCell& cell) {
  switch (cell.Kind) {
    case TCellKind::Null: return;
    case TCellKind::Bool: out.append(cell.Bool ? "true" : "false"); return;
    case TCellKind::Integer: AppendInteger(out, cell.Integer); return;
    case TCellKind::Unsigned: AppendDigits(out, cell.Unsigned, 1); return;
    case TCellKind::Real: AppendReal(out, cell.Real); return;
    case TCellKind::Date: AppendDate(out, cell.DateTime); return;
    case TCellKind::Time: AppendTime(out, cell.DateTime); return;
    case TCellKind::DateTime:
      AppendDate(out, cell.DateTime);
      out.push_back('T');
      AppendTime(out, cell.DateTime);
      return;
    case TCellKind::Decimal:
    case TCellKind::Text:
    case TCellKind::Error: out.append(cell.Text); return;
  }
}

void AppendCsvField(std::string& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out.append(text);
    return;
  }
  out.push_back('"');
  for (const char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

void AppendJsonValue(std::string& out, const TQueryCell& cell) {
  switch (cell.Kind) {
    case TCellKind::Null:
    case TCellKind::Error: out.append("null"); return;
    case TCellKind::Real:
      if (!std::isfinite(cell.Real)) {
        out.append("null");
        return;
      }
      AppendReal(out, cell.Real);
      return;
    case TCellKind::Bool:
    case TCellKind::Integer:
    case TCellKind::Unsigned:
    case TCellKind::Decimal: AppendCellText(out, cell); return;
    case TCellKind::Date:
    case TCellKind::Time:
    case TCellKind::DateTime: {
      out.push_back('"');
      AppendCellText(out, cell);
      out.push_back('"');
      return;
    }
    case TCellKind::Text: AppendJsonString(out, cell.Text); return;
  }
}

std::size_t DisplayWidth(std::string_view text) noexcept {
  std::size_t width = 0;
  for (const char c : text) width += !IsContinuationByte(c);
  return width;
}

std::size_t AppendTableText(std::string& out, std::string_view text, std::size_t maxWidth) {
  const bool cut = maxWidth != 0 && DisplayWidth(text) > maxWidth;
  const std::size_t keep = cut ? maxWidth - 1 : text.size();
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (!IsContinuationByte(c)) {
      if (width == keep) break;
      ++width;
    }
    out.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c);
  }
  if (cut) {
    out.append(CutMark);
    ++width;
  }
  return width;
}
