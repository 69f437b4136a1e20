#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <filesystem>
#include <string>
#include <vector>

#include "CivilDate_un.h"
#include "LogDebugOutput_un.h"
#include "LogFileReader_un.h"
#include "MappedFile_un.h"
#include "TestFiles.h"

namespace {

constexpr const char* CurrentHeader =
    "#Software: Tarnvel ZEL Corvane Edition\r\n"
    "#Version: 2.0\r\n"
    "#LogMode: verbose\r\n"
    "#Timezone: GMT+0100\r\n"
    "#Server: MAIL1\r\n"
    "#Fields: x-event-datetime x-event-class x-event-action x-filtering-point x-event-severity x-ip x-sender "
    "x-recipients x-msg-subject x-event-msg\r\n";

struct TReadResult {
  std::vector<TLogRecord> Records;
  std::vector<std::string> Errors; // one per failed line, in order
};

TReadResult ReadLog(const std::string& path, std::uint32_t viewSize = 0) {
  TFastTextReaderOptions options;
  options.ViewSize = viewSize;
  TLogFileReader reader(options);
  TReadResult result;
  std::string error;
  EXPECT_TRUE(reader.Open(path, error)) << error;
  TLogRecord record;
  while (!reader.Eof()) {
    if (reader.ReadRecord(record, error))
      result.Records.push_back(record);
    else if (!error.empty())
      result.Errors.push_back(error);
  }
  EXPECT_TRUE(reader.Close(error)) << error;
  return result;
}

double AtUtc(const char* text, int hoursToAdd = 0) {
  double value = 0;
  EXPECT_TRUE(StrToLogDateTime(text, value)) << text;
  return value + hoursToAdd / 24.0;
}

bool ZoneIsBerlin() {
  const char* zone = std::getenv("TZ");
  return zone != nullptr && std::string(zone) == "Europe/Berlin";
}

class LogFileReaderTest : public ::testing::Test {
protected:
  std::string WriteLog(const std::string& body, const char* header = CurrentHeader) {
    return Dir.Write("test.log", std::string(header) + body);
  }
  TTempDir Dir;
};

TEST_F(LogFileReaderTest, CurrentFormatLine) {
  const std::string path =
      WriteLog("2010-04-01T10:15:30 Blacklist Reject+TagSubject OnArrival Info 10.0.0.1 - - Hello+World%21 Rejected "
               "by local rule\r\n");
  for (const std::uint32_t viewSize : {0u, 5u, 64u}) {
    const TReadResult result = ReadLog(path, viewSize);
    ASSERT_EQ(1u, result.Records.size());
    EXPECT_TRUE(result.Errors.empty());
    const TLogRecord& r = result.Records[0];
    EXPECT_EQ(TLogEventClass::Blacklist, r.Class);
    EXPECT_EQ(0x03, r.Actions.Bits);
    EXPECT_EQ(TFilteringPoint::OnArrival, r.FilteringPoint);
    EXPECT_EQ(TLogSeverity::Info, r.Severity);
    EXPECT_EQ("10.0.0.1", r.IP);
    EXPECT_EQ(0x0A000001u, r.IPValue);
    EXPECT_EQ("", r.Sender);
    EXPECT_EQ("", r.Recipients);
    EXPECT_EQ(u"Hello World!", r.Subject);
    EXPECT_EQ("Rejected by local rule", r.Message);
    EXPECT_EQ("MAIL1", r.Server);
    EXPECT_EQ("2.0", r.Version);
    EXPECT_TRUE(r.LogMode);
    EXPECT_EQ(0, r.LineNr);
    if (ZoneIsBerlin()) { // 09:15:30 UTC is 11:15:30 summer time
      EXPECT_DOUBLE_EQ(AtUtc("2010-04-01T11:15:30"), r.Time);
    }
  }
}

TEST_F(LogFileReaderTest, TimesFollowTheZoneRulesOfTheEvent) {
  if (!ZoneIsBerlin())
    GTEST_SKIP() << "needs TZ=Europe/Berlin";
  const std::string path = WriteLog("2011-01-15T12:00:00 Pass - - Info - - - - winter\r\n"
                                    "2011-07-15T12:00:00 Pass - - Info - - - - summer\r\n"
                                    "#Timezone: UTC\r\n"
                                    "2011-01-15T12:00:00 Pass - - Info - - - - winter utc\r\n"
                                    "2011-07-15T12:00:00 Pass - - Info - - - - summer utc\r\n"
                                    // Last hour of summer time: 00:59:59 UTC, then 01:00:00 UTC.
                                    "2011-10-30T00:59:59 Pass - - Info - - - - before change\r\n"
                                    "2011-10-30T01:00:00 Pass - - Info - - - - after change\r\n"
                                    "2011-03-27T00:59:59 Pass - - Info - - - - before spring\r\n"
                                    "2011-03-27T01:00:00 Pass - - Info - - - - after spring\r\n");
  const TReadResult result = ReadLog(path);
  ASSERT_EQ(8u, result.Records.size());
  EXPECT_DOUBLE_EQ(AtUtc("2011-01-15T12:00:00"), result.Records[0].Time); // GMT+0100 = local winter time
  EXPECT_DOUBLE_EQ(AtUtc("2011-07-15T13:00:00"), result.Records[1].Time);
  EXPECT_DOUBLE_EQ(AtUtc("2011-01-15T13:00:00"), result.Records[2].Time);
  EXPECT_DOUBLE_EQ(AtUtc("2011-07-15T14:00:00"), result.Records[3].Time);
  EXPECT_DOUBLE_EQ(AtUtc("2011-10-30T02:59:59"), result.Records[4].Time);
  EXPECT_DOUBLE_EQ(AtUtc("2011-10-30T02:00:00"), result.Records[5].Time);
  EXPECT_DOUBLE_EQ(AtUtc("2011-03-27T01:59:59"), result.Records[6].Time);
  EXPECT_DOUBLE_EQ(AtUtc("2011-03-27T03:00:00"), result.Records[7].Time);
}

TEST_F(LogFileReaderTest, LegacyVersionsKeepTimesAndFilteringPoint) {
  const std::string path = WriteLog("#Version: 1.4\r\n"
                                    "2011-07-15T12:00:00 Pass - OnArrival Info - - - - legacy\r\n"
                                    "#Version: 1.5\r\n"
                                    "2011-07-15T12:00:00 Pass - OnArrival Info - - - - current\r\n");
  const TReadResult result = ReadLog(path);
  ASSERT_EQ(2u, result.Records.size());
  EXPECT_EQ(AtUtc("2011-07-15T12:00:00"), result.Records[0].Time);
  EXPECT_EQ(TFilteringPoint::BeforeArrival, result.Records[0].FilteringPoint);
  EXPECT_EQ("1.4", result.Records[0].Version);
  EXPECT_EQ(TFilteringPoint::OnArrival, result.Records[1].FilteringPoint);
  if (ZoneIsBerlin()) {
    EXPECT_DOUBLE_EQ(AtUtc("2011-07-15T13:00:00"), result.Records[1].Time);
  }
}

TEST_F(LogFileReaderTest, LegacyClassWordWithoutActionField) {
  const std::string path = WriteLog("#Version: 1.0\r\n"
                                    "#Fields: x-event-datetime x-event-class x-event-severity c-ip x-server-name "
                                    "x-event-source x-event-msg\r\n"
                                    "2009-05-05T05:05:05 TagMailSubject Warning 192.168.1.20 MX7 SpamRule tagged it\r\n"
                                    "2009-05-05T05:05:05 Blacklist Warning - - - not a legacy word\r\n");
  const TReadResult result = ReadLog(path);
  ASSERT_EQ(1u, result.Records.size());
  const TLogRecord& r = result.Records[0];
  EXPECT_EQ(TLogEventClass::Blacklist, r.Class);
  EXPECT_EQ(LogActionMask(TLogAction::TagSubject), r.Actions.Bits);
  EXPECT_EQ(TLogSeverity::Warning, r.Severity);
  EXPECT_EQ(0xC0A80114u, r.IPValue);
  EXPECT_EQ("MX7", r.Server);
  EXPECT_EQ("SpamRule", r.Source);
  EXPECT_EQ("tagged it", r.Message);
}

TEST_F(LogFileReaderTest, FieldsByColumn) {
  const std::string path = WriteLog(
      // Fewer fields than named: the rest is empty and the last present field runs on.
      "2010-01-01T00:00:00 Pass - - Info 10.1.1.1\r\n"
      "#Fields: x-event-msg x-event-datetime x-event-class x-event-action x-filtering-point x-event-severity\r\n"
      "2010-01-01T00:00:00 2010-01-01T00:00:00 Pass - - Info\r\n"
      "#Fields: x-event-datetime x-event-class x-event-action x-event-severity X-SENDER 6 7 8 9 10 11 12 13 "
      "x-recipients\r\n"
      "2010-01-01T00:00:00 pass - info a@b 6 7 8 9 10 11 12 13 c@d, e@f  g@h\r\n"
      "2010-01-01T00:00:00  Pass - Info\r\n");
  const TReadResult result = ReadLog(path);
  ASSERT_EQ(3u, result.Records.size());
  EXPECT_EQ("10.1.1.1", result.Records[0].IP);
  EXPECT_EQ("", result.Records[0].Message);
  EXPECT_EQ("2010-01-01T00:00:00 2010-01-01T00:00:00 Pass - - Info", result.Records[1].Message);
  EXPECT_EQ("a@b", result.Records[2].Sender);
  EXPECT_EQ("c@d, e@f  g@h", result.Records[2].Recipients); // column 14 runs to the end
  // Two blanks make an empty class column, and the line gives no record.
  EXPECT_TRUE(result.Errors.empty());
}

// Blanks are found a word and a 64-byte chunk at a time: fields must come out
// whole wherever their blanks fall, in lines of any length around those sizes.
TEST_F(LogFileReaderTest, FieldsWhereverTheirBlanksFall) {
  const char* header = "#Software: Tarnvel ZEL Corvane Edition\r\n#Version: 2.0\r\n"
                       "#Fields: x-event-datetime x-event-class x-event-action x-event-severity x-sender "
                       "x-recipients x-msg-id\r\n";
  std::string body;
  for (std::size_t length = 1; length <= 140; ++length) {
    const std::string sender(length, 's');
    body += "2010-01-01T00:00:00 Pass - Info " + sender + " r" + std::to_string(length) + " id\r\n";
    body += "2010-01-01T00:00:00 Pass - Info " + sender + "\r\n"; // ends in the sender
  }
  const TReadResult result = ReadLog(WriteLog(body, header));
  ASSERT_EQ(280u, result.Records.size());
  for (std::size_t length = 1; length <= 140; ++length) {
    const TLogRecord& full = result.Records[2 * (length - 1)];
    const TLogRecord& cut = result.Records[2 * (length - 1) + 1];
    EXPECT_EQ(std::string(length, 's'), full.Sender) << length;
    EXPECT_EQ("r" + std::to_string(length), full.Recipients) << length;
    EXPECT_EQ("id", full.MessageID) << length;
    EXPECT_EQ(std::string(length, 's'), cut.Sender) << length;
    EXPECT_EQ("", cut.Recipients) << length;
  }
}

// A record is reused line after line, and its texts are copied into the
// storage the previous line left: each must come out whole whether it grows,
// shrinks or keeps its length, at every length around the copy's block sizes.
TEST_F(LogFileReaderTest, ReusedRecordTextsOfEveryLengthInAnyOrder) {
  const char* header = "#Software: Tarnvel ZEL Corvane Edition\r\n#Version: 2.0\r\n"
                       "#Fields: x-event-datetime x-event-class x-event-action x-event-severity x-sender "
                       "x-event-msg\r\n";
  constexpr std::size_t Lengths = 71; // prime, so that the order below visits each once
  const auto text = [](std::size_t length, char first) {
    std::string result;
    for (std::size_t i = 0; i < length; ++i)
      result += static_cast<char>(first + (i * 7 + length) % 26);
    return result.empty() ? std::string("-") : result;
  };
  std::string body;
  for (std::size_t step = 0; step < Lengths; ++step) {
    const std::size_t length = step * 37 % Lengths; // up and down by uneven steps
    body.append("2010-01-01T00:00:00 Pass - Info ").append(text(length, 'a')).append(" ");
    body.append(text(Lengths - 1 - length, 'A')).append("\r\n");
  }
  const TReadResult result = ReadLog(WriteLog(body, header));
  ASSERT_EQ(Lengths, result.Records.size());
  for (std::size_t step = 0; step < Lengths; ++step) {
    const std::size_t length = step * 37 % Lengths;
    EXPECT_EQ(length == 0 ? "" : text(length, 'a'), result.Records[step].Sender) << length;
    EXPECT_EQ(length == Lengths - 1 ? "" : text(Lengths - 1 - length, 'A'), result.Records[step].Message) << length;
  }
}

TEST_F(LogFileReaderTest, SkippedLinesDoNotUseLineNumbers) {
  const std::string path = WriteLog("2010-01-01T00:00:00 Pass - - Info - - - - zero\r\n"
                                    "2010-02-30T00:00:00 Pass - - Info - - - - bad date\r\n"
                                    "2010-01-01T00:00:00 Passed - - Info - - - - bad class\r\n"
                                    "2010-01-01T00:00:00 Pass Reject++ - Info - - - - bad action\r\n"
                                    "2010-01-01T00:00:00 Pass - Somewhere Info - - - - bad point\r\n"
                                    "2010-01-01T00:00:00 Pass - - Information - - - - bad severity\r\n"
                                    "#Comment without separator\r\n"
                                    "2010-01-01T00:00:00 Pass - - Info - - - - one\r\n");
  const TReadResult result = ReadLog(path);
  ASSERT_EQ(2u, result.Records.size());
  EXPECT_TRUE(result.Errors.empty());
  EXPECT_EQ(0, result.Records[0].LineNr);
  EXPECT_EQ(1, result.Records[1].LineNr);
  EXPECT_EQ("one", result.Records[1].Message);
}

TEST_F(LogFileReaderTest, PercentDecoding) {
  const std::string path = Dir.Write(
      "subjects.log",
      std::string("#Software: Tarnvel ZEL Valtrix\r\n#Version: 2.0\r\n"
                  "#Fields: x-event-datetime x-event-class x-event-action x-event-severity x-msg-subject "
                  "x-helo-domain\r\n") +
          "2010-01-01T00:00:00 Pass - Info Re%3A+Hello mail%2Eexample+org\r\n"
          "2010-01-01T00:00:00 Pass - Info 100%25 %E9t%E9\r\n"
          "2010-01-01T00:00:00 Pass - Info 50%ZZ%4 50%\r\n"
          "2010-01-01T00:00:00 Pass - Info Gr%C3%BC%C3%9Fe%E2%82%AC -\r\n"
          "2010-01-01T00:00:00 Pass - Info smile%F0%9F%98%80! -\r\n"
          "2010-01-01T00:00:00 Pass - Info overlong%C0%AF -\r\n"
          "2010-01-01T00:00:00 Pass - Info surrogate%ED%A0%80 -\r\n"
          "2010-01-01T00:00:00 Pass - Info beyond%F4%90%80%80 -\r\n"
          "2010-01-01T00:00:00 Pass - Info cut%E2%82 -\r\n"
          "2010-01-01T00:00:00 Pass - Info latin1%E9 -\r\n");
  const TReadResult result = ReadLog(path);
  ASSERT_EQ(10u, result.Records.size());
  EXPECT_EQ(u"Re: Hello", result.Records[0].Subject);
  EXPECT_EQ("mail.example org", result.Records[0].HeloDomain);
  EXPECT_EQ(u"100%", result.Records[1].Subject);
  EXPECT_EQ("\xE9t\xE9", result.Records[1].HeloDomain);
  EXPECT_EQ(u"50%ZZ%4", result.Records[2].Subject);
  EXPECT_EQ("50%", result.Records[2].HeloDomain);
  EXPECT_EQ(u"Gr\u00FC\u00DFe\u20AC", result.Records[3].Subject);
  EXPECT_EQ(u"smile\U0001F600!", result.Records[4].Subject);
  for (std::size_t i = 5; i < 10; ++i)
    EXPECT_EQ(u"", result.Records[i].Subject) << "record " << i;
}

// Plain runs of a subject are decoded a block at a time: an escape, a plus
// or a raw non-ASCII byte must be found at every place in and around a block.
TEST_F(LogFileReaderTest, PercentDecodingAtEveryPlaceOfALongSubject) {
  struct TCase {
    const char* Encoded;
    std::u16string Decoded; // empty: the whole subject is ill-formed
  };
  const TCase cases[] = {{"%C3%A9", u"\u00E9"}, {"+", u" "}, {"%41", u"A"}, {"%ZZ", u"%ZZ"}, {"%E9", u""}, {"\xE9", u""}};
  std::string lines;
  std::vector<std::u16string> expected;
  for (const TCase& c : cases) {
    for (std::size_t place = 0; place <= 40; ++place) {
      const std::string before(place, 'a');
      const std::string after(40 - place, 'z');
      lines += "2010-01-01T00:00:00 Pass - Info " + before + c.Encoded + after + "\r\n";
      expected.push_back(c.Decoded.empty() ? u""
                                           : std::u16string(before.begin(), before.end()) + c.Decoded +
                                                 std::u16string(after.begin(), after.end()));
    }
  }
  const TReadResult result = ReadLog(Dir.Write(
      "long.log", "#Software: Tarnvel ZEL Valtrix\r\n#Version: 2.0\r\n"
                  "#Fields: x-event-datetime x-event-class x-event-action x-event-severity x-msg-subject\r\n" +
                      lines));
  ASSERT_EQ(expected.size(), result.Records.size());
  for (std::size_t i = 0; i < expected.size(); ++i)
    ASSERT_EQ(expected[i], result.Records[i].Subject) << "line " << i;
}

// Encoded fields are decoded in blocks that may reach into the next field: a
// field must end where its blank is, whatever follows it.
TEST_F(LogFileReaderTest, EncodedFieldsEndAtTheirBlank) {
  const std::string message = "%41+%C3%A9\xE9zz%2B+++++++++++++++++++++";
  std::string lines;
  for (std::size_t length = 0; length <= 40; ++length)
    lines += "2010-01-01T00:00:00 Pass - Info " + (length ? std::string(length, 's') : "-") + " " +
             (length ? std::string(length, 'h') : "-") + " " + message + "\r\n";
  const TReadResult result = ReadLog(Dir.Write(
      "fields.log", "#Software: Tarnvel ZEL Valtrix\r\n#Version: 2.0\r\n"
                    "#Fields: x-event-datetime x-event-class x-event-action x-event-severity x-msg-subject "
                    "x-helo-domain x-event-msg\r\n" +
                        lines));
  ASSERT_EQ(41u, result.Records.size());
  for (std::size_t length = 0; length <= 40; ++length) {
    EXPECT_EQ(std::u16string(length, u's'), result.Records[length].Subject) << length;
    EXPECT_EQ(std::string(length, 'h'), result.Records[length].HeloDomain) << length;
    EXPECT_EQ(message, result.Records[length].Message) << length;
  }
}

TEST_F(LogFileReaderTest, SoftwareStartsANewHeaderBlock) {
  const std::string path = WriteLog("#Software: Tarnvel ZEL Valtrix\r\n"
                                    "2011-01-15T12:00:00 Pass - OnArrival Info - - - - after reset\r\n"
                                    "#Version: 3.1\r\n"
                                    "#LogMode: short\r\n"
                                    "2011-01-15T12:00:00 Pass - OnArrival Info - - - - current again\r\n");
  const TReadResult result = ReadLog(path);
  ASSERT_EQ(2u, result.Records.size());
  const TLogRecord& reset = result.Records[0];
  EXPECT_EQ("", reset.Version);
  EXPECT_EQ("", reset.Server);
  EXPECT_TRUE(reset.LogMode);                                    // not reset
  EXPECT_EQ(TFilteringPoint::BeforeArrival, reset.FilteringPoint); // legacy again
  EXPECT_EQ(AtUtc("2011-01-15T12:00:00"), reset.Time);
  EXPECT_EQ("after reset", reset.Message); // field list kept
  EXPECT_FALSE(result.Records[1].LogMode);
  if (ZoneIsBerlin()) { // the time zone is UTC again
    EXPECT_DOUBLE_EQ(AtUtc("2011-01-15T13:00:00"), result.Records[1].Time);
  }
}

TEST_F(LogFileReaderTest, ProcessingErrorsNameClassAndMessage) {
  const std::string path = WriteLog("2010-01-01T00:00:00 Pass - - Info fe80::1 - - - ipv6\r\n"
                                    "\r\n"
                                    "2010-01-01T00:00:00 Pass - - Info ::ffff:10.0.0.1 - - - mapped\r\n"
                                    "2010-01-01T00:00:00 Pass - - Info 10.0.0.256 - - - range\r\n"
                                    "#Timezone: GMT+2400\r\n"
                                    "#Timezone: GMT+01:00\r\n"
                                    "2010-01-01T00:00:00 Pass - - Info - - - - after\r\n");
  const TReadResult result = ReadLog(path);
  ASSERT_EQ(2u, result.Records.size());
  EXPECT_EQ("fe80::1", result.Records[0].IP);
  EXPECT_EQ(0u, result.Records[0].IPValue);
  EXPECT_EQ(1, result.Records[1].LineNr);
  if (ZoneIsBerlin()) { // GMT+01:00 is not understood and means UTC
    EXPECT_DOUBLE_EQ(AtUtc("2010-01-01T01:00:00"), result.Records[1].Time);
  }
  const std::string prefix = "Could not process log file " + path + ". ";
  const std::vector<std::string> expected = {
      prefix + "ERangeError/Range check error",
      prefix + "EConvertError/'::ffff:10' is not a valid integer value",
      prefix + "ERangeError/Range check error",
      prefix + "EConvertError/Invalid argument to time encode",
  };
  EXPECT_EQ(expected, result.Errors);
}

TEST_F(LogFileReaderTest, UnaddressableColumnsFailTheLine) {
  const std::string path =
      Dir.Write("columns.log", "#Software: Tarnvel ZEL Corvane Edition\r\n"
                               "2010-01-01T00:00:00 Pass - - Info\r\n"
                               "#Fields: x-event-datetime x-event-class x-event-action x-event-severity 5 6 7 8 9 "
                               "10 11 12 13 14 x-sender\r\n"
                               "2010-01-01T00:00:00 Pass - Info\r\n"
                               "2010-01-01T00:00:00 Bogus - Info\r\n");
  const TReadResult result = ReadLog(path);
  EXPECT_TRUE(result.Records.empty());
  const std::string error = "Could not process log file " + path + ". ERangeError/Range check error";
  EXPECT_EQ((std::vector<std::string>{error, error}), result.Errors); // the skipped line is no error
}

TEST_F(LogFileReaderTest, NoSeverityFieldMeansNoRecords) {
  const std::string path = WriteLog("#Fields: x-event-datetime x-event-class x-event-action\r\n"
                                    "2010-01-01T00:00:00 Pass -\r\n");
  const TReadResult result = ReadLog(path);
  EXPECT_TRUE(result.Records.empty());
  EXPECT_TRUE(result.Errors.empty());
}

TEST_F(LogFileReaderTest, ClosedReaderReadsNothing) {
  const std::string path = WriteLog("2010-01-01T00:00:00 Pass - - Info - - - - m");
  TLogFileReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(std::u16string(path.begin(), path.end()), error));
  TLogRecord record;
  int records = 0;
  while (!reader.Eof()) records += reader.ReadRecord(record, error) ? 1 : 0;
  EXPECT_EQ(1, records);
  EXPECT_EQ(1, reader.RecordCount());
  EXPECT_TRUE(reader.Close(error));
  EXPECT_TRUE(reader.Eof());
  EXPECT_FALSE(reader.ReadRecord(record, error));
  EXPECT_TRUE(error.empty());
}

TEST_F(LogFileReaderTest, OpenFailureIsAText) {
  TLogFileReader reader;
  std::string error;
  const std::string path = Dir.PathOf("missing.log");
  EXPECT_FALSE(reader.Open(path, error));
  EXPECT_EQ("Could not process log file " + path + ". EFastTextReaderError/Could not open file. Error 2 (" +
                SystemErrorText(2) + ").",
            error);
  EXPECT_TRUE(reader.Eof());
  error.clear();
  EXPECT_TRUE(reader.Close(error));
  EXPECT_TRUE(error.empty());
}

TEST_F(LogFileReaderTest, FailedViewIsOneErrorThenTheEnd) {
  const std::string line = "2010-01-01T00:00:00 Pass - - Info - - - - " + std::string(100, 'm') + "\r\n";
  const std::string path = WriteLog(line + line);
  TFastTextReaderOptions options;
  options.ViewSize = 64;
  // The first view boundary inside the first data line.
  options.FailViewMappingAt = (std::string(CurrentHeader).size() / 64 + 1) * 64;
  TLogFileReader reader(options);
  std::string error;
  ASSERT_TRUE(reader.Open(path, error));
  TLogRecord record;
  std::vector<std::string> errors;
  while (!reader.Eof())
    if (!reader.ReadRecord(record, error) && !error.empty())
      errors.push_back(error);
  ASSERT_EQ(1u, errors.size());
  EXPECT_NE(std::string::npos, errors[0].find(". EFastTextReaderError/Could not map next view of file. Error "));
  EXPECT_EQ(0, reader.RecordCount());
}

TEST(LogFileFingerprint, AcceptsTheThreeFirstLines) {
  TTempDir dir;
  EXPECT_TRUE(TLogFileReader::CheckFingerprint(dir.Write("a.log", "#Software: Tarnvel Zelwick Corvane Edition\r\n")));
  EXPECT_TRUE(TLogFileReader::CheckFingerprint(dir.Write("b.log", "#software: tarnvel zel valtrix 4.2")));
  EXPECT_TRUE(TLogFileReader::CheckFingerprint(dir.Write("c.log", "#SOFTWARE: TARNVEL ZEL CORVANE EDITION")));
  EXPECT_FALSE(TLogFileReader::CheckFingerprint(dir.Write("d.log", "\xEF\xBB\xBF#Software: Tarnvel ZEL Valtrix")));
  EXPECT_FALSE(TLogFileReader::CheckFingerprint(dir.Write("e.log", " #Software: Tarnvel ZEL Valtrix")));
  EXPECT_FALSE(TLogFileReader::CheckFingerprint(dir.Write("f.log", "#Software: Tarnvel ZEL Valtri")));
  EXPECT_FALSE(TLogFileReader::CheckFingerprint(dir.Write("g.log", "")));
}

// One open serves the check and the reading: each outcome must leave the
// reader as Open would, and only a file that passed may be read.
TEST(LogFileFingerprint, CheckedOpenOutcomes) {
  using TOpened = TLogFileReader::TCheckedOpen;
  TTempDir dir;
  const std::string line = "2010-04-01T10:15:30 RejectMail Info message\r\n";
  const std::string log = dir.Write("a.log", std::string(CurrentHeader) + "2010-04-01T10:15:30 Pass - - Info - - - - "
                                                                          "hello\r\n");
  const struct {
    std::string Path;
    std::uint64_t FailViewAt;
    TOpened Expected;
    const char* ErrorStart; // after "Could not process log file <path>. "
    std::size_t Records;
  } cases[] = {
      {log, UINT64_MAX, TOpened::Opened, "", 1},
      {dir.Write("b.log", "#Software: Tarnvel ZEL Valtri\r\n" + line), UINT64_MAX, TOpened::NotLogFile, "", 0},
      {dir.Write("c.log", ""), UINT64_MAX, TOpened::NotLogFile, "", 0},
      {dir.PathOf("missing.log"), UINT64_MAX, TOpened::NotLogFile, "", 0},
      {log, 0, TOpened::NotProcessed, "EFastTextReaderError/Could not map next view of file. Error ", 0},
  };
  const TLogDebugSink previous = SetLogDebugSink([](std::string_view) {});
  for (const std::uint32_t viewSize : {0u, 7u}) {
    for (const auto& c : cases) {
      TFastTextReaderOptions options;
      options.ViewSize = viewSize;
      options.FailViewMappingAt = c.FailViewAt;
      TLogFileReader reader(options);
      std::string error;
      EXPECT_EQ(c.Expected, reader.OpenChecked(c.Path, error)) << c.Path;
      const std::string expectedError =
          *c.ErrorStart ? "Could not process log file " + c.Path + ". " + c.ErrorStart : std::string();
      EXPECT_EQ(expectedError, error.substr(0, expectedError.size())) << c.Path;
      TLogRecord record;
      std::size_t records = 0;
      while (!reader.Eof())
        records += reader.ReadRecord(record, error) ? 1 : 0;
      EXPECT_EQ(c.Records, records) << c.Path << ", view size " << viewSize;
    }
  }
  SetLogDebugSink(previous);
}

TEST(LogFileFingerprint, ReportsUnreadableFilesToTheDebugger) {
  TTempDir dir;
  std::vector<std::string> lines;
  const TLogDebugSink previous = SetLogDebugSink([&](std::string_view line) { lines.emplace_back(line); });
  const std::string path = dir.PathOf("missing.log");
  EXPECT_FALSE(TLogFileReader::CheckFingerprint(path));
  const std::string folder = std::filesystem::path(path).parent_path().string();
  EXPECT_FALSE(TLogFileReader::CheckFingerprint(std::u16string(folder.begin(), folder.end())));
  SetLogDebugSink(previous);
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ(0u, lines[1].find("Could not verify fingerprint of file \"" + folder + "\": EOSError/"));
  EXPECT_EQ("Could not verify fingerprint of file \"" + path + "\": EOSError/Could not open file. Error 2 (" +
                SystemErrorText(2) + ").",
            lines[0]);
}

} // namespace

namespace {
// One ReadRecord outcome that a reader with options must reproduce.
struct TOutcome {
  std::string Error;
  TLogRecord Record;
};

std::string FieldsText(const TLogRecord& r, std::uint32_t fields) {
  std::string text = std::to_string(static_cast<int>(r.Class)) + '|' + std::to_string(r.Actions.Bits) + '|' +
                     std::to_string(static_cast<int>(r.Severity)) + '|' +
                     std::to_string(static_cast<int>(r.FilteringPoint)) + '|' + std::to_string(r.LogMode) + '|';
  const auto add = [&](std::uint32_t bit, const std::string& value) {
    if (fields & bit)
      text += value + '|';
  };
  add(LogFieldVersion, r.Version);
  add(LogFieldServer, r.Server);
  add(LogFieldSource, r.Source);
  add(LogFieldIP, r.IP);
  add(LogFieldMessageID, r.MessageID);
  add(LogFieldSender, r.Sender);
  add(LogFieldRecipients, r.Recipients);
  add(LogFieldSubject, std::string(r.Subject.begin(), r.Subject.end()));
  add(LogFieldHeloDomain, r.HeloDomain);
  add(LogFieldMessage, r.Message);
  return text;
}

std::vector<TOutcome> ReadOutcomes(const std::string& path, const TLogReadOptions& options) {
  TLogFileReader reader;
  reader.SetReadOptions(options);
  std::string error;
  EXPECT_TRUE(reader.Open(path, error)) << error;
  std::vector<TOutcome> outcomes;
  TLogRecord record;
  while (!reader.Eof()) {
    if (reader.ReadRecord(record, error))
      outcomes.push_back({"", record});
    else if (!error.empty())
      outcomes.push_back({error, {}});
  }
  return outcomes;
}
} // namespace

TEST_F(LogFileReaderTest, ReadOptionsGiveTheRowsOfAFullReadThatTheyKeep) {
  // Local times out of order and across the change to summer time; lines
  // that fail a conversion, carry a bad address or cannot be cut, inside
  // and outside the windows; fields beyond the ones checked on every line.
  const std::string path = WriteLog(
      "2010-03-28T02:30:00 Pass - OnArrival Info 10.0.0.1 a@b.c d@e.f Hello+%C3%A9 first\r\n"
      "2010-03-28T00:59:59 Blacklist Reject BeforeArrival Warning 10.0.0.2 x@y.z - - second\r\n"
      "2010-03-28T01:00:00 Pass - OnArrival Info 10.0.0.300 a@b.c d@e.f - bad address\r\n"
      "2010-03-28T99:00:00 Pass - OnArrival Info 10.0.0.1 a@b.c d@e.f - bad date\r\n"
      "2010-03-28T01:30:00 Pass - Nowhere Info 10.0.0.1 a@b.c d@e.f - bad point\r\n"
      "2010-03-28T01:00:00 Pass - OnArrival Info\r\n"
      "#Timezone: UTC\r\n"
      "2010-03-28T00:59:59 Pass - OnArrival Info 10.0.0.3 a@b.c\r\n"
      "2010-03-28T01:00:00 Whitelist - OnArrival Error 10.0.0.4 p@q.r s@t.u Subj msg text\r\n"
      "#Fields: x-event-datetime x-ip x-event-class x-event-msg x-event-action x-event-severity x-filtering-point "
      "x-sender x-helo-domain x-msg-id x-event-source x-server-name x-recipients x-msg-subject\r\n"
      "2010-03-27T23:00:00 1.2.3.4 Pass text - Info OnArrival s@x.y helo%21 id src srv r@x.y S%C3%BCbject\r\n"
      "2010-03-28T03:00:00 1.2.3.5 Pass tail - Info OnArrival\r\n"
      "2010-03-28T03:00:01 1.2.3.999 Pass tail - Info OnArrival\r\n"
      "#Fields: x-event-datetime x-event-class x-event-action x-filtering-point x-event-severity 6 7 8 9 10 11 12 13 "
      "14 x-sender\r\n"
      "2010-03-28T03:00:00 Pass - OnArrival Info\r\n"
      "#Software: Tarnvel ZEL Valtrix\r\n#Version: 1.4\r\n"
      "#Fields: x-event-datetime x-event-class x-event-severity c-ip x-sender x-recipients x-event-msg\r\n"
      "2010-03-28T04:00:00 SPAM Info 10.1.1.1 l@x.y r@x.y legacy line\r\n");
  const std::vector<TOutcome> full = ReadOutcomes(path, {});
  ASSERT_GE(full.size(), 10u);

  std::int64_t day = 0;
  ASSERT_TRUE(StrToLogSeconds("2010-03-28T00:00:00", day));
  const struct {
    std::uint32_t Fields;
    std::int64_t From, To;
  } cases[] = {
      {0, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()},
      {LogFieldTime | LogFieldSender, day + 2 * 3600, day + 3 * 3600},
      {LogFieldsAll, day + 3 * 3600, day + 3 * 3600},
      {LogFieldMessage | LogFieldIP, day, day + 3 * 3600 - 1},
      {LogFieldSubject | LogFieldHeloDomain | LogFieldServer, day + 4 * 3600, std::numeric_limits<std::int64_t>::max()},
      {LogFieldsAll, 1, 0},
  };
  for (const auto& item : cases) {
    TLogReadOptions options;
    options.Fields = item.Fields;
    options.TimeFrom = item.From;
    options.TimeTo = item.To;
    std::vector<const TOutcome*> expected;
    for (const TOutcome& outcome : full) {
      const std::int64_t seconds = SecondsFromAutomationDate(outcome.Record.Time);
      if (!outcome.Error.empty() || (seconds >= item.From && seconds <= item.To))
        expected.push_back(&outcome);
    }
    const std::vector<TOutcome> read = ReadOutcomes(path, options);
    ASSERT_EQ(expected.size(), read.size()) << item.Fields << " " << item.From;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(expected[i]->Error, read[i].Error) << i;
      EXPECT_EQ(expected[i]->Record.LineNr, read[i].Record.LineNr) << i;
      EXPECT_EQ(FieldsText(expected[i]->Record, item.Fields), FieldsText(read[i].Record, item.Fields)) << i;
      if (item.Fields & LogFieldTime) {
        EXPECT_EQ(expected[i]->Record.Time, read[i].Record.Time) << i;
      }
    }
  }
}

// Where a part may begin, for every position of a file whose lines hold lone
// CRs and LFs, with the view boundaries of a long line among them.
TEST(LogFileParts, FindLineStartGivesTheFirstLineStartAtOrAfterAPosition) {
  TTempDir dir;
  std::string text = "#Software: x\r\na\rb\nc\r\n\r\n\r\r\n\n\r\nd";
  text += std::string(9000, 'e') + "\r\n\nf\r\n";
  const std::string path = dir.Write("parts.log", text);
  // Parts opened at the start and after the first line, with the whole file
  // in their first view or only a few lines.
  struct TPart {
    std::uint64_t Begin;
    std::uint32_t ViewSize;
    TLogFileReader Reader;
  };
  TPart parts[] = {{0, static_cast<std::uint32_t>(text.size()), TLogFileReader(TFastTextReaderOptions{static_cast<std::uint32_t>(text.size())})},
                   {0, 64, TLogFileReader(TFastTextReaderOptions{64})},
                   {14, static_cast<std::uint32_t>(text.size()), TLogFileReader(TFastTextReaderOptions{static_cast<std::uint32_t>(text.size())})},
                   {14, 64, TLogFileReader(TFastTextReaderOptions{64})}};
  for (TPart& part : parts) {
    std::string errorText;
    ASSERT_TRUE(part.Reader.OpenPart(path, {}, part.Begin, text.size(), errorText)) << errorText;
  }
  for (std::uint64_t position = 0; position <= text.size(); ++position) {
    std::uint64_t expected = position;
    while (expected < text.size() && expected != 0 && (expected < 2 || text.compare(expected - 2, 2, "\r\n") != 0))
      ++expected;
    std::uint64_t found = 0;
    ASSERT_TRUE(TLogFileReader::FindLineStart(path, position, found)) << position;
    ASSERT_EQ(expected, found) << position;
    // The same from a part's first view, where it reaches so far.
    for (const TPart& part : parts) {
      found = 0;
      const std::uint64_t from = position - std::min<std::uint64_t>(position, 2);
      const bool inView = position == 0 || (from >= part.Begin && expected <= part.Begin + part.ViewSize &&
                                            text.compare(expected - 2, 2, "\r\n") == 0);
      ASSERT_EQ(part.Reader.LineStartAhead(position, found), inView) << position << " from " << part.Begin;
      if (inView) {
        ASSERT_EQ(expected, found) << position;
      }
    }
  }
  std::uint64_t found = 0;
  EXPECT_FALSE(TLogFileReader::FindLineStart(dir.PathOf("missing.log"), 5, found));
}
