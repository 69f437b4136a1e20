#pragma once
// One log row in the form the rowset data engine reads: fixed-size values
// and terminated texts that stay put while a consumer holds the row.
#include <windows.h>
#include <oledb.h>

#include <array>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>

#include "LogFileReader_un.h"
#include "OLEDbStreamingRowsetData.h"

class TZelLogDbRecord : public TOleDbStreamRecord {
public:
  // The line as the reader parsed it; its texts are what the text columns
  // hand out. Reused from row to row, so text storage only grows.
  TLogRecord Parsed;
  // Not empty when the row stands for a line that could not be read; every
  // column of the row then fails with it.
  std::string PendingError;
  // Derived by Complete.
  double Time = 0;
  VARIANT_BOOL Verbose = VARIANT_FALSE;
  std::array<VARIANT_BOOL, 7> Actions{};
  // The name of the file the row comes from, for a table over many files;
  // the name belongs to the rowset data and outlives every record.
  const std::wstring* LogFile = nullptr;

  // Derives the values that are not the parsed fields themselves.
  void Complete() noexcept;

private:
  // The parsed time Time was derived from.
  double timeSource_ = std::numeric_limits<double>::quiet_NaN();
};

// The time a log row delivers: rounded to the whole second (halves to even),
// then 3 milliseconds later.
double ZelLogRowTime(double time) noexcept;

// Display texts of the enumerations as terminated texts that live as long as
// the process; a fixed set, so nothing grows with the files read.
const std::string& EventClassDisplayText(TLogEventClass value) noexcept;
const std::string& SeverityDisplayText(TLogSeverity value) noexcept;
const std::string& FilteringPointDisplayText(TFilteringPoint value) noexcept;

// One column of a log table: everything a consumer can learn about it. Text
// columns (DBTYPE_STR and DBTYPE_WSTR) are terminated and can be read as
// streams.
struct TZelLogColumnDef {
  const wchar_t* Name;
  DBTYPE Type;
  // Declared size in bytes.
  ULONG Size;
  DBCOLUMNFLAGS Flags;
};

// The columns of a log table, in column order: a table over one file has
// the first ZelLogColumnCount, a table over many files (a pattern name) all
// of them, LogFile last.
inline constexpr std::size_t ZelLogColumnCount = 23;
inline constexpr std::size_t ZelLogPatternColumnCount = 24;
const std::array<TZelLogColumnDef, ZelLogPatternColumnCount>& ZelLogColumns() noexcept;

// Where each column's value lies in a record, in the order of ZelLogColumns,
// for as many columns as values holds (at least ZelLogColumnCount); valid
// until the record is read anew.
void ZelLogRecordValues(const TZelLogDbRecord& record, std::span<TOleDbColumnValue> values) noexcept;
