#include "OLEDbRowsetData.h"

#include <oledberr.h>

#include <cstring>

#include "OLEDbAccessor.h"
#include "OLEDbError.h"
#include "OLEDbProperties.h"

const IID IID_IOleDbRowsetData = {0x3f9b6c41, 0x27d5, 0x4e8a, {0xa1, 0x6c, 0x58, 0x0e, 0x94, 0xd2, 0x7b, 0x13}};

DBPENDINGSTATUS OleDbPendingStatusOf(TOleDbPendingState state) noexcept {
  switch (state) {
    case TOleDbPendingState::Unchanged:
      return DBPENDINGSTATUS_UNCHANGED;
    case TOleDbPendingState::New:
      return DBPENDINGSTATUS_NEW;
    case TOleDbPendingState::Changed:
      return DBPENDINGSTATUS_CHANGED;
    case TOleDbPendingState::Deleted:
      return DBPENDINGSTATUS_DELETED;
    case TOleDbPendingState::Invalid:
      break;
  }
  return DBPENDINGSTATUS_INVALIDROW;
}

HRESULT OleDbSummedResult(DBCOUNTITEM failed, DBCOUNTITEM total) noexcept {
  if (failed == 0) return S_OK;
  return failed >= total ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
}

void TRDRowHandleEvents::RowHandleStateChanged(TOleDbRowHandle& handle, bool active) {
  Target->RowHandleStateChanged(handle, active);
}

void TRDRowHandleEvents::QueryKeepRowHandle(TOleDbRowHandle& handle, bool& keep) {
  if (Target->HasPendingRowsObject()) Target->PendingRows().ShouldKeep(handle, keep);
}

TOleDbRowsetData::TOleDbRowsetData() : Columns(std::make_unique<TOleDbColumns>()), rowHandleEvents_(*this) {}

TOleDbRowsetData::~TOleDbRowsetData() {
  if (owner_) owner_->OwnerRowHandles().RemoveListener(rowHandleEvents_);
}

void TOleDbRowsetData::SetOwner(IOleDbRowsetDataOwner* owner) {
  if (owner == owner_) return;
  if (owner_) owner_->OwnerRowHandles().RemoveListener(rowHandleEvents_);
  owner_ = nullptr;
  if (owner) owner->OwnerRowHandles().AddListener(rowHandleEvents_);
  owner_ = owner;
  // Another owner's accessors: what was resolved for the old ones is void.
  for (TBindingColumns& entry : bindingColumns_) entry.Accessor = nullptr;
}

TOleDbPendingRows& TOleDbRowsetData::PendingRows() {
  if (!pendingRows_) pendingRows_ = std::make_unique<TOleDbPendingRows>();
  return *pendingRows_;
}

bool TOleDbRowsetData::DeferredUpdateMode() {
  return owner_ && (owner_->OwnerCapabilities() & OleDbCapabilityDeferredUpdate) != 0;
}

TOleDbRowHandle* TOleDbRowsetData::FindRowHandle(HROW hRow) const noexcept {
  return owner_ ? owner_->OwnerRowHandles().FindHandle(hRow) : nullptr;
}

TOleDbAccessor* TOleDbRowsetData::FindAccessor(HACCESSOR hAccessor) const noexcept {
  return owner_ ? owner_->OwnerAccessors().FindAccessor(hAccessor) : nullptr;
}

TOleDbRowHandles& TOleDbRowsetData::RowHandles() const {
  if (!owner_) throw EOleError(L"Rowset data has no owner", E_FAIL);
  return owner_->OwnerRowHandles();
}

bool TOleDbRowsetData::GetBoolRowsetProperty(DBPROPID id) const {
  if (!owner_) return false;
  TOleDbVariant value;
  if (!owner_->OwnerPropertySets().GetValue(DBPROPSET_ROWSET, id, value.Get())) return false;
  return value.Type() == VT_BOOL && V_BOOL(&value.Get()) != VARIANT_FALSE;
}

bool TOleDbRowsetData::IsSameRow(HROW hRow1, HROW hRow2) {
  TOleDbRowHandle* handle1 = FindRowHandle(hRow1);
  TOleDbRowHandle* handle2 = FindRowHandle(hRow2);
  if (!handle1 || !handle2) throw EOleDbException(DB_E_BADROWHANDLE);
  return SameRow(*handle1, *handle2);
}

// ---- Slot defaults -----------------------------------------------------------

void TOleDbRowsetData::GetColumnPointer(std::int32_t rowValue, const TOleDbColumn& column, void*& data,
                                        DBLENGTH& length) {
  bool isNull = false;
  GetColumnReadBuffer(TOleDbDataMode::Current, rowValue, column, data, length, isNull);
}

HRESULT TOleDbRowsetData::Open(TOleDbExecParams* request) { return S_OK; }

void* TOleDbRowsetData::GetBookmark() { NotImplemented(L"TOleDbRowSetData.GetBookmark"); }

void TOleDbRowsetData::GotoBookmark(const void* bookmark) { NotImplemented(L"TOleDbRowSetData.GotoBookmark"); }

void TOleDbRowsetData::FreeBookmark(void* bookmark) { CoTaskMemFree(bookmark); }

void TOleDbRowsetData::GetBookmarkRow(const BYTE* bookmark, std::int32_t& rowValue, DBROWSTATUS& status) {
  NotImplemented(L"TOleDbRowSetData.GetBookmarkRow");
}

DBCOMPARE TOleDbRowsetData::CompareBookmarks(const BYTE* bookmark1, const BYTE* bookmark2) {
  // Only called for bookmarks of the bookmark column's size.
  const TOleDbColumn* column = Columns->BookmarkColumn();
  const ULONG size = column ? column->Size : 0;
  return std::memcmp(bookmark1, bookmark2, size) == 0 ? DBCOMPARE_EQ : DBCOMPARE_NE;
}

void TOleDbRowsetData::HashBookmark(const BYTE* bookmark, DBHASHVALUE& hash, DBROWSTATUS& status) {
  NotImplemented(L"TOleDbRowSetData.HashBookmark");
}

void TOleDbRowsetData::InsertRow(TOleDbRowHandle& handle) { NotImplemented(L"TOleDbRowSetData.InsertRow"); }

void TOleDbRowsetData::DeleteRow(std::int32_t rowValue, DBROWSTATUS& status) {
  NotImplemented(L"TOleDbRowSetData.DeleteRow");
}

void TOleDbRowsetData::SetColumnStatus(std::int32_t rowValue, const TOleDbColumn& column, DBSTATUS& status,
                                       TOleDbColumnStatusKind kind) {}

void TOleDbRowsetData::RowDataWritten(std::int32_t rowValue) {}

DBCOUNTITEM TOleDbRowsetData::GetRowCount() { NotImplemented(L"TOleDbRowSetData.GetRowCount"); }

DBCOUNTITEM TOleDbRowsetData::GetBookmarkRowIndex(const BYTE* bookmark) {
  NotImplemented(L"TOleDbRowSetData.GetBookmarkRowIndex");
}

void TOleDbRowsetData::SetRowIndex(DBCOUNTITEM index) { NotImplemented(L"TOleDbRowSetData.SetRowIndex"); }

void TOleDbRowsetData::UndoRow(std::int32_t rowValue, DBROWSTATUS& status) {
  NotImplemented(L"TOleDbRowSetData.UndoRow");
}

void TOleDbRowsetData::UpdateRow(std::int32_t rowValue, DBROWSTATUS& status) {
  NotImplemented(L"TOleDbRowSetData.UpdateRow");
}

void TOleDbRowsetData::RefreshRow(std::int32_t rowValue, bool overwrite, DBROWSTATUS& status) {
  NotImplemented(L"TOleDbRowSetData.RefreshRow");
}

HRESULT TOleDbRowsetData::RowsRefreshed() { return S_OK; }

void TOleDbRowsetData::RowHandleStateChanged(TOleDbRowHandle& handle, bool active) {}

bool TOleDbRowsetData::SameRow(const TOleDbRowHandle& handle1, const TOleDbRowHandle& handle2) {
  return handle1.RowValue() == handle2.RowValue();
}

void TOleDbRowsetData::GetAvailableColumns(std::vector<TOleDbDBID>& columnIds) { columnIds.clear(); }

void TOleDbRowsetData::GetColumnsRowsetData(std::span<const DBID> optionalColumns,
                                            TComPtr<IOleDbRowsetData>& data) {
  data = nullptr;
}

TOleDbRowHandle* TOleDbRowsetData::ReuseRowHandle() { return nullptr; }

std::unique_ptr<TOleDbByteStream> TOleDbRowsetData::GetColumnBlobStream(TOleDbDataMode mode, std::int32_t rowValue,
                                                                        const TOleDbColumn& column,
                                                                        TOleDbBlobAccess access, void* data) {
  return nullptr;
}

TComPtr<IUnknown> TOleDbRowsetData::CreateBlobStream(std::unique_ptr<TOleDbByteStream> reader) {
  return CreateOleDbBlobStream(std::move(reader));
}
