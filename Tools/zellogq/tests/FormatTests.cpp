#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "HResultNames.h"
#include "LogSummary.h"
#include "QueryFailure.h"
#include "RowWriter.h"
#include "ValueText.h"

#include <oledberr.h>

namespace {

TQueryCell TextCell(std::string text) {
  TQueryCell cell;
  cell.Kind = TCellKind::Text;
  cell.Text = std::move(text);
  return cell;
}

TQueryCell IntegerCell(std::int64_t value) {
  TQueryCell cell;
  cell.Kind = TCellKind::Integer;
  cell.Integer = value;
  return cell;
}

std::string CellText(const TQueryCell& cell) {
  std::string text;
  AppendCellText(text, cell);
  return text;
}

std::string JsonValue(const TQueryCell& cell) {
  std::string text;
  AppendJsonValue(text, cell);
  return text;
}

std::string DateText(double date) {
  TQueryCell cell;
  if (!AutomationDateToDateTime(date, cell.DateTime)) return "invalid";
  cell.Kind = TCellKind::DateTime;
  return CellText(cell);
}

// Runs a writer over rows and returns what it wrote.
std::string Write(TOutputFormat format, const std::vector<std::string>& names,
                  const std::vector<std::vector<TQueryCell>>& rows, TTableLayout layout = {}) {
  std::string written;
  const TQuerySink sink = [&](std::string_view text) {
    written.append(text);
    return true;
  };
  TQueryOutput output(sink);
  const auto writer = MakeRowWriter(format, output, layout);
  writer->Begin(names);
  for (const auto& row : rows) writer->Row(row);
  writer->End(rows.size());
  output.Flush();
  return written;
}

TEST(ValueTextTests, AutomationDatesBecomeIsoTextWithMillisecondsWhenTheyHaveThem) {
  EXPECT_EQ(DateText(0.0), "1899-12-30T00:00:00");
  // A log time as the provider delivers it: whole seconds plus 3 ms.
  const double logged = 40269.0 + (10 * 3600 + 15 * 60 + 30.003) / 86400.0;
  EXPECT_EQ(DateText(logged), "2010-04-01T10:15:30.003");
  // Before the epoch the fraction still runs forward.
  EXPECT_EQ(DateText(-1.25), "1899-12-29T06:00:00");
  // Rounding up to the next day carries into the date.
  EXPECT_EQ(DateText(40269.0 - 1e-10), "2010-04-01T00:00:00");
  EXPECT_EQ(DateText(2958465.0), "9999-12-31T00:00:00");
  EXPECT_EQ(DateText(2958466.0), "invalid");
  EXPECT_EQ(DateText(std::nan("")), "invalid");
  EXPECT_EQ(DateText(std::numeric_limits<double>::infinity()), "invalid");
}

TEST(ValueTextTests, TypedValuesHaveOnePlainTextForm) {
  TQueryCell cell;
  EXPECT_EQ(CellText(cell), "");
  cell.Kind = TCellKind::Bool;
  EXPECT_EQ(CellText(cell), "false");
  cell.Bool = true;
  EXPECT_EQ(CellText(cell), "true");
  EXPECT_EQ(CellText(IntegerCell(std::numeric_limits<std::int64_t>::min())), "-9223372036854775808");
  cell.Kind = TCellKind::Unsigned;
  cell.Unsigned = std::numeric_limits<std::uint64_t>::max();
  EXPECT_EQ(CellText(cell), "18446744073709551615");
  cell.Kind = TCellKind::Real;
  cell.Real = 0.1;
  EXPECT_EQ(CellText(cell), "0.1");
  cell.Real = 1e300;
  EXPECT_EQ(CellText(cell), "1e+300");

  cell.DateTime = {2010, 4, 1, 9, 5, 7, 0};
  cell.Kind = TCellKind::Date;
  EXPECT_EQ(CellText(cell), "2010-04-01");
  cell.Kind = TCellKind::Time;
  EXPECT_EQ(CellText(cell), "09:05:07");
  cell.Kind = TCellKind::DateTime;
  cell.DateTime.Nanosecond = 120'000;
  EXPECT_EQ(CellText(cell), "2010-04-01T09:05:07.000120");
  cell.DateTime.Nanosecond = 1;
  EXPECT_EQ(CellText(cell), "2010-04-01T09:05:07.000000001");
}

TEST(ValueTextTests, JsonValuesKeepTheirTypesAndEscapeWhatJsonForbids) {
  TQueryCell cell;
  EXPECT_EQ(JsonValue(cell), "null");
  cell.Kind = TCellKind::Error;
  cell.Text = "#CANTCONVERTVALUE";
  EXPECT_EQ(JsonValue(cell), "null");
  cell.Kind = TCellKind::Real;
  cell.Real = std::nan("");
  EXPECT_EQ(JsonValue(cell), "null");
  cell.Real = -2.5;
  EXPECT_EQ(JsonValue(cell), "-2.5");
  cell.Kind = TCellKind::Decimal;
  cell.Text = "12.3400";
  EXPECT_EQ(JsonValue(cell), "12.3400");
  cell.Kind = TCellKind::Bool;
  EXPECT_EQ(JsonValue(cell), "false");
  cell.Kind = TCellKind::Date;
  cell.DateTime = {2009, 3, 15, 0, 0, 0, 0};
  EXPECT_EQ(JsonValue(cell), "\"2009-03-15\"");
  EXPECT_EQ(JsonValue(TextCell("a\"b\\c\n\r\t\x01\x1f\xC3\xA9")), "\"a\\\"b\\\\c\\n\\r\\t\\u0001\\u001f\xC3\xA9\"");
}

TEST(ValueTextTests, CsvQuotesOnlyWhatRfc4180Requires) {
  const std::string written =
      Write(TOutputFormat::Csv, {"Name", "Note, with comma"},
            {{TextCell("plain"), TextCell("say \"hi\"")}, {TQueryCell{}, TextCell("two\r\nlines")}});
  EXPECT_EQ(written, "Name,\"Note, with comma\"\r\nplain,\"say \"\"hi\"\"\"\r\n,\"two\r\nlines\"\r\n");
}

TEST(ValueTextTests, JsonLinesWriteOneObjectPerRowInColumnOrder) {
  TQueryCell flag;
  flag.Kind = TCellKind::Bool;
  flag.Bool = true;
  EXPECT_EQ(Write(TOutputFormat::JsonLines, {"Sub\"ject", "Verbose", "LineNr"},
                  {{TextCell("Hi"), flag, IntegerCell(7)}, {TQueryCell{}, flag, IntegerCell(-1)}}),
            "{\"Sub\\\"ject\":\"Hi\",\"Verbose\":true,\"LineNr\":7}\n"
            "{\"Sub\\\"ject\":null,\"Verbose\":true,\"LineNr\":-1}\n");
  EXPECT_EQ(Write(TOutputFormat::JsonLines, {}, {{}}), "{}\n");
}

TEST(TableWriterTests, ColumnsAreAsWideAsTheirWidestValueAndNumbersAlignRight) {
  EXPECT_EQ(Write(TOutputFormat::Table, {"Class", "LineNr", "Subject"},
                  {{TextCell("Pass"), IntegerCell(7), TextCell("R\xC3\xA9union")},
                   {TextCell("Blacklist"), IntegerCell(12), TextCell("")}}),
            "Class      LineNr  Subject\n"
            "---------  ------  -------\n"
            "Pass            7  R\xC3\xA9union\n"
            "Blacklist      12  \n"
            "(2 rows)\n");
  EXPECT_EQ(Write(TOutputFormat::Table, {"A"}, {}), "A\n-\n(0 rows)\n");
  EXPECT_EQ(Write(TOutputFormat::Table, {"A"}, {{IntegerCell(1)}}), "A\n-\n1\n(1 row)\n");
}

TEST(TableWriterTests, LongValuesAreCutWithAVisibleMarkAndControlsBecomeBlanks) {
  TTableLayout layout;
  layout.MaxColumnWidth = 6;
  TQueryCell truncated = TextCell("abc");
  truncated.Truncated = true;
  // Numbers and dates are never cut: a part of one would read as another value.
  TQueryCell time;
  time.Kind = TCellKind::DateTime;
  time.DateTime = {2010, 4, 1, 10, 15, 30, 3'000'000};
  EXPECT_EQ(Write(TOutputFormat::Table, {"Message", "N", "Time"},
                  {{TextCell("line1\nline2"), IntegerCell(1), time}, {truncated, IntegerCell(12345678), time}},
                  layout),
            "Messa\xE2\x80\xA6         N  Time\n"
            "------  --------  -----------------------\n"
            "line1\xE2\x80\xA6         1  2010-04-01T10:15:30.003\n"
            "abc\xE2\x80\xA6    12345678  2010-04-01T10:15:30.003\n"
            "(2 rows)\n");
}

TEST(TableWriterTests, RowsAfterThePreviewKeepItsWidths) {
  TTableLayout layout;
  layout.PreviewRows = 1;
  EXPECT_EQ(Write(TOutputFormat::Table, {"Server", "X"},
                  {{TextCell("MAIL1"), TextCell("a")}, {TextCell("MAIL-LONGER"), TextCell("b")}}, layout),
            "Server  X\n"
            "------  -\n"
            "MAIL1   a\n"
            "MAIL-\xE2\x80\xA6  b\n"
            "(2 rows)\n");
  layout.MaxColumnWidth = 0;
  EXPECT_EQ(Write(TOutputFormat::Table, {"Server", "X"},
                  {{TextCell("MAIL1"), TextCell("a")}, {TextCell("MAIL-LONGER"), TextCell("b")}}, layout),
            "Server  X\n"
            "------  -\n"
            "MAIL1   a\n"
            "MAIL-LONGER  b\n"
            "(2 rows)\n");
}

// Many senders, long names and a span of days: the lists stop at ten, the
// timeline turns to days and a long pause folds into one line, and every
// line still fits a terminal, drawn in ASCII or in block characters.
TEST(SummaryTests, FiguresStayWithinTenEntriesAndEightyColumns) {
  TSummaryCollector collector;
  std::vector<TQueryCell> row(SummaryColumns.size());
  row[0].Kind = TCellKind::DateTime;
  row[5].Kind = TCellKind::Bool;
  row[5].Bool = true;
  for (int sender = 0; sender < 12; ++sender)
    for (int n = 0; n <= sender; ++n) {
      row[0].DateTime = {2010, 4, n % 2 ? 1u : 6u, 8, 0, 0, 3'000'000};
      row[1] = TextCell(sender % 2 ? "Blacklist" : "A class name far longer than any line of a terminal has room for");
      row[2] = TextCell("Information");
      row[3] = TextCell((n % 2 ? "SENDER" : "sender") + std::to_string(sender) + std::string(60, 'x') + "@example.org");
      row[4] = TextCell("10.0.0." + std::to_string(sender));
      collector.Row(row);
    }
  row[0].Kind = TCellKind::Error;
  collector.Row(row);
  const TLogSummary summary = collector.Summary();
  EXPECT_EQ(summary.Events, 78u);
  EXPECT_EQ(summary.Unreadable, 1u);
  ASSERT_EQ(summary.RejectedSenders.size(), 10u);
  EXPECT_EQ(summary.RejectedSenders[0].Count, 12u);
  EXPECT_EQ(summary.RejectedSenders[9].Count, 3u);
  EXPECT_TRUE(summary.PerDay);
  EXPECT_EQ(summary.Timeline.size(), 2u);
  for (const bool unicode : {false, true}) {
    const std::string text = SummaryText(std::string(100, 't') + ".log", summary, unicode);
    EXPECT_NE(text.find("\n  ... 4 days without events\n"), std::string::npos) << text;
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
      EXPECT_LE(DisplayWidth(text.substr(start, end - start)), 79u) << text.substr(start, end - start);
  }
}

TEST(FailureTests, ResultCodesAreNamedAndErrorRecordsIndented) {
  EXPECT_EQ(DescribeHResult(DB_E_NOTABLE), "DB_E_NOTABLE (0x80040E37)");
  EXPECT_EQ(DescribeHResult(CO_E_CLASSSTRING), "CO_E_CLASSSTRING (0x800401F3)");
  EXPECT_EQ(DescribeHResult(DB_S_ENDOFROWSET), "DB_S_ENDOFROWSET (0x00040EC6)");
  EXPECT_EQ(DescribeHResult(static_cast<HRESULT>(0x80041234)), "0x80041234");

  EXPECT_EQ(FormatFailure("cannot open table \"x.log\"", E_UNEXPECTED,
                          {{"zellogdb.provider", "Could not load file.\r\n\r\nFile: \"x.log\".\r\n", E_UNEXPECTED},
                           {"", "", DB_E_NOTABLE}}),
            "zellogq: cannot open table \"x.log\": E_UNEXPECTED (0x8000FFFF)\n"
            "  zellogdb.provider: Could not load file.\n"
            "\n"
            "    File: \"x.log\".\n"
            "  (no description) [DB_E_NOTABLE (0x80040E37)]\n");
  EXPECT_EQ(FormatFailure("cannot connect", CO_E_CLASSSTRING, {}),
            "zellogq: cannot connect: CO_E_CLASSSTRING (0x800401F3)\n");
}

}  // namespace
