#pragma once
// What a command asks of a log table: beside a bare table name and
// "SELECT * FROM name", the form
//   SELECT [TOP n] <columns> FROM <table> [WHERE <condition> [AND <condition>]...]
// which names the columns the rowset has, and the rows it keeps.
#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

// Rows whose text column shows one of Values, ignoring letter case.
struct TZelLogTextCondition {
  std::size_t Column = 0;  // index into ZelLogColumns()
  std::vector<std::wstring> Values;
};

struct TZelLogQuery {
  static constexpr std::int64_t NoLimit = -1;

  std::wstring TableName;
  // The rowset's columns, in rowset order, as indices into ZelLogColumns().
  std::vector<std::size_t> Columns;
  // The local time window in whole seconds since the automation date's
  // epoch, both ends included; rows outside it are dropped.
  std::int64_t TimeFrom = std::numeric_limits<std::int64_t>::min();
  std::int64_t TimeTo = std::numeric_limits<std::int64_t>::max();
  std::vector<TZelLogTextCondition> TextConditions;
  // Per action (TLogAction order): -1 either, 0 not taken, 1 taken, Neither
  // when the conditions ask for both.
  static constexpr std::int8_t Neither = 2;
  std::array<std::int8_t, 7> Actions{-1, -1, -1, -1, -1, -1, -1};
  // TOP n.
  std::int64_t Top = NoLimit;

  bool HasTimeWindow() const noexcept {
    return TimeFrom != std::numeric_limits<std::int64_t>::min() || TimeTo != std::numeric_limits<std::int64_t>::max();
  }
  bool FiltersRows() const noexcept;
};

// The query a command text stands for. Today's forms, and any text whose
// table-name reading names an existing file of folder (ending with a path
// delimiter), give that table and every column. A text of the grammar's
// shape that does not read raises DB_E_ERRORSINCOMMAND with an error object
// quoting where reading stopped. Opens no file.
TZelLogQuery ReadZelLogQuery(std::wstring_view text, std::wstring_view folder);

// Every column of a table named name, in table order.
TZelLogQuery WholeTableQuery(std::wstring name);

class TLogRecord;

// The fields of a record the reader must fill for the query's columns and
// conditions (TLogRecordField bits).
std::uint32_t ZelLogReadFields(const TZelLogQuery& query) noexcept;

// The query's conditions on a record's values, prepared once so that a row
// is checked without converting or allocating. The time window is the
// reader's: it is checked before a line is copied.
class TZelLogRowFilter {
public:
  TZelLogRowFilter() = default;
  explicit TZelLogRowFilter(const TZelLogQuery& query);

  // logFile: the name of the file the record came from, null for a table
  // over one file.
  bool Passes(const TLogRecord& record, const std::wstring* logFile) const noexcept;

private:
  // Allowed values of the enumerations, one bit each.
  std::uint32_t classes_ = ~0u;
  std::uint32_t severities_ = ~0u;
  std::uint32_t points_ = ~0u;
  // Actions that must be taken, and that must not be.
  std::uint8_t actionsTaken_ = 0;
  std::uint8_t actionsNotTaken_ = 0;
  bool matchesNothing_ = false;
  // Per text condition: the values in the log's code page.
  std::vector<std::vector<std::string>> senders_;
  std::vector<std::vector<std::string>> addresses_;
  std::vector<std::vector<std::wstring>> logFiles_;
};
