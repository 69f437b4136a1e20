#pragma once
// Cursor arithmetic for row data that holds its rows by index 0..rowCount-1:
// the cursor stands at -1 before the first row and at rowCount after the last,
// and a move stops there whatever its count.
#include "OLEDbRowsetData.h"

#include <cstdint>

inline TOleDbCursorPosition IndexCursorPosition(std::int32_t current, std::int32_t rowCount) noexcept {
  if (current >= rowCount) return TOleDbCursorPosition::AfterLast;
  if (current < 0) return TOleDbCursorPosition::BeforeFirst;
  return TOleDbCursorPosition::OnRow;
}

// Moves current by kind and count and answers where it stands then.
inline TOleDbCursorPosition MoveIndexCursor(std::int32_t& current, std::int32_t rowCount, TOleDbMoveKind kind,
                                            DBCOUNTITEM count) noexcept {
  switch (kind) {
    case TOleDbMoveKind::Forward: {
      const auto room = static_cast<DBCOUNTITEM>(static_cast<std::int64_t>(rowCount) - current);
      current = count >= room ? rowCount : current + static_cast<std::int32_t>(count);
      break;
    }
    case TOleDbMoveKind::Backward: {
      const auto room = static_cast<DBCOUNTITEM>(static_cast<std::int64_t>(current) + 1);
      current = count >= room ? -1 : current - static_cast<std::int32_t>(count);
      break;
    }
    case TOleDbMoveKind::ToStart:
      current = -1;
      break;
    case TOleDbMoveKind::ToEnd:
      current = rowCount;
      break;
    case TOleDbMoveKind::Stay:
      break;
  }
  return IndexCursorPosition(current, rowCount);
}
