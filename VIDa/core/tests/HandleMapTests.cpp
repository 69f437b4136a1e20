#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "OLEDbHandleMap.h"

namespace {
std::vector<std::int32_t> KeysInOrder(const THandleMap<int>& map) {
  std::vector<std::int32_t> keys;
  for (std::size_t i = 0; i < map.Count(); ++i) keys.push_back(map.KeyAt(i));
  return keys;
}
}  // namespace

TEST(HandleMap, EnumeratesInDecimalTextOrder) {
  THandleMap<int> map;
  int value = 0;
  for (std::int32_t key : {2, 100, 10, 9, 0, -1, -10, -2, INT32_MAX, INT32_MIN, 1}) map.Add(key, &value);
  const std::vector<std::int32_t> expected = {-1, -10, -2, INT32_MIN, 0, 1, 10, 100, 2, INT32_MAX, 9};
  EXPECT_EQ(KeysInOrder(map), expected);
}

TEST(HandleMap, RankAgreesWithTextComparison) {
  std::mt19937 random(7);
  std::vector<std::int32_t> keys = {0, 1, -1, 9, 10, -9, -10, INT32_MIN, INT32_MAX, 999999999, 1000000000};
  for (int i = 0; i < 20000; ++i) {
    auto key = static_cast<std::int32_t>(random() >> (random() % 32));
    keys.push_back(random() % 2 ? key : -key);
  }
  for (std::size_t i = 1; i < keys.size(); ++i) {
    const std::int32_t a = keys[i - 1], b = keys[i];
    const std::string ta = std::to_string(a), tb = std::to_string(b);
    ASSERT_EQ(ta < tb, DecimalTextRank(a) < DecimalTextRank(b)) << a << " " << b;
    ASSERT_EQ(ta == tb, DecimalTextRank(a) == DecimalTextRank(b)) << a << " " << b;
  }
}

TEST(HandleMap, FindsPutsAndRemoves) {
  THandleMap<int> map;
  int a = 1, b = 2, c = 3;
  map.Add(2, &a);
  map.Add(100, &b);
  map.Add(10, &c);
  EXPECT_EQ(map.Find(10), &c);
  EXPECT_EQ(map.Find(2), &a);
  EXPECT_EQ(map.Find(1), nullptr);
  EXPECT_EQ(map.IndexOf(2), 2);
  EXPECT_EQ(map.IndexOf(3), -1);
  EXPECT_EQ(map.ObjectAt(0), &c);

  map.Put(10, &a);  // replaces
  map.Put(5, &b);   // adds
  EXPECT_EQ(map.Find(10), &a);
  EXPECT_EQ(map.Find(5), &b);
  EXPECT_EQ(map.Count(), 4u);

  EXPECT_TRUE(map.Remove(100));
  EXPECT_FALSE(map.Remove(100));
  EXPECT_EQ(map.Find(100), nullptr);
  EXPECT_EQ(map.Count(), 3u);
  map.Clear();
  EXPECT_EQ(map.Count(), 0u);
  EXPECT_EQ(map.Find(10), nullptr);
}

TEST(HandleMap, RefusesDuplicatesAndBadIndexes) {
  THandleMap<int> map;
  int a = 1, b = 2;
  map.Add(-7, &a);
  try {
    map.Add(-7, &b);
    FAIL() << "duplicate accepted";
  } catch (const EHandleMapError& e) {
    EXPECT_STREQ(e.what(), "String list does not allow duplicates");
  }
  EXPECT_EQ(map.Find(-7), &a);
  EXPECT_EQ(map.Count(), 1u);
  EXPECT_THROW(map.KeyAt(1), EHandleMapError);
  EXPECT_THROW(map.ObjectAt(5), EHandleMapError);
}

TEST(HandleMap, HandleValuesOutsideTheNumberRangeAreUnknown) {
  THandleMap<int> map;
  int a = 1;
  map.Add(HandleKeyOf(0xFFFFFFFFu), &a);
  map.Add(5, &a);
  EXPECT_EQ(map.FindHandle(5), &a);
  EXPECT_EQ(map.FindHandle(0xFFFFFFFFu), &a);  // a negative key, zero-extended
  EXPECT_EQ(map.FindHandle(0), nullptr);
  EXPECT_EQ(map.FindHandle(6), nullptr);
  if constexpr (sizeof(std::uintptr_t) > 4) {
    // A 64-bit value whose low half is a live number was never issued.
    EXPECT_EQ(map.FindHandle((std::uintptr_t{1} << 32) | 5), nullptr);
  }
}

TEST(HandleMap, NewHandlesSkipZeroAndNumbersInUse) {
  THandleSequence sequence;
  THandleMap<int> map;
  int a = 1;
  EXPECT_EQ(map.AddNew(sequence, &a), 1u);
  EXPECT_EQ(map.AddNew(sequence, &a), 2u);

  THandleSequence wrapping(0xFFFFFFFEu);
  THandleMap<int> used;
  used.Add(HandleKeyOf(1), &a);
  used.Add(HandleKeyOf(2), &a);
  EXPECT_EQ(used.AddNew(wrapping, &a), 0xFFFFFFFFu);
  EXPECT_EQ(used.AddNew(wrapping, &a), 3u);  // past 0, 1 and 2
}

// Many keys added and removed in random order, enumerated by index while the
// map changes: the order, the indexes and the lookups must stay those of the
// keys' decimal texts.
TEST(HandleMap, StaysInOrderThroughManyChanges) {
  std::mt19937 random(11);
  THandleMap<int> map;
  std::map<std::string, std::int32_t> expected;
  int value = 0;
  auto checkAll = [&] {
    ASSERT_EQ(map.Count(), expected.size());
    std::size_t index = 0;
    for (const auto& [text, key] : expected) {
      ASSERT_EQ(map.KeyAt(index), key) << index;
      ASSERT_EQ(map.IndexOf(key), static_cast<std::ptrdiff_t>(index));
      ++index;
    }
  };
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 5000; ++i) {
      const auto key = static_cast<std::int32_t>(random() % 20000) - 2000;
      if (random() % 3 == 0) {
        EXPECT_EQ(map.Remove(key), expected.erase(std::to_string(key)) == 1);
      } else if (expected.emplace(std::to_string(key), key).second) {
        map.Add(key, &value);
      } else {
        EXPECT_THROW(map.Add(key, &value), EHandleMapError);
      }
      if (i % 997 == 0) checkAll();
    }
    checkAll();
    // Walking by index while removing every other key, as a release loop does.
    for (std::size_t i = 0; i < map.Count(); ++i) {
      const std::int32_t key = map.KeyAt(i);
      if (key % 2 == 0) {
        map.Remove(key);
        expected.erase(std::to_string(key));
        --i;
      }
    }
    checkAll();
  }
  for (const auto& [text, key] : expected) EXPECT_EQ(map.Find(key), &value);
  map.Clear();
  EXPECT_EQ(map.Count(), 0u);
  EXPECT_EQ(map.Find(expected.begin()->second), nullptr);
}

// Keys drawn as handle sequences draw them (runs, strides that meet the
// table's size, values far apart) and removed in random order: every key
// added and not removed is found with its object, every other one is not.
TEST(HandleIndex, FindsExactlyTheKeysItHolds) {
  struct TPattern {
    const char* Name;
    std::int32_t First;
    std::int32_t Stride;
  };
  const TPattern patterns[] = {{"run", 1, 1}, {"stride 16", 7, 16}, {"stride 1024", 1, 1024},
                               {"odd", -3001, 3}, {"far apart", 5, 0x01000193}};
  for (const TPattern& pattern : patterns) {
    std::mt19937 random(5);
    THandleIndex<int> index;
    std::map<std::int32_t, int*> expected;
    std::vector<int> objects(4000);
    std::vector<std::int32_t> keys;
    for (int i = 0; i < 4000; ++i) {
      const std::int32_t key =
          static_cast<std::int32_t>(static_cast<std::uint32_t>(pattern.First) + static_cast<std::uint32_t>(i) *
                                                                                    static_cast<std::uint32_t>(pattern.Stride));
      if (key == 0) continue;
      keys.push_back(key);
      index.ReserveOneMore();
      ASSERT_TRUE(index.TryAdd(key, &objects[i])) << pattern.Name;
      ASSERT_FALSE(index.TryAdd(key, &objects[0])) << pattern.Name;
      expected[key] = &objects[i];
      // Now and then some of the keys go again, in random order.
      if (random() % 4 == 0) {
        const std::int32_t gone = keys[random() % keys.size()];
        EXPECT_EQ(index.Remove(gone), expected.erase(gone) == 1) << pattern.Name;
      }
    }
    ASSERT_EQ(index.Count(), expected.size()) << pattern.Name;
    for (const std::int32_t key : keys) {
      const auto it = expected.find(key);
      ASSERT_EQ(index.Find(key), it == expected.end() ? nullptr : it->second) << pattern.Name << " " << key;
    }
    EXPECT_EQ(index.Find(0), nullptr);
    std::size_t visited = 0;
    index.ForEach([&](std::int32_t key, int* object) {
      ++visited;
      EXPECT_EQ(expected[key], object);
    });
    EXPECT_EQ(visited, expected.size()) << pattern.Name;
    index.Clear();
    EXPECT_EQ(index.Count(), 0u);
    EXPECT_EQ(index.Find(keys.front()), nullptr);
  }
}
