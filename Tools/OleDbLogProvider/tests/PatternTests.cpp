// Tables over many log files: a name whose file name holds * or ? reads every
// matching log of the folder, one file after another, with the file's name
// as one more column.
#include <gtest/gtest.h>
#include <oledberr.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ExpectedRows.h"
#include "ProviderTestSupport.h"

namespace {
// Daily logs as a mail server leaves them, among what a pattern must pass
// over: a foreign file named like a log, a log named otherwise, a subfolder.
struct TLogFolder {
  TTempFolder Folder{L"patterns"};
  TLogFolder() {
    for (const wchar_t* example : {L"mail1-20100401.log", L"mail1-20100402-damaged.log", L"mail2-20090315.log"}) {
      std::ostringstream bytes;
      bytes << std::ifstream(std::filesystem::path(ZELLOG_EXAMPLE_LOGS) / example, std::ios::binary).rdbuf();
      Folder.Write(example, bytes.str());
    }
    Folder.Write(L"MAIL1-20100403.LOG", LogText({"2010-04-03T10:00:00 Pass - OnArrival Info - - - - third"}));
    Folder.Write(L"\x65e5\x672c.log", LogText({"2010-04-02T10:00:00 Pass - OnArrival Info - - - - wide"}));
    Folder.Write(L"mail1-20100404.log", "not a log at all\r\n");
    Folder.Write(L"mail1-20100405.txt", LogText({"2010-04-05T10:00:00 Pass - OnArrival Info - - - - txt"}));
    std::filesystem::create_directory(Folder.Path() / L"sub");
    Folder.Write(L"sub\\mail3-20100401.log", LogText({"2010-04-01T11:00:00 Pass - OnArrival Info - - - - sub"}));
  }
  // Each file's own rows followed by its name; a failed row stays as it is.
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

TEST(Pattern, APatternReadsEveryMatchingLogInNameOrderWithTheFileNameOrIsNoTable) {
  TLogFolder logs;
  TSession session = Connect(logs.Folder.Name());
  ASSERT_TRUE(session.Open);
  const std::vector<std::wstring> mail1 = {L"mail1-20100401.log", L"mail1-20100402-damaged.log", L"MAIL1-20100403.LOG"};
  const struct {
    const wchar_t* Pattern;
    std::vector<std::wstring> Files;  // none: no table, named in the error
  } cases[] = {
      {L"mail1-*.log", mail1},
      {L"MAIL?-20??04*", mail1},
      {L"*", {mail1[0], mail1[1], mail1[2], L"mail2-20090315.log", L"\x65e5\x672c.log"}},
      {L"?\x672c.*", {L"\x65e5\x672c.log"}},
      {L"sub\\*.log", {L"sub\\mail3-20100401.log"}},
      {L"mail1-20100404*", {}},
      {L"*.txt", {}},
      {L"none\\*.log", {}},
      {L"su?\\mail3-20100401.log", {}},
  };
  for (const auto& c : cases) {
    const std::vector<TRowText> expected = logs.Rows(c.Files);
    const std::wstring text = std::wstring(L"SELECT * FROM ") + c.Pattern;
    for (const TOpened& opened : {OpenTable(session, c.Pattern), Execute(session, text)}) {
      if (c.Files.empty()) {
        EXPECT_EQ(DB_E_NOTABLE, opened.Result) << c.Pattern;
        EXPECT_NE(std::wstring::npos, opened.Error.Description.find(c.Pattern)) << opened.Error.Description;
        continue;
      }
      ASSERT_EQ(S_OK, opened.Result) << c.Pattern << " " << opened.Error.Description;
      EXPECT_EQ(expected, TTableReader(opened.Rowset.Get(), TBindingKind::Native).ReadAll(7)) << c.Pattern;
    }
  }
  // The name streams like any other text.
  EXPECT_EQ(L"mail2-20090315.log",
            TTableReader(OpenTable(session, L"mail2*").Rowset.Get(), TBindingKind::Stream).ReadAll(3).at(0).at(23));
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
    files.push_back(SUCCEEDED(result) ? row.at(23) : L"!");
    if (FAILED(result)) failure = TakeErrorInfo().Description;
    reader.Release(rows);
  }
  EXPECT_EQ((std::vector<std::wstring>{L"a1.log", L"a1.log", L"!", L"a3.log", L"a3.log"}), files);
  EXPECT_NE(std::wstring::npos, failure.find(L"a2.log")) << failure;
}
