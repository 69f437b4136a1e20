#include <gtest/gtest.h>

#include "QueryOptions.h"

namespace {

struct TParsed {
  std::string Problem;
  TQueryOptions Options;
};

TParsed Parse(std::vector<std::string> arguments) {
  TParsed parsed;
  parsed.Problem = ParseQueryOptions(arguments, parsed.Options);
  return parsed;
}

TEST(QueryOptionsTests, WhatToShowComesFromTheWordsOrTheCommand) {
  TParsed parsed = Parse({"--folder", "C:\\logs", "tables"});
  ASSERT_EQ(parsed.Problem, "");
  EXPECT_EQ(parsed.Options.ConnectionString, "Provider=zellogdb.provider;Data Source=C:\\logs");
  EXPECT_EQ(parsed.Options.Action, TQueryAction::Tables);
  EXPECT_EQ(Parse({"--folder", "x", "info"}).Options.Action, TQueryAction::Info);

  parsed = Parse({"columns", "mail.log", "-c", "Provider=Other;Data Source=x"});
  ASSERT_EQ(parsed.Problem, "");
  EXPECT_EQ(parsed.Options.ConnectionString, "Provider=Other;Data Source=x");
  EXPECT_EQ(parsed.Options.Action, TQueryAction::Columns);
  EXPECT_EQ(parsed.Options.Table, "mail.log");

  parsed = Parse({"--connect", "x", "mail.log", "--format", "jsonl", "--limit", "5", "--columns", "Time,,Class"});
  ASSERT_EQ(parsed.Problem, "");
  EXPECT_EQ(parsed.Options.Action, TQueryAction::Rows);
  EXPECT_EQ(parsed.Options.Table, "mail.log");
  EXPECT_EQ(parsed.Options.Format, TOutputFormat::JsonLines);
  EXPECT_EQ(parsed.Options.Limit, 5u);
  EXPECT_EQ(parsed.Options.Columns, (std::vector<std::string>{"Time", "Class"}));

  parsed = Parse({"-c", "x", "--command", "SELECT * FROM a.log", "--format", "csv", "--max-width", "0"});
  ASSERT_EQ(parsed.Problem, "");
  EXPECT_EQ(parsed.Options.Action, TQueryAction::Rows);
  EXPECT_EQ(parsed.Options.CommandText, "SELECT * FROM a.log");
  EXPECT_EQ(parsed.Options.Format, TOutputFormat::Csv);
  EXPECT_EQ(parsed.Options.Layout.MaxColumnWidth, 0u);

  // Help wins over everything, even a missing connection.
  EXPECT_EQ(Parse({"tables", "--help"}).Options.Action, TQueryAction::Help);
  EXPECT_EQ(Parse({"-h"}).Problem, "");
}

TEST(QueryOptionsTests, BadArgumentsAreNamed) {
  EXPECT_EQ(Parse({"tables"}).Problem, "no connection: give -c STRING or --folder DIR");
  EXPECT_EQ(Parse({"-c", "x"}).Problem, "nothing to show: give info, tables, columns TABLE, summary TABLE, a TABLE or --command TEXT");
  EXPECT_EQ(Parse({"-c", "x", "info", "a.log"}).Problem, "info takes no table name");
  EXPECT_EQ(Parse({"-c", "x", "a.log", "b.log"}).Problem, "one table at a time ('b.log' is one too many)");
  EXPECT_EQ(Parse({"-c", "x", "columns"}).Problem, "columns takes one table name");
  EXPECT_EQ(Parse({"-c", "x", "tables", "a.log"}).Problem, "tables takes no table name");
  EXPECT_EQ(Parse({"-c", "x", "summary"}).Problem, "summary takes one table name");
  EXPECT_EQ(Parse({"-c", "x", "summary", "a.log", "--format", "csv"}).Problem, "summary gives a table or jsonl, not csv");
  EXPECT_EQ(Parse({"-c", "x", "summary", "a.log", "--limit", "5"}).Problem, "summary counts every row: --limit does not apply");
  EXPECT_EQ(Parse({"-c", "x", "a.log", "--command", "b.log"}).Problem, "--command and 'a.log' both say what to show");
  EXPECT_EQ(Parse({"-c", "x", "--command", ""}).Problem, "--command needs a text");
  EXPECT_EQ(Parse({"-c", "x", "a.log", "--format", "xml"}).Problem, "unknown format 'xml' (table, csv or jsonl)");
  EXPECT_EQ(Parse({"-c", "x", "a.log", "--limit", "-1"}).Problem, "bad row count '-1'");
  EXPECT_EQ(Parse({"-c", "x", "a.log", "--limit", "12x"}).Problem, "bad row count '12x'");
  EXPECT_EQ(Parse({"-c", "x", "a.log", "--columns", ","}).Problem, "--columns needs column names");
  EXPECT_EQ(Parse({"-c", "x", "a.log", "--limit"}).Problem, "--limit needs a value");
  EXPECT_EQ(Parse({"-c", "x", "a.log", "--verbose", "1"}).Problem, "unknown option '--verbose'");
}

TEST(QueryOptionsTests, FolderNamesThatWouldBreakTheConnectionStringAreQuoted) {
  EXPECT_EQ(FolderConnectionString("C:\\Program Files\\logs"),
            "Provider=zellogdb.provider;Data Source=C:\\Program Files\\logs");
  EXPECT_EQ(FolderConnectionString("C:\\a;b"), "Provider=zellogdb.provider;Data Source=\"C:\\a;b\"");
  EXPECT_EQ(FolderConnectionString("C:\\say \"x\""), "Provider=zellogdb.provider;Data Source=\"C:\\say \"\"x\"\"\"");
  EXPECT_EQ(FolderConnectionString(" C:\\logs"), "Provider=zellogdb.provider;Data Source=\" C:\\logs\"");
  EXPECT_EQ(FolderConnectionString(""), "Provider=zellogdb.provider;Data Source=\"\"");
}

}  // namespace
