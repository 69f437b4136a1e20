#pragma once
// Rowset data over a source that can only be read forward, one record after
// another (a file, a pipe): the cursor never goes back, there are no bookmarks
// and nothing is written. A data class says how to open its source and how
// to read the next record into a given one; the base keeps a record for every
// row a consumer holds, learns the row count at the end of the source and
// refuses what such a rowset cannot do, with the data class's own messages.
// A long read may go on in a second thread that reads ahead of the cursor
// (AllowReadAhead), unseen by the consumer.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "OLEDbReadAhead.h"
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
  // Puts record in slot's place and the slot's record in record's.
  void Exchange(std::int32_t slot, std::unique_ptr<TOleDbStreamRecord>& record) noexcept;
  std::size_t Size() const noexcept { return records_.size(); }

private:
  std::vector<std::unique_ptr<TOleDbStreamRecord>> records_;
  std::vector<std::int32_t> free_;
};

class TOleDbStreamingRowsetData : public TOleDbRowsetData, private IOleDbRecordSource {
public:
  // What the consumer is told when it asks for what a forward-only,
  // read-only source cannot give.
  struct TRefusals {
    const wchar_t* MoveBack;
    const wchar_t* Bookmark;
    const wchar_t* Write;
  };

  TOleDbStreamingRowsetData(TOleDbStreamRecordPool::TFactory newRecord, TRefusals refusals);
  ~TOleDbStreamingRowsetData() override;

  // What the rowset over such data, and the command that makes one, report:
  // DBPROP_CANFETCHBACKWARDS and DBPROP_CANSCROLLBACKWARDS false and not
  // settable, so the engine's fetch check refuses backward fetches up front.
  static void DeclareForwardOnly(TOleDbPropertySets& sets);
  // DBPROP_MAXROWS settable, for SetRowLimit.
  static void DeclareRowLimit(TOleDbPropertySets& sets);

  // The held record's values, as RecordValues gives them, valid until the
  // next call for another record or the next read.
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
  // True while a second thread reads ahead of the cursor.
  bool ReadingAhead() const noexcept { return readAhead_ != nullptr; }

  // Rows read one by one before a second thread may read ahead: long enough
  // that small reads never start one.
  static constexpr std::int32_t ReadAheadAfterRows = 4096;

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

  // Lets a second thread read the records ahead of the cursor once afterRows
  // rows have been read, when the process may run on more than one
  // processor. Everything a consumer sees stays the same; rows are then
  // read with wanted true. The data class promises that ReadNextRecord and
  // AtEndOfSource touch nothing but its source (no COM, no error objects, no
  // state the consumer's calls use), and its destructor calls StopReadAhead
  // before it lets go of what they use.
  void AllowReadAhead(std::int32_t afterRows = ReadAheadAfterRows) noexcept { readAheadAfter_ = afterRows; }
  // Stops the second thread and waits for it. Rows it read that the cursor
  // has not reached are dropped with it: for the data class's destructor.
  void StopReadAhead() noexcept;

private:
  bool ReadAheadRecord(TOleDbStreamRecord& record) override { return ReadNextRecord(record, true); }
  bool ReadAheadAtEnd() const override { return AtEndOfSource(); }
  // Reads the next record of the source into slot's record, inline or from
  // the thread reading ahead; true when it is a row.
  bool ReadInto(std::int32_t slot, bool wanted);
  void StartReadAhead();
  // A slot the next record may be read into: the current one unless a
  // handle holds it.
  std::int32_t WritableSlot();
  // True when no further row will come: the source's end or the row limit.
  bool NoMoreRows() const;

  // Past the line of the record source's table pointer, which the worker
  // reads at every row (a base's tail may otherwise hold fields).
  alignas(CacheLineBytes) TOleDbStreamRecordPool::TFactory newRecord_;
  TRefusals refusals_;
  std::int32_t currentIndex_ = -1;
  std::int32_t knownRowCount_ = -1;
  std::int64_t rowLimit_ = -1;
  TOleDbStreamRecordPool pool_;
  // The record of the row at the cursor, and one taken for reading that no
  // row has landed in yet.
  std::int32_t currentSlot_ = TOleDbStreamRecordPool::NoSlot;
  std::int32_t spareSlot_ = TOleDbStreamRecordPool::NoSlot;
  // Rows read inline so far, and how many before reading ahead (negative:
  // never, also after reading ahead failed).
  std::int32_t rowsReadInline_ = 0;
  std::int32_t readAheadAfter_ = -1;
  std::unique_ptr<TOleDbReadAhead> readAhead_;
  // The values, by column index, of the record GetRowValues was last asked
  // about: one table kept warm for every row, not one per record (which a
  // thread reading ahead cycles through by the thousand). Forgotten whenever
  // a record is read from the source, so it never outlives what it points
  // into.
  std::vector<TOleDbColumnValue> values_;
  const TOleDbStreamRecord* valuesOf_ = nullptr;
};
