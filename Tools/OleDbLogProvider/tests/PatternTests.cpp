// Tables over many log files: a name whose file name holds * or ? reads every
// matching log of the folder, one file after another, with the file's name
// as one more column.
#include <gtest/gtest.h>
#include <oledberr.h>

#include <string>
#include <vector>

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
