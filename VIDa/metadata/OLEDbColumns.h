#pragma once
// The column metadata of a rowset or command: an ordered list of columns,
// found by name, by DBID or by ordinal.
#include "OLEDbDBID.h"
#include "OLEDbHandleMap.h"

#include <windows.h>
#include <oledb.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TOleDbColumns;

class TOleDbColumn {
public:
  TOleDbColumn(TOleDbColumns& columns, std::size_t index) : Columns(&columns), Index(index) {}

  TOleDbColumns* Columns;
  std::wstring Name;
  // As reported to consumers: 0 is the bookmark column, data columns start at 1.
  ULONG Ordinal = 0;
  // Position in the list when the column was added.
  std::size_t Index;
  DBCOLUMNFLAGS Flags = 0;
  // Bytes; twice the character count for DBTYPE_WSTR.
  ULONG Size = 0;
  DBTYPE DataType = DBTYPE_EMPTY;
  BYTE Precision = 0;
  BYTE Scale = 0;
  TOleDbDBID ColumnID;

  bool IsBookmark() const noexcept { return (Flags & DBCOLUMNFLAGS_ISBOOKMARK) != 0; }
  bool IsLong() const noexcept { return (Flags & DBCOLUMNFLAGS_ISLONG) != 0; }
  // ~0 for long columns, characters for wide text, bytes otherwise.
  ULONG ReportedSize() const noexcept;
};

class TOleDbColumns {
public:
  static constexpr LONG AutoOrdinal = -1;

  TOleDbColumns() = default;
  TOleDbColumns(const TOleDbColumns&) = delete;
  TOleDbColumns& operator=(const TOleDbColumns&) = delete;

  // Raises E_FAIL "Duplicate column names are not allowed". Types with a
  // fixed size take that size; AutoOrdinal numbers after the last column.
  TOleDbColumn& AddColumn(std::wstring_view name, DBTYPE dataType, ULONG size, DBCOLUMNFLAGS flags = 0,
                          BYTE precision = 0, BYTE scale = 0, LONG ordinal = AutoOrdinal);
  // Frees the columns, last added first.
  void Clear() noexcept;

  std::size_t Count() const noexcept { return items_.size(); }
  TOleDbColumn& Items(std::size_t index) const { return *items_.at(index); }

  // Case-sensitive; the first match wins.
  TOleDbColumn* FindByName(std::wstring_view name) const noexcept;
  // A DBKIND_NAME identifier is looked up by column name first, then every
  // kind by the columns' identifiers.
  TOleDbColumn* FindByID(const DBID& id) const noexcept;
  // O(log n); ordinals outside 32 bits are never found.
  TOleDbColumn* FindByOrdinal(DBORDINAL ordinal) const;

  // The column the engine reads bookmark type and size from; the first
  // column added with DBCOLUMNFLAGS_ISBOOKMARK unless set otherwise.
  TOleDbColumn* BookmarkColumn() const noexcept { return bookmarkColumn_; }
  void SetBookmarkColumn(TOleDbColumn* column) noexcept { bookmarkColumn_ = column; }

  // Changes whenever columns are added or cleared: what was resolved against
  // the list before is stale.
  std::uint64_t Version() const noexcept { return version_; }

private:
  void RebuildOrdinalMap() const;

  std::vector<std::unique_ptr<TOleDbColumn>> items_;
  TOleDbColumn* bookmarkColumn_ = nullptr;
  mutable THandleMap<TOleDbColumn> ordinalMap_;
  mutable bool mapDirty_ = true;
  std::uint64_t version_ = 0;
};
