#include "OLEDbReadAhead.h"

#include "OLEDbStreamingRowsetData.h"

namespace {
// The lock of one hand-over; the platform's slim lock never fails nor allocates.
class TLockHeld {
public:
  explicit TLockHeld(SRWLOCK& lock) noexcept : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
  ~TLockHeld() { ReleaseSRWLockExclusive(&lock_); }
  TLockHeld(const TLockHeld&) = delete;
  TLockHeld& operator=(const TLockHeld&) = delete;

private:
  SRWLOCK& lock_;
};
}  // namespace

TOleDbReadAhead::TOleDbReadAhead(IOleDbRecordSource& source, TFactory factory, std::int64_t rowsLeft)
    : source_(source), rowsLeft_(rowsLeft) {
  for (TBlock& block : blocks_) {
    block.Entries.resize(BlockRows);
    for (TEntry& entry : block.Entries) entry.Record = factory();
  }
  worker_ = std::thread(&TOleDbReadAhead::Work, this);
}

TOleDbReadAhead::~TOleDbReadAhead() {
  {
    TLockHeld held(lock_);
    stop_ = true;
  }
  WakeConditionVariable(&emptied_);
  worker_.join();
}

void TOleDbReadAhead::Work() noexcept {
  for (std::size_t filling = 0;; filling = (filling + 1) % BlockCount) {
    TBlock& block = blocks_[filling];
    {
      TLockHeld held(lock_);
      while (block.Full && !stop_.load(std::memory_order_relaxed)) {
        workerWaits_ = true;
        SleepConditionVariableSRW(&emptied_, &lock_, INFINITE, 0);
        workerWaits_ = false;
      }
    }
    if (stop_) return;
    Fill(block);
    const bool last = block.Last;
    bool wake = false;
    {
      TLockHeld held(lock_);
      block.Full = true;
      ++fullBlocks_;
      wake = consumerWaits_ && (last || fullBlocks_ >= WakeBlocks);
    }
    if (wake) WakeConditionVariable(&filled_);
    if (last) return;
  }
}

void TOleDbReadAhead::Fill(TBlock& block) noexcept {
  block.Count = 0;
  block.Last = false;
  block.Failure = nullptr;
  try {
    while (block.Count < block.Entries.size() && !stop_.load(std::memory_order_relaxed)) {
      if (rowsLeft_ == 0 || source_.ReadAheadAtEnd()) {
        block.Last = true;
        return;
      }
      TEntry& entry = block.Entries[block.Count];
      if (!source_.ReadAheadRecord(*entry.Record)) continue;
      entry.EndAfter = source_.ReadAheadAtEnd();
      ++block.Count;
      if (rowsLeft_ > 0) --rowsLeft_;
    }
  } catch (...) {
    // Raised on the consumer's thread once it has taken the rows before.
    block.Failure = std::current_exception();
    block.Last = true;
  }
}

TOleDbReadAhead::TTake TOleDbReadAhead::Take(TRecord& record) noexcept {
  for (;;) {
    TBlock& block = blocks_[taking_];
    if (!holding_) {
      {
        TLockHeld held(lock_);
        while (!block.Full) {
          consumerWaits_ = true;
          SleepConditionVariableSRW(&filled_, &lock_, INFINITE, 0);
          consumerWaits_ = false;
        }
      }
      holding_ = true;
      next_ = 0;
    }
    if (next_ < block.Count) {
      TEntry& entry = block.Entries[next_++];
      record.swap(entry.Record);
      atEnd_ = entry.EndAfter;
      return TTake::Row;
    }
    if (block.Last) {
      if (block.Failure) {
        failure_ = block.Failure;
        return TTake::Failed;
      }
      atEnd_ = true;
      return TTake::End;
    }
    bool wake = false;
    {
      TLockHeld held(lock_);
      block.Full = false;
      --fullBlocks_;
      wake = workerWaits_ && BlockCount - fullBlocks_ >= WakeBlocks;
    }
    if (wake) WakeConditionVariable(&emptied_);
    holding_ = false;
    taking_ = (taking_ + 1) % BlockCount;
  }
}
