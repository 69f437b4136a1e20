// zellogq over the sample logs through the registered provider, checked
// against zellogcat's records of the same files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include <windows.h>
#include <winver.h>

#include "ProviderFixture.h"
#include "Zellogq.h"

namespace {

struct TRun {
  int Status;
  std::string Out;
  std::string Err;
};

class ZellogqProviderTests : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  }
  void TearDown() override { CoUninitialize(); }

  static TRun Run(std::vector<std::string> arguments) {
    TRun run{};
    run.Status = RunZellogq(
        arguments, [&](std::string_view text) { return run.Out.append(text), true; },
        [&](std::string_view text) { return run.Err.append(text), true; });
    return run;
  }

  static TRun RunOnExamples(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--folder", ExampleLogsFolder()});
    return Run(std::move(arguments));
  }
};

// The rows zellogq shows must be zellogcat's records, value for value; a line
// zellogcat cannot read is a row zellogq reports instead of showing.
void ExpectRows(const std::string& log, const TRun& run) {
  const std::vector<TJsonRecord> expected = ExpectedRows(log);
  const std::vector<TJsonRecord> shown = ParseJsonLines(run.Out);
  std::size_t next = 0, unreadable = 0;
  for (std::size_t row = 0; row < expected.size(); ++row) {
    if (expected[row].contains("error")) {
      ++unreadable;
      EXPECT_NE(run.Err.find("row " + std::to_string(row + 1) + " cannot be read"), std::string::npos) << run.Err;
      continue;
    }
    ASSERT_LT(next, shown.size()) << log;
    EXPECT_EQ(shown[next], expected[row]) << log << " row " << row + 1;
    ++next;
  }
  EXPECT_EQ(next, shown.size()) << log;
  EXPECT_EQ(run.Status, unreadable ? QueryExitUnreadableRows : QueryExitSuccess) << run.Err;
}

TEST_F(ZellogqProviderTests, TablesListEverySampleLog) {
  const TRun run = RunOnExamples({"tables", "--format", "jsonl"});
  ASSERT_EQ(run.Status, QueryExitSuccess) << run.Err;
  std::vector<std::string> names;
  for (const TJsonRecord& table : ParseJsonLines(run.Out)) {
    EXPECT_EQ(table.at("TABLE_TYPE"), "TABLE");
    names.push_back(table.at("TABLE_NAME"));
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, ExampleLogNames());
}

// The version of the DLL the registry's view of this process names for the
// provider, as the file's properties show it: "MM.mm.bbbb".
std::string RegisteredProviderFileVersion() {
  wchar_t path[MAX_PATH] = {};
  DWORD size = sizeof path;
  if (RegGetValueW(HKEY_CLASSES_ROOT, L"CLSID\\{55EC7CF0-F505-4435-959F-3EDF8409519C}\\InprocServer32", nullptr,
                   RRF_RT_REG_SZ, nullptr, path, &size) != ERROR_SUCCESS)
    return "(not registered)";
  std::vector<BYTE> block(GetFileVersionInfoSizeW(path, nullptr));
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (block.empty() || !GetFileVersionInfoW(path, 0, static_cast<DWORD>(block.size()), block.data()) ||
      !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length))
    return "(no version)";
  char text[32];
  snprintf(text, sizeof text, "%02u.%02u.%04u", HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
           HIWORD(info->dwFileVersionLS));
  return text;
}

// With the 32-bit and the 64-bit provider both registered, the version tells
// a user which one a consumer loaded: the one of the consumer's own bitness.
TEST_F(ZellogqProviderTests, InfoShowsTheVersionOfTheProviderOfTheConsumersBitness) {
  const TRun run = RunOnExamples({"info", "--format", "jsonl"});
  ASSERT_EQ(run.Status, QueryExitSuccess) << run.Err;
  std::map<std::string, std::string> values;
  for (const TJsonRecord& property : ParseJsonLines(run.Out)) values[property.at("PROPERTY")] = property.at("VALUE");
  EXPECT_EQ(values["Provider Name"], "zellogdb.dll");
  EXPECT_EQ(values["Provider Version"],
            RegisteredProviderFileVersion() + (sizeof(void*) == 8 ? " (64-bit)" : " (32-bit)"));
  EXPECT_EQ(values["Read-Only Data Source"], "true");
}

TEST_F(ZellogqProviderTests, ColumnsGiveTheLogColumnsWithTheirTypesAndAgreeWithTheSchema) {
  const TRun run = RunOnExamples({"columns", "mail1-20100401.log", "--format", "csv"});
  ASSERT_EQ(run.Status, QueryExitSuccess) << run.Err;
  EXPECT_EQ(run.Err, "zellogq: 23 columns\n");
  EXPECT_EQ(run.Out.substr(0, run.Out.find("\r\n", run.Out.find("\r\n") + 2)),
            "#,NAME,TYPE,SIZE,FLAGS\r\n1,Version,STR,50,");
  for (const char* line : {"\r\n2,Verbose,BOOL,2,fixed\r\n", "\r\n6,Time,DATE,8,fixed\r\n",
                           "\r\n21,Subject,WSTR,", "\r\n23,LineNr,I4,4,fixed\r\n"})
    EXPECT_NE(run.Out.find(line), std::string::npos) << line;
}

TEST_F(ZellogqProviderTests, EveryRowOfEverySampleLogIsZellogcatsRecord) {
  for (const std::string& log : ExampleLogNames()) {
    ExpectRows(log, RunOnExamples({log, "--format", "jsonl"}));
    ExpectRows(log, RunOnExamples({"--command", "SELECT * FROM " + log, "--format", "jsonl"}));
  }
}

TEST_F(ZellogqProviderTests, CsvAndTableShowTheSameRows) {
  const std::string log = "mail1-20100401.log";
  const std::vector<TJsonRecord> expected = ExpectedRows(log);

  const TRun csv = RunOnExamples({log, "--format", "csv", "--columns", "LineNr,Sender,Verbose,Time"});
  ASSERT_EQ(csv.Status, QueryExitSuccess) << csv.Err;
  std::string wanted = "LineNr,Sender,Verbose,Time\r\n";
  for (const TJsonRecord& row : expected)
    wanted += row.at("LineNr") + "," + row.at("Sender") + "," + row.at("Verbose") + "," + row.at("Time") + "\r\n";
  EXPECT_EQ(csv.Out, wanted);
  EXPECT_EQ(csv.Err, "zellogq: " + std::to_string(expected.size()) + " rows\n");

  const TRun table = RunOnExamples({log, "--columns", "LineNr,Class"});
  ASSERT_EQ(table.Status, QueryExitSuccess) << table.Err;
  EXPECT_EQ(table.Err, "");
  EXPECT_TRUE(table.Out.starts_with("LineNr  Class")) << table.Out;
  EXPECT_TRUE(table.Out.ends_with("(" + std::to_string(expected.size()) + " rows)\n")) << table.Out;
  EXPECT_EQ(std::count(table.Out.begin(), table.Out.end(), '\n'), static_cast<long>(expected.size() + 3));
}

TEST_F(ZellogqProviderTests, LimitStopsAfterThatManyRows) {
  const TRun run = RunOnExamples({"mail2-20090315.log", "--format", "jsonl", "--limit", "2"});
  ASSERT_EQ(run.Status, QueryExitSuccess) << run.Err;
  const std::vector<TJsonRecord> expected = ExpectedRows("mail2-20090315.log");
  EXPECT_EQ(ParseJsonLines(run.Out), std::vector<TJsonRecord>(expected.begin(), expected.begin() + 2));
  EXPECT_EQ(run.Err, "zellogq: 2 rows\n");
  EXPECT_TRUE(RunOnExamples({"mail2-20090315.log", "--limit", "0"}).Out.ends_with("(0 rows)\n"));
}

// The figures a summary must give, counted from zellogcat's records of the
// same logs: "figure|name" (or "figure|time") to the number of events.
std::map<std::string, std::string> ExpectedSummary(const std::vector<std::string>& logs, bool perDay) {
  std::map<std::string, std::uint64_t> counts;
  std::uint64_t events = 0, rejected = 0, unreadable = 0;
  std::string first, last;
  for (const std::string& log : logs)
    for (const TJsonRecord& row : ExpectedRows(log)) {
      if (row.contains("error")) {
        ++unreadable;
        continue;
      }
      ++events;
      const std::string time = row.at("Time").substr(0, 19);
      if (first.empty() || time < first) first = time;
      if (last.empty() || time > last) last = time;
      ++counts["class|" + row.at("Class")];
      ++counts["severity|" + row.at("Severity")];
      ++counts[perDay ? "day|" + time.substr(0, 10) + "T00:00:00" : "hour|" + time.substr(0, 13) + ":00:00"];
      if (row.at("Action_Reject") != "true") continue;
      ++rejected;
      std::string sender = row.at("Sender");
      std::transform(sender.begin(), sender.end(), sender.begin(), [](unsigned char c) { return std::tolower(c); });
      if (!sender.empty()) ++counts["rejected-sender|" + sender];
      if (!row.at("RelatedIP").empty()) ++counts["rejected-ip|" + row.at("RelatedIP")];
    }
  std::map<std::string, std::string> figures;
  for (const auto& [key, count] : counts) figures[key] = std::to_string(count);
  figures["total"] = std::to_string(events) + " " + std::to_string(rejected) + " " + std::to_string(unreadable) +
                     " " + first + " " + last;
  return figures;
}

// Every figure once, each list most frequent first (the timeline in time order).
std::map<std::string, std::string> SummaryFigures(const std::string& jsonLines) {
  std::map<std::string, std::string> figures;
  std::map<std::string, std::string> previous;
  for (const TJsonRecord& figure : ParseJsonLines(jsonLines)) {
    const std::string kind = figure.at("figure");
    if (kind == "total") {
      figures[kind] = figure.at("events") + " " + figure.at("rejected") + " " + figure.at("unreadable") + " " +
                      figure.at("first") + " " + figure.at("last");
      continue;
    }
    const bool timeline = kind == "hour" || kind == "day";
    const std::string key = kind + "|" + figure.at(timeline ? "time" : "name");
    EXPECT_FALSE(figures.contains(key)) << key;
    figures[key] = figure.at("events");
    if (kind != "severity" && previous.contains(kind)) {
      EXPECT_TRUE(timeline ? previous[kind] < key : std::stoull(figures[previous[kind]]) >= std::stoull(figures[key]))
          << key;
    }
    previous[kind] = key;
  }
  return figures;
}

// Each sample log counts per hour; a pattern over them all spans a year, so
// it counts per day, with the damaged log's unreadable lines among the rest.
TEST_F(ZellogqProviderTests, SummaryCountsWhatTheRowsHoldAndFitsEightyColumns) {
  for (const std::string& log : ExampleLogNames()) {
    const TRun jsonl = RunOnExamples({"summary", log, "--format", "jsonl"});
    const bool damaged = log.find("damaged") != std::string::npos;
    EXPECT_EQ(jsonl.Status, damaged ? QueryExitUnreadableRows : QueryExitSuccess) << jsonl.Err;
    EXPECT_EQ(SummaryFigures(jsonl.Out), ExpectedSummary({log}, false)) << log;

    const TRun text = RunOnExamples({"summary", log});
    EXPECT_EQ(text.Status, jsonl.Status) << text.Err;
    EXPECT_TRUE(text.Out.find("Events per hour\n") != std::string::npos) << text.Out;
    for (std::size_t start = 0, end; (end = text.Out.find('\n', start)) != std::string::npos; start = end + 1) {
      const std::string line = text.Out.substr(start, end - start);
      EXPECT_LE(line.size(), 80u) << line;
      EXPECT_TRUE(std::all_of(line.begin(), line.end(), [](unsigned char c) { return c >= 0x20 && c < 0x7F; }))
          << line;
    }
  }
  const TRun pattern = RunOnExamples({"summary", "MAIL*.log", "--format", "jsonl"});
  EXPECT_EQ(pattern.Status, QueryExitUnreadableRows) << pattern.Err;
  EXPECT_EQ(SummaryFigures(pattern.Out), ExpectedSummary(ExampleLogNames(), true));
  EXPECT_EQ(RunOnExamples({"summary", "no-such-file.log"}).Status, QueryExitFailure);
}

TEST_F(ZellogqProviderTests, FailuresCarryTheProvidersMessageAndFailTheRun) {
  const std::string missing = ExampleLogsFolder() + "\\no-such-folder";
  TRun run = Run({"--folder", missing, "tables"});
  EXPECT_EQ(run.Status, QueryExitFailure);
  EXPECT_EQ(run.Out, "");
  EXPECT_NE(run.Err.find("E_UNEXPECTED (0x8000FFFF)"), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("zellogdb.provider: Folder with log files cannot be found:\n    '" + missing + "'."),
            std::string::npos)
      << run.Err;

  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "zellogq-foreign";
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "foreign.log") << "this is not a log of the mail filtering service\n";
  run = Run({"--folder", folder.string(), "foreign.log"});
  EXPECT_EQ(run.Status, QueryExitFailure);
  EXPECT_NE(run.Err.find("cannot open table \"foreign.log\""), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("Could not load file, because it is either not an ZEL Text Log file or cannot be opened."),
            std::string::npos)
      << run.Err;
  std::filesystem::remove_all(folder);

  run = RunOnExamples({"--command", "SELECT * FROM no-such-file.log"});
  EXPECT_EQ(run.Status, QueryExitFailure);
  EXPECT_NE(run.Err.find("cannot execute \"SELECT * FROM no-such-file.log\": E_UNEXPECTED"), std::string::npos)
      << run.Err;
  EXPECT_NE(run.Err.find("no-such-file.log\"."), std::string::npos) << run.Err;

  run = RunOnExamples({"mail1-20100401.log", "--columns", "Time,NoSuchColumn"});
  EXPECT_EQ(run.Status, QueryExitFailure);
  EXPECT_EQ(run.Err, "zellogq: no column named \"NoSuchColumn\": DB_E_BADCOLUMNID (0x80040E11)\n");
}

}  // namespace
