#pragma once
// Buffered rowset data with bookmarks and positioning by row index: the data
// of the column-information and schema rowsets. A producer defines the
// columns, calls InitLayout once, then appends rows and sets their values:
//
//   TComPtr<TSimpleRowsetData> data = MakeComObject<TSimpleRowsetData>();
//   data->GetColumns().AddColumn(L"NAME", DBTYPE_WSTR, 256);
//   data->InitLayout();
//   data->AppendRow();                       // the cursor is on the new row
//   data->SetValueByKey(ColumnKey, value);
//
// With a bookmark column of type DBTYPE_I4 or DBTYPE_UI4 every appended row
// gets its bookmark: a 4-byte token that is the row's index, valid until the
// rows are cleared. Tokens no row has are refused (DB_E_BADBOOKMARK).
#include "OLEDbBufferedRowsetData.h"

class TSimpleRowsetData : public TBufferedRowsetData {
public:
  // The row layout of the columns defined so far.
  void InitLayout() { InitRowLayout(); }
  // A new row with its bookmark set; the cursor moves onto it.
  std::byte* AppendRow();
  // A bookmark column of a 4-byte integer type exists.
  bool BookmarksOn() const noexcept;

  void GotoBookmark(const void* bookmark) override;
  DBCOMPARE CompareBookmarks(const BYTE* bookmark1, const BYTE* bookmark2) override;
  void HashBookmark(const BYTE* bookmark, DBHASHVALUE& hash, DBROWSTATUS& status) override;
  DBCOUNTITEM GetRowCount() override { return static_cast<DBCOUNTITEM>(RowCount()); }
  // "Bookmark column is not available" without a bookmark column, E_FAIL
  // "Bookmark type is unsupoorted" for one that is not a 4-byte integer.
  DBCOUNTITEM GetBookmarkRowIndex(const BYTE* bookmark) override;
  void SetRowIndex(DBCOUNTITEM index) override;

protected:
  // Writes the bookmark of a row in use (bookmarks on).
  void StampBookmark(std::int32_t rowIndex);
  // The row a token stands for, or -1.
  std::int32_t RowIndexOfBookmark(const BYTE* bookmark) const noexcept;
};
