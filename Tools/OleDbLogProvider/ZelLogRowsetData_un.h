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
#include "ZelLogFileSequence_un.h"
#include "ZelLogQuery_un.h"

// A log layer error text (system code page) for the consumer: E_UNEXPECTED
// with the text as the error object's description. A row that stands for a
// line the reader could not process fails with it.
class EZelLogRowsetData : public EOleError {
public:
  explicit EZelLogRowsetData(const std::string& text);
};

// The columns a request gives, appended from the column whose index is the
// list's count on: a command's column list, or every column of the table
// (23 for a file, 24 with LogFile last for a pattern name). folder: the data
// source folder, ending with a path delimiter. No file is opened.
void BuildDataColumns(const TOleDbExecParams* params, TOleDbColumns& columns, std::wstring_view folder);

// The rows of one log file, or of every file a pattern name matches: the
// streaming base keeps the records and the cursor; this class opens the
// files, reads their lines and hands out values.
class TZelLogRowsetData : public TOleDbStreamingRowsetData {
public:
  // folder: the data source folder, ending with a path delimiter;
  // maxRows: DBPROP_MAXROWS, 0 for no limit.
  explicit TZelLogRowsetData(std::wstring folder, std::int64_t maxRows = 0);
  ~TZelLogRowsetData() override;

  HRESULT Open(TOleDbExecParams* request) override;
  void GetColumnReadBuffer(TOleDbDataMode mode, std::int32_t rowValue, const TOleDbColumn& column, void*& data,
                           DBLENGTH& length, bool& isNull) override;
  std::unique_ptr<TOleDbByteStream> GetColumnBlobStream(TOleDbDataMode mode, std::int32_t rowValue,
                                                        const TOleDbColumn& column, TOleDbBlobAccess access,
                                                        void* data) override;

protected:
  bool ReadNextRecord(TOleDbStreamRecord& record, bool wanted) override;
  bool AtEndOfSource() const override;
  // Raises the row's own error for a line that could not be read.
  bool RecordValues(const TOleDbStreamRecord& record, std::span<TOleDbColumnValue> values) override;

private:
  // The column's value in the row a handle stands for; raises the row's own
  // error, and the hook's when the column has no such value.
  TOleDbColumnValue HeldValue(std::int32_t rowValue, const TOleDbColumn& column, bool stream);

  std::wstring folder_;
  std::int64_t maxRows_;
  // What the request asks for: the rowset's column i is the column table's
  // entry query_.Columns[i].
  TZelLogQuery query_;
  TZelLogRowFilter filter_;
  bool filtering_ = false;
  // The rowset's columns are the table's, in its order (no column list).
  bool wholeRows_ = false;
  std::unique_ptr<TLogFileReader> reader_;
  bool readerOpened_ = false;
  // For a pattern name: the files reader_ reads one after another.
  std::unique_ptr<TZelLogFileSequence> files_;
};

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
