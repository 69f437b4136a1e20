#pragma once
// One log row in the form the rowset data engine reads: fixed-size values
// and terminated texts that stay put while a consumer holds the row.
#include <windows.h>
#include <oledb.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "LogFileReader_un.h"

// Column indexes of a log table, in column order.
enum class TZelLogColumn : std::uint8_t {
  Version,
  Verbose,
  Class,
  Server,
  Source,
  Time,
  ActionReject,
  ActionTagSubject,
  ActionTagHeader,
  ActionRedirect,
  ActionReplaceAtt,
  ActionRemoveRcpt,
  ActionWhitelistRcpt,
  Severity,
  FilteringPoint,
  RelatedIP,
  MessageID,
  Sender,
  Recipients,
  HeloDomain,
  Subject,
  Message,
  LineNr,
};
inline constexpr std::size_t ZelLogColumnCount = 23;

class TZelLogDbRecord {
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
  // Row handles that stand for this record.
  std::int32_t Holders = 0;

  // Derives the values that are not the parsed fields themselves.
  void Complete() noexcept;
};

// The time a log row delivers: rounded to the whole second (halves to even),
// then 3 milliseconds later.
double ZelLogRowTime(double time) noexcept;

// Display texts of the enumerations as terminated texts that live as long as
// the process; a fixed set, so nothing grows with the files read.
const std::string& EventClassDisplayText(TLogEventClass value) noexcept;
const std::string& SeverityDisplayText(TLogSeverity value) noexcept;
const std::string& FilteringPointDisplayText(TFilteringPoint value) noexcept;

// Records of the rows a consumer holds, reused as their handles go. A slot
// number identifies a record for as long as a handle holds it.
class TZelLogRecordPool {
public:
  static constexpr std::int32_t NoSlot = -1;

  // The record of slot, or null for a number no slot has.
  TZelLogDbRecord* Record(std::int32_t slot) noexcept;
  // A slot nobody holds: a released one, or a new one.
  std::int32_t TakeFree();
  // A slot that is neither held nor current any more.
  void GiveBack(std::int32_t slot);
  std::size_t Size() const noexcept { return records_.size(); }

private:
  std::vector<std::unique_ptr<TZelLogDbRecord>> records_;
  std::vector<std::int32_t> free_;
};
