// Counts the heap allocations of steady-state reading: once the record and the
// reader's buffers have grown, lines cost none.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "LogFileReader_un.h"
#include "TestFiles.h"

namespace {
std::atomic<long> Allocations{0};
}

void* operator new(std::size_t size) {
  ++Allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size))
    return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

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

} // namespace
