#pragma once
// Pending change state per row value, kept while a rowset defers its updates.
#include <cstddef>
#include <cstdint>

#include "OLEDbHandleMap.h"

class TOleDbRowHandle;

enum class TOleDbPendingState : std::uint8_t { Unchanged = 0, New = 1, Changed = 2, Deleted = 3, Invalid = 4 };

class TOleDbPendingRows {
public:
  void Clear() noexcept { map_.Clear(); }
  // Rows with a state other than unchanged, in decimal-text order of their
  // row values.
  std::size_t Count() const noexcept { return map_.Count(); }
  std::int32_t RowValueAt(std::size_t index) const { return map_.KeyAt(index); }
  TOleDbPendingState StateAt(std::size_t index) const { return static_cast<TOleDbPendingState>(map_.ValueAt(index)); }

  // Unchanged for a row value without an entry.
  TOleDbPendingState GetState(std::int32_t rowValue) const noexcept;
  void Remove(std::int32_t rowValue) noexcept { map_.Remove(rowValue); }
  // Unchanged removes the entry; any other state is stored (added or
  // replaced).
  void SetState(std::int32_t rowValue, TOleDbPendingState state);
  // Sets keep when the handle's row is new, changed or deleted; otherwise
  // leaves keep alone.
  void ShouldKeep(const TOleDbRowHandle& handle, bool& keep) const noexcept;

private:
  TDecimalOrderMap<std::uint8_t> map_;
};
