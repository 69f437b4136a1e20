// Files that other processes or careless names put in the reader's way: a
// FIFO posing as a log, a log truncated while it is read, and times before
// the automation epoch.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "CivilDate_un.h"
#include "FastTextReader_un.h"
#include "LocalTime_un.h"
#include "LogDebugOutput_un.h"
#include "LogFileReader_un.h"
#include "TestFiles.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

constexpr const char* LegacyHeader = "#Software: Tarnvel ZEL Valtrix\r\n#Version: 1.4\r\n"
                                     "#Fields: x-event-datetime x-event-class x-event-severity x-event-msg\r\n";

double Date(const char* text) {
  double value = 0;
  EXPECT_TRUE(StrToLogDateTime(text, value)) << text;
  return value;
}

// Automation dates count the time of day away from day 0 on both sides of it.
TEST(HostileFiles, TimesBeforeTheAutomationEpoch) {
  EXPECT_DOUBLE_EQ(-1.25, Date("1899-12-29T06:00:00"));
  EXPECT_DOUBLE_EQ(-1.75, Date("1899-12-29T18:00:00"));
  EXPECT_DOUBLE_EQ(-1.0, Date("1899-12-29T00:00:00"));
  EXPECT_DOUBLE_EQ(0.25, Date("1899-12-30T06:00:00"));
  EXPECT_DOUBLE_EQ(1.5, Date("1899-12-31T12:00:00"));
  EXPECT_DOUBLE_EQ(-693593.5, Date("0001-01-01T12:00:00"));

  // Moving across day 0 in either direction, in whole seconds.
  for (const std::int64_t seconds : {-86400LL * 2 + 1, -86401LL, -86400LL, -43200LL, -1LL, 0LL, 1LL, 86399LL, 86400LL})
    EXPECT_EQ(seconds, SecondsFromAutomationDate(AutomationDateFromSeconds(seconds))) << seconds;

  TLocalTimeConverter plusOneHour([](std::int64_t, std::int32_t& offset) {
    offset = 3600;
    return true;
  });
  EXPECT_DOUBLE_EQ(-(1 + 7 / 24.0), plusOneHour.UtcToLocal(-1.25));
  EXPECT_DOUBLE_EQ(0.5 / 24.0, plusOneHour.UtcToLocal(-(1 + 23.5 / 24.0))); // 12-29 23:30 UTC is 12-30 00:30
  TLocalTimeConverter minusEightHours([](std::int64_t, std::int32_t& offset) {
    offset = -8 * 3600;
    return true;
  });
  EXPECT_DOUBLE_EQ(-(1 + 22 / 24.0), minusEightHours.UtcToLocal(0.25)); // 12-30 06:00 UTC is 12-29 22:00
}

TEST(HostileFiles, LegacyTimesBeforeTheEpochAsWritten) {
  TTempDir dir;
  const std::string path = dir.Write("old.log", std::string(LegacyHeader) +
                                                    "1899-12-29T06:00:00 RejectMail Info before\r\n"
                                                    "1899-12-30T06:00:00 RejectMail Info after\r\n");
  TLogFileReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(path, error)) << error;
  std::vector<double> times;
  TLogRecord record;
  while (!reader.Eof())
    if (reader.ReadRecord(record, error))
      times.push_back(record.Time);
  EXPECT_EQ((std::vector<double>{-1.25, 0.25}), times);
}

#ifndef _WIN32

std::string LegacyLine(int number) {
  return "2010-04-01T10:15:30 RejectMail Info message number " + std::to_string(number) + "\r\n";
}

// Opening a FIFO for reading waits for a writer: the check and the reader
// must refuse it instead, with a reason a user understands.
TEST(HostileFiles, FifoIsRefusedWithoutWaiting) {
  TTempDir dir;
  const std::string path = dir.PathOf("x.log");
  ASSERT_EQ(0, mkfifo(path.c_str(), 0600));
  std::string debugText;
  SetLogDebugSink([&debugText](std::string_view text) { debugText.append(text); });
  EXPECT_FALSE(TLogFileReader::CheckFingerprint(path));
  SetLogDebugSink(nullptr);
  EXPECT_NE(std::string::npos, debugText.find("Not a regular file")) << debugText;

  TLogFileReader reader;
  std::string error;
  EXPECT_FALSE(reader.Open(path, error));
  EXPECT_EQ("Could not process log file " + path +
                ". EFastTextReaderError/Could not open file. Error 536870913 (Not a regular file).",
            error);
  EXPECT_TRUE(reader.Eof());
  error.clear();
  EXPECT_EQ(TLogFileReader::TCheckedOpen::NotDiskFile, reader.OpenChecked(path, error));
  EXPECT_TRUE(error.empty()) << error;
  EXPECT_TRUE(reader.Eof());
}

struct TTruncatedRead {
  std::vector<std::string> Messages;
  std::vector<std::string> Errors;
};

// Reads records of a file of lines numbered 0..lineCount-1 and truncates it to
// keepBytes once afterRecords records were read.
TTruncatedRead ReadWhileTruncating(std::uint32_t viewSize, int lineCount, int afterRecords, std::uintmax_t keepBytes,
                                   std::string& path, TTempDir& dir) {
  std::string content = LegacyHeader;
  for (int i = 0; i < lineCount; ++i)
    content += LegacyLine(i);
  path = dir.Write("rotated.log", content);
  TFastTextReaderOptions options;
  options.ViewSize = viewSize;
  TLogFileReader reader(options);
  std::string error;
  EXPECT_TRUE(reader.Open(path, error)) << error;
  TTruncatedRead result;
  TLogRecord record;
  while (!reader.Eof()) {
    if (reader.ReadRecord(record, error))
      result.Messages.push_back(record.Message);
    else if (!error.empty())
      result.Errors.push_back(error);
    if (static_cast<int>(result.Messages.size()) == afterRecords)
      std::filesystem::resize_file(path, keepBytes);
  }
  EXPECT_TRUE(reader.Close(error)) << error;
  return result;
}

// Copy-and-truncate rotation shrinks a log under its reader: the complete
// lines still there are read, a line cut in two is not, and one error says
// what happened; nothing faults.
TEST(HostileFiles, TruncatedWhileReading) {
  const std::size_t headerSize = std::string(LegacyHeader).size();
  const std::size_t lineSize = LegacyLine(0).size(); // lines 0-9 have the same size
  TTempDir dir;
  std::string path;
  for (const std::uint32_t viewSize : {7u, 64u, 100u}) {
    // Cut in the middle of line 6, after 2 records were read.
    const auto cut = ReadWhileTruncating(viewSize, 10, 2, headerSize + 6 * lineSize + 5, path, dir);
    // Lines wholly in views read before the cut come too; none past line 5.
    ASSERT_GE(cut.Messages.size(), 6u) << "view size " << viewSize;
    ASSERT_LE(cut.Messages.size(), 10u);
    for (std::size_t i = 0; i < cut.Messages.size(); ++i)
      EXPECT_EQ("message number " + std::to_string(i), cut.Messages[i]);
    if (viewSize == 7) { // views this small cannot have read ahead past the cut
      EXPECT_EQ(6u, cut.Messages.size());
      ASSERT_EQ(1u, cut.Errors.size());
      const std::string expected = "Could not process log file " + path +
                                   ". EFastTextReaderError/The file shrank from " +
                                   std::to_string(headerSize + 10 * lineSize) + " to " +
                                   std::to_string(headerSize + 6 * lineSize + 5) + " bytes while it was read.";
      EXPECT_EQ(expected, cut.Errors[0]);
    } else {
      EXPECT_LE(cut.Errors.size(), 1u);
    }

    // Emptied at a line end: no line is cut, the error still comes.
    const auto emptied = ReadWhileTruncating(viewSize, 10, 1, 0, path, dir);
    EXPECT_LE(emptied.Messages.size(), 10u);
    if (viewSize == 7) {
      EXPECT_EQ(1u, emptied.Messages.size());
      EXPECT_EQ(1u, emptied.Errors.size());
    }
  }
}

TEST(HostileFiles, TruncatedTextReaderEndsOnce) {
  TTempDir dir;
  const std::string path = dir.Write("t.txt", "first\r\nsecond\r\nthird\r\n");
  TFastTextReaderOptions options;
  options.ViewSize = 4;
  TFastTextReader reader(path, fmShareDenyNone, options);
  EXPECT_EQ("first", reader.ReadLine());
  std::filesystem::resize_file(path, 10); // "second" loses its end
  EXPECT_FALSE(reader.Eof());
  EXPECT_THROW(reader.ReadLine(), EFastTextReaderError);
  EXPECT_TRUE(reader.Eof());
  EXPECT_THROW(reader.ReadLine(), EFastTextReaderError);
}

#endif

} // namespace
