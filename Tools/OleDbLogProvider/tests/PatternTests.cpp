// Tables over many log files: a name whose file name holds * or ? reads every
// matching log of the folder, one file after another, with the file's name
// as one more column.
#include <gtest/gtest.h>
#include <oledberr.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ExpectedRows.h"
#include "ProviderTestSupport.h"

namespace {
struct TColumn {
  std::wstring Name;
  DBTYPE Type;
  bool operator==(const TColumn&) const = default;
};

std::vector<TColumn> Columns(IUnknown* object, HRESULT* result = nullptr) {
  TComPtr<IColumnsInfo> info;
  EXPECT_EQ(S_OK, object->QueryInterface(IID_IColumnsInfo, info.PutVoid()));
  DBORDINAL count = 0;
  DBCOLUMNINFO* columns = nullptr;
  OLECHAR* names = nullptr;
  const HRESULT hr = info->GetColumnInfo(&count, &columns, &names);
  if (result) *result = hr;
  std::vector<TColumn> list;
  for (DBORDINAL i = 0; i < count; ++i) list.push_back({columns[i].pwszName, columns[i].wType});
  CoTaskMemFree(columns);
  CoTaskMemFree(names);
  return list;
}

// The columns a command says it will give before it is executed.
std::vector<TColumn> CommandColumns(const TSession& session, const std::wstring& text) {
  TComPtr<IDBCreateCommand> create;
  EXPECT_EQ(S_OK, session.Open.As(create, IID_IDBCreateCommand));
  TComPtr<ICommandText> command;
  EXPECT_EQ(S_OK, create->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.Put())));
  EXPECT_EQ(S_OK, command->SetCommandText(DBGUID_DEFAULT, text.c_str()));
  return Columns(command.Get());
}

std::wstring ExampleFolder() { return WindowsPath(ZELLOG_EXAMPLE_LOGS); }

std::string FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// A folder of daily logs as a mail server leaves them, with what a pattern
// must pass over: a foreign file named like a log, a log named otherwise, a
// damaged log and a subfolder.
struct TLogFolder {
  TTempFolder Folder{L"patterns"};
  TLogFolder() {
    for (const wchar_t* example : {L"mail1-20100401.log", L"mail1-20100402-damaged.log", L"mail2-20090315.log"})
      Folder.Write(example, FileBytes(std::filesystem::path(ZELLOG_EXAMPLE_LOGS) / example));
    Folder.Write(L"MAIL1-20100403.LOG", LogText({"2010-04-03T10:00:00 Pass - OnArrival Info - - - - third",
                                                 "2010-04-03T10:00:01 Spam Reject OnArrival Warning - - - - x"}));
    Folder.Write(L"mail1-20100404.log", "not a log at all\r\n");
    Folder.Write(L"mail1-20100405.txt", LogText({"2010-04-05T10:00:00 Pass - OnArrival Info - - - - txt"}));
    std::filesystem::create_directory(Folder.Path() / L"sub");
    Folder.Write(L"sub\\mail3-20100401.log", LogText({"2010-04-01T11:00:00 Pass - OnArrival Info - - - - sub"}));
  }
  // The rows of the files as one table: each file's own rows, each followed
  // by the name; a row that cannot be read stays the failed row it is.
  std::vector<TRowText> Rows(const std::vector<std::wstring>& names) const {
    std::vector<TRowText> rows;
    for (const std::wstring& name : names)
      for (TRowText row : ExpectedRows(Folder.Name() + L"\\" + name)) {
        if (row.size() > 1) row.push_back(name);
        rows.push_back(std::move(row));
      }
    return rows;
  }
};
}  // namespace

TEST(Pattern, APatternTableHasTheFileNameAsItsLastColumnAFileTableDoesNot) {
  TSession session = Connect(ExampleFolder());
  ASSERT_TRUE(session.Open);
  const std::vector<TColumn> file = CommandColumns(session, L"mail2-20090315.log");
  ASSERT_EQ(23u, file.size());
  EXPECT_EQ(L"LineNr", file.back().Name);
  for (const wchar_t* text : {L"mail1-*.log", L"SELECT * FROM mail?-2010040?.log", L"select * from \"*.LOG\""}) {
    std::vector<TColumn> pattern = CommandColumns(session, text);
    ASSERT_EQ(24u, pattern.size()) << text;
    EXPECT_EQ((TColumn{L"LogFile", DBTYPE_WSTR}), pattern.back()) << text;
    pattern.pop_back();
    EXPECT_EQ(file, pattern) << text;
  }
}

TEST(Pattern, WildcardsInAFolderNameAreRefusedByName) {
  TSession session = Connect(ExampleFolder());
  ASSERT_TRUE(session.Open);
  for (const wchar_t* name : {L"lo*\\mail1-20100401.log", L"s?b\\*.log", L"*\\x\\mail?.log"}) {
    for (const TOpened& opened : {OpenTable(session, name), Execute(session, std::wstring(L"SELECT * FROM ") + name)}) {
      EXPECT_EQ(DB_E_NOTABLE, opened.Result) << name;
      EXPECT_NE(std::wstring::npos, opened.Error.Description.find(name)) << opened.Error.Description;
    }
  }
}

TEST(Pattern, APatternReadsEveryMatchingLogInNameOrderWithTheFileName) {
  TLogFolder logs;
  TSession session = Connect(logs.Folder.Name());
  ASSERT_TRUE(session.Open);
  const struct {
    const wchar_t* Pattern;
    std::vector<std::wstring> Files;
  } cases[] = {
      {L"mail1-*.log", {L"mail1-20100401.log", L"mail1-20100402-damaged.log", L"MAIL1-20100403.LOG"}},
      {L"MAIL?-20??04*", {L"mail1-20100401.log", L"mail1-20100402-damaged.log", L"MAIL1-20100403.LOG"}},
      {L"*", {L"mail1-20100401.log", L"mail1-20100402-damaged.log", L"MAIL1-20100403.LOG", L"mail2-20090315.log"}},
      {L"mail2*", {L"mail2-20090315.log"}},
      {L"sub\\*.log", {L"sub\\mail3-20100401.log"}},
  };
  for (const auto& c : cases) {
    const std::vector<TRowText> expected = logs.Rows(c.Files);
    for (const TOpened& opened : {OpenTable(session, c.Pattern), Execute(session, std::wstring(L"SELECT * FROM ") + c.Pattern)}) {
      ASSERT_EQ(S_OK, opened.Result) << c.Pattern << " " << opened.Error.Description;
      EXPECT_EQ(expected, TTableReader(opened.Rowset.Get(), TBindingKind::Native).ReadAll(7)) << c.Pattern;
    }
  }
  // The name is text like any other: streamed and as a variant too.
  for (TBindingKind kind : {TBindingKind::Stream, TBindingKind::Variant}) {
    const std::vector<TRowText> rows = TTableReader(OpenTable(session, L"mail2*").Rowset.Get(), kind).ReadAll(3);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(L"mail2-20090315.log", rows.back().at(23));
  }
}

TEST(Pattern, APatternMatchingNoLogFileIsNoTable) {
  TLogFolder logs;
  TSession session = Connect(logs.Folder.Name());
  ASSERT_TRUE(session.Open);
  // Only a foreign file, only a log not named .log, nothing, and a subfolder
  // that does not exist.
  for (const wchar_t* pattern : {L"mail1-20100404*", L"*.txt", L"nothing*.log", L"none\\*.log"}) {
    for (const TOpened& opened : {OpenTable(session, pattern), Execute(session, pattern)}) {
      EXPECT_EQ(DB_E_NOTABLE, opened.Result) << pattern;
      EXPECT_NE(std::wstring::npos, opened.Error.Description.find(pattern)) << opened.Error.Description;
    }
  }
}

TEST(Pattern, AFileGoneBeforeItsTurnIsOneRowThatFailsWithTheOpenError) {
  TTempFolder folder(L"vanishing");
  for (const wchar_t* name : {L"a1.log", L"a2.log", L"a3.log"})
    folder.Write(name, LogText({"2010-04-01T10:00:00 Pass - OnArrival Info - - - - one",
                                "2010-04-01T10:00:01 Pass - OnArrival Info - - - - two"}));
  TSession session = Connect(folder.Name());
  ASSERT_TRUE(session.Open);
  TOpened opened = OpenTable(session, L"a*.log");
  ASSERT_EQ(S_OK, opened.Result) << opened.Error.Description;
  std::filesystem::remove(folder.Path() / L"a2.log");
  TTableReader reader(opened.Rowset.Get(), TBindingKind::Native);
  std::vector<std::wstring> files;
  std::wstring failure;
  std::vector<HROW> rows;
  while (reader.Fetch(1, rows) == S_OK && rows.size() == 1) {
    HRESULT result = S_OK;
    const TRowText row = reader.Read(rows[0], result);
    if (SUCCEEDED(result)) {
      files.push_back(row.at(23));
    } else {
      files.push_back(L"!");
      failure = TakeErrorInfo().Description;
    }
    reader.Release(rows);
  }
  EXPECT_EQ((std::vector<std::wstring>{L"a1.log", L"a1.log", L"!", L"a3.log", L"a3.log"}), files);
  EXPECT_NE(std::wstring::npos, failure.find(L"a2.log")) << failure;
}
