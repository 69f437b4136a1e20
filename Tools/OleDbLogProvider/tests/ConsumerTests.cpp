// The provider end to end as a consumer meets it: created by CLSID through
// the registry, tables opened by IOpenRowset and by commands, listed by the
// schema rowsets.
#include <gtest/gtest.h>
#include <oledberr.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "ProviderTestSupport.h"
#include "ExpectedRows.h"
#include "ZelLogProvider_un.h"

namespace {
// The rows of a schema rowset, each a map from column name to its value as
// text (bound as the columns' own types).
using TSchemaRow = std::map<std::wstring, std::wstring>;

std::vector<TSchemaRow> Schema(const TSession& session, REFGUID schema, std::vector<VARIANT> restrictions,
                               HRESULT* result = nullptr) {
  TComPtr<IDBSchemaRowset> schemas;
  EXPECT_EQ(S_OK, session.Open.As(schemas, IID_IDBSchemaRowset));
  TComPtr<IRowset> rowset;
  const HRESULT hr = schemas->GetRowset(nullptr, schema, static_cast<ULONG>(restrictions.size()),
                                        restrictions.data(), IID_IRowset, 0, nullptr,
                                        reinterpret_cast<IUnknown**>(rowset.Put()));
  for (VARIANT& value : restrictions) VariantClear(&value);
  if (result) *result = hr;
  if (FAILED(hr)) return {};
  const std::vector<std::wstring> columnNames = ColumnNames(rowset.Get());
  std::vector<TSchemaRow> rows;
  for (const TRowText& row : TTableReader(rowset.Get(), TBindingKind::Native).ReadAll(50)) {
    TSchemaRow named;
    for (std::size_t i = 0; i < row.size() && i < columnNames.size(); ++i) named[columnNames[i]] = row[i];
    rows.push_back(named);
  }
  return rows;
}

VARIANT Text(const wchar_t* text) {
  VARIANT value;
  VariantInit(&value);
  if (text) {
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = SysAllocString(text);
  }
  return value;
}
VARIANT Empty() { return Text(nullptr); }

std::wstring ExampleFolder() { return WindowsPath(ZELLOG_EXAMPLE_LOGS); }

const wchar_t* const ExampleTables[] = {L"mail1-20100401.log", L"mail1-20100402-damaged.log", L"mail2-20090315.log"};

// The columns every binding kind gives as the native binding does: wide
// text renders booleans and dates its own way.
TRowText Comparable(TRowText row, TBindingKind kind) {
  if (kind != TBindingKind::WideText || row.size() < 23) return row;
  for (std::size_t column : {1u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u}) row[column].clear();
  return row;
}
}  // namespace

TEST(Consumer, EveryColumnOfEveryExampleRowInEveryBindingAndBatchSize) {
  TSession session = Connect(ExampleFolder());
  ASSERT_TRUE(session.Open);
  for (const wchar_t* table : ExampleTables) {
    const std::vector<TRowText> expected = ExpectedRows(ExampleFolder() + L"\\" + table);
    for (TBindingKind kind : {TBindingKind::Native, TBindingKind::Variant, TBindingKind::Stream,
                              TBindingKind::WideText}) {
      for (DBROWCOUNT batch : {1, 7, 100}) {
        TOpened opened = OpenTable(session, table);
        ASSERT_EQ(S_OK, opened.Result) << opened.Error.Description;
        std::vector<TRowText> rows = TTableReader(opened.Rowset.Get(), kind).ReadAll(batch);
        ASSERT_EQ(expected.size(), rows.size()) << table;
        for (std::size_t i = 0; i < rows.size(); ++i)
          EXPECT_EQ(Comparable(expected[i], kind), Comparable(rows[i], kind))
              << table << " row " << i << " kind " << static_cast<int>(kind) << " batch " << batch;
      }
    }
  }
}

TEST(Consumer, CommandsNameTheFileTheirColumnsAreKnownBeforehand) {
  TSession session = Connect(ExampleFolder());
  ASSERT_TRUE(session.Open);
  const std::vector<TRowText> expected = ExpectedRows(ExampleFolder() + L"\\mail2-20090315.log");
  for (const wchar_t* text : {L"mail2-20090315.log", L"select * from mail2-20090315.log",
                              L"SELECT * FROM \"mail2-20090315.log\""}) {
    TOpened opened = Execute(session, text);
    ASSERT_EQ(S_OK, opened.Result) << opened.Error.Description;
    EXPECT_EQ(expected, TTableReader(opened.Rowset.Get(), TBindingKind::Native).ReadAll(10)) << text;
  }
  TOpened unknown = Execute(session, L"SELECT * FROM mail2-20090315.log WHERE x = 1");
  EXPECT_EQ(DB_E_ERRORSINCOMMAND, unknown.Result);
  EXPECT_NE(std::wstring::npos, unknown.Error.Description.find(L"'x'")) << unknown.Error.Description;
  EXPECT_EQ(DB_E_NOTABLE, Execute(session, L"SELECT * FROM ..\\logs\\mail2-20090315.log").Result);
}

TEST(Consumer, OpenRowsetRefusesNamesThatLeaveTheFolder) {
  TSession session = Connect(ExampleFolder());
  ASSERT_TRUE(session.Open);
  for (const std::wstring& name : {std::wstring(L"..\\logs\\mail2-20090315.log"),
                                   ExampleFolder() + L"\\mail2-20090315.log", std::wstring(L"Z:mail2-20090315.log")}) {
    TOpened opened = OpenTable(session, name);
    EXPECT_EQ(DB_E_NOTABLE, opened.Result) << name;
    EXPECT_NE(std::wstring::npos, opened.Error.Description.find(name)) << name;
  }
}

namespace {
// A call that blocks must fail the run rather than stall it.
class TWatchdog {
public:
  explicit TWatchdog(DWORD milliseconds)
      : done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), thread_([this, milliseconds] {
          if (WaitForSingleObject(done_, milliseconds) != WAIT_TIMEOUT) return;
          std::fprintf(stderr, "blocked reading a device or a pipe\n");
          std::fflush(nullptr);
          TerminateProcess(GetCurrentProcess(), 3);
        }) {}
  ~TWatchdog() {
    SetEvent(done_);
    thread_.join();
    CloseHandle(done_);
  }
  TWatchdog(const TWatchdog&) = delete;
  TWatchdog& operator=(const TWatchdog&) = delete;

private:
  HANDLE done_;
  std::thread thread_;
};
}  // namespace

// Opening a device or a pipe may block for ever: such a table is refused by
// its name, and anything else that is not a file on a disk once it is open,
// before a byte of it is read.
TEST(Consumer, DevicesAndPipesAreRefusedWithoutWaiting) {
  TSession session = Connect(ExampleFolder());
  ASSERT_TRUE(session.Open);
  for (const wchar_t* name : {L"COM1", L"con.log", L"NUL.txt", L"lpt\u00B9. .", L"CONIN$"}) {
    for (const TOpened& opened : {OpenTable(session, name), Execute(session, std::wstring(L"SELECT * FROM ") + name)}) {
      EXPECT_EQ(DB_E_NOTABLE, opened.Result) << name;
      EXPECT_NE(std::wstring::npos, opened.Error.Description.find(name)) << name;
    }
  }

  const std::wstring folder = WindowsPath(ZELLOGDB_NONDISK_FOLDER);
  if (GetFileAttributesW((folder + L"\\ok.log").c_str()) == INVALID_FILE_ATTRIBUTES)
    GTEST_SKIP() << "the pipe and device links are made by the test command";
  // Held open for writing, the pipe would block a reader until data comes.
  HANDLE writer = CreateFileW((folder + L"\\fifo.log").c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  TSession pipes = Connect(folder);
  ASSERT_TRUE(pipes.Open);
  const TWatchdog watchdog(30000);
  for (const wchar_t* name : {L"fifo.log", L"device.log"}) {
    TOpened opened = OpenTable(pipes, name);
    EXPECT_EQ(DB_E_NOTABLE, opened.Result) << name;
    EXPECT_NE(std::wstring::npos, opened.Error.Description.find(name)) << name;
  }
  std::vector<std::wstring> names;
  for (const TSchemaRow& row : Schema(pipes, DBSCHEMA_TABLES, {})) names.push_back(row.at(L"TABLE_NAME"));
  EXPECT_EQ(std::vector<std::wstring>{L"ok.log"}, names);
  EXPECT_EQ(23u, Schema(pipes, DBSCHEMA_COLUMNS, {}).size());
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
}

namespace {
// The two backward properties as GetProperties reports them: VT_BOOL true or
// false, anything else as "?".
std::wstring BackwardsValues(IUnknown* object) {
  DBPROPID ids[] = {DBPROP_CANFETCHBACKWARDS, DBPROP_CANSCROLLBACKWARDS};
  DBPROPIDSET request{ids, 2, DBPROPSET_ROWSET};
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  TComPtr<IRowsetInfo> rowsetInfo;
  TComPtr<ICommandProperties> commandProperties;
  HRESULT hr = E_NOINTERFACE;
  if (SUCCEEDED(object->QueryInterface(IID_IRowsetInfo, rowsetInfo.PutVoid())))
    hr = rowsetInfo->GetProperties(1, &request, &count, &sets);
  else if (SUCCEEDED(object->QueryInterface(IID_ICommandProperties, commandProperties.PutVoid())))
    hr = commandProperties->GetProperties(1, &request, &count, &sets);
  std::wstring values;
  for (ULONG i = 0; SUCCEEDED(hr) && count == 1 && i < sets[0].cProperties; ++i) {
    const VARIANT& value = sets[0].rgProperties[i].vValue;
    values += V_VT(&value) != VT_BOOL ? L"?" : V_BOOL(&value) ? L"true " : L"false ";
    VariantClear(&sets[0].rgProperties[i].vValue);
  }
  if (count > 0) CoTaskMemFree(sets[0].rgProperties);
  CoTaskMemFree(sets);
  return values;
}
}  // namespace

// Consumers choose their fetch strategy from these properties: the log
// rowset reads forward only and must say so.
TEST(Consumer, LogRowsetsSayTheyAreForwardOnly) {
  TSession session = Connect(ExampleFolder());
  ASSERT_TRUE(session.Open);
  TOpened opened = OpenTable(session, L"mail2-20090315.log");
  ASSERT_EQ(S_OK, opened.Result);
  EXPECT_EQ(L"false false ", BackwardsValues(opened.Rowset.Get()));
  DBCOUNTITEM obtained = 0;
  HROW* rows = nullptr;
  EXPECT_EQ(DB_E_CANTFETCHBACKWARDS, opened.Rowset->GetNextRows(DB_NULL_HCHAPTER, 0, -1, &obtained, &rows));
  EXPECT_EQ(DB_E_CANTSCROLLBACKWARDS, opened.Rowset->GetNextRows(DB_NULL_HCHAPTER, -1, 1, &obtained, &rows));
  EXPECT_EQ(0u, obtained);

  // Asking for them true is the usual property error.
  for (DBPROPID id : {DBPROP_CANFETCHBACKWARDS, DBPROP_CANSCROLLBACKWARDS}) {
    DBID table{};
    table.eKind = DBKIND_NAME;
    table.uName.pwszName = const_cast<wchar_t*>(L"mail2-20090315.log");
    for (DBPROPOPTIONS options : {DBPROPOPTIONS_REQUIRED, DBPROPOPTIONS_OPTIONAL}) {
      DBPROP property = MakeProperty(id, VT_BOOL, true, options);
      DBPROPSET set{&property, 1, DBPROPSET_ROWSET};
      TComPtr<IRowset> rowset;
      const HRESULT hr = session.Open->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 1, &set,
                                                  reinterpret_cast<IUnknown**>(rowset.Put()));
      EXPECT_EQ(options == DBPROPOPTIONS_REQUIRED ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED, hr) << id;
      EXPECT_NE(DBPROPSTATUS_OK, property.dwStatus) << id;
      if (rowset) {
        EXPECT_EQ(L"false false ", BackwardsValues(rowset.Get()));
      }
    }
  }

  TComPtr<IDBCreateCommand> create;
  ASSERT_EQ(S_OK, session.Open.As(create, IID_IDBCreateCommand));
  TComPtr<ICommandProperties> command;
  ASSERT_EQ(S_OK, create->CreateCommand(nullptr, IID_ICommandProperties, reinterpret_cast<IUnknown**>(command.Put())));
  EXPECT_EQ(L"false false ", BackwardsValues(command.Get()));
  DBPROP property = MakeProperty(DBPROP_CANFETCHBACKWARDS, VT_BOOL, true);
  DBPROPSET set{&property, 1, DBPROPSET_ROWSET};
  EXPECT_EQ(DB_E_ERRORSOCCURRED, command->SetProperties(1, &set));
}

TEST(Consumer, SchemaRowsetsAgreeWithTheTables) {
  TTempFolder folder(L"schemas");
  folder.Write(L"b.log", LogText({"2010-04-01T10:00:00 Pass - OnArrival Info - - - - one"}));
  folder.Write(L"a.log", LogText({}));
  folder.Write(L"other.log", "not a log\r\n");
  folder.Write(L"c.txt", LogText({}));
  TSession session = Connect(folder.Name());
  ASSERT_TRUE(session.Open);

  TComPtr<IDBSchemaRowset> schemas;
  ASSERT_EQ(S_OK, session.Open.As(schemas, IID_IDBSchemaRowset));
  ULONG count = 0;
  GUID* guids = nullptr;
  ULONG* masks = nullptr;
  ASSERT_EQ(S_OK, schemas->GetSchemas(&count, &guids, &masks));
  ASSERT_EQ(4u, count);
  EXPECT_TRUE(IsEqualGUID(DBSCHEMA_TABLES, guids[0]));
  EXPECT_TRUE(IsEqualGUID(DBSCHEMA_INDEXES, guids[3]));
  EXPECT_EQ((std::vector<ULONG>{0xF, 0xF, 0x3, 0x1F}), std::vector<ULONG>(masks, masks + count));
  CoTaskMemFree(guids);
  CoTaskMemFree(masks);

  const auto tableNames = [](const std::vector<TSchemaRow>& rows) {
    std::vector<std::wstring> names;
    for (const TSchemaRow& row : rows) names.push_back(row.at(L"TABLE_NAME"));
    std::sort(names.begin(), names.end());
    return names;
  };
  const std::vector<std::wstring> both = {L"a.log", L"b.log"};
  EXPECT_EQ(both, tableNames(Schema(session, DBSCHEMA_TABLES, {})));
  EXPECT_EQ(both, tableNames(Schema(session, DBSCHEMA_TABLES, {Empty(), Empty(), Empty(), Empty()})));
  EXPECT_EQ(both, tableNames(Schema(session, DBSCHEMA_TABLES, {Empty(), Empty(), Empty(), Text(L"table")})));
  EXPECT_TRUE(Schema(session, DBSCHEMA_TABLES, {Empty(), Empty(), Empty(), Text(L"VIEW")}).empty());
  EXPECT_TRUE(Schema(session, DBSCHEMA_TABLES, {Text(L"catalog")}).empty());
  EXPECT_EQ(std::vector<std::wstring>{L"b.log"}, tableNames(Schema(session, DBSCHEMA_TABLES, {Empty(), Empty(), Text(L"B.LOG")})));
  // A name no table can have matches nothing; restrictions never open a file.
  for (const wchar_t* impossible : {L"..\\b.log", L"C:b.log", L"NUL", L"com1.log"}) {
    for (REFGUID schema : {DBSCHEMA_TABLES, DBSCHEMA_COLUMNS}) {
      HRESULT result = E_FAIL;
      EXPECT_TRUE(Schema(session, schema, {Empty(), Empty(), Text(impossible)}, &result).empty()) << impossible;
      EXPECT_EQ(S_OK, result) << impossible;
    }
  }

  // COLUMNS says what IColumnsInfo says.
  const std::vector<TSchemaRow> columns = Schema(session, DBSCHEMA_COLUMNS, {Empty(), Empty(), Text(L"b.log")});
  ASSERT_EQ(23u, columns.size());
  TOpened opened = OpenTable(session, L"b.log");
  ASSERT_EQ(S_OK, opened.Result);
  TComPtr<IColumnsInfo> info;
  opened.Rowset.As(info, IID_IColumnsInfo);
  DBORDINAL columnCount = 0;
  DBCOLUMNINFO* infos = nullptr;
  OLECHAR* names = nullptr;
  ASSERT_EQ(S_OK, info->GetColumnInfo(&columnCount, &infos, &names));
  ASSERT_EQ(23u, columnCount);
  for (std::size_t i = 0; i < 23; ++i) {
    const TSchemaRow& row = columns[i];
    EXPECT_EQ(L"b.log", row.at(L"TABLE_NAME"));
    EXPECT_EQ(infos[i].pwszName, row.at(L"COLUMN_NAME"));
    EXPECT_EQ(std::to_wstring(infos[i].iOrdinal), row.at(L"ORDINAL_POSITION"));
    EXPECT_EQ(std::to_wstring(infos[i].wType), row.at(L"DATA_TYPE"));
    EXPECT_EQ(std::to_wstring(infos[i].dwFlags), row.at(L"COLUMN_FLAGS"));
    EXPECT_EQ(L"false", row.at(L"IS_NULLABLE"));
    if (infos[i].wType == DBTYPE_STR || infos[i].wType == DBTYPE_WSTR) {
      EXPECT_EQ(std::to_wstring(infos[i].ulColumnSize), row.at(L"CHARACTER_MAXIMUM_LENGTH")) << infos[i].pwszName;
    }
  }
  CoTaskMemFree(infos);
  CoTaskMemFree(names);
  EXPECT_EQ(46u, Schema(session, DBSCHEMA_COLUMNS, {}).size());
  EXPECT_EQ(2u, Schema(session, DBSCHEMA_COLUMNS, {Empty(), Empty(), Empty(), Text(L"Subject")}).size());
  EXPECT_EQ(2u, Schema(session, DBSCHEMA_COLUMNS, {Empty(), Empty(), Empty(), Text(L"sUBJECT")}).size());

  const std::vector<TSchemaRow> types = Schema(session, DBSCHEMA_PROVIDER_TYPES, {});
  std::vector<std::wstring> typeCodes;
  for (const TSchemaRow& row : types) typeCodes.push_back(row.at(L"DATA_TYPE"));
  std::sort(typeCodes.begin(), typeCodes.end());
  EXPECT_EQ((std::vector<std::wstring>{L"11", L"129", L"130", L"3", L"7"}), typeCodes);
  // The restrictions the mask advertises: DATA_TYPE and BEST_MATCH.
  const auto typeNames = [&](std::vector<VARIANT> restrictions) {
    std::vector<std::wstring> names;
    for (const TSchemaRow& row : Schema(session, DBSCHEMA_PROVIDER_TYPES, std::move(restrictions)))
      names.push_back(row.at(L"TYPE_NAME"));
    return names;
  };
  VARIANT date, unused, bestOnly, notBest;
  VariantInit(&date), VariantInit(&unused), VariantInit(&bestOnly), VariantInit(&notBest);
  V_VT(&date) = V_VT(&unused) = VT_UI2;
  V_UI2(&date) = DBTYPE_DATE;
  V_UI2(&unused) = DBTYPE_GUID;
  V_VT(&bestOnly) = V_VT(&notBest) = VT_BOOL;
  V_BOOL(&bestOnly) = VARIANT_TRUE;
  V_BOOL(&notBest) = VARIANT_FALSE;
  EXPECT_EQ(std::vector<std::wstring>{L"DBTYPE_DATE"}, typeNames({date}));
  EXPECT_EQ(std::vector<std::wstring>{L"DBTYPE_DATE"}, typeNames({date, bestOnly}));
  EXPECT_TRUE(typeNames({unused}).empty());
  EXPECT_TRUE(typeNames({Empty(), notBest}).empty());
  EXPECT_EQ(5u, typeNames({Empty(), bestOnly}).size());
  EXPECT_TRUE(Schema(session, DBSCHEMA_INDEXES, {}).empty());
}

TEST(Consumer, UnicodeFolderAndFileNamesWorkEndToEnd) {
  TTempFolder folder(L"\u0141\u00f3d\u017a");
  const std::wstring name = L"\u65e5\u672c-\u0416.log";
  folder.Write(name, LogText({"2010-04-01T10:00:00 Pass - OnArrival Info - - - - one"}));
  TSession session = Connect(folder.Name());
  ASSERT_TRUE(session.Open);
  const std::vector<TSchemaRow> tables = Schema(session, DBSCHEMA_TABLES, {});
  ASSERT_EQ(1u, tables.size());
  EXPECT_EQ(name, tables[0].at(L"TABLE_NAME"));
  TOpened opened = OpenTable(session, name);
  ASSERT_EQ(S_OK, opened.Result) << opened.Error.Description;
  EXPECT_EQ(1u, TTableReader(opened.Rowset.Get(), TBindingKind::Native).ReadAll(1).size());
  TOpened executed = Execute(session, L"SELECT * FROM \"" + name + L"\"");
  ASSERT_EQ(S_OK, executed.Result) << executed.Error.Description;
  EXPECT_EQ(1u, TTableReader(executed.Rowset.Get(), TBindingKind::Native).ReadAll(1).size());
}

TEST(Consumer, AnEmptyFolderHasNoTables) {
  TTempFolder folder(L"empty");
  TSession session = Connect(folder.Name());
  ASSERT_TRUE(session.Open);
  EXPECT_TRUE(Schema(session, DBSCHEMA_TABLES, {}).empty());
  EXPECT_TRUE(Schema(session, DBSCHEMA_COLUMNS, {}).empty());
}

// Each of these calls, with the k-th task allocation the provider makes in it
// failing for every k in turn, fails with E_OUTOFMEMORY and clears its
// rowset, or gives the full answer; called again it gives the full answer.
TEST(Consumer, CallsRunningOutOfTaskMemoryFailCleanlyOrAnswerInFull) {
  TTempFolder folder(L"memory");
  folder.Write(L"a.log", LogText({"2010-04-01T10:00:00 Pass - OnArrival Info - - - - one",
                                  "2010-04-01T10:00:01 Pass - OnArrival Info - - - - two"}));
  TSession session = Connect(folder.Name());
  ASSERT_TRUE(session.Open);
  const auto* image = reinterpret_cast<const BYTE*>(GetModuleHandleW(L"zellogdb.dll"));
  ASSERT_TRUE(image);
  const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      image + reinterpret_cast<const IMAGE_DOS_HEADER*>(image)->e_lfanew);
  const BYTE* imageEnd = image + headers->OptionalHeader.SizeOfImage;

  TComPtr<IDBSchemaRowset> schemas;
  ASSERT_EQ(S_OK, session.Open.As(schemas, IID_IDBSchemaRowset));
  using TOpen = HRESULT (*)(const TSession&, IDBSchemaRowset&, TComPtr<IRowset>&);
  const std::pair<const char*, TOpen> calls[] = {
      {"tables", [](const TSession&, IDBSchemaRowset& s, TComPtr<IRowset>& r) {
         return s.GetRowset(nullptr, DBSCHEMA_TABLES, 0, nullptr, IID_IRowset, 0, nullptr,
                            reinterpret_cast<IUnknown**>(r.Put()));
       }},
      {"columns", [](const TSession&, IDBSchemaRowset& s, TComPtr<IRowset>& r) {
         return s.GetRowset(nullptr, DBSCHEMA_COLUMNS, 0, nullptr, IID_IRowset, 0, nullptr,
                            reinterpret_cast<IUnknown**>(r.Put()));
       }},
      {"open", [](const TSession& session, IDBSchemaRowset&, TComPtr<IRowset>& r) {
         DBID id{};
         id.eKind = DBKIND_NAME;
         id.uName.pwszName = const_cast<wchar_t*>(L"a.log");
         return session.Open->OpenRowset(nullptr, &id, nullptr, IID_IRowset, 0, nullptr,
                                         reinterpret_cast<IUnknown**>(r.Put()));
       }},
  };
  TTaskMemorySpy& spy = TTaskMemorySpy::Instance();
  for (const auto& [name, open] : calls) {
    TComPtr<IRowset> rowset;
    ASSERT_EQ(S_OK, open(session, *schemas, rowset)) << name;
    const std::vector<TRowText> expected = TTableReader(rowset.Get(), TBindingKind::WideText).ReadAll(50);
    for (std::uint64_t k = 1;; ++k) {
      rowset = nullptr;
      spy.InjectFailure(image, imageEnd, k);
      const HRESULT result = open(session, *schemas, rowset);
      const bool injected = spy.Injected();
      spy.StopInjecting();
      TakeErrorInfo();
      if (result == E_OUTOFMEMORY) {
        EXPECT_FALSE(rowset) << name << " " << k;
        ASSERT_EQ(S_OK, open(session, *schemas, rowset)) << name << " " << k;
      } else {
        ASSERT_EQ(S_OK, result) << name << " " << k;
      }
      EXPECT_EQ(expected, TTableReader(rowset.Get(), TBindingKind::WideText).ReadAll(50)) << name << " " << k;
      if (!injected) break;
    }
  }
}

TEST(Consumer, SchemaRowsetsDescribeAPatternThatMatchesALog) {
  TTempFolder folder(L"patternschemas");
  folder.Write(L"a1.log", LogText({}));
  folder.Write(L"other.log", "not a log\r\n");
  TSession session = Connect(folder.Name());
  ASSERT_TRUE(session.Open);
  const std::vector<TSchemaRow> tables = Schema(session, DBSCHEMA_TABLES, {Empty(), Empty(), Text(L"A?.LOG")});
  ASSERT_EQ(1u, tables.size());
  EXPECT_EQ(L"A?.LOG", tables[0].at(L"TABLE_NAME"));
  for (const wchar_t* none : {L"other*", L"a*\\*.log"})
    for (REFGUID schema : {DBSCHEMA_TABLES, DBSCHEMA_COLUMNS})
      EXPECT_TRUE(Schema(session, schema, {Empty(), Empty(), Text(none)}).empty()) << none;
  // The file's columns, then its name.
  const std::vector<TSchemaRow> file = Schema(session, DBSCHEMA_COLUMNS, {Empty(), Empty(), Text(L"a1.log")});
  std::vector<TSchemaRow> pattern = Schema(session, DBSCHEMA_COLUMNS, {Empty(), Empty(), Text(L"a*")});
  ASSERT_EQ(file.size() + 1, pattern.size());
  EXPECT_EQ(L"LogFile", pattern.back().at(L"COLUMN_NAME"));
  EXPECT_EQ(std::to_wstring(DBTYPE_WSTR), pattern.back().at(L"DATA_TYPE"));
  EXPECT_EQ(std::to_wstring(MAX_PATH), pattern.back().at(L"CHARACTER_MAXIMUM_LENGTH"));
  for (std::size_t i = 0; i < file.size(); ++i) {
    pattern[i][L"TABLE_NAME"] = L"a1.log";
    EXPECT_EQ(file[i], pattern[i]);
  }
}

// Long enough for a second thread to read ahead: every row, damaged ones and
// a file gone before its turn among them, as the log layer reads them, also
// under TOP and when the consumer lets the rowset go halfway.
TEST(Consumer, ALongLogReadAheadGivesEveryRowAsTheLogLayerReadsIt) {
  TTempFolder folder(L"readahead");
  std::ostringstream damaged;
  damaged << std::ifstream(std::filesystem::path(ZELLOG_EXAMPLE_LOGS) / "mail1-20100402-damaged.log",
                           std::ios::binary)
                 .rdbuf();
  const std::string example = damaged.str();
  std::string text = example;
  // The data lines with the directives among them, many times over.
  for (int i = 0; i < 900; ++i) text += example.substr(example.find("\n2010") + 1);
  for (const wchar_t* name : {L"a1.log", L"a2.log"}) folder.Write(name, text);
  folder.Write(L"a3.log", example);
  const std::vector<TRowText> expected = ExpectedRows(folder.Name() + L"\\a1.log");
  ASSERT_GT(expected.size(), 7000u);
  TSession session = Connect(folder.Name());
  const auto read = [&](const std::wstring& table, DBROWCOUNT batch) {
    TOpened opened = table.starts_with(L"SELECT") ? Execute(session, table) : OpenTable(session, table);
    EXPECT_EQ(S_OK, opened.Result) << opened.Error.Description;
    return opened.Rowset ? TTableReader(opened.Rowset.Get(), TBindingKind::Native).ReadAll(batch)
                         : std::vector<TRowText>{};
  };
  EXPECT_EQ(expected, read(L"a1.log", 1));
  EXPECT_EQ(expected, read(L"a1.log", 100));
  EXPECT_EQ(std::vector<TRowText>(expected.begin(), expected.begin() + 5000),
            read(L"SELECT TOP 5000 * FROM a1.log", 100));

  TOpened pattern = OpenTable(session, L"a?.log");
  ASSERT_EQ(S_OK, pattern.Result) << pattern.Error.Description;
  std::filesystem::remove(folder.Path() / L"a2.log");
  std::vector<TRowText> rows = expected;
  rows.push_back({L"!GetData"});
  for (const TRowText& row : ExpectedRows(folder.Name() + L"\\a3.log")) rows.push_back(row);
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (rows[i].size() > 1) rows[i].push_back(i < expected.size() ? L"a1.log" : L"a3.log");
  EXPECT_EQ(rows, TTableReader(pattern.Rowset.Get(), TBindingKind::Native).ReadAll(100));

  TOpened halfway = OpenTable(session, L"a1.log");
  TTableReader reader(halfway.Rowset.Get(), TBindingKind::Native);
  std::vector<HROW> held;
  for (int i = 0; i < 50; ++i) {
    reader.Fetch(100, held);
    reader.Release(held);
  }
}
