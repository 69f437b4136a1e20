#include "OLEDbHandleMap.h"

#include <string>

namespace {
constexpr int kMaxDigits = 10;  // 4294967295 and 2147483648 have ten
// 11^10: the ranks of one sign span [0, kSignSpan).
constexpr std::uint64_t kSignSpan = 25937424601ull;
}  // namespace

std::uint64_t DecimalTextRank(std::int32_t key) noexcept {
  // The digits, padded at the end with a symbol below '0', read as a base-11
  // number: shorter texts sort before their extensions, as a prefix does.
  std::uint32_t magnitude = key < 0 ? 0u - static_cast<std::uint32_t>(key) : static_cast<std::uint32_t>(key);
  std::uint8_t digits[kMaxDigits];
  int count = 0;
  do {
    digits[count++] = static_cast<std::uint8_t>(magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  std::uint64_t rank = 0;
  for (int i = 0; i < kMaxDigits; ++i) rank = rank * 11 + (i < count ? digits[count - 1 - i] + 1u : 0u);
  // '-' sorts before every digit.
  return key < 0 ? rank : kSignSpan + rank;
}

void RaiseDuplicateHandleKey() { throw EHandleMapError("String list does not allow duplicates"); }

void RaiseHandleIndexError(std::size_t index) {
  throw EHandleMapError("List index out of bounds (" + std::to_string(index) + ")");
}
