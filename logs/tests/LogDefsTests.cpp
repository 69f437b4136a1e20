#include <cstring>

#include <gtest/gtest.h>

#include "LogDefs_un.h"

namespace {

// 2012-02-29 in days since 1899-12-30.
constexpr double LeapDay2012 = 40968;

TEST(LogDefs, DateTimeAcceptsOnlyTheExactForm) {
  double value = -1;
  ASSERT_TRUE(StrToLogDateTime("2012-02-29T23:59:59", value));
  EXPECT_DOUBLE_EQ(LeapDay2012 + 86399.0 / 86400.0, value);
  ASSERT_TRUE(StrToLogDateTime("1899-12-30T12:00:00", value));
  EXPECT_EQ(0.5, value);

  for (const char* text : {"2011-02-29T10:00:00", "2012-02-29 23:59:59", "2012-02-29t23:59:59",
                           "2012-02-29T23:59:590", "2012-02-29T24:00:00", "2012-02-29T23:60:00",
                           "2012-13-01T00:00:00", "0000-01-01T00:00:00", "2012-02-29T23:59", "2012/02/29T23:59:59",
                           "2012-0a-29T23:59:59", ""}) {
    value = -1;
    EXPECT_FALSE(StrToLogDateTime(text, value)) << text;
    EXPECT_EQ(-1, value) << text;
  }
}

// Digits are read directly in the usual form; a blank or sign where a digit
// belongs must still be read as the general integer conversion reads it.
TEST(LogDefs, DateTimeNumbersWithBlanksOrSigns) {
  double value = -1;
  ASSERT_TRUE(StrToLogDateTime("2012-02-29T 1:+5:-0", value));
  EXPECT_DOUBLE_EQ(LeapDay2012 + (3600 + 5 * 60) / 86400.0, value);
  ASSERT_TRUE(StrToLogDateTime("+012-02-29T00:00: 9", value)); // the year 12 was a leap year
  EXPECT_DOUBLE_EQ(-689517 - 9 / 86400.0, value); // before 1899-12-30 the time counts away from day 0
  value = -1;
  EXPECT_FALSE(StrToLogDateTime("2012-02-29T-1:00:00", value));
  EXPECT_FALSE(StrToLogDateTime("2012-02-29T00:00:9 ", value));
  EXPECT_EQ(-1, value);
}

// Lines of one day reuse the day read last: whatever the line before gave,
// each text must convert as on its own.
TEST(LogDefs, DateTimeOfLinesThatShareTheirDay) {
  constexpr std::int64_t Day = 40968 * std::int64_t{86400}; // 2012-02-29
  const struct {
    const char* Text;
    std::int64_t Seconds; // -1: not a date-time
  } lines[] = {{"2012-02-29T23:59:59", Day + 86399}, {"2012-02-29T 1:+5:-0", Day + 3900},
               {"2012-02-29T24:00:00", -1},          {"2012-02-29T09:60:00", -1},
               {"2012-02-29T00:00:9 ", -1},          {"2012-02-29X00:00:09", -1},
               {"2012-02-29T00:00:09", Day + 9},     {"2012-02-30T00:00:00", -1},
               {"2012-02-29T00:00:1x", -1},          {"2012-03-01T08:00:00", Day + 86400 + 28800},
               {"2012-02-29T12:00:00", Day + 43200}, {"+012-02-29T00:00: 9", -689517 * std::int64_t{86400} + 9},
               {"+012-02-29T00:00:10", -689517 * std::int64_t{86400} + 10}, {"2012-02-29T12:0", -1}};
  TLogSecondsReader reader;
  for (const auto& line : lines) {
    std::int64_t seconds = -1;
    EXPECT_EQ(line.Seconds != -1, reader.Read(line.Text, seconds)) << line.Text;
    if (line.Seconds != -1) {
      EXPECT_EQ(line.Seconds, seconds) << line.Text;
    }
  }
}

// The usual form (one to three plain digits per part) is read directly;
// everything else must come out as the general conversion has it.
TEST(LogDefs, IPv4ValueOutsideThePlainForm) {
  const struct {
    const char* Text;
    bool Result;
    std::uint32_t Value;
  } converted[] = {
      {"255.255.255.255", true, 0xFFFFFFFF}, {"010.001.000.099", true, 0x0A010063},
      {"0010.1.1.0001", true, 0x0A010101},   {"+1.2.3.+4", true, 0x01020304},
      {" 1.2. 3.4", true, 0x01020304},       {"1.2.3.00000000000000000001", true, 0x01020301},
      {"-0.1.2.3", false, 0x00010203},       {"1.2.3.-0", false, 0x01020300},
  };
  for (const auto& expected : converted) {
    std::uint32_t value = 7;
    EXPECT_EQ(expected.Result, StrToIPv4Value(expected.Text, value)) << expected.Text;
    EXPECT_EQ(expected.Value, value) << expected.Text;
  }
  std::uint32_t value = 7;
  EXPECT_FALSE(StrToIPv4Value("1.2.3.4.", value)); // four dots: no part is converted
  EXPECT_EQ(7u, value);

  for (const char* text : {"256.1.1.1", "1.1.1.256", "1.2.3.2147483647", "1.2.3.-2147483648"})
    EXPECT_THROW(StrToIPv4Value(text, value), ERangeError) << text;
  const struct {
    const char* Text;
    const char* Message;
  } raising[] = {
      {"1.2.3.4 ", "'4 ' is not a valid integer value"},
      {"1.2.3.4x", "'4x' is not a valid integer value"},
      {".1.2.3", "'' is not a valid integer value"},
      {"1.2.3.", "'' is not a valid integer value"},
      {"1.2.3.2147483648", "'2147483648' is not a valid integer value"},
  };
  for (const auto& expected : raising) {
    try {
      StrToIPv4Value(expected.Text, value);
      ADD_FAILURE() << expected.Text << ": no error";
    } catch (const EConvertError& error) {
      EXPECT_STREQ(expected.Message, error.what()) << expected.Text;
    }
  }
}

TEST(LogDefs, IPv4ValueWritesOnlyWhenDotted) {
  std::uint32_t value = 7;
  EXPECT_TRUE(StrToIPv4Value("10.0.0.1", value));
  EXPECT_EQ(0x0A000001u, value);
  EXPECT_TRUE(StrToIPv4Value("255.254.253.252", value));
  EXPECT_EQ(0xFFFEFDFCu, value);

  value = 7;
  EXPECT_FALSE(StrToIPv4Value("10.0.0.0", value));
  EXPECT_EQ(0x0A000000u, value);
  EXPECT_FALSE(StrToIPv4Value("0.1.2.3", value));
  EXPECT_EQ(0x00010203u, value);

  value = 7;
  EXPECT_FALSE(StrToIPv4Value("10.0.0", value));
  EXPECT_FALSE(StrToIPv4Value("fe80::1", value));
  EXPECT_FALSE(StrToIPv4Value("1.2.3.4.5", value));
  EXPECT_EQ(7u, value);

  EXPECT_TRUE(StrToIPv4Value("-", value));
  EXPECT_EQ(0u, value);
  value = 7;
  EXPECT_TRUE(StrToIPv4Value("", value));
  EXPECT_EQ(0u, value);
}

TEST(LogDefs, IPv4ValueRaisesForBadParts) {
  std::uint32_t value = 0;
  EXPECT_THROW(StrToIPv4Value("10.0.0.300", value), ERangeError);
  EXPECT_THROW(StrToIPv4Value("10.-1.0.1", value), ERangeError);
  try {
    StrToIPv4Value("::ffff:10.0.0.1", value);
    FAIL() << "no error";
  } catch (const EConvertError& error) {
    EXPECT_STREQ("'::ffff:10' is not a valid integer value", error.what());
    EXPECT_EQ("EConvertError", error.ClassName());
  }
  EXPECT_THROW(StrToIPv4Value("10..0.1", value), EConvertError);
  EXPECT_THROW(StrToIPv4Value("10.0.0.99999999999", value), EConvertError);
}

// Within a line the bytes after an address may be read with it; they must not
// change what it converts to (each is followed by 16 bytes here).
TEST(LogDefs, IPv4ValueIgnoresTheBytesAfterIt) {
  const struct {
    const char* Text;
    bool Result;
    std::uint32_t Value; // 7 where nothing is written
  } converted[] = {
      {"1.2.3.4", true, 0x01020304},    {"255.255.255.255", true, 0xFFFFFFFF}, {"010.001.000.099", true, 0x0A010063},
      {"1.2.3.0099", true, 0x01020363}, {"10.0.0.0", false, 0x0A000000},       {"1.2.3", false, 7},
      {"1.2.3.4.", false, 7},
  };
  for (const char* after : {" 9.9.9.9 9.9.9.9", "9999999999999999", "................"}) {
    for (const auto& expected : converted) {
      const std::string line = std::string(expected.Text) + after;
      std::uint32_t value = 7;
      EXPECT_EQ(expected.Result, StrToIPv4Value(std::string_view(line.data(), std::strlen(expected.Text)),
                                                line.data() + line.size(), value))
          << expected.Text << after;
      EXPECT_EQ(expected.Value, value) << expected.Text << after;
    }
  }
}

TEST(LogDefs, EnumerationTextsAreCaseInsensitiveLogTexts) {
  TLogEventClass eventClass{};
  for (const char* text : {"PASS", "pass", "Pass"}) {
    eventClass = TLogEventClass::System;
    EXPECT_TRUE(StrToEventClass(text, eventClass));
    EXPECT_EQ(TLogEventClass::Pass, eventClass);
  }
  EXPECT_TRUE(StrToEventClass("intermediate", eventClass));
  EXPECT_EQ(TLogEventClass::Intermediate, eventClass);
  EXPECT_FALSE(StrToEventClass("System Message", eventClass));
  EXPECT_FALSE(StrToEventClass("Pass ", eventClass));

  TLogSeverity severity{};
  EXPECT_TRUE(StrToSeverity("critical", severity));
  EXPECT_EQ(TLogSeverity::CriticalError, severity);
  EXPECT_FALSE(StrToSeverity("Critical Error", severity));
  EXPECT_FALSE(StrToSeverity("Information", severity));

  TFilteringPoint point = TFilteringPoint::OnArrival;
  EXPECT_TRUE(StrToFilteringPoint("-", point));
  EXPECT_EQ(TFilteringPoint::NonFiltering, point);
  EXPECT_TRUE(StrToFilteringPoint("onarrival", point));
  EXPECT_EQ(TFilteringPoint::OnArrival, point);
  EXPECT_TRUE(StrToFilteringPoint("", point));
  EXPECT_EQ(TFilteringPoint::NonFiltering, point);
  EXPECT_FALSE(StrToFilteringPoint("Non-filtering", point));
}

TEST(LogDefs, ActionsSplitAtPlus) {
  TLogActions actions;
  EXPECT_TRUE(StrToActions("Reject+TagSubject", actions));
  EXPECT_EQ(0x03, actions.Bits);
  EXPECT_TRUE(StrToActions("reject+", actions));
  EXPECT_EQ(0x01, actions.Bits);
  EXPECT_TRUE(StrToActions("WhitelistRecipient+ReplaceAttachment+RemoveRecipient", actions));
  EXPECT_EQ(0x70, actions.Bits);
  EXPECT_TRUE(StrToActions("-", actions));
  EXPECT_TRUE(actions.Empty());

  // A failing item keeps what came before it.
  EXPECT_FALSE(StrToActions("Reject++", actions));
  EXPECT_EQ(0x01, actions.Bits);
  EXPECT_FALSE(StrToActions("Redirect++TagHeader", actions));
  EXPECT_EQ(LogActionMask(TLogAction::Redirect), actions.Bits);
  for (const char* text : {"+Reject", "+", "Reject+Bogus", "Reject TagSubject"}) {
    EXPECT_FALSE(StrToActions(text, actions)) << text;
  }
}

TEST(LogDefs, LegacyClassNamesClassAndAction) {
  TLogEventClass eventClass{};
  TLogActions actions;
  actions.Bits = 0x7F;
  ASSERT_TRUE(StrToLegacyEventClass("acceptmail", eventClass, actions));
  EXPECT_EQ(TLogEventClass::Pass, eventClass);
  EXPECT_TRUE(actions.Empty());

  ASSERT_TRUE(StrToLegacyEventClass("TagMailSubject", eventClass, actions));
  EXPECT_EQ(TLogEventClass::Blacklist, eventClass);
  EXPECT_EQ(LogActionMask(TLogAction::TagSubject), actions.Bits);

  ASSERT_TRUE(StrToLegacyEventClass("IgnoreMailRecipient", eventClass, actions));
  EXPECT_EQ(TLogEventClass::Intermediate, eventClass);
  EXPECT_EQ(LogActionMask(TLogAction::WhitelistRecipient), actions.Bits);

  ASSERT_TRUE(StrToLegacyEventClass("AddToAutoSenderWhitelist", eventClass, actions));
  EXPECT_EQ(TLogEventClass::System, eventClass);

  actions.Bits = 0x7F;
  eventClass = TLogEventClass::Pass;
  EXPECT_FALSE(StrToLegacyEventClass("Blacklist", eventClass, actions));
  EXPECT_TRUE(actions.Empty());
  EXPECT_EQ(TLogEventClass::Pass, eventClass);
}

TEST(LogDefs, DisplayTextsOutsideTheTablesAreEmpty) {
  EXPECT_EQ("System Message", EventClassToDisplayText(TLogEventClass::System));
  EXPECT_EQ("", SeverityToDisplayText(static_cast<TLogSeverity>(4)));
  EXPECT_EQ("", EventClassToDisplayText(static_cast<TLogEventClass>(5)));
  EXPECT_EQ("", FilteringPointToDisplayText(static_cast<TFilteringPoint>(255)));
}

TEST(LogDefs, ViewerDefaultsRefuseBadIndexes) {
  EXPECT_THROW(DefaultLogViewColumns.Column(16), ERangeError);
  EXPECT_EQ(0x1010BEu, DefaultRowColors.Setting(2, 0).Color);
  EXPECT_EQ(0x0000FFu, BasicRowColors.Setting(2, 0).Color);
  EXPECT_FALSE(BasicRowColors.Setting(1, 1).UseCustomSetting);

  TRowColorSettings settings;
  try {
    settings.SetColor(0, 2, 0);
    FAIL() << "no error";
  } catch (const ERowColorSettingsError& error) {
    EXPECT_STREQ("Invalid index in SetColor()", error.what());
  }
  try {
    settings.SetUseCustomSetting(3, -1, true);
    FAIL() << "no error";
  } catch (const ERowColorSettingsError& error) {
    EXPECT_STREQ("Invalid index in SetUseCustomSetting()", error.what());
  }
  EXPECT_THROW(settings.SetColor(4, 0, 0), ERowColorSettingsError);
}

} // namespace
