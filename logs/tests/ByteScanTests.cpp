#include <gtest/gtest.h>

#include <cstdint>
#include <random>
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

// Lines end with CR LF only: a lone CR or LF, or a "#" inside a line, is line
// content. Random texts of those bytes, searched from every line start, so
// that each case falls at every place of the 16-, 64- and 128-byte blocks.
TEST(ByteScan, FindsLineEndsAndLinesStartingWithAByte) {
  std::mt19937 random(7);
  const char alphabet[] = {'a', 'a', 'a', 'a', 'a', 'a', '#', '\r', '\n', '\r'};
  for (int round = 0; round < 60; ++round) {
    std::string text(random() % 400, 'a');
    const bool sparse = round % 2 == 0; // long stretches without a match
    for (char& c : text)
      c = sparse && random() % 16 != 0 ? 'a' : alphabet[random() % sizeof alphabet];
    const char* const end = text.data() + text.size();
    for (std::size_t from = 0; from <= text.size(); ++from) {
      if (from > 0 && (from < 2 || text.compare(from - 2, 2, "\r\n") != 0))
        continue;
      std::size_t lineEnd = from + 1;
      while (lineEnd < text.size() && text.compare(lineEnd - 1, 2, "\r\n") != 0)
        ++lineEnd;
      lineEnd = lineEnd < text.size() ? lineEnd - 1 : text.size();
      std::size_t hash = from;
      while (hash < text.size() && !(text[hash] == '#' && (hash == from || (hash >= from + 2 && text.compare(hash - 2, 2, "\r\n") == 0))))
        ++hash;
      ASSERT_EQ(lineEnd, static_cast<std::size_t>(FindLineEnd(text.data() + from, end) - text.data())) << round << " " << from;
      ASSERT_EQ(hash, static_cast<std::size_t>(FindLineStartingWith(text.data() + from, end, '#') - text.data()))
          << round << " " << from;
    }
  }
}
