#pragma once
// Row handles of a rowset: the HROWs a consumer holds, their reference
// counts, and IRowset::AddRefRows / ReleaseRows.
//
// An HROW is a number from one process-wide sequence (see THandleSequence),
// so a stale HROW or one of another rowset is unknown here and reported,
// never followed. Handle objects are pooled: fetching, adding references and
// releasing allocate nothing once the pool has grown to the number of rows
// held at the same time, and cost the same however many rows are held.
#include <windows.h>
#include <oledb.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "OLEDbHandleMap.h"

class TOleDbRowHandles;

class TOleDbRowHandle {
public:
  // Only TOleDbRowHandles can make the key, so every handle has an owner.
  class TCreateKey {
    friend class TOleDbRowHandles;
    TCreateKey() = default;
  };
  TOleDbRowHandle(TOleDbRowHandles& handles, TCreateKey) noexcept : handles_(&handles) {}
  TOleDbRowHandle(const TOleDbRowHandle&) = delete;
  TOleDbRowHandle& operator=(const TOleDbRowHandle&) = delete;

  TOleDbRowHandles& Handles() const noexcept { return *handles_; }
  HROW HRow() const noexcept { return HandleValueOf(key_); }
  std::int32_t Key() const noexcept { return key_; }

  // Which row of the data class this handle stands for; -1 until it is set.
  std::int32_t RowValue() const noexcept { return rowValue_; }
  void SetRowValue(std::int32_t rowValue) noexcept { rowValue_ = rowValue; }

  std::int32_t RefCount() const noexcept { return refCount_.load(); }
  // Returns the new count; the first reference activates the handle for the
  // listeners.
  std::int32_t AddRef();
  // Returns the new count. At 0 the listeners may keep the handle (a row
  // with a pending change); otherwise it is destroyed and must not be used
  // any more.
  std::int32_t Release();

private:
  friend class TOleDbRowHandles;
  TOleDbRowHandles* handles_;
  std::int32_t key_ = 0;  // 0: the slot is free
  std::int32_t rowValue_ = -1;
  std::atomic<std::int32_t> refCount_{0};
};

// Hears about the handles of one TOleDbRowHandles list. The list does not own
// its listeners.
class TOleDbRowHandleEventsListener {
public:
  virtual ~TOleDbRowHandleEventsListener() = default;
  // active: the handle gained its first reference; !active: it is released
  // for good and about to be destroyed.
  virtual void RowHandleStateChanged(TOleDbRowHandle& handle, bool active) {}
  // Asked when a handle has no reference left; setting keep spares it.
  virtual void QueryKeepRowHandle(TOleDbRowHandle& handle, bool& keep) {}
};

class TOleDbRowHandles {
public:
  TOleDbRowHandles() = default;
  TOleDbRowHandles(const TOleDbRowHandles&) = delete;
  TOleDbRowHandles& operator=(const TOleDbRowHandles&) = delete;
  // Destroys the remaining handles without telling the listeners.
  ~TOleDbRowHandles() { Clear(); }

  // A new registered handle with no reference.
  TOleDbRowHandle& CreateHandle(std::int32_t rowValue = -1);
  // Unregisters the handle at once, whatever its count; later lookups of its
  // HROW fail. Destroying a handle twice does nothing.
  void DestroyHandle(TOleDbRowHandle& handle) noexcept;
  // Null for 0, stale and foreign HROWs.
  TOleDbRowHandle* FindHandle(HROW hRow) const noexcept {
    std::int32_t key;
    return HandleKeyFromValue(hRow, key) ? index_.Find(key) : nullptr;
  }

  // Handles in enumeration order of their HROWs' decimal texts. Only pending
  // changes are listed in that order, rarely: the order is sorted out on the
  // first HandleAt after handles came or went.
  std::size_t Count() const noexcept { return index_.Count(); }
  TOleDbRowHandle& HandleAt(std::size_t index) const;

  void AddListener(TOleDbRowHandleEventsListener& listener) { listeners_.push_back(&listener); }
  void RemoveListener(TOleDbRowHandleEventsListener& listener) noexcept;

  // While suspended no listener is called.
  void SuspendEvents() noexcept { ++suspendCount_; }
  void ResumeEvents() noexcept {
    if (suspendCount_ > 0) --suspendCount_;
  }
  std::int32_t SuspendCount() const noexcept { return suspendCount_; }

  // Destroys every handle without telling the listeners.
  void Clear() noexcept;

private:
  friend class TOleDbRowHandle;
  void NotifyStateChanged(TOleDbRowHandle& handle, bool active);
  bool QueryKeep(TOleDbRowHandle& handle);

  // The handles in the map by HROW: every fetch, read and release finds,
  // adds or removes one, at a cost that does not grow with the rows held.
  THandleIndex<TOleDbRowHandle> index_;
  std::deque<TOleDbRowHandle> slots_;            // owns every handle object
  std::vector<TOleDbRowHandle*> freeSlots_;      // capacity kept at slots_.size()
  std::vector<TOleDbRowHandleEventsListener*> listeners_;
  std::int32_t suspendCount_ = 0;
  // The handles in decimal-text order of their HROWs, while ordered_ is true.
  mutable std::vector<TOleDbRowHandle*> order_;
  mutable bool ordered_ = false;
};

// The rowset's holder of its handles; carries IRowset::AddRefRows and
// IRowset::ReleaseRows.
class TOleDbRowHandleStorage {
public:
  // A null list raises E_FAIL "RowHandles must be defined".
  explicit TOleDbRowHandleStorage(std::unique_ptr<TOleDbRowHandles> handles);

  TOleDbRowHandles& Handles() const noexcept { return *handles_; }

  // Adds (add) or drops one reference per entry and writes the optional
  // per-row status and new count. Returns S_OK, DB_S_ERRORSOCCURRED (some
  // entries unknown) or DB_E_ERRORSOCCURRED (all unknown); S_OK for
  // cRows = 0. cRows > 0 without rghRows raises E_INVALIDARG. An unknown
  // entry gets DBROWSTATUS_E_INVALID and a count of 0.
  HRESULT ChangeRowRefs(DBCOUNTITEM cRows, const HROW rghRows[], bool add, DBROWSTATUS rgRowStatus[],
                        DBREFCOUNT rgRefCounts[]);

  // The same in the argument order of IRowset.
  HRESULT AddRefRows(DBCOUNTITEM cRows, const HROW rghRows[], DBREFCOUNT rgRefCounts[], DBROWSTATUS rgRowStatus[]) {
    return ChangeRowRefs(cRows, rghRows, true, rgRowStatus, rgRefCounts);
  }
  // Row options are not used.
  HRESULT ReleaseRows(DBCOUNTITEM cRows, const HROW rghRows[], const DBROWOPTIONS rgRowOptions[],
                      DBREFCOUNT rgRefCounts[], DBROWSTATUS rgRowStatus[]) {
    return ChangeRowRefs(cRows, rghRows, false, rgRowStatus, rgRefCounts);
  }

private:
  std::unique_ptr<TOleDbRowHandles> handles_;
};
