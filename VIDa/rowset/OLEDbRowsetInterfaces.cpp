// The rowset's data interfaces: IRowset, IRowsetLocate, IRowsetScroll,
// IRowsetChange, IRowsetUpdate, IRowsetRefresh and IRowsetIdentity, each a
// forward to the rowset data. Warnings the data returns (DB_S_ENDOFROWSET,
// DB_S_ERRORSOCCURRED) leave as the result, after every out-parameter is
// written.
#include "OLEDbRowset.h"

namespace {
// The fetch methods write through both pointers; the count is cleared first
// so that a failure never leaves a stale one.
void CheckFetchOutputs(DBCOUNTITEM* pcRowsObtained, HROW** prghRows) {
  if (pcRowsObtained) *pcRowsObtained = 0;
  if (!pcRowsObtained || !prghRows) throw EOleDbException(E_INVALIDARG);
}

// The rows a fetch handed out.
void TraceFetched(TOleDbTraceArgs& t, const DBCOUNTITEM* pcRowsObtained, HROW* const* prghRows) {
  t.Out("pcRowsObtained", pcRowsObtained);
  if (pcRowsObtained && prghRows && *pcRowsObtained > 0) t.Items("rghRows", *pcRowsObtained, *prghRows);
}
}  // namespace

// ---- IRowset

HRESULT TOleDbRowset::AddRefRows(DBCOUNTITEM cRows, const HROW rghRows[], DBREFCOUNT rgRefCounts[],
                                 DBROWSTATUS rgRowStatus[]) {
  return Guard([&] { OleDbError(rowHandleStorage_->AddRefRows(cRows, rghRows, rgRefCounts, rgRowStatus)); },
               [&](TOleDbTraceArgs& t) { t.Items("rghRows", cRows, rghRows); });
}

HRESULT TOleDbRowset::GetData(HROW hRow, HACCESSOR hAccessor, void* pData) {
  return Guard([&] { OleDbError(Data().GetData(hRow, hAccessor, pData)); },
               [&](TOleDbTraceArgs& t) { t("hRow", hRow)("hAccessor", hAccessor); });
}

HRESULT TOleDbRowset::GetNextRows(HCHAPTER hChapter, DBROWOFFSET lRowsOffset, DBROWCOUNT cRows,
                                  DBCOUNTITEM* pcRowsObtained, HROW** prghRows) {
  return Guard([&] {
    CheckFetchOutputs(pcRowsObtained, prghRows);
    OleDbError(Data().GetNextRows(hChapter, lRowsOffset, cRows, pcRowsObtained, prghRows, true));
  }, [&](TOleDbTraceArgs& t) {
    t("hChapter", hChapter)("lRowsOffset", lRowsOffset)("cRows", cRows);
    TraceFetched(t, pcRowsObtained, prghRows);
  });
}

HRESULT TOleDbRowset::ReleaseRows(DBCOUNTITEM cRows, const HROW rghRows[], DBROWOPTIONS rgRowOptions[],
                                  DBREFCOUNT rgRefCounts[], DBROWSTATUS rgRowStatus[]) {
  return Guard(
      [&] { OleDbError(rowHandleStorage_->ReleaseRows(cRows, rghRows, rgRowOptions, rgRefCounts, rgRowStatus)); },
      [&](TOleDbTraceArgs& t) { t.Items("rghRows", cRows, rghRows); });
}

HRESULT TOleDbRowset::RestartPosition(HCHAPTER hChapter) {
  return Guard([&] { Data().RestartPosition(hChapter); }, [&](TOleDbTraceArgs& t) { t("hChapter", hChapter); });
}

// ---- IRowsetLocate

HRESULT TOleDbRowset::Compare(HCHAPTER hChapter, DBBKMARK cbBookmark1, const BYTE* pBookmark1, DBBKMARK cbBookmark2,
                              const BYTE* pBookmark2, DBCOMPARE* pComparison) {
  return Guard([&] {
    if (!pComparison) throw EOleDbException(E_INVALIDARG);
    Data().Compare(hChapter, cbBookmark1, pBookmark1, cbBookmark2, pBookmark2, pComparison);
  }, [&](TOleDbTraceArgs& t) {
    t("hChapter", hChapter).Bytes("pBookmark1", cbBookmark1, pBookmark1).Bytes("pBookmark2", cbBookmark2, pBookmark2);
  });
}

HRESULT TOleDbRowset::GetRowsAt(HWATCHREGION, HCHAPTER hChapter, DBBKMARK cbBookmark, const BYTE* pBookmark,
                                DBROWOFFSET lRowsOffset, DBROWCOUNT cRows, DBCOUNTITEM* pcRowsObtained,
                                HROW** prghRows) {
  return Guard([&] {
    CheckFetchOutputs(pcRowsObtained, prghRows);
    OleDbError(Data().GetRowsAt(hChapter, cbBookmark, pBookmark, lRowsOffset, cRows, pcRowsObtained, prghRows));
  }, [&](TOleDbTraceArgs& t) {
    t("hChapter", hChapter).Bytes("pBookmark", cbBookmark, pBookmark)("lRowsOffset", lRowsOffset)("cRows", cRows);
    TraceFetched(t, pcRowsObtained, prghRows);
  });
}

HRESULT TOleDbRowset::GetRowsByBookmark(HCHAPTER hChapter, DBCOUNTITEM cRows, const DBBKMARK rgcbBookmarks[],
                                        const BYTE* rgpBookmarks[], HROW rghRows[], DBROWSTATUS rgRowStatus[]) {
  return Guard([&] {
    OleDbError(Data().GetRowsByBookmark(hChapter, cRows, rgcbBookmarks, rgpBookmarks, rghRows, rgRowStatus));
  }, [&](TOleDbTraceArgs& t) { t("hChapter", hChapter)("cRows", cRows); });
}

HRESULT TOleDbRowset::Hash(HCHAPTER hChapter, DBBKMARK cBookmarks, const DBBKMARK rgcbBookmarks[],
                           const BYTE* rgpBookmarks[], DBHASHVALUE rgHashedValues[], DBROWSTATUS rgBookmarkStatus[]) {
  return Guard([&] {
    OleDbError(Data().Hash(hChapter, cBookmarks, rgcbBookmarks, rgpBookmarks, rgHashedValues, rgBookmarkStatus));
  }, [&](TOleDbTraceArgs& t) { t("hChapter", hChapter)("cBookmarks", cBookmarks); });
}

// ---- IRowsetScroll

HRESULT TOleDbRowset::GetApproximatePosition(HCHAPTER hChapter, DBBKMARK cbBookmark, const BYTE* pBookmark,
                                             DBCOUNTITEM* pulPosition, DBCOUNTITEM* pcRows) {
  return Guard([&] { Data().GetApproximatePosition(hChapter, cbBookmark, pBookmark, pulPosition, pcRows); },
               [&](TOleDbTraceArgs& t) {
                 t("hChapter", hChapter).Bytes("pBookmark", cbBookmark, pBookmark);
                 t.Out("pulPosition", pulPosition).Out("pcRows", pcRows);
               });
}

HRESULT TOleDbRowset::GetRowsAtRatio(HWATCHREGION hReserved1, HCHAPTER hChapter, DBCOUNTITEM ulNumerator,
                                     DBCOUNTITEM ulDenominator, DBROWCOUNT cRows, DBCOUNTITEM* pcRowsObtained,
                                     HROW** prghRows) {
  return Guard([&] {
    CheckFetchOutputs(pcRowsObtained, prghRows);
    OleDbError(Data().GetRowsAtRatio(hReserved1, hChapter, ulNumerator, ulDenominator, cRows, pcRowsObtained,
                                     prghRows));
  }, [&](TOleDbTraceArgs& t) {
    t("hChapter", hChapter)("ulNumerator", ulNumerator)("ulDenominator", ulDenominator)("cRows", cRows);
    TraceFetched(t, pcRowsObtained, prghRows);
  });
}

// ---- IRowsetChange

HRESULT TOleDbRowset::DeleteRows(HCHAPTER hReserved, DBCOUNTITEM cRows, const HROW rghRows[],
                                 DBROWSTATUS rgRowStatus[]) {
  return Guard([&] { OleDbError(Data().DeleteRows(hReserved, cRows, rghRows, rgRowStatus)); },
               [&](TOleDbTraceArgs& t) { t.Items("rghRows", cRows, rghRows); });
}

HRESULT TOleDbRowset::SetData(HROW hRow, HACCESSOR hAccessor, void* pData) {
  return Guard([&] { OleDbError(Data().SetData(hRow, hAccessor, pData)); },
               [&](TOleDbTraceArgs& t) { t("hRow", hRow)("hAccessor", hAccessor); });
}

HRESULT TOleDbRowset::InsertRow(HCHAPTER hReserved, HACCESSOR hAccessor, void* pData, HROW* phRow) {
  return Guard([&] {
    if (phRow) *phRow = DB_NULL_HROW;
    OleDbError(Data().InsertRow(hReserved, hAccessor, pData, phRow));
  }, [&](TOleDbTraceArgs& t) { t("hAccessor", hAccessor).Out("phRow", phRow); });
}

// ---- IRowsetUpdate

HRESULT TOleDbRowset::GetOriginalData(HROW hRow, HACCESSOR hAccessor, void* pData) {
  return Guard([&] { OleDbError(Data().GetOriginalData(hRow, hAccessor, pData)); },
               [&](TOleDbTraceArgs& t) { t("hRow", hRow)("hAccessor", hAccessor); });
}

HRESULT TOleDbRowset::GetPendingRows(HCHAPTER hReserved, DBPENDINGSTATUS dwRowStatus, DBCOUNTITEM* pcPendingRows,
                                     HROW** prgPendingRows, DBPENDINGSTATUS** prgPendingStatus) {
  return Guard([&] {
    const bool any = Data().GetPendingRows(hReserved, dwRowStatus, pcPendingRows, prgPendingRows, prgPendingStatus);
    return any ? S_OK : S_FALSE;
  }, [&](TOleDbTraceArgs& t) { t("dwRowStatus", dwRowStatus).Out("pcPendingRows", pcPendingRows); });
}

HRESULT TOleDbRowset::GetRowStatus(HCHAPTER hReserved, DBCOUNTITEM cRows, const HROW rghRows[],
                                   DBPENDINGSTATUS rgPendingStatus[]) {
  return Guard([&] { OleDbError(Data().GetRowStatus(hReserved, cRows, rghRows, rgPendingStatus)); },
               [&](TOleDbTraceArgs& t) { t.Items("rghRows", cRows, rghRows); });
}

HRESULT TOleDbRowset::Undo(HCHAPTER hReserved, DBCOUNTITEM cRows, const HROW rghRows[], DBCOUNTITEM* pcRowsUndone,
                           HROW** prgRowsUndone, DBROWSTATUS** prgRowStatus) {
  return Guard(
      [&] { OleDbError(Data().Undo(hReserved, cRows, rghRows, pcRowsUndone, prgRowsUndone, prgRowStatus)); },
      [&](TOleDbTraceArgs& t) { t.Items("rghRows", cRows, rghRows).Out("pcRowsUndone", pcRowsUndone); });
}

HRESULT TOleDbRowset::Update(HCHAPTER hReserved, DBCOUNTITEM cRows, const HROW rghRows[], DBCOUNTITEM* pcRows,
                             HROW** prgRows, DBROWSTATUS** prgRowStatus) {
  return Guard([&] { OleDbError(Data().Update(hReserved, cRows, rghRows, pcRows, prgRows, prgRowStatus)); },
               [&](TOleDbTraceArgs& t) { t.Items("rghRows", cRows, rghRows).Out("pcRows", pcRows); });
}

// ---- IRowsetRefresh

HRESULT TOleDbRowset::RefreshVisibleData(HCHAPTER hChapter, DBCOUNTITEM cRows, const HROW rghRows[],
                                         BOOL fOverWrite, DBCOUNTITEM* pcRowsRefreshed, HROW** prghRowsRefreshed,
                                         DBROWSTATUS** prgRowStatus) {
  return Guard([&] {
    OleDbError(Data().RefreshVisibleData(hChapter, cRows, rghRows, fOverWrite, pcRowsRefreshed, prghRowsRefreshed,
                                         prgRowStatus));
  }, [&](TOleDbTraceArgs& t) {
    t("hChapter", hChapter).Items("rghRows", cRows, rghRows)("fOverWrite", fOverWrite);
    t.Out("pcRowsRefreshed", pcRowsRefreshed);
  });
}

HRESULT TOleDbRowset::GetLastVisibleData(HROW hRow, HACCESSOR hAccessor, void* pData) {
  return Guard([&] { OleDbError(Data().GetVisibleData(hRow, hAccessor, pData)); },
               [&](TOleDbTraceArgs& t) { t("hRow", hRow)("hAccessor", hAccessor); });
}

// ---- IRowsetIdentity

HRESULT TOleDbRowset::IsSameRow(HROW hThisRow, HROW hThatRow) {
  return Guard([&] { return Data().IsSameRow(hThisRow, hThatRow) ? S_OK : S_FALSE; },
               [&](TOleDbTraceArgs& t) { t("hThisRow", hThisRow)("hThatRow", hThatRow); });
}
