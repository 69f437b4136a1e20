#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "ByteScan_un.h"

// Every length around the 16- and 64-byte blocks, the byte at every place or
// nowhere, with look-alike bytes (the byte with its high bit set) around it.
TEST(ByteScan, FindsTheFirstMatchAtEveryPlaceAndLength) {
  for (std::size_t length = 0; length <= 140; ++length) {
    for (std::size_t place = 0; place <= length; ++place) {
      std::string text(length, '\x8A');
      if (place < length) {
        text[place] = '\n';
        if (place + 3 < length)
          text[place + 3] = '\n';
      }
      const char* found = FindByte(text.data(), text.data() + length, '\n');
      ASSERT_EQ(place, static_cast<std::size_t>(found - text.data())) << "length " << length;

      const std::size_t count = std::min<std::size_t>(length, 64);
      std::uint64_t expected = 0;
      for (std::size_t i = 0; i < count; ++i)
        if (text[i] == '\n')
          expected |= std::uint64_t{1} << i;
      ASSERT_EQ(expected, ByteMask64(text.data(), count, '\n')) << "length " << length << " place " << place;
    }
  }
}
