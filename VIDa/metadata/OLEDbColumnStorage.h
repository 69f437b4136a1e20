#pragma once
// Answers IColumnsInfo for a rowset or a command from its column list.
#include "OLEDbColumns.h"

#include <windows.h>
#include <oledb.h>

#include <memory>

class TOleDbColumnStorage {
public:
  // Owns columns; raises E_FAIL "Columns must be defined" without them.
  explicit TOleDbColumnStorage(std::unique_ptr<TOleDbColumns> columns);
  TOleDbColumnStorage(const TOleDbColumnStorage&) = delete;
  TOleDbColumnStorage& operator=(const TOleDbColumnStorage&) = delete;

  // Answers from a list someone else owns from now on (the owned one is freed).
  void SetColumns(TOleDbColumns* columns);
  TOleDbColumns& Columns() const noexcept { return *columns_; }
  bool External() const noexcept { return !owned_; }

  // IColumnsInfo::GetColumnInfo: one task-memory DBCOLUMNINFO array and one
  // string buffer holding every non-empty name; nameless columns keep null.
  void GetColumnInfo(DBORDINAL* pcColumns, DBCOLUMNINFO** prgInfo, OLECHAR** ppStringsBuffer) const;
  // IColumnsInfo::MapColumnIDs; unknown IDs get DB_INVALIDCOLUMN. Returns
  // S_OK, DB_S_ERRORSOCCURRED or DB_E_ERRORSOCCURRED (also for no IDs).
  HRESULT MapColumnIDs(DBORDINAL cColumnIDs, const DBID* rgColumnIDs, DBORDINAL* rgColumns) const;

private:
  std::unique_ptr<TOleDbColumns> owned_;
  TOleDbColumns* columns_;
};
