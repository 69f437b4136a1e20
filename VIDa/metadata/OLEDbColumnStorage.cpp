#include "OLEDbColumnStorage.h"

#include "OLEDbError.h"
#include "OLEDbTaskMemory.h"

#include <oledberr.h>

#include <cstring>
#include <utility>

namespace {
[[noreturn]] void RaiseNoColumns() { throw EOleError(L"Columns must be defined", E_FAIL); }

// Frees a partly filled column info array together with the identifiers
// already exported into it.
class TColumnInfoArray {
public:
  // No columns, no array.
  explicit TColumnInfoArray(std::size_t count)
      : info_(count ? OleDbAllocArray<DBCOLUMNINFO>(count) : nullptr), count_(count) {}
  ~TColumnInfoArray() {
    if (!info_) return;
    for (std::size_t i = 0; i < count_; ++i) DBIDRelease(info_[i].columnid);
  }
  TColumnInfoArray(const TColumnInfoArray&) = delete;
  TColumnInfoArray& operator=(const TColumnInfoArray&) = delete;

  DBCOLUMNINFO& operator[](std::size_t i) noexcept { return info_[i]; }
  DBCOLUMNINFO* Release() noexcept { return info_.release(); }

private:
  TTaskMemory<DBCOLUMNINFO[]> info_;
  std::size_t count_;
};
}  // namespace

TOleDbColumnStorage::TOleDbColumnStorage(std::unique_ptr<TOleDbColumns> columns)
    : owned_(std::move(columns)), columns_(owned_.get()) {
  if (!columns_) RaiseNoColumns();
}

void TOleDbColumnStorage::SetColumns(TOleDbColumns* columns) {
  if (!columns) RaiseNoColumns();
  if (columns == owned_.get()) return;
  owned_.reset();
  columns_ = columns;
}

void TOleDbColumnStorage::GetColumnInfo(DBORDINAL* pcColumns, DBCOLUMNINFO** prgInfo,
                                        OLECHAR** ppStringsBuffer) const {
  if (pcColumns) *pcColumns = 0;
  if (prgInfo) *prgInfo = nullptr;
  if (ppStringsBuffer) *ppStringsBuffer = nullptr;
  if (!pcColumns || !prgInfo || !ppStringsBuffer) throw EOleDbException(E_INVALIDARG);

  const std::size_t count = columns_->Count();
  TColumnInfoArray info(count);
  std::size_t characters = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const TOleDbColumn& column = columns_->Items(i);
    DBCOLUMNINFO& entry = info[i];
    entry.iOrdinal = column.Ordinal;
    entry.dwFlags = column.Flags;
    // "All bits set" for long columns, whatever the width of DBLENGTH.
    entry.ulColumnSize = column.IsLong() ? ~DBLENGTH(0) : column.ReportedSize();
    entry.wType = column.DataType;
    entry.bPrecision = column.Precision;
    entry.bScale = column.Scale;
    column.ColumnID.ExportTo(entry.columnid);
    if (!column.Name.empty()) characters += column.Name.size() + 1;
  }

  OLECHAR* strings = nullptr;
  if (characters > 0) {
    strings = static_cast<OLECHAR*>(OleDbAlloc(characters * sizeof(OLECHAR)));
    OLECHAR* next = strings;
    for (std::size_t i = 0; i < count; ++i) {
      const std::wstring& name = columns_->Items(i).Name;
      if (name.empty()) continue;
      memcpy(next, name.c_str(), (name.size() + 1) * sizeof(OLECHAR));
      info[i].pwszName = next;
      next += name.size() + 1;
    }
  }
  *prgInfo = info.Release();
  *ppStringsBuffer = strings;
  *pcColumns = count;
}

HRESULT TOleDbColumnStorage::MapColumnIDs(DBORDINAL cColumnIDs, const DBID* rgColumnIDs, DBORDINAL* rgColumns) const {
  if ((cColumnIDs > 0 && !rgColumnIDs) || !rgColumns) throw EOleDbException(E_INVALIDARG);
  DBORDINAL found = 0;
  for (DBORDINAL i = 0; i < cColumnIDs; ++i) {
    const TOleDbColumn* column = columns_->FindByID(rgColumnIDs[i]);
    rgColumns[i] = column ? column->Ordinal : DB_INVALIDCOLUMN;
    if (column) ++found;
  }
  if (found == 0) return DB_E_ERRORSOCCURRED;
  return found < cColumnIDs ? DB_S_ERRORSOCCURRED : S_OK;
}
