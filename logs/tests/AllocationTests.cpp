// Counts the heap allocations of steady-state reading: once the record and the
// reader's buffers have grown, lines cost none. Measures the heap a long line
// takes while it is read and after it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "LogFileReader_un.h"
#include "TestFiles.h"

namespace {
std::atomic<long> Allocations{0};
std::atomic<std::int64_t> LiveBytes{0};
std::atomic<std::int64_t> PeakLiveBytes{0};
// When not 0, the allocation that would make Allocations this number fails.
std::atomic<long> FailingAllocation{0};
// Each block carries its size in front of it.
constexpr std::size_t BlockHeader = alignof(std::max_align_t);
} // namespace

void* operator new(std::size_t size) {
  if (++Allocations == FailingAllocation)
    throw std::bad_alloc();
  auto* block = static_cast<char*>(std::malloc(size + BlockHeader));
  if (block == nullptr)
    throw std::bad_alloc();
  std::memcpy(block, &size, sizeof size);
  const std::int64_t live = LiveBytes += static_cast<std::int64_t>(size);
  for (std::int64_t peak = PeakLiveBytes.load(); live > peak && !PeakLiveBytes.compare_exchange_weak(peak, live);) {
  }
  return block + BlockHeader;
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept {
  if (p == nullptr)
    return;
  char* block = static_cast<char*>(p) - BlockHeader;
  std::size_t size = 0;
  std::memcpy(&size, block, sizeof size);
  LiveBytes -= static_cast<std::int64_t>(size);
  std::free(block);
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }

namespace {

TEST(LogFileReaderAllocations, NonePerLineInSteadyState) {
  std::string content = "#Software: Tarnvel ZEL Corvane Edition\r\n#Version: 2.0\r\n#Timezone: GMT+0100\r\n"
                        "#Server: MAIL1\r\n#Fields: x-event-datetime x-event-class x-event-action "
                        "x-filtering-point x-event-severity x-ip x-sender x-recipients x-msg-subject "
                        "x-helo-domain x-event-msg\r\n";
  for (int i = 0; i < 2000; ++i)
    content += "2010-04-01T10:" + std::to_string(10 + i % 50) + ":30 Blacklist Reject+TagSubject OnArrival Info "
               "10.0.0." + std::to_string(1 + i % 200) + " sender@example.org rcpt@example.org "
               "Hello+World%21+%F0%9F%98%80 helo.example.org Rejected by local rule number " +
               std::to_string(i) + "\r\n";
  TTempDir dir;
  const std::string path = dir.Write("alloc.log", content);
  // Views of 100 bytes make most lines span two views.
  for (const std::uint32_t viewSize : {0u, 100u}) {
    TFastTextReaderOptions options;
    options.ViewSize = viewSize;
    TLogFileReader reader(options);
    std::string error;
    ASSERT_TRUE(reader.Open(path, error));
    TLogRecord record;
    int records = 0;
    long before = 0;
    while (!reader.Eof()) {
      if (records == 100)
        before = Allocations.load();
      records += reader.ReadRecord(record, error) ? 1 : 0;
      ASSERT_TRUE(error.empty()) << error;
    }
    EXPECT_EQ(2000, records);
    // Buffers may still grow now and then (a longer line, the first line
    // across views), but never per line.
    EXPECT_LT(Allocations.load() - before, 10) << "view size " << viewSize;
    EXPECT_TRUE(reader.Close(error));
  }
}

// A long line is collected once, in storage of its size, and given back after
// it: its record holds the one other copy (its message).
TEST(LogFileReaderAllocations, LongLineTakesOneCopyAndGivesItBack) {
  const std::string header = "#Software: Tarnvel ZEL Valtrix\r\n#Version: 1.4\r\n"
                             "#Fields: x-event-datetime x-event-class x-event-severity x-event-msg\r\n";
  const std::string shortLine = "2009-05-05T05:05:05 RejectMail Info short\r\n";
  constexpr std::size_t LongSize = 6u << 20;
  std::string longLine = "2009-05-05T05:05:05 RejectMail Info ";
  longLine.append(LongSize - longLine.size(), 'x');
  TTempDir dir;
  const std::string path = dir.Write("long.log", header + shortLine + longLine + "\r\n" + shortLine);
  longLine = std::string();

  TLogFileReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(path, error));
  TLogRecord record;
  while (!reader.ReadRecord(record, error))
    ASSERT_TRUE(error.empty()) << error;
  const std::int64_t before = LiveBytes.load();
  PeakLiveBytes = before;
  ASSERT_TRUE(reader.ReadRecord(record, error)) << error;
  ASSERT_EQ(LongSize - 36, record.Message.size());
  EXPECT_LT(PeakLiveBytes.load() - before, static_cast<std::int64_t>(2.2 * LongSize));
  ASSERT_TRUE(reader.ReadRecord(record, error)) << error;
  EXPECT_EQ("short", record.Message);
  EXPECT_LT(LiveBytes.load() - before, std::int64_t{1} << 20);

  // The text reader alone holds one copy.
  TFastTextReader lines(path, fmShareDenyNone);
  lines.ReadLineView();
  lines.ReadLineView();
  lines.ReadLineView();
  lines.ReadLineView();
  const std::int64_t linesBefore = LiveBytes.load();
  PeakLiveBytes = linesBefore;
  EXPECT_EQ(LongSize, lines.ReadLineView().size());
  // Where views are smaller than the line (32-bit hosts), what was collected
  // of it before it was measured is held once more while it moves.
  const std::int64_t collectedFirst = lines.ViewSize() < LongSize ? 2 * std::int64_t{lines.ViewSize()} : 0;
  EXPECT_LT(PeakLiveBytes.load() - linesBefore, static_cast<std::int64_t>(1.1 * LongSize) + collectedFirst);
  EXPECT_EQ("2009-05-05T05:05:05 RejectMail Info short", lines.ReadLineView());
  EXPECT_LT(LiveBytes.load() - linesBefore, std::int64_t{1} << 20);
}

// Want of memory while a file is checked or opened is raised: answered as
// "not a log file" or "could not process", it would drop a table from a
// listing or blame the file for it.
TEST(LogFileReaderAllocations, WantOfMemoryWhileOpeningRaises) {
  TTempDir dir;
  const std::string logFile = dir.Write("a.log", "#Software: Tarnvel ZEL Corvane Edition\r\n#Version: 2.0\r\n");
  std::string errorText;
  const struct {
    const char* Name;
    bool (*Call)(const std::string& path, std::string& error);
  } cases[] = {
      {"check", [](const std::string& path, std::string&) { return TLogFileReader::CheckFingerprint(path); }},
      {"open", [](const std::string& path, std::string& error) { return TLogFileReader().Open(path, error); }},
      {"open once",
       [](const std::string& path, std::string& error) {
         return TLogFileReader().OpenChecked(path, error) == TLogFileReader::TCheckedOpen::Opened;
       }},
  };
  for (const auto& test : cases) {
    for (long failing = 1;; ++failing) {
      const long failingAt = Allocations.load() + failing;
      FailingAllocation = failingAt;
      bool answer = false, raised = false;
      try {
        answer = test.Call(logFile, errorText);
      } catch (const std::bad_alloc&) {
        raised = true;
      }
      FailingAllocation = 0;
      const bool fired = Allocations.load() >= failingAt;
      if (raised)
        continue;
      EXPECT_TRUE(answer) << test.Name << ", allocation " << failing << " failing";
      // Every allocation of the call has failed once.
      if (!fired)
        break;
    }
  }
}

} // namespace
