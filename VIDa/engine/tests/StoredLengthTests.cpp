#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "OLEDbStoredLength.h"

namespace {
// Every slot length up to a few blocks, with no terminator and with one at
// every place, each slot ending at the end of its own allocation so that a
// read past the slot would touch memory the checked runtime can flag.
template <class Unit>
void CheckEveryPlace(DBTYPE type) {
  for (std::size_t count = 0; count <= 70; ++count) {
    for (std::size_t zeroAt = 0; zeroAt <= count; ++zeroAt) {
      // Units that are not zero but whose subtraction borrows.
      std::vector<Unit> units(count);
      for (std::size_t i = 0; i < count; ++i) units[i] = static_cast<Unit>(i % 3 ? 0x80 + i : sizeof(Unit) == 1 ? 1 : 0x100);
      if (zeroAt < count) {
        units[zeroAt] = 0;
        if (zeroAt + 1 < count) units[zeroAt + 1] = 0;
      }
      const std::size_t expected = static_cast<std::size_t>(std::find(units.begin(), units.end(), Unit{0}) - units.begin());
      ASSERT_EQ(StoredLength(type, units.data(), count * sizeof(Unit)), expected * sizeof(Unit))
          << "slot of " << count << " units, zero at " << zeroAt;
      // The copy that measures as it goes: the same length, exactly those
      // units copied, nothing written after them.
      std::vector<Unit> copy(count, Unit{0x5A});
      ASSERT_EQ(CopyUpToZero(copy.data(), units.data(), count), expected)
          << "slot of " << count << " units, zero at " << zeroAt;
      EXPECT_TRUE(std::equal(units.begin(), units.begin() + expected, copy.begin()));
      EXPECT_TRUE(std::all_of(copy.begin() + expected, copy.end(), [](Unit unit) { return unit == Unit{0x5A}; }));
    }
  }
}
}  // namespace

TEST(StoredLength, TextEndsAtItsFirstTerminatorWithinTheSlotAndIsCopiedUpToIt) {
  CheckEveryPlace<char>(DBTYPE_STR);
  CheckEveryPlace<wchar_t>(DBTYPE_WSTR);
}

TEST(StoredLength, OddWideSlotIgnoresItsLastByte) {
  const wchar_t text[] = L"abc";
  EXPECT_EQ(StoredLength(DBTYPE_WSTR, text, 7), 6u);
}
