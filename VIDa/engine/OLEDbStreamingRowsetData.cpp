#include "OLEDbStreamingRowsetData.h"

#include <oledberr.h>

#include <algorithm>
#include <climits>
#include <exception>

#include "OLEDbError.h"
#include "OLEDbProperties.h"
#include "OLEDbRowHandles.h"

TOleDbStreamRecord* TOleDbStreamRecordPool::Record(std::int32_t slot) noexcept {
  if (slot < 0 || static_cast<std::size_t>(slot) >= records_.size()) return nullptr;
  return records_[static_cast<std::size_t>(slot)].get();
}

std::int32_t TOleDbStreamRecordPool::TakeFree(TFactory factory) {
  if (!free_.empty()) {
    const std::int32_t slot = free_.back();
    free_.pop_back();
    return slot;
  }
  // Room to give every record back without allocating then, grown
  // geometrically: an exact reserve would reallocate for every new row.
  if (free_.capacity() <= records_.size())
    free_.reserve(std::max<std::size_t>(records_.size() + 1, 2 * free_.capacity()));
  records_.push_back(factory());
  return static_cast<std::int32_t>(records_.size() - 1);
}

void TOleDbStreamRecordPool::GiveBack(std::int32_t slot) {
  if (Record(slot)) free_.push_back(slot);
}

void TOleDbStreamRecordPool::Exchange(std::int32_t slot, std::unique_ptr<TOleDbStreamRecord>& record) noexcept {
  records_[static_cast<std::size_t>(slot)].swap(record);
}

namespace {
// A second thread only pays when the process may run on a second processor.
bool SeveralProcessors() noexcept {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) return (process & (process - 1)) != 0;
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 1;
}
}  // namespace

void TOleDbStreamingRowsetData::DeclareForwardOnly(TOleDbPropertySets& sets) {
  const TOleDbVariant no = TOleDbVariant::Bool(false);
  for (DBPROPID id : {DBPROP_CANFETCHBACKWARDS, DBPROP_CANSCROLLBACKWARDS}) {
    TOleDbProperty& property = sets.EnsureProperty(DBPROPSET_ROWSET, id);
    property.Flags &= ~DBPROPFLAGS_WRITE;
    sets.PutValue(DBPROPSET_ROWSET, id, no.Get());
  }
}

void TOleDbStreamingRowsetData::DeclareRowLimit(TOleDbPropertySets& sets) {
  sets.EnsureProperty(DBPROPSET_ROWSET, DBPROP_MAXROWS).Flags |= DBPROPFLAGS_WRITE;
}

TOleDbStreamingRowsetData::TOleDbStreamingRowsetData(TOleDbStreamRecordPool::TFactory newRecord,
                                                     TRefusals refusals)
    : newRecord_(newRecord), refusals_(refusals) {}

TOleDbStreamingRowsetData::~TOleDbStreamingRowsetData() { StopReadAhead(); }

void TOleDbStreamingRowsetData::StopReadAhead() noexcept { readAhead_.reset(); }

void TOleDbStreamingRowsetData::StartReadAhead() {
  // One attempt per rowset: a thread that cannot start, or a source read to
  // its end, leaves reading inline.
  readAheadAfter_ = -1;
  if (!SeveralProcessors()) return;
  const std::int64_t rowsLeft = rowLimit_ >= 0 ? rowLimit_ - (currentIndex_ + 1) : -1;
  try {
    readAhead_ = std::make_unique<TOleDbReadAhead>(static_cast<IOleDbRecordSource&>(*this), newRecord_, rowsLeft);
  } catch (...) {
    // No memory for the spare records or no thread: reading inline loses nothing.
  }
}

bool TOleDbStreamingRowsetData::ReadInto(std::int32_t slot, bool wanted) {
  valuesOf_ = nullptr;
  if (!readAhead_ && readAheadAfter_ >= 0 && rowsReadInline_ >= readAheadAfter_) StartReadAhead();
  if (readAhead_) {
    std::unique_ptr<TOleDbStreamRecord> record;
    pool_.Exchange(slot, record);
    const TOleDbReadAhead::TTake taken = readAhead_->Take(record);
    pool_.Exchange(slot, record);
    switch (taken) {
      case TOleDbReadAhead::TTake::Row:
        // The thread has read its last row: the source is at its end.
        if (readAhead_->AtEnd()) StopReadAhead();
        return true;
      case TOleDbReadAhead::TTake::End:
        StopReadAhead();
        return false;
      case TOleDbReadAhead::TTake::Failed: {
        // The row where reading failed fails as it would have inline; the
        // next move reads on inline from where the thread stopped.
        const std::exception_ptr failure = readAhead_->Failure();
        StopReadAhead();
        std::rethrow_exception(failure);
      }
    }
  }
  TOleDbStreamRecord& record = *pool_.Record(slot);
  const bool row = ReadNextRecord(record, wanted);
  if (row && rowsReadInline_ < INT32_MAX) ++rowsReadInline_;
  return row;
}

std::int32_t TOleDbStreamingRowsetData::WritableSlot() {
  const TOleDbStreamRecord* current = pool_.Record(currentSlot_);
  if (current && current->holders_ == 0) return currentSlot_;
  if (spareSlot_ == TOleDbStreamRecordPool::NoSlot) spareSlot_ = pool_.TakeFree(newRecord_);
  return spareSlot_;
}

TOleDbCursorPosition TOleDbStreamingRowsetData::MoveCursor(TOleDbMoveKind kind, DBCOUNTITEM count) {
  // 64 bits: a count near the type's limit must not wrap the target.
  const std::int64_t current = currentIndex_;
  const std::int64_t steps = static_cast<std::int64_t>(std::min<DBCOUNTITEM>(count, INT32_MAX));
  std::int64_t target = current;
  switch (kind) {
    case TOleDbMoveKind::Forward:
      target = current + steps;
      if (knownRowCount_ >= 0) target = std::min<std::int64_t>(target, knownRowCount_);
      break;
    case TOleDbMoveKind::Backward:
      target = std::max<std::int64_t>(current - steps, -1);
      break;
    case TOleDbMoveKind::ToStart:
      target = -1;
      break;
    case TOleDbMoveKind::ToEnd:
      target = knownRowCount_;
      break;
    case TOleDbMoveKind::Stay:
      break;
  }
  if (target < current) NotImplemented(refusals_.MoveBack);

  while (target > currentIndex_ && !NoMoreRows()) {
    const std::int32_t slot = WritableSlot();
    if (ReadInto(slot, currentIndex_ + 1 == target)) {
      ++currentIndex_;
      if (slot == spareSlot_) spareSlot_ = TOleDbStreamRecordPool::NoSlot;
      currentSlot_ = slot;
    }
  }
  if (knownRowCount_ < 0 && NoMoreRows()) knownRowCount_ = currentIndex_ + 1;
  // A move that ran out of rows before its target stands after the last
  // row, so the next forward move reports the end again.
  currentIndex_ = static_cast<std::int32_t>(knownRowCount_ >= 0 ? std::min<std::int64_t>(target, knownRowCount_)
                                                                 : target);
  if (currentIndex_ == -1) return TOleDbCursorPosition::BeforeFirst;
  if (knownRowCount_ >= 0 && currentIndex_ >= knownRowCount_) return TOleDbCursorPosition::AfterLast;
  return TOleDbCursorPosition::OnRow;
}

bool TOleDbStreamingRowsetData::NoMoreRows() const {
  if (rowLimit_ >= 0 && currentIndex_ + 1 >= rowLimit_) return true;
  return readAhead_ ? readAhead_->AtEnd() : AtEndOfSource();
}

TOleDbCursorPosition TOleDbStreamingRowsetData::FetchCurrentRow(TOleDbRowHandle& handle) {
  if (currentIndex_ == -1) return TOleDbCursorPosition::BeforeFirst;
  if (knownRowCount_ >= 0 && currentIndex_ >= knownRowCount_) return TOleDbCursorPosition::AfterLast;
  handle.SetRowValue(currentSlot_);
  return TOleDbCursorPosition::OnRow;
}

void TOleDbStreamingRowsetData::RowHandleStateChanged(TOleDbRowHandle& handle, bool active) {
  TOleDbStreamRecord* record = pool_.Record(handle.RowValue());
  if (!record) return;
  if (active) {
    ++record->holders_;
  } else if (record->holders_ > 0 && --record->holders_ == 0 && handle.RowValue() != currentSlot_) {
    pool_.GiveBack(handle.RowValue());
  }
}

TOleDbStreamRecord& TOleDbStreamingRowsetData::HeldRecord(std::int32_t rowValue) {
  TOleDbStreamRecord* record = pool_.Record(rowValue);
  if (!record) throw EOleDbException(DB_E_BADROWHANDLE);
  return *record;
}

std::span<const TOleDbColumnValue> TOleDbStreamingRowsetData::GetRowValues(TOleDbDataMode, std::int32_t rowValue) {
  const TOleDbStreamRecord& record = HeldRecord(rowValue);
  if (valuesOf_ != &record) {
    valuesOf_ = nullptr;
    // Sized once; reading allocates nothing after the first row.
    values_.resize(Columns().Count());
    if (!RecordValues(record, values_)) return {};
    valuesOf_ = &record;
  }
  return values_;
}

bool TOleDbStreamingRowsetData::RecordValues(const TOleDbStreamRecord&, std::span<TOleDbColumnValue>) {
  return false;
}

DBCOUNTITEM TOleDbStreamingRowsetData::GetRowCount() {
  return static_cast<DBCOUNTITEM>(static_cast<DBROWCOUNT>(knownRowCount_));
}

void TOleDbStreamingRowsetData::SetRowIndex(DBCOUNTITEM index) {
  currentIndex_ = static_cast<std::int32_t>(std::min<DBCOUNTITEM>(index, INT32_MAX));
}

void TOleDbStreamingRowsetData::GetColumnPointer(std::int32_t, const TOleDbColumn&, void*&, DBLENGTH&) {
  NotImplemented(refusals_.Write);
}

void* TOleDbStreamingRowsetData::GetBookmark() { NotImplemented(refusals_.Bookmark); }
void TOleDbStreamingRowsetData::GotoBookmark(const void*) { NotImplemented(refusals_.Bookmark); }
void TOleDbStreamingRowsetData::FreeBookmark(void*) { NotImplemented(refusals_.Bookmark); }
void TOleDbStreamingRowsetData::HashBookmark(const BYTE*, DBHASHVALUE&, DBROWSTATUS&) {
  NotImplemented(refusals_.Bookmark);
}
DBCOUNTITEM TOleDbStreamingRowsetData::GetBookmarkRowIndex(const BYTE*) { NotImplemented(refusals_.Bookmark); }
