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
template <class V>
class TDecimalOrderMap {
public:
  std::size_t Count() const noexcept { return entries_.size(); }
  bool Empty() const noexcept { return entries_.empty(); }
  void Reserve(std::size_t capacity) { entries_.reserve(capacity); }

  // Raises EHandleMapError when key is present.
  void Add(std::int32_t key, V value) {
    const std::uint64_t rank = DecimalTextRank(key);
    auto it = LowerBound(rank);
    if (it != entries_.end() && it->Rank == rank) RaiseDuplicateHandleKey();
    entries_.insert(it, TEntry{rank, key, value});
  }
  // Replaces the value of a present key, else adds it.
  void Put(std::int32_t key, V value) {
    const std::uint64_t rank = DecimalTextRank(key);
    auto it = LowerBound(rank);
    if (it != entries_.end() && it->Rank == rank)
      it->Value = value;
    else
      entries_.insert(it, TEntry{rank, key, value});
  }
  // Absent keys are ignored; answers whether the key was present.
  bool Remove(std::int32_t key) noexcept {
    const std::uint64_t rank = DecimalTextRank(key);
    auto it = LowerBound(rank);
    if (it == entries_.end() || it->Rank != rank) return false;
    entries_.erase(it);
    return true;
  }
  // Keeps the capacity, so refilling allocates nothing.
  void Clear() noexcept { entries_.clear(); }

  // The stored value, or null when key is absent.
  const V* Lookup(std::int32_t key) const noexcept {
    const std::uint64_t rank = DecimalTextRank(key);
    auto it = LowerBound(rank);
    return it != entries_.end() && it->Rank == rank ? &it->Value : nullptr;
  }
  bool Contains(std::int32_t key) const noexcept { return Lookup(key) != nullptr; }
  // Index in enumeration order, or -1.
  std::ptrdiff_t IndexOf(std::int32_t key) const noexcept {
    const std::uint64_t rank = DecimalTextRank(key);
    auto it = LowerBound(rank);
    return it != entries_.end() && it->Rank == rank ? it - entries_.begin() : -1;
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

  typename std::vector<TEntry>::iterator LowerBound(std::uint64_t rank) noexcept {
    return std::lower_bound(entries_.begin(), entries_.end(), rank,
                            [](const TEntry& e, std::uint64_t r) { return e.Rank < r; });
  }
  typename std::vector<TEntry>::const_iterator LowerBound(std::uint64_t rank) const noexcept {
    return std::lower_bound(entries_.begin(), entries_.end(), rank,
                            [](const TEntry& e, std::uint64_t r) { return e.Rank < r; });
  }
  const TEntry& EntryAt(std::size_t index) const {
    if (index >= entries_.size()) RaiseHandleIndexError(index);
    return entries_[index];
  }

  std::vector<TEntry> entries_;
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
    } while (this->Contains(key));
    this->Add(key, object);
    return HandleValueOf(key);
  }
};
