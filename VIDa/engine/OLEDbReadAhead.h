#pragma once
// Reading a forward-only source ahead of its consumer on a second thread. A
// worker reads the next records into a ring of blocks of spare records and
// hands them over a block at a time, so the two threads meet once per block
// rather than once per row, and memory stays flat however long the consumer
// pauses.
// The worker touches only the source and the records of its blocks: never
// COM, error objects or row handles. What it fails with is kept and raised
// on the consumer's thread at the row where it happened.
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <thread>
#include <vector>

class TOleDbStreamRecord;

// The unit in which processors pass memory to each other: what one thread
// writes at every row is kept off the lines the other thread reads.
inline constexpr std::size_t CacheLineBytes = 64;

// Where the worker reads from; called on the worker's thread only. The worker
// reads an implementation's table of functions at every row, while the
// consumer's thread writes the implementation's own fields at every row: the
// table's pointer starts a cache line, and an implementation starts its own
// fields on the next one.
class alignas(CacheLineBytes) IOleDbRecordSource {
public:
  // Reads the next record into record: true for a row, false for something
  // that is no row.
  virtual bool ReadAheadRecord(TOleDbStreamRecord& record) = 0;
  // True when nothing is left to read.
  virtual bool ReadAheadAtEnd() const = 0;

protected:
  ~IOleDbRecordSource() = default;
};

class TOleDbReadAhead {
public:
  using TRecord = std::unique_ptr<TOleDbStreamRecord>;
  using TFactory = TRecord (*)();
  static constexpr std::size_t BlockRows = 256;
  // The two threads run at nearly the same pace: with only two blocks one of
  // them often waits for the other's block and pays for being woken; four
  // absorb the unevenness. Eight were no faster.
  static constexpr std::size_t BlockCount = 4;
  // A thread that had to sleep is woken only once half the ring is ready
  // for it (or nothing more will come): each wake-up, which costs the waker
  // a call into the system and the sleeper the time to be scheduled, then
  // buys a run of several blocks rather than one.
  static constexpr std::size_t WakeBlocks = BlockCount / 2;

  // Makes the spare records with factory on this thread, then starts the
  // worker over source, which may give at most rowsLeft more rows (negative:
  // no limit). Throws, with no thread left behind, when either fails.
  TOleDbReadAhead(IOleDbRecordSource& source, TFactory factory, std::int64_t rowsLeft);
  // Stops the worker after the record it is reading and waits for it.
  ~TOleDbReadAhead();
  TOleDbReadAhead(const TOleDbReadAhead&) = delete;
  TOleDbReadAhead& operator=(const TOleDbReadAhead&) = delete;

  enum class TTake { Row, End, Failed };
  // The next row, exchanged for record (which the worker may reuse); End when
  // the source had no more rows; Failed when reading failed there, with
  // Failure() saying how. After End or Failed the worker has stopped and the
  // source stands where it stood then.
  TTake Take(TRecord& record) noexcept;
  // True when the source was at its end right after the row taken last.
  bool AtEnd() const noexcept { return atEnd_; }
  std::exception_ptr Failure() const noexcept { return failure_; }

private:
  struct TEntry {
    TRecord Record;
    bool EndAfter = false;
  };
  // Each block on lines of its own: the worker counts rows into one block
  // while the consumer reads another's count, and two counts on one line
  // would move it from processor to processor at every row.
  struct alignas(CacheLineBytes) TBlock {
    std::vector<TEntry> Entries;
    std::size_t Count = 0;
    // Nothing follows this block: the end, the row limit or a failure.
    bool Last = false;
    std::exception_ptr Failure;
    // Handed to the consumer and not yet given back; under lock_.
    bool Full = false;
  };

  void Work() noexcept;
  void Fill(TBlock& block) noexcept;

  IOleDbRecordSource& source_;
  std::int64_t rowsLeft_;
  TBlock blocks_[BlockCount];
  SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE filled_ = CONDITION_VARIABLE_INIT;
  CONDITION_VARIABLE emptied_ = CONDITION_VARIABLE_INIT;
  // Blocks handed to the consumer and not yet given back; under lock_.
  std::size_t fullBlocks_ = 0;
  // Who sleeps, so that a hand-over wakes only a thread that waits; under lock_.
  bool consumerWaits_ = false;
  bool workerWaits_ = false;
  std::atomic<bool> stop_{false};
  // The consumer's side, written at every row: on a line the worker does
  // not write.
  alignas(CacheLineBytes) std::size_t taking_ = 0;
  bool holding_ = false;
  std::size_t next_ = 0;
  bool atEnd_ = false;
  std::exception_ptr failure_;
  std::thread worker_;
};
