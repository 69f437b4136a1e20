#pragma once
// Text forms of cell values shared by the output formats: ISO 8601 dates,
// shortest round-trip reals, CSV and JSON quoting, display widths.
#include <cstddef>
#include <string>
#include <string_view>

#include "JsonText.h"
#include "QueryCell.h"

// Automation date (days since 1899-12-30, fraction = time of day) to calendar
// parts, rounded to the millisecond. False for NaN, infinities and values
// outside the years 1 to 9999.
bool AutomationDateToDateTime(double date, TCellDateTime& out) noexcept;

// The cell's plain text: booleans true/false, numbers in C locale, dates as
// ISO 8601 (fraction only when not zero), NULL as nothing. Appends to out.
void AppendCellText(std::string& out, const TQueryCell& cell);

// RFC 4180 field: quoted when it holds a comma, a double quote, CR or LF.
void AppendCsvField(std::string& out, std::string_view text);

// The cell as a JSON value: null, true/false, a number, or a string.
void AppendJsonValue(std::string& out, const TQueryCell& cell);

// Width of UTF-8 text on a terminal, one column per code point.
std::size_t DisplayWidth(std::string_view text) noexcept;

// Appends text for an aligned table: control characters become blanks, and
// text wider than maxWidth (0: no limit) is cut to maxWidth columns, the last
// being CutMark. Returns the width appended.
std::size_t AppendTableText(std::string& out, std::string_view text, std::size_t maxWidth);

inline constexpr std::string_view CutMark = "\xE2\x80\xA6";  // U+2026, one column
