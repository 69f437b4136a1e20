#include "OLEDbPendingRows.h"

#include "OLEDbRowHandles.h"

TOleDbPendingState TOleDbPendingRows::GetState(std::int32_t rowValue) const noexcept {
  const std::uint8_t* state = map_.Lookup(rowValue);
  return state ? static_cast<TOleDbPendingState>(*state) : TOleDbPendingState::Unchanged;
}

void TOleDbPendingRows::SetState(std::int32_t rowValue, TOleDbPendingState state) {
  const auto stored = static_cast<std::uint8_t>(static_cast<std::uint8_t>(state) & 0x7F);
  if (stored == 0)
    map_.Remove(rowValue);
  else
    map_.Put(rowValue, stored);
}

void TOleDbPendingRows::ShouldKeep(const TOleDbRowHandle& handle, bool& keep) const noexcept {
  switch (GetState(handle.RowValue())) {
    case TOleDbPendingState::New:
    case TOleDbPendingState::Changed:
    case TOleDbPendingState::Deleted:
      keep = true;
      break;
    default:
      break;
  }
}
