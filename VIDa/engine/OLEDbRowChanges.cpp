// Writing values, inserting and deleting rows, pending changes and the
// change notifications of the rowset data engine.
#include "OLEDbRowsetData.h"

#include <oledberr.h>

#include <cstring>
#include <cwchar>
#include <span>

#include "OLEDbAccessor.h"
#include "OLEDbError.h"
#include "OLEDbRowsetEvents.h"
#include "OLEDbTaskMemory.h"
#include "OLEDbTypes.h"

namespace {
template <class T>
T LoadFrom(const void* buffer, DBBYTEOFFSET offset) noexcept {
  T value;
  std::memcpy(&value, static_cast<const BYTE*>(buffer) + offset, sizeof(T));
  return value;
}

template <class T>
void StoreAt(void* buffer, DBBYTEOFFSET offset, const T& value) noexcept {
  std::memcpy(static_cast<BYTE*>(buffer) + offset, &value, sizeof(T));
}

bool IsWriteSuccess(DBSTATUS status) noexcept {
  return status == DBSTATUS_S_OK || status == DBSTATUS_S_ISNULL || status == DBSTATUS_S_TRUNCATED ||
         status == DBSTATUS_S_DEFAULT || status == DBSTATUS_S_IGNORE;
}

bool IsRowFailure(DBROWSTATUS status) noexcept {
  return status != DBROWSTATUS_S_OK && status != DBROWSTATUS_S_MULTIPLECHANGES &&
         status != DBROWSTATUS_S_PENDINGCHANGES && status != DBROWSTATUS_S_NOCHANGE;
}

// Byte length of a consumer's text value that came without one.
DBLENGTH ConsumerTextLength(DBTYPE type, const void* value) noexcept {
  switch (type) {
    case DBTYPE_STR:
      return std::strlen(static_cast<const char*>(value));
    case DBTYPE_WSTR:
      return std::wcslen(static_cast<const wchar_t*>(value)) * sizeof(wchar_t);
    case DBTYPE_BSTR:
      return SysStringByteLen(LoadFrom<BSTR>(value, 0));
    default:
      return 0;
  }
}

constexpr int ReasonIndexOf(DBREASON reason) noexcept { return static_cast<int>(reason); }
}  // namespace

// ---- Writing ------------------------------------------------------------------

HRESULT TOleDbRowsetData::SetData(HROW hRow, HACCESSOR hAccessor, void* pData) {
  TOleDbRowHandle* handle = FindRowHandle(hRow);
  TOleDbAccessor* accessor = FindAccessor(hAccessor);
  if (!CheckDataAccess(handle, accessor, pData)) return S_OK;
  NotifySetDataBefore(pData, *handle, *accessor);
  // A listener may have released the row or the accessor meanwhile.
  handle = FindRowHandle(hRow);
  accessor = FindAccessor(hAccessor);
  if (!handle) throw EOleDbException(DB_E_BADROWHANDLE);
  if (!accessor) throw EOleDbException(DB_E_BADACCESSORHANDLE);
  HRESULT result = S_OK;
  try {
    WriteRowData(pData, *handle, result, *accessor);
    if (FAILED(result)) throw EOleDbException(result);
    RowDataWritten(handle->RowValue());
    NotifySetDataAfter(pData, *handle, *accessor);
    if (DeferredUpdateMode()) SetPendingState(*handle, TOleDbPendingOperation::SetData, DBROWSTATUS_S_OK);
  } catch (...) {
    try {
      NotifyColumnSet(*handle, *accessor, DBEVENTPHASE_FAILEDTODO);
    } catch (...) {
      // The write's own failure is the one to report.
    }
    throw;
  }
  return result;
}

void TOleDbRowsetData::WriteRowData(void* pData, TOleDbRowHandle& handle, HRESULT& result,
                                    const TOleDbAccessor& accessor) {
  result = S_OK;
  if (accessor.IsNullAccessor()) {
    for (std::size_t i = 0; i < Columns->Count(); ++i) {
      const TOleDbColumn& column = Columns->Items(i);
      if (column.IsBookmark()) continue;
      DBSTATUS status = DBSTATUS_S_OK;
      SetColumnStatus(handle.RowValue(), column, status, TOleDbColumnStatusKind::SetDefault);
    }
    return;
  }
  if (!pData) throw EOleDbException(E_INVALIDARG);
  DBCOUNTITEM failed = 0;
  const DBCOUNTITEM count = accessor.BindingCount();
  const std::span<const TOleDbColumn* const> columns = BindingColumns(accessor);
  for (DBCOUNTITEM i = 0; i < count; ++i)
    if (!SetColumnValue(pData, handle, i, accessor, *columns[i])) ++failed;
  result = OleDbSummedResult(failed, count);
}

bool TOleDbRowsetData::SetColumnValue(void* pData, TOleDbRowHandle& handle, DBCOUNTITEM bindingIndex,
                                      const TOleDbAccessor& accessor, const TOleDbColumn& column) {
  const DBBINDING& binding = accessor.Binding(bindingIndex);
  DBSTATUS status =
      (binding.dwPart & DBPART_STATUS) ? LoadFrom<DBSTATUS>(pData, binding.obStatus) : DBSTATUS(DBSTATUS_S_OK);
  if (column.IsBookmark() && (binding.dwPart & DBPART_VALUE) && status != DBSTATUS_S_IGNORE) {
    // Bookmarks locate rows: a rewritten one would lose its row.
    if (binding.dwPart & DBPART_STATUS) StoreAt(pData, binding.obStatus, DBSTATUS(DBSTATUS_E_PERMISSIONDENIED));
    return false;
  }

  DBLENGTH destinationLength = column.Size;
  void* destination = nullptr;
  GetColumnPointer(handle.RowValue(), column, destination, destinationLength);
  if (!destination) throw EOleError(L"Column value is not available", E_FAIL);
  const int fixedSize = TypeSize(binding.wType);
  DBLENGTH sourceLength = fixedSize > 0 ? static_cast<DBLENGTH>(fixedSize) : 0;
  if (fixedSize < 1 && (binding.dwPart & DBPART_LENGTH)) sourceLength = LoadFrom<DBLENGTH>(pData, binding.obLength);
  if (binding.dwMemOwner == DBMEMOWNER_PROVIDEROWNED) NotImplemented(L"Provider owned bindings are not supported");

  bool ok = true;
  if (binding.dwPart & DBPART_VALUE) {
    void* value = static_cast<BYTE*>(pData) + binding.obValue;
    switch (status) {
      case DBSTATUS_S_OK: {
        if (sourceLength < 1) sourceLength = ConsumerTextLength(binding.wType, value);
        // Converted aside first, so that a value that fails or does not fit
        // leaves the column as it was. A long column is written in place.
        const bool aside = !column.IsLong() && destinationLength > 0;
        void* target = destination;
        if (aside) {
          writeScratch_.assign(destinationLength, 0);
          target = writeScratch_.data();
        }
        DBLENGTH written = destinationLength;
        ConvertData(binding.wType, column.DataType, value, target, sourceLength, destinationLength,
                    column.Precision, column.Scale, written, status);
        // A cut value would be lost data reported as written.
        if (status == DBSTATUS_S_TRUNCATED) status = DBSTATUS_E_DATAOVERFLOW;
        ok = status == DBSTATUS_S_OK;
        if (ok && aside) std::memcpy(destination, target, destinationLength);
        break;
      }
      case DBSTATUS_S_ISNULL:
        SetColumnStatus(handle.RowValue(), column, status, TOleDbColumnStatusKind::SetNull);
        ok = IsWriteSuccess(status);
        break;
      case DBSTATUS_S_DEFAULT:
        SetColumnStatus(handle.RowValue(), column, status, TOleDbColumnStatusKind::SetDefault);
        ok = IsWriteSuccess(status);
        break;
      case DBSTATUS_S_IGNORE:
        break;
      default:
        status = DBSTATUS_E_BADSTATUS;
        ok = false;
        break;
    }
  }
  if (binding.dwPart & DBPART_STATUS) StoreAt(pData, binding.obStatus, status);
  return ok;
}

HRESULT TOleDbRowsetData::InsertRow(HCHAPTER hChapter, HACCESSOR hAccessor, void* pData, HROW* phRow) {
  if (phRow) *phRow = DB_NULL_HROW;
  TOleDbAccessor* accessor = FindAccessor(hAccessor);
  if (!accessor) throw EOleDbException(DB_E_BADACCESSORHANDLE);
  if (!accessor->IsNullAccessor() && !pData) throw EOleDbException(E_INVALIDARG);

  TOleDbRowHandles& handles = RowHandles();
  TOleDbRowHandle& handle = handles.CreateHandle(-1);
  const HROW hRow = handle.HRow();
  bool inserted = false;
  HRESULT result = S_OK;
  try {
    NotifyInsertBefore(pData, handle, *accessor);
    InsertRow(handle);
    inserted = true;
    if (handle.RowValue() == -1) throw EOleError(L"Invalid row handle cursor value", E_FAIL);
    WriteRowData(pData, handle, result, *accessor);
    if (FAILED(result)) throw EOleDbException(result);
    NotifyInsertAfter(pData, handle, *accessor);
    if (phRow) {
      handle.AddRef();
      *phRow = hRow;
    }
    if (DeferredUpdateMode())
      SetPendingState(handle, TOleDbPendingOperation::Insert, DBROWSTATUS_S_OK);
    else if (!phRow)
      // Nobody holds or needs this handle: left behind, it would count as a
      // held row and block every later fetch of a rowset that cannot hold rows.
      handles.DestroyHandle(handle);
  } catch (...) {
    if (phRow) *phRow = DB_NULL_HROW;
    try {
      NotifyRowEvent(handle, DBREASON_ROW_INSERT, DBEVENTPHASE_FAILEDTODO);
    } catch (...) {
    }
    if (inserted && handle.RowValue() != -1) {
      try {
        DBROWSTATUS status = DBROWSTATUS_S_OK;
        DeleteRow(handle.RowValue(), status);
      } catch (...) {
      }
    }
    if (handles.FindHandle(hRow) == &handle) handles.DestroyHandle(handle);
    throw;
  }
  return result;
}

// ---- Deleting -----------------------------------------------------------------

HRESULT TOleDbRowsetData::DeleteRows(HCHAPTER hChapter, DBCOUNTITEM cRows, const HROW rghRows[],
                                     DBROWSTATUS rgRowStatus[]) {
  if (cRows == 0) return S_OK;
  if (!rghRows) throw EOleDbException(E_INVALIDARG);
  if (rgRowStatus) std::memset(rgRowStatus, 0, cRows * sizeof(DBROWSTATUS));
  HRESULT result = S_OK;
  DeleteRowsCore(cRows, rghRows, result, rgRowStatus);
  return result;
}

void TOleDbRowsetData::DeleteRowsCore(DBCOUNTITEM cRows, const HROW rghRows[], HRESULT& result,
                                      DBROWSTATUS rgRowStatus[]) {
  result = S_OK;
  DBCOUNTITEM failed = 0;
  for (DBCOUNTITEM i = 0; i < cRows; ++i) {
    DBROWSTATUS status = DBROWSTATUS_S_OK;
    TOleDbRowHandle* handle = FindRowHandle(rghRows[i]);
    if (!handle) {
      status = DBROWSTATUS_E_INVALID;
    } else {
      NotifyDeleteBefore(*handle, status);
      if (status == DBROWSTATUS_S_OK) {
        handle = FindRowHandle(rghRows[i]);
        if (!handle) {
          status = DBROWSTATUS_E_INVALID;
        } else {
          try {
            DeleteRow(handle->RowValue(), status);
            if (IsRowFailure(status)) {
              NotifyRowEvent(*handle, DBREASON_ROW_DELETE, DBEVENTPHASE_FAILEDTODO);
            } else {
              NotifyDeleteAfter(*handle);
              if (DeferredUpdateMode()) SetPendingState(*handle, TOleDbPendingOperation::Delete, status);
            }
          } catch (...) {
            try {
              NotifyRowEvent(*handle, DBREASON_ROW_DELETE, DBEVENTPHASE_FAILEDTODO);
            } catch (...) {
            }
            throw;
          }
        }
      }
    }
    if (rgRowStatus) rgRowStatus[i] = status;
    if (IsRowFailure(status)) ++failed;
  }
  result = OleDbSummedResult(failed, cRows);
}

// ---- Notifications --------------------------------------------------------------

TOleDbRowsetEvents* TOleDbRowsetData::ListenedEvents() const {
  if (!owner_) return nullptr;
  TOleDbRowsetEvents* events = owner_->OwnerEvents();
  return events && events->HasListeners() ? events : nullptr;
}

bool TOleDbRowsetData::NotifyColumnSet(TOleDbRowHandle& handle, const TOleDbAccessor& accessor, DBEVENTPHASE phase) {
  TOleDbRowsetEvents* events = ListenedEvents();
  const int reason = ReasonIndexOf(DBREASON_COLUMN_SET);
  if (!events || !events->IsWanted(reason, static_cast<int>(phase))) return false;
  std::vector<DBORDINAL> columns;
  if (accessor.IsNullAccessor()) {
    for (std::size_t i = 0; i < Columns->Count(); ++i)
      if (!Columns->Items(i).IsBookmark()) columns.push_back(Columns->Items(i).Ordinal);
  } else {
    for (DBCOUNTITEM i = 0; i < accessor.BindingCount(); ++i) columns.push_back(accessor.Binding(i).iOrdinal);
  }
  return events->NotifyFieldChange(nullptr, handle.HRow(), columns.size(), columns.data(), reason,
                                   static_cast<int>(phase), false);
}

bool TOleDbRowsetData::NotifyRowEvent(TOleDbRowHandle& handle, DBREASON reason, DBEVENTPHASE phase) {
  TOleDbRowsetEvents* events = ListenedEvents();
  if (!events) return false;
  const HROW hRow = handle.HRow();
  return events->NotifyRowChange(nullptr, 1, &hRow, ReasonIndexOf(reason), static_cast<int>(phase), false);
}

void TOleDbRowsetData::NotifySetDataBefore(void* pData, TOleDbRowHandle& handle, const TOleDbAccessor& accessor) {
  if (NotifyColumnSet(handle, accessor, DBEVENTPHASE_OKTODO) ||
      NotifyColumnSet(handle, accessor, DBEVENTPHASE_ABOUTTODO))
    throw EOleDbException(DB_E_CANCELED);
}

void TOleDbRowsetData::NotifySetDataAfter(void* pData, TOleDbRowHandle& handle, const TOleDbAccessor& accessor) {
  if (NotifyColumnSet(handle, accessor, DBEVENTPHASE_DIDEVENT)) throw EOleDbException(DB_E_CANCELED);
}

void TOleDbRowsetData::NotifyInsertBefore(void* pData, TOleDbRowHandle& handle, const TOleDbAccessor& accessor) {
  if (NotifyRowEvent(handle, DBREASON_ROW_INSERT, DBEVENTPHASE_OKTODO) ||
      NotifyRowEvent(handle, DBREASON_ROW_INSERT, DBEVENTPHASE_ABOUTTODO))
    throw EOleDbException(DB_E_CANCELED);
}

void TOleDbRowsetData::NotifyInsertAfter(void* pData, TOleDbRowHandle& handle, const TOleDbAccessor& accessor) {
  if (NotifyRowEvent(handle, DBREASON_ROW_INSERT, DBEVENTPHASE_DIDEVENT)) throw EOleDbException(DB_E_CANCELED);
}

void TOleDbRowsetData::NotifyDeleteBefore(TOleDbRowHandle& handle, DBROWSTATUS& status) {
  if (NotifyRowEvent(handle, DBREASON_ROW_DELETE, DBEVENTPHASE_OKTODO) ||
      NotifyRowEvent(handle, DBREASON_ROW_DELETE, DBEVENTPHASE_ABOUTTODO))
    status = DBROWSTATUS_E_CANCELED;
}

void TOleDbRowsetData::NotifyDeleteAfter(TOleDbRowHandle& handle) {
  if (NotifyRowEvent(handle, DBREASON_ROW_DELETE, DBEVENTPHASE_DIDEVENT)) throw EOleDbException(DB_E_CANCELED);
}

// ---- Pending changes ------------------------------------------------------------

void TOleDbRowsetData::SetPendingState(TOleDbRowHandle& handle, TOleDbPendingOperation operation,
                                       DBROWSTATUS status) {
  if (status != DBROWSTATUS_S_OK) return;
  using S = TOleDbPendingState;
  TOleDbPendingRows& pending = PendingRows();
  const S state = pending.GetState(handle.RowValue());
  S next = state;
  switch (operation) {
    case TOleDbPendingOperation::Undo:
      if (state == S::New)
        next = S::Invalid;
      else if (state == S::Changed || state == S::Deleted)
        next = S::Unchanged;
      break;
    case TOleDbPendingOperation::Update:
      if (state == S::New || state == S::Changed)
        next = S::Unchanged;
      else if (state == S::Deleted)
        next = S::Invalid;
      break;
    case TOleDbPendingOperation::Insert:
      next = S::New;
      break;
    case TOleDbPendingOperation::Delete:
      if (state == S::New)
        next = S::Invalid;
      else if (state == S::Unchanged || state == S::Changed)
        next = S::Deleted;
      break;
    case TOleDbPendingOperation::SetData:
      if (state == S::Unchanged) next = S::Changed;
      break;
    case TOleDbPendingOperation::Refresh:
      if (state == S::Changed || state == S::Deleted) next = S::Unchanged;
      break;
  }
  if (next != state) pending.SetState(handle.RowValue(), next);
}

void TOleDbRowsetData::SettlePendingRow(TOleDbPendingOperation operation, TOleDbRowHandle& handle,
                                        DBROWSTATUS& status) {
  switch (PendingRows().GetState(handle.RowValue())) {
    case TOleDbPendingState::Unchanged:
      status = DBROWSTATUS_S_OK;
      break;
    case TOleDbPendingState::Invalid:
      status = DBROWSTATUS_E_DELETED;
      break;
    default:
      if (operation == TOleDbPendingOperation::Undo)
        UndoRow(handle.RowValue(), status);
      else
        UpdateRow(handle.RowValue(), status);
      SetPendingState(handle, operation, status);
      break;
  }
}

void TOleDbRowsetData::RefreshPendingRow(TOleDbRowHandle& handle, bool overwrite, DBROWSTATUS& status) {
  switch (PendingRows().GetState(handle.RowValue())) {
    case TOleDbPendingState::Unchanged:
      status = DBROWSTATUS_S_NOCHANGE;
      break;
    case TOleDbPendingState::New:
      status = DBROWSTATUS_E_PENDINGINSERT;
      break;
    case TOleDbPendingState::Invalid:
      status = DBROWSTATUS_E_DELETED;
      break;
    default:
      RefreshRow(handle.RowValue(), overwrite, status);
      if (overwrite) SetPendingState(handle, TOleDbPendingOperation::Refresh, status);
      break;
  }
}

void TOleDbRowsetData::ProcessPendingRow(TOleDbPendingOperation operation, TOleDbRowHandle& handle, bool overwrite,
                                         DBROWSTATUS& status) {
  switch (operation) {
    case TOleDbPendingOperation::Undo:
    case TOleDbPendingOperation::Update:
      SettlePendingRow(operation, handle, status);
      break;
    case TOleDbPendingOperation::Refresh:
      RefreshPendingRow(handle, overwrite, status);
      break;
    default:
      throw EOleError(L"Invalid rowset pending process", E_FAIL);
  }
}

void TOleDbRowsetData::ListPendingRows(TOleDbPendingStates states, std::vector<TOleDbRowHandle*>& handles) {
  handles.clear();
  if (!pendingRows_ || pendingRows_->Count() == 0 || !owner_) return;
  TOleDbRowHandles& rowHandles = owner_->OwnerRowHandles();
  for (std::size_t i = 0; i < rowHandles.Count(); ++i) {
    TOleDbRowHandle& handle = rowHandles.HandleAt(i);
    if (states & OleDbPendingStateBit(pendingRows_->GetState(handle.RowValue()))) handles.push_back(&handle);
  }
}

bool TOleDbRowsetData::HasPendingRows(TOleDbPendingStates states) {
  if (!pendingRows_) return false;
  for (std::size_t i = 0; i < pendingRows_->Count(); ++i)
    if (states & OleDbPendingStateBit(pendingRows_->StateAt(i))) return true;
  return false;
}

void TOleDbRowsetData::ProcessPendingRows(TOleDbPendingOperation operation, bool all, bool overwrite,
                                          HRESULT& result, DBROWSTATUS** statusesOut, HROW** handlesOut,
                                          DBCOUNTITEM* countOut, const HROW rghRows[], DBCOUNTITEM cRows) {
  result = S_OK;
  if ((cRows > 0 && !rghRows) || (countOut && !handlesOut)) throw EOleDbException(E_INVALIDARG);
  const bool wantHandles = countOut != nullptr;
  const bool wantStatuses = statusesOut != nullptr && (cRows > 0 || countOut != nullptr);
  if (countOut) *countOut = 0;
  if (wantHandles) *handlesOut = nullptr;
  if (statusesOut) *statusesOut = nullptr;

  std::vector<TOleDbRowHandle*> listed;
  if (all) ListPendingRows(OleDbPendingChanges, listed);
  const DBCOUNTITEM count = all ? listed.size() : cRows;
  if (count == 0) return;

  TTaskMemory<HROW[]> rows;
  TTaskMemory<DBROWSTATUS[]> statuses;
  // References handed to the consumer so far; taken back if the call fails.
  std::vector<HROW> referenced;
  try {
    if (wantHandles) rows = OleDbAllocArray<HROW>(count);
    if (wantStatuses) statuses = OleDbAllocArray<DBROWSTATUS>(count);
    DBCOUNTITEM failed = 0;
    for (DBCOUNTITEM i = 0; i < count; ++i) {
      TOleDbRowHandle* handle = all ? listed[i] : FindRowHandle(rghRows[i]);
      DBROWSTATUS status = DBROWSTATUS_E_INVALID;
      if (handle) {
        const HROW hRow = handle->HRow();
        status = DBROWSTATUS_S_OK;
        ProcessPendingRow(operation, *handle, overwrite, status);
        if (rows) {
          rows[i] = hRow;
          if (all) {
            handle->AddRef();
            referenced.push_back(hRow);
          }
        }
        // A row only its pending change kept alive goes once that is over.
        if (handle->RefCount() == 0) handle->Release();
      } else if (rows) {
        rows[i] = rghRows[i];
      }
      if (statuses) statuses[i] = status;
      if (IsRowFailure(status)) ++failed;
    }
    result = OleDbSummedResult(failed, count);
  } catch (...) {
    for (HROW hRow : referenced)
      if (TOleDbRowHandle* handle = FindRowHandle(hRow)) handle->Release();
    throw;
  }
  if (countOut) *countOut = count;
  if (wantHandles) *handlesOut = rows.release();
  if (wantStatuses) *statusesOut = statuses.release();
}

bool TOleDbRowsetData::GetPendingRows(HCHAPTER hChapter, DBPENDINGSTATUS dwRowStatus, DBCOUNTITEM* pcPendingRows,
                                      HROW** prgPendingRows, DBPENDINGSTATUS** prgPendingStatus) {
  TOleDbPendingStates states = 0;
  if (dwRowStatus & DBPENDINGSTATUS_NEW) states |= OleDbPendingStateBit(TOleDbPendingState::New);
  if (dwRowStatus & DBPENDINGSTATUS_CHANGED) states |= OleDbPendingStateBit(TOleDbPendingState::Changed);
  if (dwRowStatus & DBPENDINGSTATUS_DELETED) states |= OleDbPendingStateBit(TOleDbPendingState::Deleted);
  if (states == 0) throw EOleDbException(E_INVALIDARG);
  if (!pcPendingRows) return HasPendingRows(states);

  *pcPendingRows = 0;
  if (prgPendingRows) *prgPendingRows = nullptr;
  if (prgPendingStatus) *prgPendingStatus = nullptr;
  std::vector<TOleDbRowHandle*> listed;
  ListPendingRows(states, listed);
  if (!listed.empty() && (prgPendingRows || prgPendingStatus)) {
    TTaskMemory<HROW[]> rows;
    TTaskMemory<DBPENDINGSTATUS[]> statuses;
    if (prgPendingRows) rows = OleDbAllocArray<HROW>(listed.size());
    if (prgPendingStatus) statuses = OleDbAllocArray<DBPENDINGSTATUS>(listed.size());
    for (std::size_t i = 0; i < listed.size(); ++i) {
      if (rows) {
        rows[i] = listed[i]->HRow();
        // The consumer releases the rows it receives; a status-only answer
        // hands out no row, so it takes no reference.
        listed[i]->AddRef();
      }
      if (statuses) statuses[i] = OleDbPendingStatusOf(PendingRows().GetState(listed[i]->RowValue()));
    }
    if (prgPendingRows) *prgPendingRows = rows.release();
    if (prgPendingStatus) *prgPendingStatus = statuses.release();
  }
  *pcPendingRows = listed.size();
  return !listed.empty();
}

HRESULT TOleDbRowsetData::GetRowStatus(HCHAPTER hChapter, DBCOUNTITEM cRows, const HROW rghRows[],
                                       DBPENDINGSTATUS rgPendingStatus[]) {
  if (cRows == 0) return S_OK;
  if (!rghRows || !rgPendingStatus) throw EOleDbException(E_INVALIDARG);
  DBCOUNTITEM failed = 0;
  for (DBCOUNTITEM i = 0; i < cRows; ++i) {
    const TOleDbRowHandle* handle = FindRowHandle(rghRows[i]);
    if (!handle) {
      rgPendingStatus[i] = DBPENDINGSTATUS_INVALIDROW;
      ++failed;
      continue;
    }
    const TOleDbPendingState state =
        pendingRows_ ? pendingRows_->GetState(handle->RowValue()) : TOleDbPendingState::Unchanged;
    rgPendingStatus[i] = OleDbPendingStatusOf(state);
  }
  return OleDbSummedResult(failed, cRows);
}

HRESULT TOleDbRowsetData::Undo(HCHAPTER hReserved, DBCOUNTITEM cRows, const HROW rghRows[],
                               DBCOUNTITEM* pcRowsUndone, HROW** prgRowsUndone, DBROWSTATUS** prgRowStatus) {
  HRESULT result = S_OK;
  ProcessPendingRows(TOleDbPendingOperation::Undo, cRows == 0, false, result, prgRowStatus, prgRowsUndone,
                     pcRowsUndone, rghRows, cRows);
  return result;
}

HRESULT TOleDbRowsetData::Update(HCHAPTER hReserved, DBCOUNTITEM cRows, const HROW rghRows[], DBCOUNTITEM* pcRows,
                                 HROW** prgRows, DBROWSTATUS** prgRowStatus) {
  HRESULT result = S_OK;
  ProcessPendingRows(TOleDbPendingOperation::Update, cRows == 0, false, result, prgRowStatus, prgRows, pcRows,
                     rghRows, cRows);
  return result;
}

HRESULT TOleDbRowsetData::RefreshVisibleData(HCHAPTER hChapter, DBCOUNTITEM cRows, const HROW rghRows[],
                                             BOOL fOverwrite, DBCOUNTITEM* pcRowsRefreshed,
                                             HROW** prghRowsRefreshed, DBROWSTATUS** prgRowStatus) {
  HRESULT result = S_OK;
  ProcessPendingRows(TOleDbPendingOperation::Refresh, cRows == 0, fOverwrite != FALSE, result, prgRowStatus,
                     prghRowsRefreshed, pcRowsRefreshed, rghRows, cRows);
  if (!fOverwrite) return result;
  // Rows that failed to refresh stay reported when the data class agrees.
  const HRESULT refreshed = RowsRefreshed();
  return FAILED(refreshed) || result == S_OK ? refreshed : result;
}
