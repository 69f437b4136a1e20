#pragma once
// The log files a pattern name matches, read as one table: one file after
// another in file-name order, so daily logs come in date order, and only one
// of them open at a time.
#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "LogFileReader_un.h"

// The names of the log files of folder (ending with a path delimiter) whose
// names match pattern (MatchesPattern): files ending in ".log" whose first
// line is a log's, as the file system lists them.
std::vector<std::wstring> ListLogFiles(const std::wstring& folder, std::wstring_view pattern = L"*.log");

// Why a log file cannot be read as a table: the result code and the text
// the consumer is told. Code is S_OK when the file was opened.
struct TZelLogOpenFailure {
  HRESULT Code = S_OK;
  std::wstring Text;
  explicit operator bool() const noexcept { return FAILED(Code); }
};
// Opens the file path (tableName relative to the data source folder) with
// reader, once for both the check that it is a log file on a disk and the
// reading.
TZelLogOpenFailure OpenLogFile(TLogFileReader& reader, const std::wstring& path, std::wstring_view tableName);

class TZelLogFileSequence {
public:
  // folder: the data source folder, ending with a path delimiter; pattern: a
  // table name that IsTablePattern. Lists the matching files now and fails
  // with DB_E_NOTABLE naming the pattern when there is none.
  TZelLogFileSequence(std::wstring folder, std::wstring_view pattern);

  // Reads the next line of the files with reader as TLogFileReader::ReadRecord
  // does, opening the next file when the current one is at its end. A file
  // that cannot be opened when its turn comes is one line that could not be
  // read, with the open error as errorText.
  bool ReadRecord(TLogFileReader& reader, TLogRecord& record, std::string& errorText);
  bool AtEnd(const TLogFileReader& reader) const noexcept;
  // The name, relative to the data source folder, of the file the last line
  // came from; it lives as long as the sequence.
  const std::wstring& CurrentName() const noexcept { return names_[current_]; }

private:
  std::wstring folder_;
  std::vector<std::wstring> names_;
  std::size_t current_ = 0;
  // The file to open next.
  std::size_t next_ = 0;
};
