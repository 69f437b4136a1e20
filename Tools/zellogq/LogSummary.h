#pragma once
// `zellogq ... summary TABLE`: a log table at a glance. The rows come in
// through the usual reader, bound to the few columns the figures need, and
// are counted as they pass; the figures then go out as bar charts for people
// or as JSON Lines for scripts.
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "RowWriter.h"

// The columns the figures are made of, in the order the collector expects them.
extern const std::vector<std::string> SummaryColumns;

struct TSummaryCount {
  std::string Name;
  std::uint64_t Count = 0;
};

struct TLogSummary {
  std::uint64_t Events = 0;      // rows read, unreadable ones not among them
  std::uint64_t Unreadable = 0;  // rows whose values could not be read (damaged lines, vanished files)
  std::uint64_t Rejected = 0;    // events whose Action_Reject is set
  // Seconds since 0001-01-01 of the local times the provider shows; only
  // meaningful when Events is not 0.
  std::int64_t First = 0;
  std::int64_t Last = 0;
  std::vector<TSummaryCount> Classes;     // most frequent first
  std::vector<TSummaryCount> Severities;  // least severe first
  // Buckets of one hour, or of one day when the events span over three days;
  // only buckets that hold events, in time order, keyed by their first second.
  bool PerDay = false;
  std::vector<std::pair<std::int64_t, std::uint64_t>> Timeline;
  std::vector<TSummaryCount> RejectedSenders;  // at most ten, most often rejected first
  std::vector<TSummaryCount> RejectedIPs;
};

// Counts the rows of a reader bound to SummaryColumns. Per row it allocates
// only for a class, severity, hour, sender or address not seen before.
class TSummaryCollector final : public TRowWriter {
public:
  void Begin(std::span<const std::string> names) override;
  void Row(std::span<const TQueryCell> cells) override;
  // Adds the rows the reader could not read at all.
  void CountUnreadable(std::uint64_t rows) noexcept { Unreadable += rows; }
  TLogSummary Summary() const;

private:
  using TCounts = std::map<std::string, std::uint64_t, std::less<>>;
  static void Count(TCounts& counts, std::string_view name);

  std::uint64_t Events = 0;
  std::uint64_t Unreadable = 0;
  std::uint64_t Rejected = 0;
  std::int64_t First = 0;
  std::int64_t Last = 0;
  TCounts Classes, Severities, Senders, IPs;
  std::map<std::int64_t, std::uint64_t> Hours;
  std::string Folded;  // the sender in lower case, reused row after row
};

// The summary for people: at most 79 columns a line. With unicodeBars the
// bars are drawn in eighths of a character with block elements, for a
// terminal; otherwise in '#', plain ASCII apart from the table's own texts.
std::string SummaryText(std::string_view table, const TLogSummary& summary, bool unicodeBars);

// The same figures as JSON Lines, one object per figure, each naming its kind
// in "figure".
std::string SummaryJsonLines(std::string_view table, const TLogSummary& summary);
