#pragma once
// The rows of one log file, read forward only, for the rowset data engine;
// the provider's rowset class; and the rowset data of its schema rowsets.
#include <windows.h>
#include <oledb.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "LogFileReader_un.h"
#include "OLEDbError.h"
#include "OLEDbRowset.h"
#include "OLEDbRowsetData.h"
#include "OLEDbSimpleRowsetData.h"
#include "ZelLogDbRecord_un.h"

// A log layer error text (system code page) for the consumer: E_UNEXPECTED
// with the text as the error object's description. A row that stands for a
// line the reader could not process fails with it.
class EZelLogRowsetData : public EOleError {
public:
  explicit EZelLogRowsetData(const std::string& text);
};

// The 23 columns of a log table, appended from the column whose index is the
// list's count on. No file is opened.
void BuildDataColumns(const TOleDbExecParams* params, TOleDbColumns& columns);

class TZelLogRowsetData : public TOleDbRowsetData {
public:
  // folder: the data source folder, ending with a path delimiter.
  explicit TZelLogRowsetData(std::wstring folder);
  ~TZelLogRowsetData() override;

  static void BuildDataColumns(const TOleDbExecParams* params, TOleDbColumns& columns) {
    ::BuildDataColumns(params, columns);
  }

  HRESULT Open(TOleDbExecParams* request) override;
  void GetColumnReadBuffer(TOleDbDataMode mode, std::int32_t rowValue, const TOleDbColumn& column, void*& data,
                           DBLENGTH& length, bool& isNull) override;
  void GetColumnPointer(std::int32_t rowValue, const TOleDbColumn& column, void*& data, DBLENGTH& length) override;
  TOleDbCursorPosition MoveCursor(TOleDbMoveKind kind, DBCOUNTITEM count) override;
  TOleDbCursorPosition FetchCurrentRow(TOleDbRowHandle& handle) override;
  void* GetBookmark() override;
  void GotoBookmark(const void* bookmark) override;
  void FreeBookmark(void* bookmark) override;
  void HashBookmark(const BYTE* bookmark, DBHASHVALUE& hash, DBROWSTATUS& status) override;
  DBCOUNTITEM GetRowCount() override;
  DBCOUNTITEM GetBookmarkRowIndex(const BYTE* bookmark) override;
  void SetRowIndex(DBCOUNTITEM index) override;
  void RowHandleStateChanged(TOleDbRowHandle& handle, bool active) override;
  std::unique_ptr<TOleDbByteStream> GetColumnBlobStream(TOleDbDataMode mode, std::int32_t rowValue,
                                                        const TOleDbColumn& column, TOleDbBlobAccess access,
                                                        void* data) override;

  std::int32_t CurrentIndex() const noexcept { return currentIndex_; }
  // -1 until the end of the file has been reached.
  std::int32_t KnownRowCount() const noexcept { return knownRowCount_; }
  // Records allocated so far: bounded by the rows held at the same time.
  std::size_t RecordsAllocated() const noexcept { return pool_.Size(); }

private:
  // The record of a row a handle stands for; raises the row's own error.
  const TZelLogDbRecord& HeldRecord(std::int32_t rowValue);
  // A slot the next line may be read into: the current one unless a handle
  // holds it.
  std::int32_t WritableSlot();

  std::wstring folder_;
  std::unique_ptr<TLogFileReader> reader_;
  bool readerOpened_ = false;
  std::int32_t currentIndex_ = -1;
  std::int32_t knownRowCount_ = -1;
  TZelLogRecordPool pool_;
  // The record of the row at the cursor, and one taken for reading that no
  // row has landed in yet.
  std::int32_t currentSlot_ = TZelLogRecordPool::NoSlot;
  std::int32_t spareSlot_ = TZelLogRecordPool::NoSlot;
  std::string errorText_;
};

// The log rowset reads forward only and says so: DBPROP_CANFETCHBACKWARDS and
// DBPROP_CANSCROLLBACKWARDS false and not settable, in the rowset property set
// of a log rowset or of the command that makes one.
void DeclareForwardOnly(TOleDbPropertySets& sets);

class TZelLogDbRowset : public TOleDbRowset {
public:
  static constexpr const wchar_t* ClassName = L"TZelLogDbRowset";

  void InitProperties() override;
  void CreateRowsetData(TOleDbExecParams& params) override;
};

// The schema rowsets' data: long text columns stream their values.
class TSimpleRowsetData2 : public TSimpleRowsetData {
public:
  std::unique_ptr<TOleDbByteStream> GetColumnBlobStream(TOleDbDataMode mode, std::int32_t rowValue,
                                                        const TOleDbColumn& column, TOleDbBlobAccess access,
                                                        void* data) override;
};
