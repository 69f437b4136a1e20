// Fetching, positioning and bookmarks of the rowset data engine.
#include "OLEDbRowsetData.h"

#include <oledberr.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "OLEDbError.h"
#include "OLEDbGuard.h"
#include "OLEDbTaskMemory.h"

namespace {
DBCOUNTITEM Magnitude(DBROWOFFSET value) noexcept {
  return value < 0 ? DBCOUNTITEM(0) - static_cast<DBCOUNTITEM>(value) : static_cast<DBCOUNTITEM>(value);
}

bool IsStandardBookmark(DBBKMARK length) noexcept { return length == 1; }

// floor(a * b / c) for c > 0, exact while a and b fit 32 bits.
DBCOUNTITEM ScaledIndex(DBCOUNTITEM a, DBCOUNTITEM b, DBCOUNTITEM c) noexcept {
  constexpr unsigned long long Limit = std::numeric_limits<std::uint32_t>::max();
  if (a <= Limit && b <= Limit) return static_cast<DBCOUNTITEM>(static_cast<unsigned long long>(a) * b / c);
  const long double scaled = static_cast<long double>(a) * static_cast<long double>(b) / static_cast<long double>(c);
  return scaled >= static_cast<long double>(std::numeric_limits<DBCOUNTITEM>::max())
             ? std::numeric_limits<DBCOUNTITEM>::max()
             : static_cast<DBCOUNTITEM>(scaled);
}

void CheckFetchArguments(DBCOUNTITEM* pcRowsObtained, HROW** prghRows) {
  if (!pcRowsObtained || !prghRows) throw EOleDbException(E_INVALIDARG);
  *pcRowsObtained = 0;
}
}  // namespace

void TOleDbRowsetData::CheckFetch(DBROWOFFSET lRowsOffset, DBROWCOUNT cRows) {
  if (lRowsOffset < 0 && !GetBoolRowsetProperty(DBPROP_CANSCROLLBACKWARDS))
    throw EOleDbException(DB_E_CANTSCROLLBACKWARDS);
  if (cRows < 0 && !GetBoolRowsetProperty(DBPROP_CANFETCHBACKWARDS)) throw EOleDbException(DB_E_CANTFETCHBACKWARDS);
  if (owner_ && owner_->OwnerRowHandles().Count() > 0 && !GetBoolRowsetProperty(DBPROP_CANHOLDROWS))
    throw EOleDbException(DB_E_ROWSNOTRELEASED);
}

TOleDbCursorPosition TOleDbRowsetData::DirectionalStep(TOleDbFetchDirection direction) {
  if (direction == TOleDbFetchDirection::None) return TOleDbCursorPosition::OnRow;
  const bool forward = direction == TOleDbFetchDirection::Forward;
  TOleDbCursorPosition position;
  if (atStart_) {
    if (forward) {
      MoveCursor(TOleDbMoveKind::ToStart, 1);
      position = MoveCursor(TOleDbMoveKind::Forward, 1);
    } else {
      MoveCursor(TOleDbMoveKind::ToEnd, 1);
      position = MoveCursor(TOleDbMoveKind::Backward, 1);
    }
  } else if (direction != lastDirection_) {
    // Turning round returns the row fetched last first.
    position = MoveCursor(TOleDbMoveKind::Stay, 1);
  } else {
    position = MoveCursor(forward ? TOleDbMoveKind::Forward : TOleDbMoveKind::Backward, 1);
  }
  lastDirection_ = direction;
  atStart_ = false;
  return position;
}

HRESULT TOleDbRowsetData::GetNextRows(HCHAPTER hChapter, DBROWOFFSET lRowsOffset, DBROWCOUNT cRows,
                                      DBCOUNTITEM* pcRowsObtained, HROW** prghRows, bool step) {
  CheckFetchArguments(pcRowsObtained, prghRows);
  if (cRows == 0) return S_OK;
  CheckFetch(lRowsOffset, cRows);
  // The consumer's array is taken before the fetch moves the cursor, so that
  // running out of memory for it loses no row of a forward-only rowset; only
  // a fetch of more rows than that allocates after.
  constexpr DBCOUNTITEM RowsAllocatedFirst = 1024;
  TTaskMemory<HROW[]> allocated;
  if (!*prghRows) allocated = OleDbAllocArray<HROW>(std::min<DBCOUNTITEM>(Magnitude(cRows), RowsAllocatedFirst));
  // So is the first row's place: its handle and its entry in the list.
  fetchList_.clear();
  struct TListReset {
    std::vector<TOleDbRowHandle*>& List;
    ~TListReset() { List.clear(); }
  } reset{fetchList_};
  if (fetchList_.capacity() == 0) fetchList_.reserve(16);
  struct TUnusedHandle {
    TOleDbRowHandles& Handles;
    TTakenRowHandle Taken;
    ~TUnusedHandle() {
      if (Taken.Handle && Taken.Created) Handles.DestroyHandle(*Taken.Handle);
    }
  } first{RowHandles(), TakeRowHandle()};
  if (step) {
    if (atStart_ && lRowsOffset < 0) ++lRowsOffset;
    DirectionalStep(cRows > 0 ? TOleDbFetchDirection::Forward : TOleDbFetchDirection::Backward);
  }
  if (lRowsOffset != 0) {
    const TOleDbCursorPosition position =
        MoveCursor(lRowsOffset > 0 ? TOleDbMoveKind::Forward : TOleDbMoveKind::Backward, Magnitude(lRowsOffset));
    if (position != TOleDbCursorPosition::OnRow) return DB_S_ENDOFROWSET;
  }

  DBCOUNTITEM obtained = 0;
  HRESULT result = S_OK;
  FetchRows(cRows, obtained, result, fetchList_, first.Taken);
  if (obtained > 0) {
    HROW* rows = *prghRows;
    if (!rows && obtained <= RowsAllocatedFirst) rows = allocated.release();
    if (!rows) {
      try {
        rows = static_cast<HROW*>(OleDbAlloc(obtained * sizeof(HROW)));
      } catch (...) {
        for (TOleDbRowHandle* handle : fetchList_) handle->Release();
        throw;
      }
    }
    for (DBCOUNTITEM i = 0; i < obtained; ++i) rows[i] = fetchList_[i]->HRow();
    *prghRows = rows;
    *pcRowsObtained = obtained;
  }
  return result;
}

TOleDbRowsetData::TTakenRowHandle TOleDbRowsetData::TakeRowHandle() {
  TTakenRowHandle taken{ReuseRowHandle(), false};
  if (!taken.Handle) taken = {&RowHandles().CreateHandle(-1), true};
  return taken;
}

void TOleDbRowsetData::FetchRows(DBROWCOUNT cRows, DBCOUNTITEM& rowsObtained, HRESULT& result,
                                 std::vector<TOleDbRowHandle*>& handles, TTakenRowHandle& firstHandle) {
  result = S_OK;
  rowsObtained = 0;
  const TOleDbMoveKind kind = cRows > 0 ? TOleDbMoveKind::Forward : TOleDbMoveKind::Backward;
  DBCOUNTITEM remaining = Magnitude(cRows);
  const std::size_t first = handles.size();
  TOleDbRowHandle* current = nullptr;
  bool created = false;
  auto takeHandle = [&] {
    const TTakenRowHandle taken = firstHandle.Handle ? std::exchange(firstHandle, {}) : TakeRowHandle();
    current = taken.Handle;
    created = taken.Created;
    if (handles.size() == handles.capacity()) handles.reserve(handles.size() * 2 + 16);
  };
  // The cursor stands on a row already handed out whenever the fetch may run
  // out of memory after its first row: a forward-only rowset cannot step back
  // to a row it read and dropped.
  bool onHandedOutRow = false;
  try {
    takeHandle();
    while (remaining > 0) {
      if (FetchCurrentRow(*current) != TOleDbCursorPosition::OnRow) {
        result = DB_S_ENDOFROWSET;
        break;
      }
      handles.push_back(std::exchange(current, nullptr));
      handles.back()->AddRef();
      onHandedOutRow = true;
      --remaining;
      if (remaining == 0) break;
      takeHandle();
      if (MoveCursor(kind, 1) != TOleDbCursorPosition::OnRow) {
        result = DB_S_ENDOFROWSET;
        break;
      }
      onHandedOutRow = false;
    }
    if (current && created) RowHandles().DestroyHandle(*current);
    current = nullptr;
    if (FAILED(result)) throw EOleDbException(result);
    rowsObtained = handles.size() - first;
  } catch (...) {
    if (current && created) RowHandles().DestroyHandle(*current);
    // Out of memory after some rows: they are the consumer's, as when the
    // rowset can hold no more active rows, and the next fetch goes on from there.
    if (onHandedOutRow && handles.size() > first && OleDbCurrentFailure().Result == E_OUTOFMEMORY) {
      rowsObtained = handles.size() - first;
      result = DB_S_ROWLIMITEXCEEDED;
      return;
    }
    for (std::size_t i = first; i < handles.size(); ++i) {
      try {
        handles[i]->Release();
      } catch (...) {
        // Every taken handle goes back, whatever a listener does.
      }
    }
    handles.resize(first);
    throw;
  }
}

void TOleDbRowsetData::RestartPosition(HCHAPTER hChapter) { RestartPosition(); }

void TOleDbRowsetData::RestartPosition() {
  atStart_ = true;
  lastDirection_ = TOleDbFetchDirection::Forward;
  MoveCursor(TOleDbMoveKind::ToStart, 1);
}

// ---- Positioned fetches ---------------------------------------------------------

TOleDbRowsetData::TSavedPosition TOleDbRowsetData::SavePosition() {
  TSavedPosition saved;
  saved.Position = MoveCursor(TOleDbMoveKind::Stay, 1);
  if (saved.Position == TOleDbCursorPosition::OnRow) saved.Bookmark = GetBookmark();
  return saved;
}

void TOleDbRowsetData::RestorePosition(TSavedPosition& saved) {
  switch (saved.Position) {
    case TOleDbCursorPosition::BeforeFirst:
      MoveCursor(TOleDbMoveKind::ToStart, 1);
      return;
    case TOleDbCursorPosition::AfterLast:
      MoveCursor(TOleDbMoveKind::ToEnd, 1);
      return;
    case TOleDbCursorPosition::OnRow:
      break;
  }
  void* bookmark = std::exchange(saved.Bookmark, nullptr);
  try {
    GotoBookmark(bookmark);
  } catch (...) {
    FreeBookmark(bookmark);
    throw;
  }
  FreeBookmark(bookmark);
}

template <class F>
HRESULT TOleDbRowsetData::WithSavedPosition(F&& fetch) {
  TSavedPosition saved = SavePosition();
  HRESULT result;
  try {
    result = fetch();
  } catch (...) {
    try {
      RestorePosition(saved);
    } catch (...) {
      // The fetch's own failure is the one to report.
    }
    throw;
  }
  RestorePosition(saved);
  return result;
}

namespace {
// Takes back the rows of a positioned fetch whose cursor could not be
// restored, so the failed call leaves no rows held.
void DiscardFetchedRows(TOleDbRowHandles& handles, DBCOUNTITEM* pcRowsObtained, HROW** prghRows,
                        HROW* consumerArray) noexcept {
  for (DBCOUNTITEM i = 0; i < *pcRowsObtained; ++i) {
    if (TOleDbRowHandle* handle = handles.FindHandle((*prghRows)[i])) {
      try {
        handle->Release();
      } catch (...) {
      }
    }
  }
  if (!consumerArray && *prghRows) {
    CoTaskMemFree(*prghRows);
    *prghRows = nullptr;
  }
  *pcRowsObtained = 0;
}
}  // namespace

bool TOleDbRowsetData::IsProviderBookmark(DBBKMARK length) const noexcept {
  const TOleDbColumn* column = Columns().BookmarkColumn();
  return column && column->Size > 1 && length == column->Size;
}

HRESULT TOleDbRowsetData::GetRowsAt(HCHAPTER hChapter, DBBKMARK cbBookmark, const BYTE* pBookmark,
                                    DBROWOFFSET lRowsOffset, DBROWCOUNT cRows, DBCOUNTITEM* pcRowsObtained,
                                    HROW** prghRows) {
  CheckFetchArguments(pcRowsObtained, prghRows);
  if (cRows == 0) return S_OK;
  if (!pBookmark || cbBookmark == 0) throw EOleDbException(E_INVALIDARG);
  if (IsStandardBookmark(cbBookmark) ? pBookmark[0] != DBBMK_FIRST && pBookmark[0] != DBBMK_LAST
                                     : !IsProviderBookmark(cbBookmark))
    throw EOleDbException(DB_E_BADBOOKMARK);

  HROW* const consumerArray = *prghRows;
  bool fetched = false;
  try {
    return WithSavedPosition([&] {
      if (!IsStandardBookmark(cbBookmark)) {
        GotoBookmark(pBookmark);
      } else if (pBookmark[0] == DBBMK_FIRST) {
        MoveCursor(TOleDbMoveKind::ToStart, 1);
        MoveCursor(TOleDbMoveKind::Forward, 1);
      } else {
        MoveCursor(TOleDbMoveKind::ToEnd, 1);
        MoveCursor(TOleDbMoveKind::Backward, 1);
      }
      const HRESULT result = GetNextRows(hChapter, lRowsOffset, cRows, pcRowsObtained, prghRows, false);
      fetched = true;
      return result;
    });
  } catch (...) {
    if (fetched) DiscardFetchedRows(RowHandles(), pcRowsObtained, prghRows, consumerArray);
    throw;
  }
}

HRESULT TOleDbRowsetData::GetRowsAtRatio(HWATCHREGION hReserved, HCHAPTER hChapter, DBCOUNTITEM ulNumerator,
                                         DBCOUNTITEM ulDenominator, DBROWCOUNT cRows, DBCOUNTITEM* pcRowsObtained,
                                         HROW** prghRows) {
  CheckFetchArguments(pcRowsObtained, prghRows);
  if (cRows == 0) return S_OK;

  HROW* const consumerArray = *prghRows;
  bool fetched = false;
  try {
    return WithSavedPosition([&]() -> HRESULT {
      if (ulNumerator == 0 && cRows > 0) {
        MoveCursor(TOleDbMoveKind::ToStart, 1);
        MoveCursor(TOleDbMoveKind::Forward, 1);
      } else if ((ulNumerator == 0 && cRows < 0) || (ulNumerator == ulDenominator && cRows > 0)) {
        return DB_S_ENDOFROWSET;
      } else if (ulNumerator == ulDenominator && cRows < 0) {
        MoveCursor(TOleDbMoveKind::ToEnd, 1);
        MoveCursor(TOleDbMoveKind::Backward, 1);
      } else {
        if (ulDenominator == 0) throw EOleDbException(DB_E_BADRATIO);
        const DBCOUNTITEM rowCount = GetRowCount();
        if (rowCount == 0) return DB_S_ENDOFROWSET;
        DBCOUNTITEM index = ScaledIndex(ulNumerator, rowCount, ulDenominator);
        if (index >= rowCount) index = rowCount - 1;
        SetRowIndex(index);
      }
      const HRESULT result = GetNextRows(hChapter, 0, cRows, pcRowsObtained, prghRows, false);
      fetched = true;
      return result;
    });
  } catch (...) {
    if (fetched) DiscardFetchedRows(RowHandles(), pcRowsObtained, prghRows, consumerArray);
    throw;
  }
}

// ---- Bookmark operations ------------------------------------------------------

void TOleDbRowsetData::Compare(HCHAPTER hChapter, DBBKMARK cbBookmark1, const BYTE* pBookmark1, DBBKMARK cbBookmark2,
                               const BYTE* pBookmark2, DBCOMPARE* pComparison) {
  if (!pComparison || !pBookmark1 || !pBookmark2 || cbBookmark1 == 0 || cbBookmark2 == 0)
    throw EOleDbException(E_INVALIDARG);
  const bool standard1 = IsStandardBookmark(cbBookmark1);
  const bool standard2 = IsStandardBookmark(cbBookmark2);
  if ((!standard1 && !IsProviderBookmark(cbBookmark1)) || (!standard2 && !IsProviderBookmark(cbBookmark2)))
    throw EOleDbException(DB_E_BADBOOKMARK);
  if (!standard1 && !standard2) {
    *pComparison = CompareBookmarks(pBookmark1, pBookmark2);
    return;
  }
  if ((standard1 && pBookmark1[0] == DBBMK_INVALID) || (standard2 && pBookmark2[0] == DBBMK_INVALID))
    throw EOleDbException(DB_E_BADBOOKMARK);
  *pComparison = standard1 && standard2 && pBookmark1[0] == pBookmark2[0] ? DBCOMPARE_EQ : DBCOMPARE_NE;
}

HRESULT TOleDbRowsetData::GetRowsByBookmark(HCHAPTER hChapter, DBCOUNTITEM cRows, const DBBKMARK rgcbBookmarks[],
                                            const BYTE* rgpBookmarks[], HROW rghRows[], DBROWSTATUS rgRowStatus[]) {
  if (cRows == 0) return S_OK;
  if (!rghRows || !rgcbBookmarks || !rgpBookmarks) throw EOleDbException(E_INVALIDARG);
  std::memset(rghRows, 0, cRows * sizeof(HROW));
  if (rgRowStatus) std::memset(rgRowStatus, 0, cRows * sizeof(DBROWSTATUS));
  TOleDbRowHandles& handles = RowHandles();
  DBCOUNTITEM failed = 0;
  DBCOUNTITEM i = 0;
  try {
    for (; i < cRows; ++i) {
      DBROWSTATUS status = DBROWSTATUS_E_INVALID;
      if (rgpBookmarks[i] && IsProviderBookmark(rgcbBookmarks[i])) {
        status = DBROWSTATUS_S_OK;
        std::int32_t rowValue = -1;
        GetBookmarkRow(rgpBookmarks[i], rowValue, status);
        if (status == DBROWSTATUS_S_OK) {
          TOleDbRowHandle& handle = handles.CreateHandle(rowValue);
          rghRows[i] = handle.HRow();
          handle.AddRef();
        }
      }
      if (rgRowStatus) rgRowStatus[i] = status;
      if (status != DBROWSTATUS_S_OK) ++failed;
    }
  } catch (...) {
    for (DBCOUNTITEM j = 0; j <= i && j < cRows; ++j) {
      if (TOleDbRowHandle* handle = handles.FindHandle(rghRows[j])) {
        try {
          handle->Release();
        } catch (...) {
        }
      }
      rghRows[j] = DB_NULL_HROW;
    }
    throw;
  }
  return OleDbSummedResult(failed, cRows);
}

HRESULT TOleDbRowsetData::Hash(HCHAPTER hChapter, DBBKMARK cBookmarks, const DBBKMARK rgcbBookmarks[],
                               const BYTE* rgpBookmarks[], DBHASHVALUE rgHashedValues[],
                               DBROWSTATUS rgBookmarkStatus[]) {
  if (cBookmarks == 0) return S_OK;
  if (!rgHashedValues || !rgcbBookmarks || !rgpBookmarks) throw EOleDbException(E_INVALIDARG);
  std::memset(rgHashedValues, 0, cBookmarks * sizeof(DBHASHVALUE));
  if (rgBookmarkStatus) std::memset(rgBookmarkStatus, 0, cBookmarks * sizeof(DBROWSTATUS));
  DBCOUNTITEM failed = 0;
  for (DBBKMARK i = 0; i < cBookmarks; ++i) {
    DBROWSTATUS status = DBROWSTATUS_E_INVALID;
    if (rgpBookmarks[i] && IsProviderBookmark(rgcbBookmarks[i])) {
      DBHASHVALUE hash = 0;
      HashBookmark(rgpBookmarks[i], hash, status);
      if (status == DBROWSTATUS_S_OK) rgHashedValues[i] = hash;
    }
    if (rgBookmarkStatus) rgBookmarkStatus[i] = status;
    if (status != DBROWSTATUS_S_OK) ++failed;
  }
  return OleDbSummedResult(failed, cBookmarks);
}

void TOleDbRowsetData::GetApproximatePosition(HCHAPTER hReserved, DBBKMARK cbBookmark, const BYTE* pBookmark,
                                              DBCOUNTITEM* pulPosition, DBCOUNTITEM* pcRows) {
  if (cbBookmark > 0 && !pBookmark) throw EOleDbException(E_INVALIDARG);
  const DBCOUNTITEM rowCount = GetRowCount();
  if (pcRows) *pcRows = rowCount;
  if (cbBookmark == 0) return;
  DBCOUNTITEM position = 0;
  if (rowCount > 0) {
    if (IsStandardBookmark(cbBookmark)) {
      if (pBookmark[0] == DBBMK_FIRST)
        position = 1;
      else if (pBookmark[0] == DBBMK_LAST)
        position = rowCount;
      else
        throw EOleDbException(DB_E_BADBOOKMARK);
    } else {
      if (!IsProviderBookmark(cbBookmark)) throw EOleDbException(DB_E_BADBOOKMARK);
      position = GetBookmarkRowIndex(pBookmark) + 1;
    }
  }
  if (pulPosition) *pulPosition = position;
}
