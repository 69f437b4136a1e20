#include "OLEDbSimpleRowsetData.h"

#include <oledberr.h>

#include <cstring>

#include "OLEDbError.h"

std::byte* TSimpleRowsetData::AppendRow() {
  std::byte* buffer = AddRow();
  MoveCursor(TOleDbMoveKind::ToEnd, 1);
  MoveCursor(TOleDbMoveKind::Backward, 1);
  if (BookmarksOn()) StampBookmark(Current());
  return buffer;
}

bool TSimpleRowsetData::BookmarksOn() const noexcept {
  const TOleDbColumn* column = Columns->BookmarkColumn();
  return column && (column->DataType == DBTYPE_I4 || column->DataType == DBTYPE_UI4);
}

void TSimpleRowsetData::StampBookmark(std::int32_t rowIndex) {
  const TOleDbColumn& column = *Columns->BookmarkColumn();
  std::byte* buffer = RowBuffer(rowIndex);
  SetColumnNull(buffer, column.Index, false);
  std::memcpy(buffer + ColumnOffset(column.Index), &rowIndex, sizeof rowIndex);
}

std::int32_t TSimpleRowsetData::RowIndexOfBookmark(const BYTE* bookmark) const noexcept {
  std::int32_t token;
  std::memcpy(&token, bookmark, sizeof token);
  if (token < 0 || token >= RowCount()) return -1;
  return token;
}

DBCOUNTITEM TSimpleRowsetData::GetBookmarkRowIndex(const BYTE* bookmark) {
  const TOleDbColumn* column = Columns->BookmarkColumn();
  if (!column) RowsetDataAssertionFailed(L"Bookmark column is not available");
  if (column->DataType != DBTYPE_I4 && column->DataType != DBTYPE_UI4)
    throw EOleError(L"Bookmark type is unsupoorted", E_FAIL);
  const std::int32_t index = RowIndexOfBookmark(bookmark);
  if (index < 0) throw EOleDbException(DB_E_BADBOOKMARK);
  return static_cast<DBCOUNTITEM>(index);
}

void TSimpleRowsetData::GotoBookmark(const void* bookmark) {
  SetCurrent(static_cast<std::int32_t>(GetBookmarkRowIndex(static_cast<const BYTE*>(bookmark))));
}

DBCOMPARE TSimpleRowsetData::CompareBookmarks(const BYTE* bookmark1, const BYTE* bookmark2) {
  return GetBookmarkRowIndex(bookmark1) == GetBookmarkRowIndex(bookmark2) ? DBCOMPARE_EQ : DBCOMPARE_NE;
}

void TSimpleRowsetData::HashBookmark(const BYTE* bookmark, DBHASHVALUE& hash, DBROWSTATUS& status) {
  if (!BookmarksOn()) TBufferedRowsetData::HashBookmark(bookmark, hash, status);
  const std::int32_t index = RowIndexOfBookmark(bookmark);
  // A token no row has keeps the preset failure status.
  if (index < 0) return;
  hash = static_cast<DBHASHVALUE>(index);
  status = DBROWSTATUS_S_OK;
}

void TSimpleRowsetData::SetRowIndex(DBCOUNTITEM index) {
  if (index >= static_cast<DBCOUNTITEM>(RowCount())) RowsetDataRangeError();
  SetCurrent(static_cast<std::int32_t>(index));
}
