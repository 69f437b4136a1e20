#include <gtest/gtest.h>

#include <oledberr.h>

#include <memory>
#include <string>
#include <vector>

#include "Diagnostics.h"
#include "OLEDbFactory.h"
#include "OLEDbRowset.h"
#include "OLEDbSchemaRowset.h"
#include "TestProvider.h"

namespace {

// Rows 1..n with an I4 "ID" and a wide "NAME" column.
class TNumberedRowsData : public TOleDbRowsetData {
public:
  explicit TNumberedRowsData(int rows = 3) {
    Columns->AddColumn(L"ID", DBTYPE_I4, 4);
    Columns->AddColumn(L"NAME", DBTYPE_WSTR, 40);
    for (int i = 1; i <= rows; ++i) {
      ids_.push_back(i);
      names_.push_back(L"row" + std::to_wstring(i));
    }
  }

  void GetColumnReadBuffer(TOleDbDataMode, std::int32_t rowValue, const TOleDbColumn& column, void*& data,
                           DBLENGTH&, bool& isNull) override {
    isNull = false;
    if (column.Index == 0)
      data = &ids_.at(rowValue);
    else
      data = names_.at(rowValue).data();
  }
  TOleDbCursorPosition MoveCursor(TOleDbMoveKind kind, DBCOUNTITEM count) override {
    const auto rows = static_cast<std::ptrdiff_t>(ids_.size());
    const auto n = static_cast<std::ptrdiff_t>(count);
    if (kind == TOleDbMoveKind::Forward) current_ = std::min(current_ + n, rows);
    if (kind == TOleDbMoveKind::Backward) current_ = std::max<std::ptrdiff_t>(current_ - n, -1);
    if (kind == TOleDbMoveKind::ToStart) current_ = -1;
    if (kind == TOleDbMoveKind::ToEnd) current_ = rows;
    return Position();
  }
  TOleDbCursorPosition FetchCurrentRow(TOleDbRowHandle& handle) override {
    if (Position() == TOleDbCursorPosition::OnRow) handle.SetRowValue(static_cast<std::int32_t>(current_));
    return Position();
  }
  HRESULT Open(TOleDbExecParams* request) override {
    OpenedTable = request->TableName;
    return S_OK;
  }
  void GetAvailableColumns(std::vector<TOleDbDBID>& columnIds) override { columnIds = Optional; }

  std::wstring OpenedTable;
  std::vector<TOleDbDBID> Optional;

private:
  TOleDbCursorPosition Position() const noexcept {
    if (current_ >= static_cast<std::ptrdiff_t>(ids_.size())) return TOleDbCursorPosition::AfterLast;
    return current_ < 0 ? TOleDbCursorPosition::BeforeFirst : TOleDbCursorPosition::OnRow;
  }
  std::vector<LONG> ids_;
  std::vector<std::wstring> names_;
  std::ptrdiff_t current_ = -1;
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

template <class T>
T& ObjectOf(IUnknown* unknown) {
  TComPtr<IOleDbClass> toolkitObject;
  EXPECT_EQ(S_OK, unknown->QueryInterface(IID_IOleDbClass, toolkitObject.PutVoid()));
  return dynamic_cast<T&>(*toolkitObject->GetObject());
}

template <class I>
TComPtr<I> Query(IUnknown* unknown, REFIID riid) {
  TComPtr<I> result;
  unknown->QueryInterface(riid, result.PutVoid());
  return result;
}

// A rowset opened over prepared data, as a session opens one.
struct TOpenedRowset {
  TComPtr<IUnknown> Unknown;
  TComPtr<TNumberedRowsData> Data;
  TPreparedRowset& Object() const { return ObjectOf<TPreparedRowset>(Unknown.Get()); }
};

TOpenedRowset OpenRowset(std::uint8_t capabilities, int rows = 3) {
  TOpenedRowset opened;
  CreateOleDbObject(RegisteredClass<TPreparedRowset>(), nullptr, IID_IUnknown, opened.Unknown.PutVoid());
  opened.Data = MakeComObject<TNumberedRowsData>(rows);
  opened.Object().PreparedData = TComPtr<IOleDbRowsetData>(opened.Data.Get());
  opened.Object().PreparedCapabilities = capabilities;
  TOleDbExecParams params;
  params.TableName = L"table.log";
  Query<IOleDbRowsetInit>(opened.Unknown.Get(), IID_IOleDbRowsetInit)->Open(params);
  return opened;
}

TComPtr<IUnknown> SchemaRowsetOver(IOleDbRowsetData* data) {
  TComPtr<IUnknown> rowset;
  CreateRowsetOverData(data, RegisteredClass<TOleDbSchemaRowset>(), nullptr, IID_IUnknown, rowset.Put());
  return rowset;
}

// One ROWSET property as the consumer reads it.
VARIANT RowsetProperty(IUnknown* rowset, DBPROPID id) {
  DBPROPIDSET request = {&id, 1, DBPROPSET_ROWSET};
  ULONG setCount = 0;
  DBPROPSET* sets = nullptr;
  EXPECT_EQ(S_OK, Query<IRowsetInfo>(rowset, IID_IRowsetInfo)->GetProperties(1, &request, &setCount, &sets));
  VARIANT value = sets[0].rgProperties[0].vValue;
  CoTaskMemFree(sets[0].rgProperties);
  CoTaskMemFree(sets);
  return value;
}

bool BoolProperty(IUnknown* rowset, DBPROPID id) {
  VARIANT value = RowsetProperty(rowset, id);
  EXPECT_EQ(VT_BOOL, V_VT(&value));
  return V_BOOL(&value) == VARIANT_TRUE;
}

std::wstring ErrorDescription() {
  TComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Put()) != S_OK || !info) return {};
  BSTR text = nullptr;
  info->GetDescription(&text);
  std::wstring result = text ? text : L"";
  SysFreeString(text);
  return result;
}

class TDebugCapture {
public:
  TDebugCapture() : previous_(SetDebugSink([this](std::string_view line) { Lines.emplace_back(line); })) {}
  ~TDebugCapture() { SetDebugSink(previous_); }
  std::vector<std::string> Lines;

private:
  TDebugSink previous_;
};

const IID* const OptionalIIDs[] = {&IID_IRowsetLocate, &IID_IRowsetScroll, &IID_IRowsetChange,
                                   &IID_IRowsetUpdate, &IID_IRowsetRefresh, &IID_IConnectionPointContainer};

}  // namespace

TEST(RowsetQueryInterface, OptionalInterfacesFollowTheCapabilityBits) {
  TOpenedRowset notifying = OpenRowset(OleDbCapabilityNotify);
  TDebugCapture debug;
  for (const IID* iid : OptionalIIDs) {
    TComPtr<IUnknown> answer;
    const HRESULT expected = *iid == IID_IConnectionPointContainer ? S_OK : E_NOINTERFACE;
    EXPECT_EQ(expected, notifying.Unknown->QueryInterface(*iid, answer.PutVoid())) << GuidToAnsiString(*iid);
  }
  EXPECT_TRUE(debug.Lines.empty()) << "a refused optional interface is not a failure worth logging";
  for (const IID* iid : {&IID_IRowset, &IID_IAccessor, &IID_IColumnsInfo, &IID_IColumnsRowset, &IID_IRowsetInfo,
                         &IID_IConvertType, &IID_IRowsetIdentity, &IID_ISupportErrorInfo}) {
    TComPtr<IUnknown> answer;
    EXPECT_EQ(S_OK, notifying.Unknown->QueryInterface(*iid, answer.PutVoid())) << GuidToAnsiString(*iid);
  }
  EXPECT_FALSE(BoolProperty(notifying.Unknown.Get(), DBPROP_IRowsetLocate));
  EXPECT_FALSE(BoolProperty(notifying.Unknown.Get(), DBPROP_BOOKMARKS));
  EXPECT_TRUE(BoolProperty(notifying.Unknown.Get(), DBPROP_IConnectionPointContainer));

  TOpenedRowset everything = OpenRowset(0xFF);
  for (const IID* iid : OptionalIIDs) {
    TComPtr<IUnknown> answer;
    EXPECT_EQ(S_OK, everything.Unknown->QueryInterface(*iid, answer.PutVoid())) << GuidToAnsiString(*iid);
  }
  EXPECT_TRUE(debug.Lines.empty());
}

TEST(RowsetQueryInterface, SharedOperationTablesReachTheRightMethods) {
  TOpenedRowset opened = OpenRowset(0xFF);
  // IRowsetScroll answers IRowset and IRowsetLocate through one table: a
  // fetch through each must be a fetch.
  for (const IID* iid : {&IID_IRowset, &IID_IRowsetLocate, &IID_IRowsetScroll}) {
    TComPtr<IRowset> rowset = Query<IRowset>(opened.Unknown.Get(), *iid);
    ASSERT_TRUE(rowset);
    ASSERT_EQ(S_OK, rowset->RestartPosition(DB_NULL_HCHAPTER));
    DBCOUNTITEM obtained = 0;
    HROW rows[1] = {};
    HROW* rowArray = rows;
    EXPECT_EQ(S_OK, rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, &rowArray));
    EXPECT_EQ(1u, obtained);
    EXPECT_EQ(S_OK, rowset->ReleaseRows(1, rows, nullptr, nullptr, nullptr));
  }
  // IRowsetUpdate answers IRowsetChange: DeleteRows of nothing goes to the
  // data through either.
  TComPtr<IRowsetChange> change = Query<IRowsetChange>(opened.Unknown.Get(), IID_IRowsetChange);
  TComPtr<IRowsetUpdate> update = Query<IRowsetUpdate>(opened.Unknown.Get(), IID_IRowsetUpdate);
  ASSERT_TRUE(change && update);
  EXPECT_EQ(static_cast<IRowsetChange*>(update.Get()), change.Get());
  DBPENDINGSTATUS status = 0;
  EXPECT_EQ(S_OK, update->GetRowStatus(DB_NULL_HCHAPTER, 0, nullptr, &status));
}

TEST(RowsetQueryInterface, NeverOfferedInterfaceWritesOneDebugLine) {
  TOpenedRowset opened = OpenRowset(0);
  TDebugCapture debug;
  TComPtr<IUnknown> answer;
  EXPECT_EQ(E_NOINTERFACE, opened.Unknown->QueryInterface(IID_ICommand, answer.PutVoid()));
  EXPECT_FALSE(answer);
  ASSERT_EQ(1u, debug.Lines.size());
  EXPECT_EQ("Rowset QI Fail: {0C733A63-2A1C-11CE-ADE5-00AA0044773D}", debug.Lines[0]);
}

TEST(RowsetCapabilities, MirrorsIntoRowsetProperties) {
  TOpenedRowset opened = OpenRowset(0);
  TOleDbRowset& rowset = opened.Object();

  rowset.SetCapabilities(0x11);
  EXPECT_TRUE(BoolProperty(opened.Unknown.Get(), DBPROP_IRowsetLocate));
  EXPECT_TRUE(BoolProperty(opened.Unknown.Get(), DBPROP_BOOKMARKS));
  EXPECT_TRUE(BoolProperty(opened.Unknown.Get(), DBPROP_IRowsetScroll));

  try {
    rowset.SetCapabilities(0x10);
    ADD_FAILURE() << "scrolling without bookmarks accepted";
  } catch (const EOleError& e) {
    EXPECT_EQ(E_FAIL, e.ErrorCode());
    EXPECT_EQ(L"Bookmark support is required for scrolling", e.Message());
  }
  EXPECT_EQ(0x11, rowset.Capabilities()) << "a refused set changes nothing";
  EXPECT_TRUE(BoolProperty(opened.Unknown.Get(), DBPROP_IRowsetScroll));

  rowset.SetCapabilities(0x0A);
  VARIANT updatability = RowsetProperty(opened.Unknown.Get(), DBPROP_UPDATABILITY);
  EXPECT_EQ(VT_I4, V_VT(&updatability));
  EXPECT_EQ(DBPROPVAL_UP_CHANGE | DBPROPVAL_UP_INSERT, V_I4(&updatability));
  EXPECT_TRUE(BoolProperty(opened.Unknown.Get(), DBPROP_IRowsetChange));
  EXPECT_FALSE(BoolProperty(opened.Unknown.Get(), DBPROP_IRowsetLocate));
  EXPECT_FALSE(BoolProperty(opened.Unknown.Get(), DBPROP_IRowsetScroll));
  EXPECT_TRUE(BoolProperty(opened.Unknown.Get(), DBPROP_IColumnsRowset));
}

TEST(RowsetCapabilities, BookmarksDecideWhetherOrdinalZeroMayBeBound) {
  DBBINDING binding = {};
  binding.iOrdinal = 0;
  binding.dwPart = DBPART_VALUE;
  binding.wType = DBTYPE_I4;
  binding.cbMaxLen = 4;
  for (std::uint8_t capabilities : {std::uint8_t(0), OleDbCapabilityLocate}) {
    TOpenedRowset opened = OpenRowset(capabilities);
    TComPtr<IAccessor> accessor = Query<IAccessor>(opened.Unknown.Get(), IID_IAccessor);
    HACCESSOR handle = DB_NULL_HACCESSOR;
    DBBINDSTATUS status = DBBINDSTATUS_OK;
    const HRESULT result = accessor->CreateAccessor(DBACCESSOR_ROWDATA, 1, &binding, 0, &handle, &status);
    if (capabilities) {
      EXPECT_EQ(S_OK, result);
      EXPECT_EQ(S_OK, accessor->ReleaseAccessor(handle, nullptr));
    } else {
      EXPECT_EQ(DB_E_ERRORSOCCURRED, result);
      EXPECT_EQ(DBBINDSTATUS_BADORDINAL, status);
    }
  }
}

TEST(RowsetOpen, CreatesInitialisesAndOpensTheData) {
  TOpenedRowset opened = OpenRowset(0);
  EXPECT_EQ(L"table.log", opened.Data->OpenedTable);
  EXPECT_EQ(static_cast<IOleDbRowsetDataOwner*>(&opened.Object()), opened.Data->GetOwner());

  TComPtr<IColumnsInfo> info = Query<IColumnsInfo>(opened.Unknown.Get(), IID_IColumnsInfo);
  DBORDINAL count = 0;
  DBCOLUMNINFO* columns = nullptr;
  OLECHAR* names = nullptr;
  ASSERT_EQ(S_OK, info->GetColumnInfo(&count, &columns, &names));
  ASSERT_EQ(2u, count);
  EXPECT_STREQ(L"NAME", columns[1].pwszName);
  CoTaskMemFree(columns);
  CoTaskMemFree(names);

  // A fetch and a read go to the data.
  TComPtr<IRowset> rowset = Query<IRowset>(opened.Unknown.Get(), IID_IRowset);
  DBCOUNTITEM obtained = 0;
  HROW* rows = nullptr;
  ASSERT_EQ(S_OK, rowset->GetNextRows(DB_NULL_HCHAPTER, 1, 1, &obtained, &rows));
  ASSERT_EQ(1u, obtained);
  DBBINDING binding = {};
  binding.iOrdinal = 1;
  binding.dwPart = DBPART_VALUE;
  binding.wType = DBTYPE_I4;
  binding.cbMaxLen = 4;
  HACCESSOR accessor = DB_NULL_HACCESSOR;
  ASSERT_EQ(S_OK, Query<IAccessor>(opened.Unknown.Get(), IID_IAccessor)
                      ->CreateAccessor(DBACCESSOR_ROWDATA, 1, &binding, 4, &accessor, nullptr));
  LONG id = 0;
  EXPECT_EQ(S_OK, rowset->GetData(rows[0], accessor, &id));
  EXPECT_EQ(2, id);
  TComPtr<IRowsetIdentity> identity = Query<IRowsetIdentity>(opened.Unknown.Get(), IID_IRowsetIdentity);
  EXPECT_EQ(S_OK, identity->IsSameRow(rows[0], rows[0]));
  EXPECT_EQ(DB_E_BADROWHANDLE, identity->IsSameRow(rows[0], 0x7FFFFFF0));
  EXPECT_EQ(S_OK, rowset->ReleaseRows(1, rows, nullptr, nullptr, nullptr));
  CoTaskMemFree(rows);
}

TEST(RowsetOpen, RejectsMissingDataAndOutputPointers) {
  TComPtr<IUnknown> unknown;
  CreateOleDbObject(RegisteredClass<TPreparedRowset>(), nullptr, IID_IUnknown, unknown.PutVoid());
  TOleDbExecParams params;
  try {
    Query<IOleDbRowsetInit>(unknown.Get(), IID_IOleDbRowsetInit)->Open(params);
    ADD_FAILURE() << "opened without rowset data";
  } catch (const EOleError& e) {
    EXPECT_EQ(E_FAIL, e.ErrorCode());
    EXPECT_EQ(L"Unable to initialize rowset data", e.Message());
  }
  // Data operations on such a rowset fail with that message too.
  TComPtr<IRowset> rowset = Query<IRowset>(unknown.Get(), IID_IRowset);
  EXPECT_EQ(E_FAIL, rowset->RestartPosition(DB_NULL_HCHAPTER));
  EXPECT_EQ(L"Unable to initialize rowset data", ErrorDescription());

  TOpenedRowset opened = OpenRowset(OleDbCapabilityLocate);
  rowset = Query<IRowset>(opened.Unknown.Get(), IID_IRowset);
  HROW* rows = nullptr;
  DBCOUNTITEM obtained = 99;
  EXPECT_EQ(E_INVALIDARG, rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, nullptr, &rows));
  EXPECT_EQ(E_INVALIDARG, rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, nullptr));
  EXPECT_EQ(0u, obtained);
  const BYTE first = DBBMK_FIRST;
  TComPtr<IRowsetLocate> locate = Query<IRowsetLocate>(opened.Unknown.Get(), IID_IRowsetLocate);
  EXPECT_EQ(E_INVALIDARG, locate->Compare(DB_NULL_HCHAPTER, 1, &first, 1, &first, nullptr));
  EXPECT_EQ(E_INVALIDARG, locate->GetRowsAt(0, DB_NULL_HCHAPTER, 1, &first, 0, 1, nullptr, &rows));
}

TEST(RowsetLifetime, DataHeldElsewhereIsDetachedFromTheDeadRowset) {
  TComPtr<TNumberedRowsData> data;
  {
    TOpenedRowset opened = OpenRowset(0);
    data = opened.Data;
    TComPtr<IRowset> rowset = Query<IRowset>(opened.Unknown.Get(), IID_IRowset);
    DBCOUNTITEM obtained = 0;
    HROW* rows = nullptr;
    ASSERT_EQ(S_OK, rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 2, &obtained, &rows));
    CoTaskMemFree(rows);  // the rows stay held when the rowset goes
  }
  EXPECT_EQ(nullptr, data->GetOwner());
}

TEST(RowsetConvertType, ChecksFlagsThenAsksTheConversionLibrary) {
  TOpenedRowset opened = OpenRowset(0);
  TComPtr<IConvertType> convert = Query<IConvertType>(opened.Unknown.Get(), IID_IConvertType);
  EXPECT_EQ(DB_E_BADCONVERTFLAG, convert->CanConvert(DBTYPE_I4, DBTYPE_WSTR, DBCONVERTFLAGS_PARAMETER));
  EXPECT_EQ(DB_E_BADCONVERTFLAG,
            convert->CanConvert(DBTYPE_VARIANT, DBTYPE_WSTR, DBCONVERTFLAGS(DBCONVERTFLAGS_PARAMETER) | DBCONVERTFLAGS_FROMVARIANT));
  EXPECT_EQ(DB_E_BADTYPE, convert->CanConvert(DBTYPE_I4, DBTYPE_WSTR, DBCONVERTFLAGS_FROMVARIANT));
  EXPECT_EQ(S_OK, convert->CanConvert(DBTYPE_VARIANT, DBTYPE_I4, DBCONVERTFLAGS_FROMVARIANT));
  EXPECT_EQ(S_OK, convert->CanConvert(DBTYPE_I4, DBTYPE_WSTR, DBCONVERTFLAGS_COLUMN));
  EXPECT_EQ(S_FALSE, convert->CanConvert(DBTYPE_I4, DBTYPE_GUID, DBCONVERTFLAGS_COLUMN));
}

TEST(RowsetInfo, SpecificationIsTheCreatorOrNothing) {
  TOpenedRowset opened = OpenRowset(0);
  TComPtr<IRowsetInfo> info = Query<IRowsetInfo>(opened.Unknown.Get(), IID_IRowsetInfo);
  EXPECT_EQ(E_INVALIDARG, info->GetSpecification(IID_IUnknown, nullptr));
  IUnknown* specification = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(S_FALSE, info->GetSpecification(IID_IUnknown, &specification));
  EXPECT_EQ(nullptr, specification);

  TComPtr<TTestSession> session = MakeComObject<TTestSession>();
  opened.Object().SetParent(session.Get());
  EXPECT_EQ(1, session->ChildCount);
  ASSERT_EQ(S_OK, info->GetSpecification(IID_IGetDataSource, &specification));
  TComPtr<IUnknown> held = TComPtr<IUnknown>::Attach(specification);
  EXPECT_EQ(static_cast<IUnknown*>(static_cast<IGetDataSource*>(session.Get())), specification);
  specification = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(E_NOINTERFACE, info->GetSpecification(IID_ICommand, &specification));
  EXPECT_EQ(nullptr, specification);

  // A rowset made over existing data has no creator.
  TComPtr<TNumberedRowsData> data = MakeComObject<TNumberedRowsData>();
  TComPtr<IUnknown> schema = SchemaRowsetOver(data.Get());
  EXPECT_EQ(S_FALSE, Query<IRowsetInfo>(schema.Get(), IID_IRowsetInfo)->GetSpecification(IID_IUnknown, &specification));
  EXPECT_EQ(nullptr, specification);
}

TEST(RowsetInfo, ReferencedRowsetNeverExists) {
  TOpenedRowset opened = OpenRowset(0);
  TComPtr<IRowsetInfo> info = Query<IRowsetInfo>(opened.Unknown.Get(), IID_IRowsetInfo);
  IUnknown* referenced = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(DB_E_NOTAREFERENCECOLUMN, info->GetReferencedRowset(1, IID_IRowset, &referenced));
  EXPECT_EQ(nullptr, referenced);
  EXPECT_EQ(DB_E_NOTAREFERENCECOLUMN, info->GetReferencedRowset(0, IID_IRowset, &referenced));
  EXPECT_EQ(E_INVALIDARG, info->GetReferencedRowset(1, IID_IRowset, nullptr));
}

TEST(RowsetAvailableColumns, CopiesTheDataListForTheConsumer) {
  TOpenedRowset opened = OpenRowset(0);
  TComPtr<IColumnsRowset> columnsRowset = Query<IColumnsRowset>(opened.Unknown.Get(), IID_IColumnsRowset);
  DBORDINAL count = 99;
  DBID* ids = reinterpret_cast<DBID*>(1);
  EXPECT_EQ(S_OK, columnsRowset->GetAvailableColumns(&count, &ids));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(nullptr, ids);
  EXPECT_EQ(E_INVALIDARG, columnsRowset->GetAvailableColumns(nullptr, &ids));
  EXPECT_EQ(E_INVALIDARG, columnsRowset->GetAvailableColumns(&count, nullptr));

  TOleDbDBID named;
  named.Assign(DBID{{GUID_NULL}, DBKIND_NAME, {const_cast<LPOLESTR>(L"EXTRA")}});
  TOleDbDBID baseName;
  baseName.Assign(DBCOLUMN_BASECOLUMNNAME);
  opened.Data->Optional = {named, baseName};
  ASSERT_EQ(S_OK, columnsRowset->GetAvailableColumns(&count, &ids));
  ASSERT_EQ(2u, count);
  EXPECT_TRUE(named.Equals(ids[0]));
  EXPECT_TRUE(DBIDEquals(DBCOLUMN_BASECOLUMNNAME, ids[1]));
  opened.Data->Optional.clear();  // the consumer's copy must not share the name
  EXPECT_STREQ(L"EXTRA", ids[0].uName.pwszName);
  for (DBORDINAL i = 0; i < count; ++i) DBIDRelease(ids[i]);
  CoTaskMemFree(ids);
}

TEST(RowsetOverData, AggregationOnlyForIUnknown) {
  TComPtr<TNumberedRowsData> data = MakeComObject<TNumberedRowsData>();
  TTestOuter* outer = new TTestOuter;
  IUnknown* rowset = reinterpret_cast<IUnknown*>(1);
  try {
    CreateRowsetOverData(data.Get(), RegisteredClass<TOleDbSchemaRowset>(), outer, IID_IRowset, &rowset);
    ADD_FAILURE() << "aggregated for IRowset";
  } catch (const EOleDbException& e) {
    EXPECT_EQ(DB_E_NOAGGREGATION, e.ErrorCode);
  }
  EXPECT_EQ(nullptr, rowset);

  CreateRowsetOverData(data.Get(), RegisteredClass<TOleDbSchemaRowset>(), outer, IID_IUnknown, &rowset);
  outer->SetInner(rowset);
  TComPtr<IRowset> inner;
  EXPECT_EQ(S_OK, outer->QueryInterface(IID_IRowset, inner.PutVoid()));
  TComPtr<IUnknown> identity;
  EXPECT_EQ(S_OK, inner->QueryInterface(IID_IUnknown, identity.PutVoid()));
  EXPECT_EQ(static_cast<IUnknown*>(outer), identity.Get());
  identity.Reset();
  inner.Reset();
  outer->Release();
  EXPECT_EQ(nullptr, data->GetOwner());
}
