#pragma once
// Rowset data held in memory: one fixed-size buffer per row, filled by a
// producer row by row and served by the rowset data engine.
//
// Row buffer layout (RowSize bytes, zero-filled when allocated, 16-aligned):
//   every column's value in the column's own DBTYPE, in column order, each
//   slot starting on an 8-byte boundary (a VARIANT or DBTIMESTAMP in place is
//   aligned for the conversion library);
//   the null bits: one 32-bit word per 32 columns (column i is NULL when bit
//   i % 32 of word i / 32 is set);
//   the row's index in the row list (32-bit).
//
// A row's row value is its index, so a handle finds its buffer in O(1) and
// stays meaningful on any pointer size. Buffers never move once allocated:
// growing only lengthens the list of buffers.
#include <windows.h>
#include <oledb.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "OLEDbRowsetData.h"

struct TRowBufferDeleter {
  void operator()(std::byte* block) const noexcept;
};
using TRowBuffer = std::unique_ptr<std::byte[], TRowBufferDeleter>;

// Assertion failures of a producer ("No rows available" and the like) reach
// the consumer as E_UNEXPECTED with that message.
[[noreturn]] void RowsetDataAssertionFailed(const wchar_t* message);
// An index outside the rows or columns: E_UNEXPECTED "Range check error".
[[noreturn]] void RowsetDataRangeError();

class TBufferedRowsetData : public TOleDbRowsetData {
public:
  static constexpr std::int32_t DefaultGrowBy = 25;

  TBufferedRowsetData() = default;
  ~TBufferedRowsetData() override;

  // ---- For producers ----------------------------------------------------------

  // Allocates or frees row buffers so that exactly capacity exist; new ones
  // are zero-filled with their null bits as NullByDefault says. Rows beyond
  // a smaller capacity are gone: the row count and cursor follow. Raises
  // "Row buffer size is not initialized" before InitRowLayout.
  void SetCapacity(std::int32_t capacity);
  // One more row in use (growing by GrowBy when full); the cursor stays.
  std::byte* AddRow();
  // Raises unless the cursor is on a row.
  std::byte* CurrentRowBuffer() const;
  // Raises the range error for a row outside 0 ... RowCount - 1.
  std::byte* RowBuffer(std::int32_t rowIndex) const;

  bool IsColumnNull(const std::byte* buffer, std::size_t columnIndex) const;
  void SetColumnNull(std::byte* buffer, std::size_t columnIndex, bool isNull) const;

  // A variant converted into the column's storage (VT_NULL sets the NULL
  // bit); a conversion failure raises its code with "Unable to convert data".
  void SetValue(std::int32_t rowIndex, std::size_t columnIndex, const VARIANT& value);
  // The column's value as a variant (VT_NULL for NULL); value must be
  // initialised and its old content is freed.
  void GetValue(std::int32_t rowIndex, std::size_t columnIndex, VARIANT& value) const;
  // SetValueByKey for each pair in order; both lists have the same length.
  void SetValues(std::span<const VARIANT> keys, std::span<const VARIANT> values);

  // Keys are column numbers (VT_I2, VT_I4: the index in column order) or
  // column names (VT_BSTR); these act on the current row.
  void GetValueByKey(const VARIANT& key, VARIANT& value) const;
  void SetValueByKey(const VARIANT& key, const VARIANT& value);
  void* ValuePointerByKey(const VARIANT& key) const;
  // The same pointer, with the column's NULL bit cleared.
  void* ValuePointerForWriteByKey(const VARIANT& key);
  // "Invalid column name" for an unknown name, E_FAIL "Invalid column index"
  // for a key of another type.
  std::size_t ColumnIndexOfKey(const VARIANT& key) const;

  // Row buffers added whenever the rows are full.
  std::int32_t GrowBy = DefaultGrowBy;
  // The NULL state of every column of a new row.
  bool NullByDefault = false;

  std::int32_t Capacity() const noexcept { return static_cast<std::int32_t>(rows_.size()); }
  std::int32_t RowCount() const noexcept { return rowCount_; }
  // -1 before the first row, RowCount after the last.
  std::int32_t Current() const noexcept { return current_; }
  // 0 until the layout is computed.
  std::int32_t RowSize() const noexcept { return rowSize_; }
  std::int32_t ColumnOffset(std::size_t columnIndex) const;

  // ---- Slots of the buffered data ----------------------------------------------

  // Column offsets and row size from the columns as they are now.
  virtual void InitRowLayout();
  virtual TRowBuffer AllocRowBuffer();
  virtual void FreeRowBuffer(TRowBuffer buffer);
  virtual void InitRowNulls(std::byte* buffer);
  // What a row holds besides its bytes: VARIANT and BSTR values.
  virtual void FreeRowData(std::byte* buffer);
  // DB_E_BADROWHANDLE for a row value that is no row in use.
  virtual std::byte* RowValueToBuffer(std::int32_t rowValue) const;
  // No rows any more, the layout kept.
  virtual void ClearRows();

  // ---- Engine slots ------------------------------------------------------------

  // Current, original and visible data are the same.
  void GetColumnReadBuffer(TOleDbDataMode mode, std::int32_t rowValue, const TOleDbColumn& column, void*& data,
                           DBLENGTH& length, bool& isNull) override;
  TOleDbCursorPosition MoveCursor(TOleDbMoveKind kind, DBCOUNTITEM count) override;
  TOleDbCursorPosition FetchCurrentRow(TOleDbRowHandle& handle) override;
  // The bookmark column's value inside the current row: nothing is copied,
  // and FreeBookmark has nothing to free.
  void* GetBookmark() override;
  void FreeBookmark(void* bookmark) override;
  // A copy of the stored value for reading (text without its terminator);
  // none for write access, which a copy could not carry back.
  std::unique_ptr<TOleDbByteStream> GetColumnBlobStream(TOleDbDataMode mode, std::int32_t rowValue,
                                                        const TOleDbColumn& column, TOleDbBlobAccess access,
                                                        void* data) override;
  // A written value is no longer NULL; the bookmark column is read-only.
  bool SetColumnValue(void* pData, TOleDbRowHandle& handle, DBCOUNTITEM bindingIndex,
                      const TOleDbAccessor& accessor, const TOleDbColumn& column) override;
  // NULL sets the column's NULL bit; default empties the value and gives it
  // the NULL state of a new row.
  void SetColumnStatus(std::int32_t rowValue, const TOleDbColumn& column, DBSTATUS& status,
                       TOleDbColumnStatusKind kind) override;

protected:
  std::int32_t RowIndexOfBuffer(const std::byte* buffer) const noexcept;
  // Cursor position code of Current.
  TOleDbCursorPosition Position() const noexcept;
  void SetCurrent(std::int32_t current) noexcept { current_ = current; }
  // Frees the value a VARIANT or BSTR column holds and zeroes its slot.
  void ReleaseValue(std::byte* buffer, std::size_t columnIndex) const;

private:
  std::byte* ValueAt(std::byte* buffer, std::size_t columnIndex) const;
  std::uint32_t* NullWords(std::byte* buffer) const noexcept;
  const std::uint32_t* NullWords(const std::byte* buffer) const noexcept;
  void CheckColumnIndex(std::size_t columnIndex) const;

  std::vector<TRowBuffer> rows_;
  std::int32_t rowCount_ = 0;
  std::int32_t current_ = -1;
  std::vector<std::int32_t> columnOffsets_;
  std::int32_t nullWordsOffset_ = 0;
  std::int32_t nullWordCount_ = 0;
  std::int32_t rowIndexOffset_ = 0;
  std::int32_t rowSize_ = 0;
};
