#pragma once
// Reads a rowset through one accessor in batches of rows and hands each row
// to a writer as typed cells. Fixed-size types are bound as themselves,
// everything else as UTF-16 text, so no conversion the provider might lack is
// asked for.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include <oledb.h>
#include <oledberr.h>

#include "ComPtr.h"
#include "QueryCell.h"
#include "QueryFailure.h"
#include "RowWriter.h"

struct TColumnDescription {
  DBORDINAL Ordinal = 0;
  std::string Name;
  DBTYPE Type = DBTYPE_EMPTY;
  DBLENGTH Size = 0;
  DBCOLUMNFLAGS Flags = 0;
};

// IColumnsInfo of a rowset, bookmark column left out.
std::vector<TColumnDescription> DescribeColumns(IRowset& rowset);

// "STR", "WSTR", "BOOL", "DATE", "I4"..., with BYREF/ARRAY/VECTOR prefixes.
std::string TypeName(DBTYPE type);

// Row read progress, for people watching a terminal.
class TReadProgress {
public:
  virtual ~TReadProgress() = default;
  virtual void Rows(std::uint64_t count) = 0;
  virtual void Done() = 0;
};

struct TReadResult {
  std::uint64_t RowsShown = 0;
  std::uint64_t RowsUnreadable = 0;
  std::vector<std::string> CutColumns;  // columns with values too long for their buffer
};

// A row whose values could not be read: its number (from 1) and why.
using TRowFailureSink = std::function<void(std::uint64_t row, const EQueryFailure& failure)>;

class TRowsetReader {
public:
  // Every column, or only those named, in that order; throws EQueryFailure
  // for a name the rowset does not have.
  TRowsetReader(TComPtr<IRowset> rowset, const std::vector<std::string>& only);
  ~TRowsetReader();
  TRowsetReader(const TRowsetReader&) = delete;
  TRowsetReader& operator=(const TRowsetReader&) = delete;

  const std::vector<std::string>& Names() const noexcept { return ColumnNames; }

  // Reads up to limit rows into writer (Begin, rows, End), stopping early
  // when the writer has, and returns the counts; throws EQueryFailure when
  // the rowset cannot go on.
  TReadResult Read(TRowWriter& writer, std::uint64_t limit, const TRowFailureSink& onRowFailure,
                   TReadProgress* progress);

private:
  struct TBound;

  void Bind(const std::vector<TColumnDescription>& columns);
  void ReadCells(TReadResult& result);

  TComPtr<IRowset> Rowset;
  TComPtr<IAccessor> Accessor;
  HACCESSOR AccessorHandle = DB_NULL_HACCESSOR;
  std::vector<std::string> ColumnNames;
  std::vector<TBound> Bound;
  std::vector<unsigned char> Buffer;
  std::vector<TQueryCell> Cells;
};
