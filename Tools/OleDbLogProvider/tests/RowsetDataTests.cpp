// The log rowset data under the toolkit's rowset, in process.
#include <gtest/gtest.h>
#include <oledberr.h>


#include "OLEDbRowset.h"
#include "OLEDbSchemaRowset.h"
#include "ProviderTestSupport.h"
#include "ZelLogFolder_un.h"
#include "ZelLogProvider_un.h"
#include "ZelLogRowsetData_un.h"

namespace {
struct TOpenedData {
  HRESULT Result = S_OK;
  TTestErrorInfo Error;
  TComPtr<IRowset> Rowset;
  TComPtr<TZelLogRowsetData> Data;
};

TOpenedData Open(const std::wstring& folder, const std::wstring& table) {
  ZelLogDbFactory();
  TOpenedData opened;
  opened.Data = MakeComObject<TZelLogRowsetData>(FolderPrefix(folder));
  TOleDbExecParams params;
  params.TableName = table;
  TComPtr<IUnknown> rowset;
  opened.Result = OleDbGuard(*opened.Data, [&] {
    opened.Data->Open(&params);
    CreateRowsetOverData(opened.Data.Get(), OleDbClassOf<TOleDbSchemaRowset>(), nullptr, IID_IUnknown,
                         rowset.Put());
  });
  opened.Error = TakeErrorInfo();
  if (rowset) rowset.As(opened.Rowset, IID_IRowset);
  return opened;
}

}  // namespace

TEST(LogRowsetData, HeldRecordsAreReusedAsHandlesAreReleased) {
  TTempFolder folder(L"pool");
  std::vector<std::string> lines;
  for (int i = 0; i < 500; ++i) lines.push_back("2010-04-01T10:00:00 Pass - OnArrival Info 10.0.0.1 - - - line");
  folder.Write(L"a.log", LogText(lines));
  TOpenedData opened = Open(folder.Name(), L"a.log");
  ASSERT_EQ(S_OK, opened.Result);
  TTableReader reader(opened.Rowset.Get(), TBindingKind::Native);
  EXPECT_EQ(500u, reader.ReadAll(10).size());
  // Ten held at a time, plus the one at the cursor.
  EXPECT_LE(opened.Data->RecordsAllocated(), 11u);
}

TEST(LogRowsetData, EndOfRowsetRepeatsAndRowCountIsKnownOnlyThen) {
  TTempFolder folder(L"end");
  folder.Write(L"a.log", LogText({"2010-04-01T10:00:00 Pass - OnArrival Info - - - - one",
                                  "2010-04-01T10:00:01 Pass - OnArrival Info - - - - two"}));
  TOpenedData opened = Open(folder.Name(), L"a.log");
  ASSERT_EQ(S_OK, opened.Result);
  TTableReader reader(opened.Rowset.Get(), TBindingKind::Native);
  std::vector<HROW> rows;
  EXPECT_EQ(S_OK, reader.Fetch(1, rows));
  EXPECT_EQ(-1, opened.Data->KnownRowCount());
  reader.Release(rows);
  EXPECT_EQ(DB_S_ENDOFROWSET, reader.Fetch(5, rows));
  EXPECT_EQ(1u, rows.size());
  reader.Release(rows);
  EXPECT_EQ(2, opened.Data->KnownRowCount());
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(DB_S_ENDOFROWSET, reader.Fetch(1, rows));
    EXPECT_TRUE(rows.empty());
  }
}

TEST(LogRowsetData, MovingBackFailsWithItsMessageRestartBeforeTheFirstRowSucceeds) {
  TTempFolder folder(L"back");
  folder.Write(L"a.log", LogText({"2010-04-01T10:00:00 Pass - OnArrival Info - - - - one"}));
  TOpenedData opened = Open(folder.Name(), L"a.log");
  ASSERT_EQ(S_OK, opened.Result);
  EXPECT_EQ(S_OK, opened.Rowset->RestartPosition(DB_NULL_HCHAPTER));
  TTableReader reader(opened.Rowset.Get(), TBindingKind::Native);
  std::vector<HROW> rows;
  EXPECT_EQ(S_OK, reader.Fetch(1, rows));
  reader.Release(rows);
  EXPECT_EQ(E_FAIL, opened.Rowset->RestartPosition(DB_NULL_HCHAPTER));
  EXPECT_EQ(L"This operation is not implemented.\rZELLogDb recordsets are not bidirectional.",
            TakeErrorInfo().Description);
  DBCOUNTITEM obtained = 0;
  HROW* handles = nullptr;
  EXPECT_EQ(E_FAIL, opened.Rowset->GetNextRows(DB_NULL_HCHAPTER, 0, -1, &obtained, &handles));
  EXPECT_EQ(0u, obtained);
}

TEST(LogRowsetData, AnUnreadableLineFailsOnlyItsOwnHeldRowAlsoWhenStreamed) {
  TTempFolder folder(L"damaged");
  folder.Write(L"a.log", LogText({"2010-04-01T10:00:00 Pass - OnArrival Info - - - - before", "",
                                  "2010-04-01T10:00:02 Pass - OnArrival Info - - - - after"}));
  for (TBindingKind kind : {TBindingKind::Native, TBindingKind::Stream}) {
    TOpenedData opened = Open(folder.Name(), L"a.log");
    ASSERT_EQ(S_OK, opened.Result);
    TTableReader reader(opened.Rowset.Get(), kind);
    std::vector<HROW> rows;
    EXPECT_EQ(DB_S_ENDOFROWSET, reader.Fetch(10, rows));
    ASSERT_EQ(3u, rows.size());
    HRESULT result = S_OK;
    EXPECT_EQ(L"before", reader.Read(rows[0], result).at(21));
    reader.Read(rows[1], result);
    EXPECT_EQ(E_UNEXPECTED, result);
    EXPECT_NE(std::wstring::npos, TakeErrorInfo().Description.find(L"Range check error"));
    EXPECT_EQ(L"after", reader.Read(rows[2], result).at(21));
    reader.Release(rows);
  }
}

TEST(LogRowsetData, StreamsGiveTextColumnsTimeHasNone) {
  TTempFolder folder(L"stream");
  folder.Write(L"a.log", LogText({"2010-04-01T10:00:00 Pass - OnArrival Info - - - %C5%81%C3%B3d%C5%BA msg"}));
  TOpenedData opened = Open(folder.Name(), L"a.log");
  ASSERT_EQ(S_OK, opened.Result);
  const std::vector<TRowText> streamed = TTableReader(opened.Rowset.Get(), TBindingKind::Stream).ReadAll(1);
  ASSERT_EQ(1u, streamed.size());
  EXPECT_EQ(L"\u0141\u00f3d\u017a", streamed[0][20]);
  EXPECT_EQ(L"Pass", streamed[0][2]);

  TOpenedData again = Open(folder.Name(), L"a.log");
  TComPtr<IAccessor> accessor;
  ASSERT_EQ(S_OK, again.Rowset.As(accessor, IID_IAccessor));
  DBOBJECT object{STGM_READ, IID_ISequentialStream};
  DBBINDING binding{};
  binding.iOrdinal = 6;  // Time
  binding.dwPart = DBPART_VALUE | DBPART_STATUS;
  binding.obStatus = 0;
  binding.obValue = 8;
  binding.wType = DBTYPE_IUNKNOWN;
  binding.pObject = &object;
  binding.cbMaxLen = sizeof(IUnknown*);
  HACCESSOR handle = 0;
  ASSERT_EQ(S_OK, accessor->CreateAccessor(DBACCESSOR_ROWDATA, 1, &binding, 16, &handle, nullptr));
  TTableReader reader(again.Rowset.Get(), TBindingKind::Native);
  std::vector<HROW> rows;
  reader.Fetch(1, rows);
  BYTE buffer[16]{};
  EXPECT_EQ(E_FAIL, again.Rowset->GetData(rows.at(0), handle, buffer));
  EXPECT_NE(std::wstring::npos, TakeErrorInfo().Description.find(L"TZelLogRowsetData.GetColumnBlobStream"));
  reader.Release(rows);
  accessor->ReleaseAccessor(handle, nullptr);
}

TEST(LogRowsetData, ForeignAndMissingFilesAreRefusedWithTheirMessage) {
  TTempFolder folder(L"refused");
  folder.Write(L"foreign.log", "just text\r\n");
  TOpenedData foreign = Open(folder.Name(), L"foreign.log");
  EXPECT_EQ(E_UNEXPECTED, foreign.Result);
  EXPECT_EQ(L"Could not load file, because it is either not an ZEL Text Log file or cannot be opened.\r\n\r\nFile: \"" +
                FolderPrefix(folder.Name()) + L"foreign.log\".",
            foreign.Error.Description);
  EXPECT_EQ(E_UNEXPECTED, Open(folder.Name(), L"missing.log").Result);
}

TEST(LogRowsetData, AFileBeingReadCanBeRenamedAndItsMappedBytesStillRead) {
  TTempFolder folder(L"rotate");
  std::vector<std::string> lines(50, "2010-04-01T10:00:00 Pass - OnArrival Info - - - - line");
  folder.Write(L"a.log", LogText(lines));
  TOpenedData opened = Open(folder.Name(), L"a.log");
  ASSERT_EQ(S_OK, opened.Result);
  TTableReader reader(opened.Rowset.Get(), TBindingKind::Native);
  std::vector<HROW> rows;
  EXPECT_EQ(S_OK, reader.Fetch(1, rows));
  reader.Release(rows);
  EXPECT_TRUE(MoveFileW((folder.Path() / L"a.log").c_str(), (folder.Path() / L"a.log.1").c_str()));
  // The service appends to a new file; the rowset keeps what it mapped.
  folder.Write(L"a.log", LogText({}));
  EXPECT_EQ(49u, reader.ReadAll(100).size());
}

TEST(LogRowsetData, LinesAppendedAfterOpeningAreNotRows) {
  TTempFolder folder(L"grow");
  folder.Write(L"a.log", LogText({"2010-04-01T10:00:00 Pass - OnArrival Info - - - - one"}));
  TOpenedData opened = Open(folder.Name(), L"a.log");
  ASSERT_EQ(S_OK, opened.Result);
  {
    HANDLE file = CreateFileW((folder.Path() / L"a.log").c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    const char more[] = "2010-04-01T10:00:01 Pass - OnArrival Info - - - - two\r\n";
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, more, sizeof more - 1, &written, nullptr));
    CloseHandle(file);
  }
  EXPECT_EQ(1u, TTableReader(opened.Rowset.Get(), TBindingKind::Native).ReadAll(10).size());
}

TEST(LogRowsetData, TimeIsRoundedToTheSecondThenThreeMillisecondsLater) {
  EXPECT_DOUBLE_EQ(0.003 / 86400, ZelLogRowTime(0.4 / 86400));
  // Halves go to the even second.
  EXPECT_DOUBLE_EQ(2.003 / 86400, ZelLogRowTime(2.5 / 86400));
  EXPECT_DOUBLE_EQ(4.003 / 86400, ZelLogRowTime(3.5 / 86400));
}

TEST(LogRowsetData, TableNamesInsideTheFolder) {
  for (const wchar_t* name : {L"a.log", L"sub\\a.log", L"..a.log", L"sub/./a.log"})
    EXPECT_TRUE(IsTableNameInsideFolder(name)) << name;
  for (const wchar_t* name : {L"..\\secret.log", L"sub/../../secret.log", L"C:\\secret.log", L"C:secret.log",
                              L"\\\\server\\share\\secret.log", L"\\secret.log", L"/secret.log", L"...\\x.log",
                              L"sub\\. .\\a.log", L"a.log:stream"})
    EXPECT_FALSE(IsTableNameInsideFolder(name)) << name;
}

TEST(LogRowsetData, DeviceNamesInAnyCaseWithAnyExtension) {
  for (const wchar_t* name : {L"CON", L"prn", L"Aux.log", L"nul.txt.log", L"COM1", L"com9.log", L"LPT1.", L"lpt5 .log",
                              L"COM\u00B9.log", L"lpt\u00B3", L"CONIN$", L"conout$.log", L"sub\\NUL.log",
                              L"sub/com2.x", L"CON . .", L"CON  "})
    EXPECT_TRUE(IsDeviceName(name)) << name;
  for (const wchar_t* name : {L"CONSOLE.log", L"COM10.log", L"COM0.log", L"LPT.log", L"xCOM1.log", L"NULL",
                              L"a.CON", L"COM\u00B4.log", L"CON\\a.log", L"", L"COM", L"con1.log"})
    EXPECT_FALSE(IsDeviceName(name)) << name;
}
