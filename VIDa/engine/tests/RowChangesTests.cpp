#include <gtest/gtest.h>

#include <oledberr.h>

#include <algorithm>
#include <cstddef>
#include <cwchar>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ComObj.h"
#include "EngineOutcome.h"
#include "OLEDbAccessor.h"
#include "OLEDbError.h"
#include "OLEDbIndexCursor.h"
#include "OLEDbProperties.h"
#include "OLEDbRowsetData.h"
#include "OLEDbRowsetEvents.h"
#include "TestRowsetOwner.h"

namespace {

enum : DBORDINAL { BookmarkOrdinal = 0, IdOrdinal = 1, NameOrdinal = 2 };

struct TRow {
  std::int32_t Index = 0;
  std::int32_t Id = 0;
  wchar_t Name[11] = {};
  bool NameNull = false;
  bool Exists = true;
};

// A changeable table; in deferred mode a row's first change keeps its
// original for undo and GetOriginalData.
class TWritableData : public TOleDbRowsetData {
public:
  using TOleDbRowsetData::InsertRow;

  TWritableData() {
    Columns().AddColumn(L"Bookmark", DBTYPE_I4, 4, DBCOLUMNFLAGS_ISBOOKMARK, 0, 0, BookmarkOrdinal);
    Columns().AddColumn(L"Id", DBTYPE_I4, 4, DBCOLUMNFLAGS_WRITE, 0, 0, IdOrdinal);
    Columns().AddColumn(L"Name", DBTYPE_WSTR, 22, DBCOLUMNFLAGS_WRITE | DBCOLUMNFLAGS_ISNULLABLE, 0, 0, NameOrdinal);
    for (int id = 1; id <= 4; ++id) AddRow(id);
  }

  void GetColumnReadBuffer(TOleDbDataMode mode, std::int32_t rowValue, const TOleDbColumn& column, void*& data,
                           DBLENGTH&, bool& isNull) override {
    auto original = Originals.find(rowValue);
    TRow& row = mode == TOleDbDataMode::Original && original != Originals.end() ? original->second : Rows.at(rowValue);
    isNull = column.Ordinal == NameOrdinal && row.NameNull;
    void* fields[] = {&row.Index, &row.Id, row.Name};
    data = fields[column.Ordinal];
  }
  void GetColumnPointer(std::int32_t rowValue, const TOleDbColumn& column, void*& data, DBLENGTH& length) override {
    if (DeferredUpdateMode() && PendingRows().GetState(rowValue) == TOleDbPendingState::Unchanged)
      Originals.emplace(rowValue, Rows.at(rowValue));
    if (column.Ordinal == NameOrdinal) Rows.at(rowValue).NameNull = false;
    TOleDbRowsetData::GetColumnPointer(rowValue, column, data, length);
  }
  TOleDbCursorPosition MoveCursor(TOleDbMoveKind kind, DBCOUNTITEM count) override {
    return MoveIndexCursor(Current, static_cast<std::int32_t>(Rows.size()), kind, count);
  }
  TOleDbCursorPosition FetchCurrentRow(TOleDbRowHandle& handle) override {
    handle.SetRowValue(Current);
    return MoveCursor(TOleDbMoveKind::Stay, 1);
  }
  void InsertRow(TOleDbRowHandle& handle) override {
    if (!CanChangeRows) TOleDbRowsetData::InsertRow(handle);
    AddRow(0);
    if (!LoseInsertedRow) handle.SetRowValue(static_cast<std::int32_t>(Rows.size() - 1));
  }
  void DeleteRow(std::int32_t rowValue, DBROWSTATUS& status) override {
    if (!CanChangeRows) TOleDbRowsetData::DeleteRow(rowValue, status);
    ++DeleteCalls;
    if (!DeferredUpdateMode()) Rows.at(rowValue).Exists = false;
  }
  void SetColumnStatus(std::int32_t rowValue, const TOleDbColumn& column, DBSTATUS&,
                       TOleDbColumnStatusKind kind) override {
    StatusCalls.push_back(static_cast<int>(column.Ordinal * 10) + static_cast<int>(kind));
    if (kind == TOleDbColumnStatusKind::SetNull) Rows.at(rowValue).NameNull = true;
  }
  void UndoRow(std::int32_t rowValue, DBROWSTATUS&) override {
    auto original = Originals.find(rowValue);
    if (original == Originals.end()) return;
    Rows.at(rowValue) = original->second;
    Originals.erase(original);
  }
  void UpdateRow(std::int32_t rowValue, DBROWSTATUS&) override {
    if (PendingRows().GetState(rowValue) == TOleDbPendingState::Deleted) Rows.at(rowValue).Exists = false;
    Originals.erase(rowValue);
  }

  std::vector<TRow> Rows;
  std::map<std::int32_t, TRow> Originals;
  std::int32_t Current = -1;
  bool CanChangeRows = true;
  bool LoseInsertedRow = false;
  int DeleteCalls = 0;
  std::vector<int> StatusCalls;  // ordinal * 10 + kind

private:
  void AddRow(std::int32_t id) {
    TRow row;
    row.Index = static_cast<std::int32_t>(Rows.size());
    row.Id = id;
    Rows.push_back(row);
  }
};

// Records every event and vetoes one reason and phase.
class TListener : public TComImpl<TComObject, IRowsetNotify> {
public:
  HRESULT STDMETHODCALLTYPE OnFieldChange(IRowset*, HROW, DBORDINAL cColumns, DBORDINAL rgColumns[], DBREASON eReason,
                                          DBEVENTPHASE ePhase, BOOL) override {
    Columns.assign(rgColumns, rgColumns + cColumns);
    return Answer(eReason, ePhase);
  }
  HRESULT STDMETHODCALLTYPE OnRowChange(IRowset*, DBCOUNTITEM, const HROW[], DBREASON eReason, DBEVENTPHASE ePhase,
                                        BOOL) override {
    return Answer(eReason, ePhase);
  }
  HRESULT STDMETHODCALLTYPE OnRowsetChange(IRowset*, DBREASON eReason, DBEVENTPHASE ePhase, BOOL) override {
    return Answer(eReason, ePhase);
  }
  // The phases heard for reason since the last call.
  std::vector<DBEVENTPHASE> Phases(DBREASON reason) {
    std::vector<DBEVENTPHASE> phases;
    for (const auto& event : events_)
      if (event.first == reason) phases.push_back(event.second);
    events_.clear();
    return phases;
  }

  std::vector<DBORDINAL> Columns;
  DBREASON VetoReason = ~0u;
  DBEVENTPHASE VetoPhase = ~0u;

private:
  HRESULT Answer(DBREASON reason, DBEVENTPHASE phase) {
    events_.emplace_back(reason, phase);
    return reason == VetoReason && phase == VetoPhase ? S_FALSE : S_OK;
  }
  std::vector<std::pair<DBREASON, DBEVENTPHASE>> events_;
};

using TPhases = std::vector<DBEVENTPHASE>;

// What the consumer writes: an Id as text and a Name, each with its status.
struct TRecord {
  DBSTATUS IdStatus;
  wchar_t Id[8];
  DBSTATUS NameStatus;
  DBLENGTH NameLength;
  wchar_t Name[11];
};

TRecord Record(const wchar_t* id, const wchar_t* name, DBSTATUS idStatus = DBSTATUS_S_OK,
               DBSTATUS nameStatus = DBSTATUS_S_OK) {
  TRecord record{idStatus, {}, nameStatus, 0, {}};
  wcsncpy(record.Id, id, 7);
  wcsncpy(record.Name, name, 10);
  return record;
}

class RowChangesTest : public testing::Test {
protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    owner = MakeComObject<TTestRowsetOwner>(OleDbCapabilityChange | OleDbCapabilityDelete | OleDbCapabilityInsert);
    data = MakeComObject<TWritableData>();
    data->SetOwner(owner.Get());
    owner->SetRowsetFlag(DBPROP_CANHOLDROWS, true);
    DBBINDING bindings[2] = {};
    bindings[0].iOrdinal = IdOrdinal;
    bindings[0].obValue = offsetof(TRecord, Id);
    bindings[0].obStatus = offsetof(TRecord, IdStatus);
    bindings[0].cbMaxLen = sizeof(TRecord::Id);
    bindings[0].dwPart = DBPART_VALUE | DBPART_STATUS;
    bindings[0].wType = DBTYPE_WSTR;
    bindings[1] = bindings[0];
    bindings[1].iOrdinal = NameOrdinal;
    bindings[1].obValue = offsetof(TRecord, Name);
    bindings[1].obStatus = offsetof(TRecord, NameStatus);
    bindings[1].obLength = offsetof(TRecord, NameLength);
    bindings[1].cbMaxLen = sizeof(TRecord::Name);
    bindings[1].dwPart |= DBPART_LENGTH;
    accessor = owner->Accessors.CreateAccessor(DBACCESSOR_ROWDATA, 0, bindings, 2).Handle();
    nullAccessor = owner->Accessors.CreateAccessor(DBACCESSOR_ROWDATA, 0, nullptr, 0).Handle();
  }
  void TearDown() override {
    data->SetOwner(nullptr);
    CoUninitialize();
  }

  TComPtr<TListener> Listen() {
    owner->Events = std::make_unique<TOleDbRowsetEvents>(owner->Controller());
    TComPtr<IConnectionPoint> point;
    owner->Events->FindConnectionPoint(IID_IRowsetNotify, point.Put());
    TComPtr<TListener> listener = MakeComObject<TListener>();
    DWORD cookie = 0;
    EXPECT_EQ(point->Advise(static_cast<IRowsetNotify*>(listener.Get()), &cookie), S_OK);
    return listener;
  }
  HROW Fetch() {
    DBCOUNTITEM obtained = 0;
    HROW row = DB_NULL_HROW;
    HROW* rows = &row;
    EXPECT_EQ(data->GetNextRows(0, 0, 1, &obtained, &rows, true), S_OK);
    return row;
  }
  HRESULT Set(HROW row, TRecord record) { return Outcome([&] { return data->SetData(row, accessor, &record); }); }
  HRESULT Insert(TRecord record, HROW* row, HACCESSOR with = 0) {
    return Outcome([&] { return data->InsertRow(0, with ? with : accessor, &record, row); });
  }
  std::wstring Read(HROW row, bool original = false) {
    TRecord record{};
    const HRESULT hr = original ? data->GetOriginalData(row, accessor, &record) : data->GetData(row, accessor, &record);
    if (FAILED(hr)) return L"failed";
    return std::wstring(record.Id) + L":" + (record.NameStatus == DBSTATUS_S_ISNULL ? L"NULL" : record.Name);
  }
  DBPENDINGSTATUS Pending(HROW row) {
    DBPENDINGSTATUS status = 0;
    data->GetRowStatus(0, 1, &row, &status);
    return status;
  }
  DBROWSTATUS Delete(HROW row) {
    DBROWSTATUS status = 99;
    data->DeleteRows(0, 1, &row, &status);
    return status;
  }
  LONG RefCount(HROW row) {
    const TOleDbRowHandle* handle = owner->Handles.FindHandle(row);
    return handle ? handle->RefCount() : -1;
  }

  TComPtr<TTestRowsetOwner> owner;
  TComPtr<TWritableData> data;
  HACCESSOR accessor = 0;
  HACCESSOR nullAccessor = 0;
};

// ---- Immediate changes -------------------------------------------------------------

TEST_F(RowChangesTest, WriteStatusesConversionsAndInserts) {
  const HROW row = Fetch();
  EXPECT_EQ(Set(row, Record(L"42", L"Bob")), S_OK);
  EXPECT_EQ(Read(row), L"42:Bob");
  EXPECT_EQ(Set(row, Record(L"99", L"", DBSTATUS_S_IGNORE, DBSTATUS_S_ISNULL)), S_OK);
  EXPECT_EQ(Read(row), L"42:NULL");
  EXPECT_EQ(data->StatusCalls, std::vector<int>{NameOrdinal * 10 + 1});
  TRecord record = Record(L"7", L"Al", 77);
  EXPECT_EQ(data->SetData(row, accessor, &record), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(record.IdStatus, DBSTATUS_E_BADSTATUS);
  EXPECT_EQ(Read(row), L"42:Al");
  record = Record(L"abc", L"", DBSTATUS_S_OK, 77);
  EXPECT_EQ(Outcome([&] { return data->SetData(row, accessor, &record); }), DB_E_ERRORSOCCURRED);
  EXPECT_NE(record.IdStatus, DBSTATUS_S_OK) << "the converter's error status";
  EXPECT_EQ(data->SetData(row, nullAccessor, nullptr), S_OK);

  HROW inserted = DB_NULL_HROW;
  ASSERT_EQ(Insert(Record(L"5", L"Eve"), &inserted), S_OK);
  EXPECT_EQ(RefCount(inserted), 1);
  EXPECT_EQ(Read(inserted), L"5:Eve");
  owner->Handles.FindHandle(inserted)->Release();
  // Without an HROW asked for, nothing is left that would block fetching.
  ASSERT_EQ(Insert(Record(L"6", L"Sam"), nullptr), S_OK);
  EXPECT_EQ(owner->Handles.Count(), 1u);
  EXPECT_EQ(data->Rows.size(), 6u);
  data->StatusCalls.clear();
  ASSERT_EQ(Insert(Record(L"", L""), &inserted, nullAccessor), S_OK);
  EXPECT_EQ(data->StatusCalls, (std::vector<int>{IdOrdinal * 10 + 2, NameOrdinal * 10 + 2}))
      << "every column but the bookmark gets its default";
}

TEST_F(RowChangesTest, WritesThatDoNotFitOrTouchTheBookmarkAreRefused) {
  const HROW row = Fetch();
  ASSERT_EQ(Set(row, Record(L"42", L"Bob")), S_OK);
  TRecord record = Record(L"43", L"");
  std::wmemset(record.Name, L'Z', 11);
  record.NameLength = sizeof(record.Name);
  EXPECT_EQ(data->SetData(row, accessor, &record), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(record.IdStatus, DBSTATUS_S_OK);
  EXPECT_EQ(record.NameStatus, DBSTATUS_E_DATAOVERFLOW);
  EXPECT_EQ(Read(row), L"43:Bob") << "a name that does not fit leaves the one before";
  record.NameStatus = DBSTATUS_S_OK;
  std::wcscpy(record.Id, L"44");
  HROW inserted = DB_NULL_HROW;
  ASSERT_EQ(Outcome([&] { return data->InsertRow(0, accessor, &record, &inserted); }), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(record.NameStatus, DBSTATUS_E_DATAOVERFLOW);
  EXPECT_EQ(Read(inserted), L"44:");

  struct {
    std::int32_t Value;
    DBSTATUS Status;
  } bookmark{3, DBSTATUS_S_OK};
  DBBINDING mark{};
  mark.iOrdinal = BookmarkOrdinal;
  mark.obStatus = offsetof(decltype(bookmark), Status);
  mark.dwPart = DBPART_VALUE | DBPART_STATUS;
  mark.wType = DBTYPE_I4;
  const HACCESSOR marks = owner->Accessors.CreateAccessor(DBACCESSOR_ROWDATA, 0, &mark, 1).Handle();
  EXPECT_EQ(Outcome([&] { return data->SetData(row, marks, &bookmark); }), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(bookmark.Status, DBSTATUS_E_PERMISSIONDENIED);
  EXPECT_EQ(data->Rows[0].Index, 0);
  bookmark.Status = DBSTATUS_S_IGNORE;
  EXPECT_EQ(data->SetData(row, marks, &bookmark), S_OK) << "an ignored bookmark writes nothing";
}

TEST_F(RowChangesTest, WriteFailuresLeaveNoRow) {
  HROW row = 123;
  std::wstring message;
  EXPECT_EQ(Outcome([&] { return data->InsertRow(0, accessor, nullptr, &row); }), E_INVALIDARG);
  EXPECT_EQ(Insert(Record(L"", L""), &row, 4242), DB_E_BADACCESSORHANDLE);
  data->CanChangeRows = false;
  EXPECT_EQ(Outcome([&] { return data->InsertRow(0, nullAccessor, nullptr, &row); }, &message), E_FAIL);
  EXPECT_EQ(message, L"This operation is not implemented.\rTOleDbRowSetData.InsertRow");
  EXPECT_EQ(row, DB_NULL_HROW);
  data->CanChangeRows = true;
  data->LoseInsertedRow = true;
  EXPECT_EQ(Outcome([&] { return data->InsertRow(0, nullAccessor, nullptr, &row); }, &message), E_FAIL);
  EXPECT_EQ(message, L"Invalid row handle cursor value");
  data->LoseInsertedRow = false;
  EXPECT_EQ(Insert(Record(L"1", L"x", 77, 77), &row), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(data->DeleteCalls, 1) << "the half-made row is deleted again";
  EXPECT_FALSE(data->Rows.back().Exists);
  EXPECT_EQ(owner->Handles.Count(), 0u);

  const HROW rows[2] = {Fetch() + 1000, Fetch()};
  DBROWSTATUS statuses[2];
  EXPECT_EQ(data->DeleteRows(0, 2, rows, statuses), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(statuses[0], DBROWSTATUS_E_INVALID);
  EXPECT_EQ(statuses[1], DBROWSTATUS_S_OK);
  EXPECT_FALSE(data->Rows[1].Exists);
  EXPECT_EQ(Outcome([&] { return data->DeleteRows(0, 1, nullptr, nullptr); }), E_INVALIDARG);
  data->CanChangeRows = false;
  EXPECT_EQ(Outcome([&] { return data->DeleteRows(0, 1, &rows[1], nullptr); }), E_FAIL);
}

// ---- Deferred changes --------------------------------------------------------------

TEST_F(RowChangesTest, DeferredStateMachine) {
  owner->Capabilities |= OleDbCapabilityDeferredUpdate;
  const HROW row = Fetch();
  EXPECT_EQ(Pending(row), DBPENDINGSTATUS_UNCHANGED);
  EXPECT_EQ(Set(row, Record(L"10", L"Ann")), S_OK);
  EXPECT_EQ(Set(row, Record(L"11", L"Ann")), S_OK);
  EXPECT_EQ(Pending(row), DBPENDINGSTATUS_CHANGED);
  EXPECT_EQ(Read(row, true), L"1:") << "the original data";
  EXPECT_EQ(data->Update(0, 1, &row, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(Pending(row), DBPENDINGSTATUS_UNCHANGED);
  EXPECT_EQ(Read(row, true), L"11:Ann");

  HROW inserted = DB_NULL_HROW;
  ASSERT_EQ(Insert(Record(L"20", L"New"), &inserted), S_OK);
  EXPECT_EQ(Pending(inserted), DBPENDINGSTATUS_NEW);
  EXPECT_EQ(data->Undo(0, 1, &inserted, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(Pending(inserted), DBPENDINGSTATUS_INVALIDROW);
  ASSERT_EQ(Insert(Record(L"21", L"Gone"), &inserted), S_OK);
  EXPECT_EQ(Delete(inserted), DBROWSTATUS_S_OK);
  EXPECT_EQ(Pending(inserted), DBPENDINGSTATUS_INVALIDROW);
  EXPECT_EQ(Delete(row), DBROWSTATUS_S_OK);
  EXPECT_EQ(Pending(row), DBPENDINGSTATUS_DELETED);
  EXPECT_TRUE(data->Rows[0].Exists) << "deferred until Update";
  EXPECT_EQ(data->Update(0, 1, &row, nullptr, nullptr, nullptr), S_OK);
  EXPECT_FALSE(data->Rows[0].Exists);

  const HROW unknown = row + 1000;
  DBPENDINGSTATUS pending = 0;
  EXPECT_EQ(data->GetRowStatus(0, 1, &unknown, &pending), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(pending, DBPENDINGSTATUS_INVALIDROW);
}

TEST_F(RowChangesTest, DeferredPendingRowsUndoAndRefresh) {
  owner->Capabilities |= OleDbCapabilityDeferredUpdate;
  const HROW unchanged = Fetch();
  const HROW changed = Fetch();
  HROW inserted = DB_NULL_HROW;
  ASSERT_EQ(Set(changed, Record(L"50", L"C")), S_OK);
  ASSERT_EQ(Insert(Record(L"51", L"N"), &inserted), S_OK);
  owner->Handles.FindHandle(changed)->Release();
  EXPECT_EQ(RefCount(changed), 0) << "kept alive by its pending change";

  EXPECT_EQ(Outcome([&] { return data->GetPendingRows(0, DBPENDINGSTATUS_UNCHANGED, nullptr, nullptr, nullptr); }),
            E_INVALIDARG);
  EXPECT_TRUE(data->GetPendingRows(0, DBPENDINGSTATUS_NEW, nullptr, nullptr, nullptr));
  EXPECT_FALSE(data->GetPendingRows(0, DBPENDINGSTATUS_DELETED, nullptr, nullptr, nullptr));
  DBCOUNTITEM count = 0;
  DBPENDINGSTATUS* pending = nullptr;
  HROW* rows = nullptr;
  EXPECT_TRUE(data->GetPendingRows(0, DBPENDINGSTATUS_NEW | DBPENDINGSTATUS_CHANGED, &count, nullptr, &pending));
  EXPECT_EQ(count, 2u);
  CoTaskMemFree(pending);
  EXPECT_EQ(RefCount(inserted), 1) << "statuses alone hand out no rows";
  EXPECT_TRUE(data->GetPendingRows(0, DBPENDINGSTATUS_NEW, &count, &rows, &pending));
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(rows[0], inserted);
  EXPECT_EQ(pending[0], DBPENDINGSTATUS_NEW);
  EXPECT_EQ(RefCount(inserted), 2);
  CoTaskMemFree(rows);
  CoTaskMemFree(pending);

  const HROW refreshRows[2] = {unchanged, inserted};
  DBROWSTATUS* statuses = nullptr;
  EXPECT_EQ(data->RefreshVisibleData(0, 2, refreshRows, FALSE, nullptr, nullptr, &statuses), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(statuses[0], DBROWSTATUS_S_NOCHANGE);
  EXPECT_EQ(statuses[1], DBROWSTATUS_E_PENDINGINSERT);
  CoTaskMemFree(statuses);

  EXPECT_EQ(data->Undo(0, 0, nullptr, &count, &rows, &statuses), S_OK);
  ASSERT_EQ(count, 2u);
  for (DBCOUNTITEM i = 0; i < count; ++i) {
    EXPECT_EQ(statuses[i], DBROWSTATUS_S_OK);
    EXPECT_EQ(RefCount(rows[i]), rows[i] == changed ? 1 : 3) << "one reference for the consumer";
  }
  CoTaskMemFree(rows);
  CoTaskMemFree(statuses);
  EXPECT_EQ(Pending(inserted), DBPENDINGSTATUS_INVALIDROW);
  EXPECT_EQ(Read(changed), L"2:");
  owner->Handles.FindHandle(changed)->Release();
  EXPECT_EQ(RefCount(changed), -1) << "undone, nothing keeps it";
  EXPECT_EQ(Outcome([&] { return data->Undo(0, 1, nullptr, nullptr, nullptr, nullptr); }), E_INVALIDARG);
  EXPECT_EQ(Outcome([&] { return data->Undo(0, 0, nullptr, &count, nullptr, nullptr); }), E_INVALIDARG);
}

// ---- Notifications -----------------------------------------------------------------

TEST_F(RowChangesTest, NotifyPhasesAndVetoes) {
  TComPtr<TListener> listener = Listen();
  const HROW row = Fetch();
  ASSERT_EQ(Set(row, Record(L"60", L"Seen")), S_OK);
  EXPECT_EQ(listener->Phases(DBREASON_COLUMN_SET),
            (TPhases{DBEVENTPHASE_OKTODO, DBEVENTPHASE_ABOUTTODO, DBEVENTPHASE_DIDEVENT}));
  EXPECT_EQ(listener->Columns, (std::vector<DBORDINAL>{IdOrdinal, NameOrdinal}));
  EXPECT_EQ(Set(row, Record(L"62", L"", 77, 77)), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(listener->Phases(DBREASON_COLUMN_SET),
            (TPhases{DBEVENTPHASE_OKTODO, DBEVENTPHASE_ABOUTTODO, DBEVENTPHASE_FAILEDTODO}));
  listener->VetoReason = DBREASON_COLUMN_SET;
  listener->VetoPhase = DBEVENTPHASE_ABOUTTODO;
  EXPECT_EQ(Set(row, Record(L"61", L"Vetoed")), DB_E_CANCELED);
  EXPECT_EQ(Read(row), L"60:Seen");

  listener->VetoReason = DBREASON_ROW_DELETE;
  listener->VetoPhase = DBEVENTPHASE_OKTODO;
  const HROW rows[2] = {row, row + 1000};
  DBROWSTATUS statuses[2];
  EXPECT_EQ(data->DeleteRows(0, 2, rows, statuses), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(statuses[0], DBROWSTATUS_E_CANCELED);
  EXPECT_EQ(statuses[1], DBROWSTATUS_E_INVALID);
  EXPECT_TRUE(data->Rows[0].Exists);
  EXPECT_EQ(listener->Phases(DBREASON_ROW_DELETE), TPhases{DBEVENTPHASE_OKTODO})
      << "nothing for the unknown row, no ABOUTTODO after the veto";

  listener->VetoReason = DBREASON_ROW_INSERT;
  listener->VetoPhase = DBEVENTPHASE_ABOUTTODO;
  HROW inserted = 123;
  EXPECT_EQ(Insert(Record(L"70", L"No"), &inserted), DB_E_CANCELED);
  EXPECT_EQ(inserted, DB_NULL_HROW);
  EXPECT_EQ(data->Rows.size(), 4u);
  EXPECT_EQ(owner->Handles.Count(), 1u);
  EXPECT_EQ(listener->Phases(DBREASON_ROW_INSERT),
            (TPhases{DBEVENTPHASE_OKTODO, DBEVENTPHASE_ABOUTTODO, DBEVENTPHASE_FAILEDTODO}));
}

}  // namespace
