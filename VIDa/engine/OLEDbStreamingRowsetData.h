#pragma once
// Rowset data over a source that can only be read forward, one record after
// another (a file, a pipe): the cursor never goes back, there are no bookmarks
// and nothing is written. A data class says how to open its source and how
// to read the next record into a given one; the base keeps a record for every
// row a consumer holds, learns the row count at the end of the source and
// refuses what such a rowset cannot do, with the data class's own messages.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "OLEDbRowsetData.h"

// One row as read from the source; data classes derive their record from it.
class TOleDbStreamRecord {
public:
  virtual ~TOleDbStreamRecord() = default;

private:
  friend class TOleDbStreamRecordPool;
  friend class TOleDbStreamingRowsetData;
  // Row handles that stand for this record.
  std::int32_t holders_ = 0;
  // Its values by column index, once a read has asked for them; a record
  // read anew forgets them.
  std::vector<TOleDbColumnValue> values_;
  bool valuesKnown_ = false;
};

// Records of the rows a consumer holds, reused as their handles go: a slot
// number identifies a record for as long as a handle holds it. Records are
// only made while more rows are held at once than ever before.
class TOleDbStreamRecordPool {
public:
  static constexpr std::int32_t NoSlot = -1;
  using TFactory = std::unique_ptr<TOleDbStreamRecord> (*)();

  // The record of slot, or null for a number no slot has.
  TOleDbStreamRecord* Record(std::int32_t slot) noexcept;
  // A slot nobody holds: a released one, or a new one made by factory.
  std::int32_t TakeFree(TFactory factory);
  // A slot that is neither held nor current any more.
  void GiveBack(std::int32_t slot);
  std::size_t Size() const noexcept { return records_.size(); }

private:
  std::vector<std::unique_ptr<TOleDbStreamRecord>> records_;
  std::vector<std::int32_t> free_;
};

class TOleDbStreamingRowsetData : public TOleDbRowsetData {
public:
  // What the consumer is told when it asks for what a forward-only,
  // read-only source cannot give.
  struct TRefusals {
    const wchar_t* MoveBack;
    const wchar_t* Bookmark;
    const wchar_t* Write;
  };

  TOleDbStreamingRowsetData(TOleDbStreamRecordPool::TFactory newRecord, TRefusals refusals);

  // What the rowset over such data, and the command that makes one, report:
  // DBPROP_CANFETCHBACKWARDS and DBPROP_CANSCROLLBACKWARDS false and not
  // settable, so the engine's fetch check refuses backward fetches up front.
  static void DeclareForwardOnly(TOleDbPropertySets& sets);
  // DBPROP_MAXROWS settable, for SetRowLimit.
  static void DeclareRowLimit(TOleDbPropertySets& sets);

  // The held record's values, as RecordValues gives them, found once per
  // record read.
  std::span<const TOleDbColumnValue> GetRowValues(TOleDbDataMode mode, std::int32_t rowValue) override;
  TOleDbCursorPosition MoveCursor(TOleDbMoveKind kind, DBCOUNTITEM count) override;
  TOleDbCursorPosition FetchCurrentRow(TOleDbRowHandle& handle) override;
  void RowHandleStateChanged(TOleDbRowHandle& handle, bool active) override;
  // -1 (as DBCOUNTITEM) until the end of the source has been reached.
  DBCOUNTITEM GetRowCount() override;
  void SetRowIndex(DBCOUNTITEM index) override;

  void GetColumnPointer(std::int32_t rowValue, const TOleDbColumn& column, void*& data, DBLENGTH& length) override;
  void* GetBookmark() override;
  void GotoBookmark(const void* bookmark) override;
  void FreeBookmark(void* bookmark) override;
  void HashBookmark(const BYTE* bookmark, DBHASHVALUE& hash, DBROWSTATUS& status) override;
  DBCOUNTITEM GetBookmarkRowIndex(const BYTE* bookmark) override;

  // At most rows rows (DBPROP_MAXROWS, a query's TOP); negative for all.
  // Set before the first move.
  void SetRowLimit(std::int64_t rows) noexcept { rowLimit_ = rows; }

  std::int32_t CurrentIndex() const noexcept { return currentIndex_; }
  // -1 until the end of the source has been reached.
  std::int32_t KnownRowCount() const noexcept { return knownRowCount_; }
  // Records made so far: bounded by the rows held at the same time.
  std::size_t RecordsAllocated() const noexcept { return pool_.Size(); }

protected:
  // Reads the next record of the source into record. True when it is a row
  // (a row whose values cannot be read counts too); false when it was
  // something else that counts as no row. wanted is false for rows the
  // cursor only passes over, which need not be completed.
  virtual bool ReadNextRecord(TOleDbStreamRecord& record, bool wanted) = 0;
  // True when nothing is left to read (or the source was never opened).
  virtual bool AtEndOfSource() const = 0;
  // Where every column's value lies in a record read whole, by column index;
  // pointers stay valid until the record is read anew. False (the default)
  // when the data class answers column by column in GetColumnReadBuffer.
  // Raises for a row whose values cannot be read.
  virtual bool RecordValues(const TOleDbStreamRecord& record, std::span<TOleDbColumnValue> values);

  // The record of a row a handle stands for; DB_E_BADROWHANDLE for a row
  // value no handle was given.
  TOleDbStreamRecord& HeldRecord(std::int32_t rowValue);

private:
  // A slot the next record may be read into: the current one unless a
  // handle holds it.
  std::int32_t WritableSlot();
  // True when no further row will come: the source's end or the row limit.
  bool NoMoreRows() const;

  TOleDbStreamRecordPool::TFactory newRecord_;
  TRefusals refusals_;
  std::int32_t currentIndex_ = -1;
  std::int32_t knownRowCount_ = -1;
  std::int64_t rowLimit_ = -1;
  TOleDbStreamRecordPool pool_;
  // The record of the row at the cursor, and one taken for reading that no
  // row has landed in yet.
  std::int32_t currentSlot_ = TOleDbStreamRecordPool::NoSlot;
  std::int32_t spareSlot_ = TOleDbStreamRecordPool::NoSlot;
};
