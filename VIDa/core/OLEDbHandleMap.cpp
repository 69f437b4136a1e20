#include "OLEDbHandleMap.h"

#include <bit>
#include <string>

namespace {
constexpr int kMaxDigits = 10;  // 4294967295 and 2147483648 have ten
constexpr std::uint64_t kPowersOfTen[kMaxDigits + 1] = {
    1ull,         10ull,         100ull,         1000ull,         10000ull,      100000ull,
    1000000ull,   10000000ull,   100000000ull,   1000000000ull,   10000000000ull};
// Above every rank of a negative key.
constexpr std::uint64_t kNonNegative = std::uint64_t{1} << 40;
}  // namespace

std::uint64_t DecimalTextRank(std::int32_t key) noexcept {
  // The digits padded with zeros to ten places compare as the texts do, but
  // for a text and its extension by zeros ("1" and "10"): there the shorter
  // sorts first, so the digit count breaks the tie. No division and no loop:
  // every row fetched and released ranks its handle.
  const std::uint32_t magnitude =
      key < 0 ? 0u - static_cast<std::uint32_t>(key) : static_cast<std::uint32_t>(key);
  // log10 from log2 (1233 / 4096 just above log10(2)), then one comparison.
  const int estimate = (static_cast<int>(std::bit_width(magnitude)) * 1233) >> 12;
  const int count = estimate + (magnitude >= kPowersOfTen[estimate] ? 1 : 0) + (magnitude == 0 ? 1 : 0);
  const std::uint64_t rank = (magnitude * kPowersOfTen[kMaxDigits - count]) << 4 | static_cast<std::uint64_t>(count);
  // '-' sorts before every digit.
  return key < 0 ? rank : kNonNegative | rank;
}

void RaiseDuplicateHandleKey() { throw EHandleMapError("String list does not allow duplicates"); }

void RaiseHandleIndexError(std::size_t index) {
  throw EHandleMapError("List index out of bounds (" + std::to_string(index) + ")");
}
