#include "LogSummary.h"

#include <algorithm>

#include "CivilDate_un.h"
#include "ValueText.h"

const std::vector<std::string> SummaryColumns = {"Time", "Class", "Severity", "Sender", "RelatedIP", "Action_Reject"};

namespace {

enum TSummaryColumn : std::size_t { TimeColumn, ClassColumn, SeverityColumn, SenderColumn, IPColumn, RejectColumn };

constexpr std::int64_t SecondsPerHour = 3600;
constexpr std::int64_t SecondsPerDay = 86400;
constexpr std::int64_t DayOne = DaysFromCivil(1, 1, 1);
constexpr std::size_t TopCount = 10;
constexpr std::size_t LineWidth = 79;  // the 80th column would wrap on some terminals
constexpr std::size_t MaxLabelWidth = 40;

std::int64_t SecondsOf(const TCellDateTime& time) {
  return (DaysFromCivil(time.Year, time.Month, time.Day) - DayOne) * SecondsPerDay + time.Hour * SecondsPerHour +
         time.Minute * 60 + time.Second;
}

// "2010-04-01 08:03:55", or in ISO form with a T for JSON; the day alone
// for whole days, hour and minute for whole hours.
std::string TimeText(std::int64_t seconds, char separator = ' ', std::size_t parts = 3) {
  TQueryCell cell;
  cell.Kind = TCellKind::DateTime;
  const TCivilDate date = CivilFromDays(seconds / SecondsPerDay + DayOne);
  const std::int64_t time = seconds % SecondsPerDay;
  cell.DateTime = {date.Year, date.Month, date.Day, static_cast<unsigned>(time / SecondsPerHour),
                   static_cast<unsigned>(time / 60 % 60), static_cast<unsigned>(time % 60), 0};
  std::string text;
  AppendCellText(text, cell);
  text[10] = separator;
  return text.substr(0, parts == 0 ? 10 : 10 + 3 * parts);
}

std::vector<TSummaryCount> MostFrequent(const std::map<std::string, std::uint64_t, std::less<>>& counts,
                                        std::size_t keep) {
  std::vector<TSummaryCount> result;
  for (const auto& [name, count] : counts) result.push_back({name, count});
  std::stable_sort(result.begin(), result.end(),
                   [](const TSummaryCount& a, const TSummaryCount& b) { return a.Count > b.Count; });
  if (result.size() > keep) result.resize(keep);
  return result;
}

std::string Digits(std::uint64_t value) { return std::to_string(value); }

// Label, count and bar side by side: labels and counts in columns of their
// own, bars scaled so that the largest count fills the rest of the line.
class TBarChart {
public:
  TBarChart(std::span<const TSummaryCount> rows, bool unicode) : Unicode(unicode) {
    for (const TSummaryCount& row : rows) {
      LabelWidth = std::max(LabelWidth, std::min(DisplayWidth(row.Name), MaxLabelWidth));
      Max = std::max(Max, row.Count);
    }
    CountWidth = Digits(Max).size();
    BarWidth = LineWidth - 6 - LabelWidth - CountWidth;
  }

  void Append(std::string& out, std::string_view label, std::uint64_t count) const {
    out.append("  ");
    const std::size_t width = AppendTableText(out, label, MaxLabelWidth);
    out.append(LabelWidth - width + 2, ' ');
    const std::string digits = Digits(count);
    out.append(CountWidth - digits.size(), ' ').append(digits);
    if (count > 0) {
      out.append("  ");
      // In eighths of a character, and never less than a sliver, so that no
      // event goes unseen beside a tall bar.
      const std::uint64_t eighths = std::max<std::uint64_t>((count * BarWidth * 8 + Max / 2) / Max, Unicode ? 1 : 8);
      if (Unicode) {
        for (std::uint64_t i = 0; i < eighths / 8; ++i) out.append("\xE2\x96\x88");
        if (const auto part = static_cast<char>(eighths % 8)) out.append("\xE2\x96").push_back(static_cast<char>(0x90 - part));
      } else {
        out.append(static_cast<std::size_t>((eighths + 4) / 8), '#');
      }
    }
    out.push_back('\n');
  }

  void AppendAll(std::string& out, std::span<const TSummaryCount> rows) const {
    for (const TSummaryCount& row : rows) Append(out, row.Name, row.Count);
    if (rows.empty()) out.append("  none\n");
  }

private:
  const bool Unicode;
  std::size_t LabelWidth = 0;
  std::size_t CountWidth = 0;
  std::size_t BarWidth = 0;
  std::uint64_t Max = 0;
};

void AppendJsonCount(std::string& out, std::string_view figure, std::string_view key, std::string_view name,
                     std::uint64_t count) {
  out.append("{\"figure\":");
  AppendJsonString(out, figure);
  out.append(",\"").append(key).append("\":");
  AppendJsonString(out, name);
  out.append(",\"events\":").append(Digits(count)).append("}\n");
}

}  // namespace

void TSummaryCollector::Begin(std::span<const std::string>) {}

void TSummaryCollector::Count(TCounts& counts, std::string_view name) {
  const auto found = counts.find(name);
  if (found != counts.end())
    ++found->second;
  else
    counts.emplace(name, 1);
}

void TSummaryCollector::Row(std::span<const TQueryCell> cells) {
  // A value the provider could not convert leaves the row's figures unknown:
  // it is counted as unreadable, like a row whose values all failed.
  const bool readable = std::none_of(cells.begin(), cells.end(), [](const TQueryCell& c) {
    return c.Kind == TCellKind::Error;
  });
  if (!readable || cells.size() != SummaryColumns.size() || cells[TimeColumn].Kind != TCellKind::DateTime) {
    ++Unreadable;
    return;
  }
  const std::int64_t time = SecondsOf(cells[TimeColumn].DateTime);
  First = Events == 0 ? time : std::min(First, time);
  Last = Events == 0 ? time : std::max(Last, time);
  ++Events;
  ++Hours[time / SecondsPerHour];
  Count(Classes, cells[ClassColumn].Text);
  Count(Severities, cells[SeverityColumn].Text);
  if (cells[RejectColumn].Kind != TCellKind::Bool || !cells[RejectColumn].Bool) return;
  ++Rejected;
  // Addresses differ in letter case from line to line; an event without a
  // sender (a connection refused before it named one) has none to count.
  const std::string& sender = cells[SenderColumn].Text;
  if (!sender.empty()) {
    Folded.assign(sender);
    for (char& c : Folded)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    Count(Senders, Folded);
  }
  if (!cells[IPColumn].Text.empty()) Count(IPs, cells[IPColumn].Text);
}

TLogSummary TSummaryCollector::Summary() const {
  TLogSummary summary;
  summary.Events = Events;
  summary.Unreadable = Unreadable;
  summary.Rejected = Rejected;
  summary.First = First;
  summary.Last = Last;
  summary.Classes = MostFrequent(Classes, Classes.size());
  // Severities in their own order, mildest first; a text this tool does not
  // know (another provider's) after them.
  static constexpr std::string_view Order[] = {"Information", "Warning", "Error", "Critical Error"};
  for (const std::string_view name : Order)
    if (const auto found = Severities.find(name); found != Severities.end()) summary.Severities.push_back({found->first, found->second});
  for (const auto& [name, count] : Severities)
    if (std::find(std::begin(Order), std::end(Order), name) == std::end(Order)) summary.Severities.push_back({name, count});
  summary.PerDay = Last - First > 3 * SecondsPerDay;
  for (const auto& [hour, count] : Hours) {
    const std::int64_t start = summary.PerDay ? hour / 24 * SecondsPerDay : hour * SecondsPerHour;
    if (!summary.Timeline.empty() && summary.Timeline.back().first == start)
      summary.Timeline.back().second += count;
    else
      summary.Timeline.emplace_back(start, count);
  }
  summary.RejectedSenders = MostFrequent(Senders, TopCount);
  summary.RejectedIPs = MostFrequent(IPs, TopCount);
  return summary;
}

std::string SummaryText(std::string_view table, const TLogSummary& summary, bool unicodeBars) {
  std::string out;
  AppendTableText(out, table, LineWidth);
  out.append("\n  ").append(Digits(summary.Events)).append(summary.Events == 1 ? " event" : " events");
  if (summary.Events > 0) out.append(" from ").append(TimeText(summary.First)).append(" to ").append(TimeText(summary.Last));
  out.append("\n  ").append(Digits(summary.Rejected)).append(" rejected (Action_Reject)");
  if (summary.Unreadable > 0)
    out.append(", ").append(Digits(summary.Unreadable)).append(summary.Unreadable == 1 ? " row" : " rows").append(" could not be read");
  out.append("\n\nEvents by class\n");
  TBarChart(summary.Classes, unicodeBars).AppendAll(out, summary.Classes);
  out.append("\nEvents by severity\n");
  TBarChart(summary.Severities, unicodeBars).AppendAll(out, summary.Severities);

  out.append(summary.PerDay ? "\nEvents per day\n" : "\nEvents per hour\n");
  const std::int64_t step = summary.PerDay ? SecondsPerDay : SecondsPerHour;
  const std::size_t labelParts = summary.PerDay ? 0 : 2;
  std::vector<TSummaryCount> buckets;
  for (const auto& [start, count] : summary.Timeline) buckets.push_back({TimeText(start, ' ', labelParts), count});
  const TBarChart timeline(buckets, unicodeBars);
  for (std::size_t i = 0; i < buckets.size(); ++i) {
    // A short pause shows as its empty buckets, a long one as one line.
    if (i > 0) {
      const std::int64_t empty = (summary.Timeline[i].first - summary.Timeline[i - 1].first) / step - 1;
      if (empty > 2) {
        out.append("  ... ").append(std::to_string(empty)).append(summary.PerDay ? " days" : " hours").append(" without events\n");
      } else {
        for (std::int64_t e = empty; e > 0; --e)
          timeline.Append(out, TimeText(summary.Timeline[i].first - e * step, ' ', labelParts), 0);
      }
    }
    timeline.Append(out, buckets[i].Name, buckets[i].Count);
  }
  if (buckets.empty()) out.append("  none\n");

  out.append("\nSenders most often rejected\n");
  TBarChart(summary.RejectedSenders, unicodeBars).AppendAll(out, summary.RejectedSenders);
  out.append("\nIP addresses most often rejected\n");
  TBarChart(summary.RejectedIPs, unicodeBars).AppendAll(out, summary.RejectedIPs);
  return out;
}

std::string SummaryJsonLines(std::string_view table, const TLogSummary& summary) {
  std::string out = "{\"figure\":\"total\",\"table\":";
  AppendJsonString(out, table);
  out.append(",\"events\":").append(Digits(summary.Events));
  out.append(",\"rejected\":").append(Digits(summary.Rejected));
  out.append(",\"unreadable\":").append(Digits(summary.Unreadable));
  if (summary.Events > 0) {
    out.append(",\"first\":\"").append(TimeText(summary.First, 'T')).append("\"");
    out.append(",\"last\":\"").append(TimeText(summary.Last, 'T')).append("\"}\n");
  } else {
    out.append(",\"first\":null,\"last\":null}\n");
  }
  for (const TSummaryCount& row : summary.Classes) AppendJsonCount(out, "class", "name", row.Name, row.Count);
  for (const TSummaryCount& row : summary.Severities) AppendJsonCount(out, "severity", "name", row.Name, row.Count);
  for (const auto& [start, count] : summary.Timeline)
    AppendJsonCount(out, summary.PerDay ? "day" : "hour", "time", TimeText(start, 'T'), count);
  for (const TSummaryCount& row : summary.RejectedSenders)
    AppendJsonCount(out, "rejected-sender", "name", row.Name, row.Count);
  for (const TSummaryCount& row : summary.RejectedIPs) AppendJsonCount(out, "rejected-ip", "name", row.Name, row.Count);
  return out;
}
