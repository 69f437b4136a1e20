// Column lists, conditions and row limits in command texts, checked against
// reading every row and filtering in the test.
#include <gtest/gtest.h>

#include <oledberr.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cwctype>
#include <functional>

#include "LogGenerator.h"
#include "ProviderTestSupport.h"

namespace {
// The published columns of a log table, in table order.
const std::vector<std::wstring> TableColumns = {
    L"Version",        L"Verbose",          L"Class",           L"Server",          L"Source",
    L"Time",           L"Action_Reject",    L"Action_TagSubject", L"Action_TagHeader", L"Action_Redirect",
    L"Action_ReplaceAtt", L"Action_RemoveRcpt", L"Action_WhitelistRcpt", L"Severity", L"FilteringPoint",
    L"RelatedIP",      L"MessageID",        L"Sender",          L"Recipients",      L"HeloDomain",
    L"Subject",        L"Message",          L"LineNr",          L"LogFile"};

// The index of a column named bare, [bracketed] or "quoted", in any case.
std::size_t ColumnIndex(std::wstring name) {
  if (name.size() > 2 && (name[0] == L'[' || name[0] == L'"')) name = name.substr(1, name.size() - 2);
  const auto found = std::find_if(TableColumns.begin(), TableColumns.end(), [&](const std::wstring& column) {
    return _wcsicmp(column.c_str(), name.c_str()) == 0;
  });
  EXPECT_NE(TableColumns.end(), found) << name;
  return static_cast<std::size_t>(found - TableColumns.begin());
}

std::vector<std::wstring> SingleFileColumns() { return {TableColumns.begin(), TableColumns.end() - 1}; }

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// Whole local seconds since 1899-12-30 of a date cell, and back as ISO text.
std::int64_t SecondsOf(const std::wstring& cell) { return static_cast<std::int64_t>(std::floor(std::stod(cell) * 86400)); }

std::wstring IsoText(std::int64_t seconds) {
  using namespace std::chrono;
  const sys_days day = sys_days(year(1899) / 12 / 30) + days(seconds / 86400);
  const year_month_day date(day);
  const std::int64_t second = seconds % 86400;
  wchar_t text[32];
  swprintf(text, 32, L"%04d-%02u-%02uT%02d:%02d:%02d", static_cast<int>(date.year()),
           static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()), static_cast<int>(second / 3600),
           static_cast<int>(second / 60 % 60), static_cast<int>(second % 60));
  return text;
}

// A row whose values fail: the reader gives it as one failed cell.
bool IsErrorRow(const TRowText& row) { return row.size() == 1 && row[0].starts_with(L"!"); }

struct TQueryCase {
  std::wstring Where;                 // after "FROM <table>"
  std::vector<std::wstring> Columns;  // empty: *
  std::function<bool(const TRowText&)> Keeps;
  std::size_t Top = SIZE_MAX;
};

// Executes the query and compares its columns and rows with those of the
// whole table, filtered and cut here.
void ExpectSameAsFiltering(const TSession& session, const std::wstring& table, const std::vector<TRowText>& all,
                           const TQueryCase& query) {
  std::wstring list;
  for (const std::wstring& column : query.Columns) list += (list.empty() ? L"" : L", ") + column;
  const std::wstring text = L"SELECT " + (query.Top != SIZE_MAX ? L"TOP " + std::to_wstring(query.Top) + L" " : L"") +
                            (list.empty() ? L"*" : list) + L" FROM " + table + L" " + query.Where;
  std::vector<std::size_t> picked;
  if (query.Columns.empty()) {
    const bool pattern = table.find(L'*') != std::wstring::npos;
    for (std::size_t i = 0; i < TableColumns.size() - (pattern ? 0 : 1); ++i) picked.push_back(i);
  }
  for (const std::wstring& column : query.Columns) picked.push_back(ColumnIndex(column));
  std::vector<TRowText> expected;
  for (const TRowText& row : all) {
    if (expected.size() == query.Top) break;
    if (IsErrorRow(row)) {
      expected.push_back(row);
      continue;
    }
    if (!query.Keeps(row)) continue;
    TRowText cut;
    for (std::size_t index : picked) cut.push_back(row[index]);
    expected.push_back(cut);
  }
  TOpened opened = Execute(session, text);
  ASSERT_EQ(S_OK, opened.Result) << text << ": " << opened.Error.Description;
  std::vector<std::wstring> wanted;
  for (std::size_t index : picked) wanted.push_back(TableColumns[index]);
  EXPECT_EQ(wanted, ColumnNames(opened.Rowset.Get())) << text;
  const std::vector<TRowText> rows = TTableReader(opened.Rowset.Get(), TBindingKind::Native).ReadAll(37);
  EXPECT_EQ(expected.size(), rows.size()) << text;
  EXPECT_TRUE(expected == rows) << text;
}

std::function<bool(const TRowText&)> TimeWithin(std::int64_t from, std::int64_t to) {
  return [=](const TRowText& row) {
    const std::int64_t seconds = SecondsOf(row[ColumnIndex(L"Time")]);
    return seconds >= from && seconds <= to;
  };
}

std::function<bool(const TRowText&)> TextIn(const std::wstring& column, std::vector<std::wstring> values) {
  return [=](const TRowText& row) {
    return std::any_of(values.begin(), values.end(),
                       [&](const std::wstring& value) { return Lower(value) == Lower(row[ColumnIndex(column)]); });
  };
}

std::function<bool(const TRowText&)> Both(std::function<bool(const TRowText&)> a,
                                          std::function<bool(const TRowText&)> b) {
  return [=](const TRowText& row) { return a(row) && b(row); };
}
}  // namespace

TEST(Query, ColumnListsAndConditionsGiveWhatFilteringEveryRowGives) {
  TTempFolder folder(L"query_differential");
  // Two days across the spring change of European summer time; the blocks'
  // own zones put local times out of order, and damaged lines make error rows.
  TLogGenOptions options;
  options.Seed = 19;
  options.TargetBytes = 600u << 10;
  options.MalformedPerMille = 8;
  options.StartYear = 2010;
  options.StartMonth = 3;
  options.StartDay = 27;
  WriteLogFile(folder.Path() / "generated.log", options);
  TSession session = Connect(folder.Name());
  ASSERT_TRUE(session.Open);
  TOpened whole = OpenTable(session, L"generated.log");
  ASSERT_EQ(S_OK, whole.Result) << whole.Error.Description;
  const std::vector<TRowText> all = TTableReader(whole.Rowset.Get(), TBindingKind::Native).ReadAll(100);
  ASSERT_GT(all.size(), 1000u);

  // Windows around the times of rows part way into the log: about 1% of
  // the rows, and a single second.
  std::vector<std::int64_t> times;
  for (const TRowText& row : all)
    if (!IsErrorRow(row)) times.push_back(SecondsOf(row[ColumnIndex(L"Time")]));
  std::vector<std::int64_t> sorted = times;
  std::sort(sorted.begin(), sorted.end());
  const std::int64_t from = sorted[sorted.size() * 40 / 100], to = sorted[sorted.size() * 41 / 100];
  const std::int64_t one = times[times.size() / 2];
  const auto valueNear = [&](std::size_t row, const wchar_t* column) {
    while (IsErrorRow(all[row]) || all[row][ColumnIndex(column)].empty()) ++row;
    return all[row][ColumnIndex(column)];
  };
  const std::wstring sender = valueNear(all.size() / 3, L"Sender");
  const std::wstring address = valueNear(all.size() / 4, L"RelatedIP");
  const auto isTrue = [](const wchar_t* column, bool taken) {
    return [=](const TRowText& row) { return row[ColumnIndex(column)] == BoolText(taken); };
  };

  const TQueryCase cases[] = {
      {L"", {L"Time", L"Class", L"HeloDomain"}, [](const TRowText&) { return true; }},
      {L"WHERE Time >= '" + IsoText(from) + L"' AND Time < '" + IsoText(to) + L"'", {},
       TimeWithin(from, to - 1)},
      {L"where time between '" + IsoText(from) + L"' and '" + IsoText(to) + L"' AND Class IN ('blacklist', 'PASS')",
       {L"Sender", L"[Time]", L"\"RelatedIP\""},
       Both(TimeWithin(from, to), TextIn(L"Class", {L"Blacklist", L"Pass"}))},
      {L"WHERE Time = '" + IsoText(one) + L"'", {L"Time", L"Message"}, TimeWithin(one, one)},
      {L"WHERE Time > '" + IsoText(one) + L"'", {L"Time"}, TimeWithin(one + 1, INT64_MAX)},
      // 2010-03-28 is day 40265 of the automation calendar.
      {L"WHERE Time <= '2010-03-28'", {L"Time", L"Server"}, TimeWithin(INT64_MIN, std::int64_t{40265} * 86400)},
      {L"WHERE Action_Reject = 1 AND Action_TagSubject = false", {L"LineNr", L"Subject"},
       Both(isTrue(L"Action_Reject", true), isTrue(L"Action_TagSubject", false)), 50},
      {L"WHERE Severity = 'WARNING' AND FilteringPoint IN ('onarrival', 'BeforeArrival')", {L"Message"},
       Both(TextIn(L"Severity", {L"Warning"}), TextIn(L"FilteringPoint", {L"OnArrival", L"BeforeArrival"}))},
      {L"WHERE Sender = '" + Lower(sender) + L"' AND RelatedIP IN ('" + address + L"', '" + sender + L"')",
       {L"Sender", L"RelatedIP", L"Recipients"},
       Both(TextIn(L"Sender", {sender}), TextIn(L"RelatedIP", {address, sender}))},
      {L"WHERE Action_Redirect = 1 AND Action_Redirect = 0", {L"Time"}, [](const TRowText&) { return false; }},
      {L"WHERE Class = 'NoSuchClass'", {}, [](const TRowText&) { return false; }, 5},
  };
  for (const TQueryCase& query : cases) ExpectSameAsFiltering(session, L"generated.log", all, query);

  // Over many files, the file name is one more condition.
  options.Seed = 20;
  options.TargetBytes = 100u << 10;
  WriteLogFile(folder.Path() / "generated-2.log", options);
  TOpened both = OpenTable(session, L"generated*.log");
  ASSERT_EQ(S_OK, both.Result) << both.Error.Description;
  const std::vector<TRowText> rows = TTableReader(both.Rowset.Get(), TBindingKind::Native).ReadAll(100);
  const TQueryCase patternCases[] = {
      {L"WHERE LogFile = 'GENERATED-2.log' AND Time >= '" + IsoText(from) + L"'", {L"LogFile", L"LineNr", L"Time"},
       Both(TextIn(L"LogFile", {L"generated-2.log"}), TimeWithin(from, INT64_MAX))},
      {L"WHERE LogFile IN ('generated.log', 'other.log') AND Class = 'Pass'", {},
       Both(TextIn(L"LogFile", {L"generated.log"}), TextIn(L"Class", {L"Pass"}))},
  };
  for (const TQueryCase& query : patternCases) ExpectSameAsFiltering(session, L"generated*.log", rows, query);
}

TEST(Query, CommandsAskForColumnsBeforeExecuteWithoutAFile) {
  TSession session = Connect(WindowsPath(ZELLOG_EXAMPLE_LOGS));
  ASSERT_TRUE(session.Open);
  const struct {
    const wchar_t* Text;
    std::vector<std::wstring> Columns;
  } cases[] = {
      {L"SELECT Time, class, [Sender], \"LineNr\" FROM nothing-here.log", {L"Time", L"Class", L"Sender", L"LineNr"}},
      {L"select top 5 Message from \"no such file.log\" where Time > '2010-04-01'", {L"Message"}},
      {L"SELECT * FROM nothing-here.log WHERE Class = 'Pass'", SingleFileColumns()},
      {L"SELECT LogFile, Time FROM nothing*.log WHERE LogFile IN ('a.log')", {L"LogFile", L"Time"}},
      {L"SELECT * FROM nothing*.log", TableColumns},
  };
  for (const auto& item : cases) {
    TComPtr<ICommandText> command;
    ASSERT_EQ(S_OK, CreateCommandOf(session.Open.Get(), command, item.Text));
    HRESULT result = E_FAIL;
    EXPECT_EQ(item.Columns, ColumnNames(command.Get(), &result)) << item.Text;
    EXPECT_EQ(S_OK, result) << item.Text;
  }
}

TEST(Query, TextsThatDoNotReadFailWithTheirPartQuoted) {
  TSession session = Connect(WindowsPath(ZELLOG_EXAMPLE_LOGS));
  ASSERT_TRUE(session.Open);
  const wchar_t* const table = L"mail1-20100401.log";
  // What each text fails with quotes the part that does not read.
  const TTextCase cases[] = {
      {L"SELECT Time Class FROM t", L"\"Class FROM "},
      {L"SELECT Tme FROM t", L"'Tme'"},
      {L"SELECT Time, FROM t", L"'FROM'"},
      {L"SELECT Time, Class, time FROM t", L"'time' is listed twice"},
      {L"SELECT [Time FROM t", L"\"[Time FROM "},
      {L"SELECT Time FROM", L"\"\""},
      {L"SELECT TOP x Time FROM t", L"\"x Time FROM "},
      {L"SELECT Time FROM t ORDER BY Time", L"\"ORDER BY Time\""},
      {L"SELECT Time FROM t WHERE", L"\"\""},
      {L"SELECT * FROM t WHERE Time > 2010", L"\"2010\""},
      {L"SELECT * FROM t WHERE Time > '2010-13-01'", L"'2010-13-01'"},
      {L"SELECT * FROM t WHERE Time BETWEEN '2010-04-01' '2010-04-02'", L"\"'2010-04-02'\""},
      {L"SELECT * FROM t WHERE Class LIKE 'x'", L"\"LIKE 'x'\""},
      {L"SELECT * FROM t WHERE Class IN ('a', 'b'", L"\"\""},
      {L"SELECT * FROM t WHERE Sender = 'x", L"\"'x\""},
      {L"SELECT * FROM t WHERE Message = 'x'", L"'Message'"},
      {L"SELECT * FROM t WHERE Action_Reject = 2", L"\"2\""},
      {L"SELECT * FROM t WHERE Class = 'x' OR Class = 'y'", L"\"OR Class = 'y'\""},
      {L"SELECT * FROM t WHERE LogFile = 'a.log'", L"'LogFile'"},
      {L"SELECT Time, LogFile FROM t", L"\"LogFile FROM "},
  };
  for (const TTextCase& item : cases) {
    std::wstring text = item.Text;
    if (const std::size_t from = text.find(L"FROM t"); from != std::wstring::npos) text.replace(from + 5, 1, table);
    TOpened opened = Execute(session, text);
    EXPECT_EQ(DB_E_ERRORSINCOMMAND, opened.Result) << text;
    EXPECT_NE(std::wstring::npos, opened.Error.Description.find(item.Expected)) << text << ": " << opened.Error.Description;
    TComPtr<ICommandText> command;
    ASSERT_EQ(S_OK, CreateCommandOf(session.Open.Get(), command, text.c_str()));
    HRESULT result = S_OK;
    ColumnNames(command.Get(), &result);
    EXPECT_EQ(DB_E_ERRORSINCOMMAND, result) << text;
  }
}

TEST(Query, RowLimitsAndNamesThatAreFiles) {
  TTempFolder folder(L"query_limits");
  std::vector<std::string> lines;
  for (int i = 0; i < 9; ++i)
    lines.push_back("2010-04-01T08:00:0" + std::to_string(i) + " Pass - OnArrival Info 10.0.0.1 a@b.c d@e.f - m");
  folder.Write(L"nine.log", LogText(lines));
  // A file whose name reads like a query is that file, as it always was.
  folder.Write(L"select Time from nine.log", LogText(lines));
  TSession session = Connect(folder.Name());
  ASSERT_TRUE(session.Open);

  const auto rowsOf = [&](const std::wstring& text, LONG maxRows) {
    TComPtr<ICommandText> command;
    EXPECT_EQ(S_OK, CreateCommandOf(session.Open.Get(), command, text.c_str()));
    if (maxRows >= 0) {
      TComPtr<ICommandProperties> properties;
      EXPECT_EQ(S_OK, command.As(properties, IID_ICommandProperties));
      DBPROP prop = MakeProperty(DBPROP_MAXROWS, VT_I4, maxRows);
      DBPROPSET set{&prop, 1, DBPROPSET_ROWSET};
      EXPECT_EQ(S_OK, properties->SetProperties(1, &set));
    }
    TComPtr<IRowset> rowset;
    EXPECT_EQ(S_OK, command->Execute(nullptr, IID_IRowset, nullptr, nullptr, reinterpret_cast<IUnknown**>(rowset.Put())));
    return rowset ? TTableReader(rowset.Get(), TBindingKind::Native).ReadAll(4) : std::vector<TRowText>{};
  };
  const struct {
    const wchar_t* Text;
    LONG MaxRows;
    std::size_t Rows;
    std::size_t Columns;
  } cases[] = {
      {L"SELECT TOP 3 LineNr FROM nine.log", -1, 3, 1},  {L"SELECT TOP 0 LineNr FROM nine.log", -1, 0, 1},
      {L"SELECT * FROM nine.log", 4, 4, 23},             {L"SELECT TOP 2 * FROM nine.log", 5, 2, 23},
      {L"SELECT TOP 20 Time FROM nine.log", 6, 6, 1},    {L"SELECT Version FROM nine.log", 0, 9, 1},
      {L"select Time from nine.log", -1, 9, 23},
  };
  for (const auto& item : cases) {
    const std::vector<TRowText> rows = rowsOf(item.Text, item.MaxRows);
    EXPECT_EQ(item.Rows, rows.size()) << item.Text;
    if (!rows.empty()) {
      EXPECT_EQ(item.Columns, rows[0].size()) << item.Text;
    }
  }

  // ADO's MaxRecords reaches IOpenRowset too.
  DBPROP prop = MakeProperty(DBPROP_MAXROWS, VT_I4, 7);
  DBPROPSET set{&prop, 1, DBPROPSET_ROWSET};
  DBID id{};
  id.eKind = DBKIND_NAME;
  id.uName.pwszName = const_cast<wchar_t*>(L"nine.log");
  TComPtr<IRowset> rowset;
  ASSERT_EQ(S_OK, session.Open->OpenRowset(nullptr, &id, nullptr, IID_IRowset, 1, &set,
                                           reinterpret_cast<IUnknown**>(rowset.Put())));
  EXPECT_EQ(7u, TTableReader(rowset.Get(), TBindingKind::Native).ReadAll(3).size());
}
