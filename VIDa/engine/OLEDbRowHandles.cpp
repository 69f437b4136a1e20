#include "OLEDbRowHandles.h"

#include <oledberr.h>

#include <algorithm>

#include "OLEDbError.h"

namespace {
// One sequence for every rowset, so an HROW is known only to the rowset that
// issued it.
THandleSequence& RowHandleSequence() {
  static THandleSequence sequence;
  return sequence;
}
}  // namespace

std::int32_t TOleDbRowHandle::AddRef() {
  const std::int32_t before = refCount_.fetch_add(1);
  if (before == 0) handles_->NotifyStateChanged(*this, true);
  return before + 1;
}

std::int32_t TOleDbRowHandle::Release() {
  std::int32_t count = refCount_.load();
  while (count > 0) {
    if (refCount_.compare_exchange_weak(count, count - 1)) {
      if (count - 1 != 0) return count - 1;
      break;
    }
  }
  // No reference left (or none was held): the handle goes unless a listener
  // keeps it for a pending change.
  if (handles_->QueryKeep(*this)) return 0;
  handles_->NotifyStateChanged(*this, false);
  handles_->DestroyHandle(*this);
  return 0;
}

TOleDbRowHandle& TOleDbRowHandles::CreateHandle(std::int32_t rowValue) {
  // Everything that allocates comes first: a failure changes nothing.
  index_.ReserveOneMore();
  if (freeSlots_.empty()) {
    // Room for every slot to come back without allocating, grown
    // geometrically: an exact reserve would reallocate for every new row.
    if (freeSlots_.capacity() <= slots_.size())
      freeSlots_.reserve(std::max<std::size_t>(slots_.size() + 1, 2 * freeSlots_.capacity()));
    slots_.emplace_back(*this, TOleDbRowHandle::TCreateKey());
    freeSlots_.push_back(&slots_.back());
  }
  TOleDbRowHandle& handle = *freeSlots_.back();
  // A number still held here from the sequence's last round is skipped.
  std::int32_t key;
  do {
    key = HandleKeyOf(RowHandleSequence().Next());
  } while (!index_.TryAdd(key, &handle));
  handle.key_ = key;
  ordered_ = false;
  freeSlots_.pop_back();
  handle.rowValue_ = rowValue;
  handle.refCount_.store(0);
  return handle;
}

void TOleDbRowHandles::DestroyHandle(TOleDbRowHandle& handle) noexcept {
  if (handle.key_ == 0) return;
  index_.Remove(handle.key_);
  ordered_ = false;
  handle.key_ = 0;
  handle.rowValue_ = -1;
  handle.refCount_.store(0);
  freeSlots_.push_back(&handle);
}

void TOleDbRowHandles::RemoveListener(TOleDbRowHandleEventsListener& listener) noexcept {
  auto it = std::find(listeners_.begin(), listeners_.end(), &listener);
  if (it != listeners_.end()) listeners_.erase(it);
}

TOleDbRowHandle& TOleDbRowHandles::HandleAt(std::size_t index) const {
  if (index >= index_.Count()) RaiseHandleIndexError(index);
  if (!ordered_) {
    order_.clear();
    order_.reserve(index_.Count());
    index_.ForEach([&](std::int32_t, TOleDbRowHandle* handle) { order_.push_back(handle); });
    std::sort(order_.begin(), order_.end(), [](const TOleDbRowHandle* a, const TOleDbRowHandle* b) {
      return DecimalTextRank(a->Key()) < DecimalTextRank(b->Key());
    });
    ordered_ = true;
  }
  return *order_[index];
}

void TOleDbRowHandles::Clear() noexcept {
  SuspendEvents();
  index_.ForEach([&](std::int32_t, TOleDbRowHandle* handle) {
    handle->key_ = 0;
    handle->rowValue_ = -1;
    handle->refCount_.store(0);
    freeSlots_.push_back(handle);
  });
  index_.Clear();
  ordered_ = false;
  ResumeEvents();
}

void TOleDbRowHandles::NotifyStateChanged(TOleDbRowHandle& handle, bool active) {
  // By index: a listener may remove itself while it is called.
  for (std::size_t i = 0; i < listeners_.size() && suspendCount_ <= 0; ++i)
    listeners_[i]->RowHandleStateChanged(handle, active);
}

bool TOleDbRowHandles::QueryKeep(TOleDbRowHandle& handle) {
  bool keep = false;
  for (std::size_t i = 0; i < listeners_.size() && suspendCount_ <= 0 && !keep; ++i)
    listeners_[i]->QueryKeepRowHandle(handle, keep);
  return keep;
}

TOleDbRowHandleStorage::TOleDbRowHandleStorage(std::unique_ptr<TOleDbRowHandles> handles)
    : handles_(std::move(handles)) {
  if (!handles_) throw EOleError(L"RowHandles must be defined", E_FAIL);
}

HRESULT TOleDbRowHandleStorage::ChangeRowRefs(DBCOUNTITEM cRows, const HROW rghRows[], bool add,
                                              DBROWSTATUS rgRowStatus[], DBREFCOUNT rgRefCounts[]) {
  if (cRows == 0) return S_OK;
  if (!rghRows) throw EOleDbException(E_INVALIDARG);
  DBCOUNTITEM failed = 0;
  for (DBCOUNTITEM i = 0; i < cRows; ++i) {
    TOleDbRowHandle* handle = handles_->FindHandle(rghRows[i]);
    std::int32_t count = 0;
    DBROWSTATUS status = DBROWSTATUS_S_OK;
    if (handle) {
      count = add ? handle->AddRef() : handle->Release();
    } else {
      status = DBROWSTATUS_E_INVALID;
      ++failed;
    }
    if (rgRefCounts) rgRefCounts[i] = static_cast<DBREFCOUNT>(count);
    if (rgRowStatus) rgRowStatus[i] = status;
  }
  if (failed == 0) return S_OK;
  return failed == cRows ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
}
