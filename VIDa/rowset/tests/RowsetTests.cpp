#include <gtest/gtest.h>

#include <oledberr.h>

#include <memory>
#include <string>
#include <vector>

#include "Diagnostics.h"
#include "OLEDbFactory.h"
#include "OLEDbIndexCursor.h"
#include "OLEDbRowset.h"
#include "TestProvider.h"

namespace {

// Rows 0..n-1 of one I4 column "ID" holding the row number.
class TNumberedRowsData : public TOleDbRowsetData {
public:
  explicit TNumberedRowsData(std::int32_t rows = 3) : rows_(rows) { Columns().AddColumn(L"ID", DBTYPE_I4, 4); }

  void GetColumnReadBuffer(TOleDbDataMode, std::int32_t rowValue, const TOleDbColumn&, void*& data, DBLENGTH&,
                           bool& isNull) override {
    value_ = rowValue;
    data = &value_;
    isNull = false;
  }
  TOleDbCursorPosition MoveCursor(TOleDbMoveKind kind, DBCOUNTITEM count) override {
    return MoveIndexCursor(current_, rows_, kind, count);
  }
  TOleDbCursorPosition FetchCurrentRow(TOleDbRowHandle& handle) override {
    const TOleDbCursorPosition position = MoveCursor(TOleDbMoveKind::Stay, 0);
    if (position == TOleDbCursorPosition::OnRow) handle.SetRowValue(current_);
    return position;
  }
  HRESULT Open(TOleDbExecParams* request) override {
    OpenedTable = request->TableName;
    return S_OK;
  }
  void GetAvailableColumns(std::vector<TOleDbDBID>& columnIds) override { columnIds = Optional; }

  std::wstring OpenedTable;
  std::vector<TOleDbDBID> Optional;

private:
  std::int32_t rows_;
  std::int32_t current_ = -1;
  LONG value_ = 0;
};

// A concrete rowset whose CreateRowsetData takes what the test prepared.
class TPreparedRowset : public TOleDbRowset {
public:
  static constexpr const wchar_t* ClassName = L"TPreparedRowset";
  void CreateRowsetData(TOleDbExecParams&) override {
    if (PreparedData) AttachData(PreparedData.Get());
    SetCapabilities(PreparedCapabilities);
  }
  TComPtr<IOleDbRowsetData> PreparedData;
  std::uint8_t PreparedCapabilities = 0;
};

template <class T>
const TOleDbClass& RegisteredClass() {
  static const std::unique_ptr<TComObjectFactory> factory = RegisterInternalClass(ComServer(), &OleDbClassOf<T>());
  return OleDbClassOf<T>();
}

template <class I>
TComPtr<I> Query(const TComPtr<IUnknown>& unknown, REFIID riid) {
  TComPtr<I> result;
  unknown->QueryInterface(riid, result.PutVoid());
  return result;
}

struct TOpenedRowset {
  TComPtr<IUnknown> Unknown;
  TComPtr<TNumberedRowsData> Data;
  TPreparedRowset& Object() const {
    return dynamic_cast<TPreparedRowset&>(*Query<IOleDbClass>(Unknown, IID_IOleDbClass)->GetObject());
  }
};

// Created and opened the way a session does it.
TOpenedRowset OpenRowset(std::uint8_t capabilities) {
  TOpenedRowset opened;
  CreateOleDbObject(RegisteredClass<TPreparedRowset>(), nullptr, IID_IUnknown, opened.Unknown.PutVoid());
  opened.Data = MakeComObject<TNumberedRowsData>();
  opened.Object().PreparedData = TComPtr<IOleDbRowsetData>(opened.Data.Get());
  opened.Object().PreparedCapabilities = capabilities;
  TOleDbExecParams params;
  params.TableName = L"table.log";
  Query<IOleDbRowsetInit>(opened.Unknown, IID_IOleDbRowsetInit)->Open(params);
  return opened;
}

VARIANT RowsetProperty(const TComPtr<IUnknown>& rowset, DBPROPID id) {
  DBPROPIDSET request = {&id, 1, DBPROPSET_ROWSET};
  ULONG setCount = 0;
  DBPROPSET* sets = nullptr;
  EXPECT_EQ(S_OK, Query<IRowsetInfo>(rowset, IID_IRowsetInfo)->GetProperties(1, &request, &setCount, &sets));
  VARIANT value = sets[0].rgProperties[0].vValue;
  CoTaskMemFree(sets[0].rgProperties);
  CoTaskMemFree(sets);
  return value;
}

bool BoolProperty(const TComPtr<IUnknown>& rowset, DBPROPID id) {
  VARIANT value = RowsetProperty(rowset, id);
  EXPECT_EQ(VT_BOOL, V_VT(&value));
  return V_BOOL(&value) == VARIANT_TRUE;
}

class TDebugCapture {
public:
  TDebugCapture() : previous_(SetDebugSink([this](std::string_view line) { Lines.emplace_back(line); })) {}
  ~TDebugCapture() { SetDebugSink(previous_); }
  std::vector<std::string> Lines;

private:
  TDebugSink previous_;
};

HRESULT QueryResult(const TComPtr<IUnknown>& unknown, REFIID riid) {
  TComPtr<IUnknown> answer;
  return unknown->QueryInterface(riid, answer.PutVoid());
}

}  // namespace

TEST(RowsetQueryInterface, OptionalInterfacesFollowTheCapabilityBits) {
  const IID* const optional[] = {&IID_IRowsetLocate, &IID_IRowsetScroll, &IID_IRowsetChange, &IID_IRowsetUpdate,
                                 &IID_IRowsetRefresh};
  TOpenedRowset notifying = OpenRowset(OleDbCapabilityNotify);
  TOpenedRowset everything = OpenRowset(0xFF);
  TDebugCapture debug;
  for (const IID* iid : optional) {
    EXPECT_EQ(E_NOINTERFACE, QueryResult(notifying.Unknown, *iid)) << GuidToAnsiString(*iid);
    EXPECT_EQ(S_OK, QueryResult(everything.Unknown, *iid)) << GuidToAnsiString(*iid);
  }
  EXPECT_EQ(S_OK, QueryResult(notifying.Unknown, IID_IConnectionPointContainer));
  for (const IID* iid : {&IID_IRowset, &IID_IAccessor, &IID_IColumnsInfo, &IID_IColumnsRowset, &IID_IRowsetInfo,
                         &IID_IConvertType, &IID_IRowsetIdentity})
    EXPECT_EQ(S_OK, QueryResult(notifying.Unknown, *iid)) << GuidToAnsiString(*iid);
  EXPECT_TRUE(debug.Lines.empty()) << "a refused optional interface is not logged";
  EXPECT_FALSE(BoolProperty(notifying.Unknown, DBPROP_IRowsetLocate));
  EXPECT_FALSE(BoolProperty(notifying.Unknown, DBPROP_BOOKMARKS));
  EXPECT_TRUE(BoolProperty(notifying.Unknown, DBPROP_IConnectionPointContainer));

  EXPECT_EQ(E_NOINTERFACE, QueryResult(notifying.Unknown, IID_ICommand));
  ASSERT_EQ(1u, debug.Lines.size());
  EXPECT_EQ("Rowset QI Fail: {0C733A63-2A1C-11CE-ADE5-00AA0044773D}", debug.Lines[0]);
}

TEST(RowsetQueryInterface, SharedOperationTablesReachTheRightMethods) {
  TOpenedRowset opened = OpenRowset(0xFF);
  // IRowsetScroll's table answers IRowset and IRowsetLocate: a fetch through
  // each must be a fetch.
  for (const IID* iid : {&IID_IRowset, &IID_IRowsetLocate, &IID_IRowsetScroll}) {
    TComPtr<IRowset> rowset = Query<IRowset>(opened.Unknown, *iid);
    ASSERT_EQ(S_OK, rowset->RestartPosition(DB_NULL_HCHAPTER));
    DBCOUNTITEM obtained = 0;
    HROW row = DB_NULL_HROW;
    HROW* rows = &row;
    EXPECT_EQ(S_OK, rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, &rows));
    EXPECT_EQ(S_OK, rowset->ReleaseRows(obtained, &row, nullptr, nullptr, nullptr));
  }
  TComPtr<IRowsetUpdate> update = Query<IRowsetUpdate>(opened.Unknown, IID_IRowsetUpdate);
  EXPECT_EQ(static_cast<IRowsetChange*>(update.Get()), Query<IRowsetChange>(opened.Unknown, IID_IRowsetChange).Get());
}

TEST(RowsetCapabilities, MirrorsIntoRowsetProperties) {
  TOpenedRowset opened = OpenRowset(0x11);
  EXPECT_TRUE(BoolProperty(opened.Unknown, DBPROP_BOOKMARKS));
  EXPECT_TRUE(BoolProperty(opened.Unknown, DBPROP_IRowsetScroll));
  try {
    opened.Object().SetCapabilities(0x10);
    ADD_FAILURE() << "scrolling without bookmarks accepted";
  } catch (const EOleError& e) {
    EXPECT_EQ(E_FAIL, e.ErrorCode());
    EXPECT_EQ(L"Bookmark support is required for scrolling", e.Message());
  }
  EXPECT_EQ(0x11, opened.Object().Capabilities()) << "a refused set changes nothing";

  opened.Object().SetCapabilities(0x0A);
  VARIANT updatability = RowsetProperty(opened.Unknown, DBPROP_UPDATABILITY);
  EXPECT_EQ(VT_I4, V_VT(&updatability));
  EXPECT_EQ(DBPROPVAL_UP_CHANGE | DBPROPVAL_UP_INSERT, V_I4(&updatability));
  EXPECT_TRUE(BoolProperty(opened.Unknown, DBPROP_IRowsetChange));
  EXPECT_FALSE(BoolProperty(opened.Unknown, DBPROP_IRowsetScroll));
  EXPECT_TRUE(BoolProperty(opened.Unknown, DBPROP_IColumnsRowset));

  // Accessors follow DBPROP_BOOKMARKS: ordinal 0 only with bookmarks.
  DBBINDING bookmark = {};
  bookmark.dwPart = DBPART_VALUE;
  bookmark.wType = DBTYPE_I4;
  TComPtr<IAccessor> accessor = Query<IAccessor>(opened.Unknown, IID_IAccessor);
  HACCESSOR handle = DB_NULL_HACCESSOR;
  DBBINDSTATUS status = DBBINDSTATUS_OK;
  EXPECT_EQ(DB_E_ERRORSOCCURRED, accessor->CreateAccessor(DBACCESSOR_ROWDATA, 1, &bookmark, 0, &handle, &status));
  EXPECT_EQ(DBBINDSTATUS_BADORDINAL, status);
  opened.Object().SetCapabilities(OleDbCapabilityLocate);
  EXPECT_EQ(S_OK, accessor->CreateAccessor(DBACCESSOR_ROWDATA, 1, &bookmark, 0, &handle, &status));
}

TEST(RowsetOpen, CreatesInitialisesAndOpensTheData) {
  TOpenedRowset opened = OpenRowset(0);
  EXPECT_EQ(L"table.log", opened.Data->OpenedTable);
  EXPECT_EQ(static_cast<IOleDbRowsetDataOwner*>(&opened.Object()), opened.Data->GetOwner());
  DBORDINAL ordinal = 0;
  const DBID byName = {{GUID_NULL}, DBKIND_NAME, {const_cast<LPOLESTR>(L"ID")}};
  EXPECT_EQ(S_OK, Query<IColumnsInfo>(opened.Unknown, IID_IColumnsInfo)->MapColumnIDs(1, &byName, &ordinal));
  EXPECT_EQ(1u, ordinal) << "the data's columns answer IColumnsInfo";

  TComPtr<IRowset> rowset = Query<IRowset>(opened.Unknown, IID_IRowset);
  DBCOUNTITEM obtained = 0;
  HROW* rows = nullptr;
  ASSERT_EQ(S_OK, rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 2, &obtained, &rows));
  TComPtr<IRowsetIdentity> identity = Query<IRowsetIdentity>(opened.Unknown, IID_IRowsetIdentity);
  EXPECT_EQ(S_OK, identity->IsSameRow(rows[0], rows[0]));
  EXPECT_EQ(S_FALSE, identity->IsSameRow(rows[0], rows[1]));
  EXPECT_EQ(S_OK, rowset->ReleaseRows(obtained, rows, nullptr, nullptr, nullptr));
  CoTaskMemFree(rows);
}

TEST(RowsetOpen, RejectsMissingDataAndOutputPointers) {
  TComPtr<IUnknown> empty;
  CreateOleDbObject(RegisteredClass<TPreparedRowset>(), nullptr, IID_IUnknown, empty.PutVoid());
  TOleDbExecParams params;
  try {
    Query<IOleDbRowsetInit>(empty, IID_IOleDbRowsetInit)->Open(params);
    ADD_FAILURE() << "opened without rowset data";
  } catch (const EOleError& e) {
    EXPECT_EQ(L"Unable to initialize rowset data", e.Message());
  }
  EXPECT_EQ(E_FAIL, Query<IRowset>(empty, IID_IRowset)->RestartPosition(DB_NULL_HCHAPTER));

  TOpenedRowset opened = OpenRowset(OleDbCapabilityLocate);
  TComPtr<IRowsetLocate> locate = Query<IRowsetLocate>(opened.Unknown, IID_IRowsetLocate);
  HROW* rows = nullptr;
  DBCOUNTITEM obtained = 99;
  EXPECT_EQ(E_INVALIDARG, locate->GetNextRows(DB_NULL_HCHAPTER, 0, 1, nullptr, &rows));
  EXPECT_EQ(E_INVALIDARG, locate->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, nullptr));
  EXPECT_EQ(0u, obtained);
  const BYTE first = DBBMK_FIRST;
  EXPECT_EQ(E_INVALIDARG, locate->Compare(DB_NULL_HCHAPTER, 1, &first, 1, &first, nullptr));
  EXPECT_EQ(E_INVALIDARG, locate->GetRowsAt(0, DB_NULL_HCHAPTER, 1, &first, 0, 1, nullptr, &rows));
}

TEST(RowsetLifetime, DataHeldElsewhereIsDetachedFromTheDeadRowset) {
  TComPtr<TNumberedRowsData> data;
  {
    TOpenedRowset opened = OpenRowset(0);
    data = opened.Data;
    DBCOUNTITEM obtained = 0;
    HROW* rows = nullptr;
    ASSERT_EQ(S_OK, Query<IRowset>(opened.Unknown, IID_IRowset)->GetNextRows(DB_NULL_HCHAPTER, 0, 2, &obtained, &rows));
    CoTaskMemFree(rows);  // the rows are still held when the rowset goes
  }
  EXPECT_EQ(nullptr, data->GetOwner());
}

TEST(RowsetConvertType, ChecksFlagsThenAsksTheConversionLibrary) {
  TComPtr<IConvertType> convert = Query<IConvertType>(OpenRowset(0).Unknown, IID_IConvertType);
  EXPECT_EQ(DB_E_BADCONVERTFLAG, convert->CanConvert(DBTYPE_I4, DBTYPE_WSTR, DBCONVERTFLAGS_PARAMETER));
  EXPECT_EQ(DB_E_BADTYPE, convert->CanConvert(DBTYPE_I4, DBTYPE_WSTR, DBCONVERTFLAGS_FROMVARIANT));
  EXPECT_EQ(S_OK, convert->CanConvert(DBTYPE_VARIANT, DBTYPE_I4, DBCONVERTFLAGS_FROMVARIANT));
  EXPECT_EQ(S_OK, convert->CanConvert(DBTYPE_I4, DBTYPE_WSTR, DBCONVERTFLAGS_COLUMN));
  EXPECT_EQ(S_FALSE, convert->CanConvert(DBTYPE_I4, DBTYPE_GUID, DBCONVERTFLAGS_COLUMN));
}

TEST(RowsetInfo, SpecificationAndReferencedRowset) {
  TOpenedRowset opened = OpenRowset(0);
  TComPtr<IRowsetInfo> info = Query<IRowsetInfo>(opened.Unknown, IID_IRowsetInfo);
  IUnknown* answer = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(S_FALSE, info->GetSpecification(IID_IUnknown, &answer));
  EXPECT_EQ(nullptr, answer);
  EXPECT_EQ(E_INVALIDARG, info->GetSpecification(IID_IUnknown, nullptr));

  TComPtr<TTestSession> session = MakeComObject<TTestSession>();
  opened.Object().SetParent(session.Get());
  ASSERT_EQ(S_OK, info->GetSpecification(IID_IGetDataSource, &answer));
  EXPECT_EQ(static_cast<IGetDataSource*>(session.Get()), answer);
  answer->Release();
  EXPECT_EQ(E_NOINTERFACE, info->GetSpecification(IID_ICommand, &answer));
  EXPECT_EQ(nullptr, answer);

  answer = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(DB_E_NOTAREFERENCECOLUMN, info->GetReferencedRowset(1, IID_IRowset, &answer));
  EXPECT_EQ(nullptr, answer);
  EXPECT_EQ(E_INVALIDARG, info->GetReferencedRowset(1, IID_IRowset, nullptr));
}

TEST(RowsetAvailableColumns, CopiesTheDataListForTheConsumer) {
  TOpenedRowset opened = OpenRowset(0);
  TComPtr<IColumnsRowset> columnsRowset = Query<IColumnsRowset>(opened.Unknown, IID_IColumnsRowset);
  DBORDINAL count = 99;
  DBID* ids = reinterpret_cast<DBID*>(1);
  EXPECT_EQ(S_OK, columnsRowset->GetAvailableColumns(&count, &ids));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(nullptr, ids);
  EXPECT_EQ(E_INVALIDARG, columnsRowset->GetAvailableColumns(nullptr, &ids));

  opened.Data->Optional.resize(2);
  opened.Data->Optional[0].Assign(DBID{{GUID_NULL}, DBKIND_NAME, {const_cast<LPOLESTR>(L"EXTRA")}});
  opened.Data->Optional[1].Assign(DBCOLUMN_BASECOLUMNNAME);
  ASSERT_EQ(S_OK, columnsRowset->GetAvailableColumns(&count, &ids));
  ASSERT_EQ(2u, count);
  EXPECT_TRUE(DBIDEquals(DBCOLUMN_BASECOLUMNNAME, ids[1]));
  opened.Data->Optional.clear();  // the consumer's copy owns its name
  EXPECT_STREQ(L"EXTRA", ids[0].uName.pwszName);
  for (DBORDINAL i = 0; i < count; ++i) DBIDRelease(ids[i]);
  CoTaskMemFree(ids);
}
