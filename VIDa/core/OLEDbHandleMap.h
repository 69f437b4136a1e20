#pragma once
// Maps from 32-bit keys (row handles, accessor handles, row values, column
// ordinals) to objects the map does not own.
//
// Enumeration follows the keys' decimal texts compared character by
// character ("-1" < "-10" < "-2" < "0" < "10" < "100" < "9"), which is the
// order callers enumerate handles in. The order is reproduced by a numeric
// rank, so lookups are binary searches that format no text and allocate
// nothing.
#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

// Raised for a duplicate key ("String list does not allow duplicates") and
// for an index outside the map.
class EHandleMapError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The position of key in decimal-text order: a < b exactly when the text of
// a sorts before the text of b. Distinct keys have distinct ranks.
std::uint64_t DecimalTextRank(std::int32_t key) noexcept;

[[noreturn]] void RaiseDuplicateHandleKey();
[[noreturn]] void RaiseHandleIndexError(std::size_t index);

// Issues the numbers by which handles are known to consumers. A handle is
// never an address: an address does not fit 32 bits on 64-bit Windows, and a
// number that is only looked up can never be followed to freed memory.
// Numbers start at 1, skip 0 (DB_NULL_HROW, DB_NULL_HACCESSOR) and repeat only
// after 2^32 - 1 issues. Sharing one sequence between all maps of a handle
// kind makes a handle of one object unknown to every other object.
class THandleSequence {
public:
  // last: the number issued before the first one.
  explicit THandleSequence(std::uint32_t last = 0) noexcept : last_(last) {}

  // Thread-safe: objects of different apartments may share a sequence.
  std::uint32_t Next() noexcept {
    std::uint32_t number;
    do {
      number = last_.fetch_add(1, std::memory_order_relaxed) + 1;
    } while (number == 0);
    return number;
  }

private:
  std::atomic<std::uint32_t> last_;
};

// The map key of a handle number and back. The handle value a consumer sees
// is the 32-bit number, zero-extended.
constexpr std::int32_t HandleKeyOf(std::uint32_t number) noexcept { return static_cast<std::int32_t>(number); }
constexpr std::uintptr_t HandleValueOf(std::int32_t key) noexcept { return static_cast<std::uint32_t>(key); }
// False for 0 and for values wider than 32 bits: no sequence issues them.
constexpr bool HandleKeyFromValue(std::uintptr_t handle, std::int32_t& key) noexcept {
  if (handle == 0 || handle > UINT32_MAX) return false;
  key = HandleKeyOf(static_cast<std::uint32_t>(handle));
  return true;
}

// Sorted key/value map; V is a small copyable value (an object pointer, a
// state byte).
//
// Entries are kept in a run of short sorted blocks rather than one array: a
// consumer may hold hundreds of thousands of rows, and handle numbers land all
// over decimal-text order, so one array would move half its entries on every
// insert. Lookups are two binary searches; an insert or removal moves at most
// one block; enumeration by rising index walks the blocks once.
template <class V>
class TDecimalOrderMap {
public:
  std::size_t Count() const noexcept { return count_; }
  bool Empty() const noexcept { return count_ == 0; }
  // Makes room for capacity entries, so that filling the map up to there
  // allocates nothing.
  void Reserve(std::size_t capacity) {
    const std::size_t blocks = (capacity + BlockSplit - 1) / BlockSplit + 1;
    while (blocks_.size() < blocks) AppendSpareBlock();
  }

  // Raises EHandleMapError when key is present.
  void Add(std::int32_t key, V value) {
    const TPlace place = Locate(DecimalTextRank(key));
    if (place.Found) RaiseDuplicateHandleKey();
    Insert(place, TEntry{place.Rank, key, value});
  }
  // Adds key unless it is present; answers whether it was added.
  bool TryAdd(std::int32_t key, V value) {
    const TPlace place = Locate(DecimalTextRank(key));
    if (place.Found) return false;
    Insert(place, TEntry{place.Rank, key, value});
    return true;
  }
  // Replaces the value of a present key, else adds it.
  void Put(std::int32_t key, V value) {
    const TPlace place = Locate(DecimalTextRank(key));
    if (place.Found)
      blocks_[place.Block][place.Offset].Value = value;
    else
      Insert(place, TEntry{place.Rank, key, value});
  }
  // Absent keys are ignored; answers whether the key was present.
  bool Remove(std::int32_t key) noexcept {
    const TPlace place = Locate(DecimalTextRank(key));
    if (!place.Found) return false;
    std::vector<TEntry>& block = blocks_[place.Block];
    block.erase(block.begin() + static_cast<std::ptrdiff_t>(place.Offset));
    --count_;
    if (place.Block < cursorBlock_) --cursorStart_;
    if (block.empty()) RetireBlock(place.Block);
    return true;
  }
  // Keeps every block's capacity, so refilling allocates nothing.
  void Clear() noexcept {
    for (std::size_t i = 0; i < used_; ++i) blocks_[i].clear();
    used_ = 0;
    count_ = 0;
    cursorBlock_ = 0;
    cursorStart_ = 0;
  }

  // The stored value, or null when key is absent.
  const V* Lookup(std::int32_t key) const noexcept {
    const TPlace place = Locate(DecimalTextRank(key));
    return place.Found ? &blocks_[place.Block][place.Offset].Value : nullptr;
  }
  bool Contains(std::int32_t key) const noexcept { return Lookup(key) != nullptr; }
  // Index in enumeration order, or -1.
  std::ptrdiff_t IndexOf(std::int32_t key) const noexcept {
    const TPlace place = Locate(DecimalTextRank(key));
    if (!place.Found) return -1;
    return static_cast<std::ptrdiff_t>(StartOfBlock(place.Block) + place.Offset);
  }

  // Enumeration by index; an index outside the map raises EHandleMapError.
  std::int32_t KeyAt(std::size_t index) const { return EntryAt(index).Key; }
  const V& ValueAt(std::size_t index) const { return EntryAt(index).Value; }

private:
  struct TEntry {
    std::uint64_t Rank;
    std::int32_t Key;
    V Value;
  };
  // Where a rank is or would be inserted.
  struct TPlace {
    std::uint64_t Rank;
    std::size_t Block;
    std::size_t Offset;
    bool Found;
  };

  // A full block splits into two halves; small enough that moving within
  // one block costs little, large enough that the blocks stay few.
  static constexpr std::size_t BlockCapacity = 128;
  static constexpr std::size_t BlockSplit = BlockCapacity / 2;

  TPlace Locate(std::uint64_t rank) const noexcept {
    if (used_ == 0) return {rank, 0, 0, false};
    // The first block whose last rank is not below rank; past the last
    // block, the end of the last one.
    std::size_t low = 0, high = used_;
    while (low < high) {
      const std::size_t middle = low + (high - low) / 2;
      if (blocks_[middle].back().Rank < rank)
        low = middle + 1;
      else
        high = middle;
    }
    if (low == used_) return {rank, used_ - 1, blocks_[used_ - 1].size(), false};
    const std::vector<TEntry>& block = blocks_[low];
    const auto it = std::lower_bound(block.begin(), block.end(), rank,
                                     [](const TEntry& e, std::uint64_t r) { return e.Rank < r; });
    return {rank, low, static_cast<std::size_t>(it - block.begin()), it != block.end() && it->Rank == rank};
  }

  void Insert(const TPlace& place, const TEntry& entry) {
    if (used_ == 0) {
      if (blocks_.empty()) AppendSpareBlock();
      used_ = 1;
    }
    std::size_t blockIndex = place.Block;
    std::size_t offset = place.Offset;
    if (blocks_[blockIndex].size() == BlockCapacity) {
      SplitBlock(blockIndex);
      if (offset > BlockSplit) {
        ++blockIndex;
        offset -= BlockSplit;
      }
    }
    std::vector<TEntry>& block = blocks_[blockIndex];
    block.insert(block.begin() + static_cast<std::ptrdiff_t>(offset), entry);
    ++count_;
    if (blockIndex < cursorBlock_) ++cursorStart_;
  }

  // Moves the upper half of a full block into a new block after it.
  void SplitBlock(std::size_t index) {
    if (used_ == blocks_.size()) AppendSpareBlock();
    // The spare block at used_ moves to index + 1.
    std::rotate(blocks_.begin() + static_cast<std::ptrdiff_t>(index + 1),
                blocks_.begin() + static_cast<std::ptrdiff_t>(used_),
                blocks_.begin() + static_cast<std::ptrdiff_t>(used_ + 1));
    ++used_;
    std::vector<TEntry>& lower = blocks_[index];
    std::vector<TEntry>& upper = blocks_[index + 1];
    upper.assign(lower.begin() + BlockSplit, lower.end());
    lower.resize(BlockSplit);
    if (index < cursorBlock_) ++cursorBlock_;
  }

  // An emptied block goes behind the live ones, capacity kept.
  void RetireBlock(std::size_t index) noexcept {
    std::rotate(blocks_.begin() + static_cast<std::ptrdiff_t>(index),
                blocks_.begin() + static_cast<std::ptrdiff_t>(index + 1),
                blocks_.begin() + static_cast<std::ptrdiff_t>(used_));
    --used_;
    // The blocks after it keep their first indexes.
    if (index < cursorBlock_) --cursorBlock_;
  }

  void AppendSpareBlock() {
    std::vector<TEntry> block;
    block.reserve(BlockCapacity);
    blocks_.push_back(std::move(block));
  }

  // The index of the first entry of a live block, found from the last block
  // enumerated, so that walking the map by rising index is linear.
  std::size_t StartOfBlock(std::size_t index) const noexcept {
    if (cursorBlock_ > index || cursorBlock_ >= used_) {
      cursorBlock_ = 0;
      cursorStart_ = 0;
    }
    while (cursorBlock_ < index) cursorStart_ += blocks_[cursorBlock_++].size();
    return cursorStart_;
  }

  const TEntry& EntryAt(std::size_t index) const {
    if (index >= count_) RaiseHandleIndexError(index);
    if (cursorBlock_ >= used_ || index < cursorStart_) {
      cursorBlock_ = 0;
      cursorStart_ = 0;
    }
    while (index >= cursorStart_ + blocks_[cursorBlock_].size()) cursorStart_ += blocks_[cursorBlock_++].size();
    return blocks_[cursorBlock_][index - cursorStart_];
  }

  // blocks_[0, used_) hold the entries in order, none of them empty; the
  // blocks after them are empty spares.
  std::vector<std::vector<TEntry>> blocks_;
  std::size_t used_ = 0;
  std::size_t count_ = 0;
  // The last block enumerated and the index of its first entry.
  mutable std::size_t cursorBlock_ = 0;
  mutable std::size_t cursorStart_ = 0;
};

// Unordered map from a handle key (not 0) to an object of type T (not
// owned), for handles a consumer may hold by the hundred thousand and
// touches on every row: finding, adding and removing a key cost the same
// whatever the count. Open addressing with linear probing, kept at most half
// full; storage only grows, so nothing is allocated until more keys are held
// at once than ever before.
template <class T>
class THandleIndex {
public:
  std::size_t Count() const noexcept { return count_; }

  // The object of key, or null (also for key 0).
  T* Find(std::int32_t key) const noexcept {
    if (key == 0 || slots_.empty()) return nullptr;
    for (std::size_t i = Home(key);; i = (i + 1) & mask_) {
      const TSlot& slot = slots_[i];
      if (slot.Key == key) return slot.Object;
      if (slot.Key == 0) return nullptr;
    }
  }
  // Makes room for one more key: the one step that allocates, so that a
  // failure leaves the map as it was.
  void ReserveOneMore() {
    if ((count_ + 1) * 2 > slots_.size()) Rehash(slots_.empty() ? 16 : slots_.size() * 2);
  }
  // Adds key (not 0) unless it is present, after ReserveOneMore; answers
  // whether it was added.
  bool TryAdd(std::int32_t key, T* object) noexcept {
    std::size_t i = Home(key);
    for (; slots_[i].Key != 0; i = (i + 1) & mask_)
      if (slots_[i].Key == key) return false;
    slots_[i] = {key, object};
    ++count_;
    return true;
  }
  // Absent keys are ignored; answers whether the key was present.
  bool Remove(std::int32_t key) noexcept {
    if (key == 0 || slots_.empty()) return false;
    std::size_t hole = Home(key);
    for (; slots_[hole].Key != key; hole = (hole + 1) & mask_)
      if (slots_[hole].Key == 0) return false;
    // Entries after the hole that would no longer be found move into it.
    for (std::size_t next = (hole + 1) & mask_; slots_[next].Key != 0; next = (next + 1) & mask_) {
      const std::size_t home = Home(slots_[next].Key);
      const bool reachable = hole < next ? (home > hole && home <= next) : (home > hole || home <= next);
      if (!reachable) {
        slots_[hole] = slots_[next];
        hole = next;
      }
    }
    slots_[hole] = {};
    --count_;
    return true;
  }
  // Keeps the storage.
  void Clear() noexcept {
    std::fill(slots_.begin(), slots_.end(), TSlot{});
    count_ = 0;
  }
  // Calls visit(key, object) for every entry, in no particular order.
  template <class F>
  void ForEach(F&& visit) const {
    for (const TSlot& slot : slots_)
      if (slot.Key != 0) visit(slot.Key, slot.Object);
  }

private:
  struct TSlot {
    std::int32_t Key = 0;
    T* Object = nullptr;
  };

  // Keys are issued in sequence, several objects drawing from one sequence:
  // a multiplicative hash spreads every stride over the table.
  std::size_t Home(std::int32_t key) const noexcept {
    return static_cast<std::size_t>((static_cast<std::uint64_t>(static_cast<std::uint32_t>(key)) *
                                     0x9E3779B97F4A7C15ull) >> shift_) & mask_;
  }

  void Rehash(std::size_t capacity) {
    std::vector<TSlot> old(capacity);
    old.swap(slots_);
    mask_ = capacity - 1;
    shift_ = 64 - static_cast<unsigned>(std::countr_zero(capacity));
    count_ = 0;
    for (const TSlot& slot : old)
      if (slot.Key != 0) TryAdd(slot.Key, slot.Object);
  }

  std::vector<TSlot> slots_;
  std::size_t mask_ = 0;
  unsigned shift_ = 63;
  std::size_t count_ = 0;
};

// Map from a 32-bit key to an object of type T (not owned).
template <class T>
class THandleMap : public TDecimalOrderMap<T*> {
public:
  // The object of key, or null.
  T* Find(std::int32_t key) const noexcept {
    T* const* found = this->Lookup(key);
    return found ? *found : nullptr;
  }
  // The object a consumer's handle value names, or null for 0, for values
  // wider than 32 bits and for numbers not in this map (stale or foreign).
  T* FindHandle(std::uintptr_t handle) const noexcept {
    std::int32_t key;
    return HandleKeyFromValue(handle, key) ? Find(key) : nullptr;
  }
  T* ObjectAt(std::size_t index) const { return this->ValueAt(index); }

  // Registers object under the next number of sequence that is not in use
  // here and returns the handle value for the consumer.
  std::uintptr_t AddNew(THandleSequence& sequence, T* object) {
    std::int32_t key;
    do {
      key = HandleKeyOf(sequence.Next());
    } while (!this->TryAdd(key, object));
    return HandleValueOf(key);
  }
};
