#include "OLEDbColumns.h"

#include "OLEDbError.h"
#include "OLEDbTypes.h"

#include <cstdint>

ULONG TOleDbColumn::ReportedSize() const noexcept {
  if (IsLong()) return 0xFFFFFFFFu;
  return BytesToChars(DataType, Size);
}

TOleDbColumn& TOleDbColumns::AddColumn(std::wstring_view name, DBTYPE dataType, ULONG size, DBCOLUMNFLAGS flags,
                                       BYTE precision, BYTE scale, LONG ordinal) {
  if (FindByName(name)) throw EOleError(L"Duplicate column names are not allowed", E_FAIL);
  ULONG reportedOrdinal = static_cast<ULONG>(ordinal);
  if (ordinal == AutoOrdinal) reportedOrdinal = items_.empty() ? 1 : items_.back()->Ordinal + 1;

  auto column = std::make_unique<TOleDbColumn>(*this, items_.size());
  const int fixedSize = TypeSize(dataType);
  if (fixedSize > 0) {
    size = static_cast<ULONG>(fixedSize);
    if (dataType != DBTYPE_BSTR && dataType != DBTYPE_ARRAY && dataType != DBTYPE_BYREF)
      flags |= DBCOLUMNFLAGS_ISFIXEDLENGTH;
  }
  column->Name = name;
  column->Flags = flags;
  column->Size = size;
  column->DataType = dataType;
  column->Precision = precision;
  column->Scale = scale;
  column->Ordinal = reportedOrdinal;

  items_.push_back(std::move(column));
  TOleDbColumn& added = *items_.back();
  if (added.IsBookmark() && !bookmarkColumn_) bookmarkColumn_ = &added;
  mapDirty_ = true;
  ++version_;
  return added;
}

void TOleDbColumns::Clear() noexcept {
  bookmarkColumn_ = nullptr;
  ordinalMap_.Clear();
  while (!items_.empty()) items_.pop_back();
  mapDirty_ = true;
  ++version_;
}

TOleDbColumn* TOleDbColumns::FindByName(std::wstring_view name) const noexcept {
  for (const auto& column : items_)
    if (column->Name == name) return column.get();
  return nullptr;
}

TOleDbColumn* TOleDbColumns::FindByID(const DBID& id) const noexcept {
  if (id.eKind == DBKIND_NAME) {
    if (TOleDbColumn* byName = FindByName(id.uName.pwszName ? id.uName.pwszName : L"")) return byName;
  }
  for (const auto& column : items_)
    if (column->ColumnID.Equals(id)) return column.get();
  return nullptr;
}

TOleDbColumn* TOleDbColumns::FindByOrdinal(DBORDINAL ordinal) const {
  if (ordinal > UINT32_MAX) return nullptr;
  if (mapDirty_) RebuildOrdinalMap();
  return ordinalMap_.Find(static_cast<std::int32_t>(static_cast<std::uint32_t>(ordinal)));
}

void TOleDbColumns::RebuildOrdinalMap() const {
  ordinalMap_.Clear();
  ordinalMap_.Reserve(items_.size());
  // Explicit ordinals may repeat; the first column keeps the ordinal.
  for (const auto& column : items_) {
    const auto key = static_cast<std::int32_t>(column->Ordinal);
    if (!ordinalMap_.Contains(key)) ordinalMap_.Add(key, column.get());
  }
  mapDirty_ = false;
}
