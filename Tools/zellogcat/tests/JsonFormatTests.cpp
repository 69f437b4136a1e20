#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "CodePage.h"
#include "JsonWriter.h"
#include "LogTimeText.h"
#include "RecordJson.h"

namespace {

const std::string Replacement = "\xEF\xBF\xBD";

std::string Utf8Json(std::string_view text) {
  TJsonWriter writer;
  writer.StringUtf8(text);
  return std::string(writer.Text());
}

std::string Utf16Json(std::u16string_view text) {
  TJsonWriter writer;
  writer.StringUtf16(text);
  return std::string(writer.Text());
}

std::string SingleByteJson(std::string_view text, unsigned codePageId) {
  TCodePage codePage;
  EXPECT_TRUE(codePage.Select(codePageId));
  TJsonWriter writer;
  codePage.String(writer, text);
  return std::string(writer.Text());
}

// Each time both on its own and through one writer that has seen the times
// before it, from whichever day.
std::string TimeText(double date) {
  static TIsoTimeWriter series;
  char alone[20];
  char inSeries[20];
  const bool written = AutomationDateToIsoText(date, alone);
  EXPECT_EQ(series.Write(date, inSeries), written);
  if (!written) return "<none>";
  EXPECT_EQ(std::string(inSeries), std::string(alone));
  return alone;
}

// 2010-04-01 as an automation date.
constexpr double April1st2010 = 40269;

}  // namespace

TEST(JsonEscaping, QuotesBackslashesAndControlCharacters) {
  EXPECT_EQ(Utf8Json("plain text 123"), "\"plain text 123\"");
  EXPECT_EQ(Utf8Json("say \"hi\" \\o/"), R"("say \"hi\" \\o/")");
  EXPECT_EQ(Utf8Json("a\tb\r\nc\b\f"), R"("a\tb\r\nc\u0008\u000c")");
  EXPECT_EQ(Utf8Json(std::string_view("\x00\x1f\x7f", 3)), "\"\\u0000\\u001f\x7f\"");
  EXPECT_EQ(Utf8Json(""), "\"\"");
  // Escaping must survive the run-copy of plain text on both sides.
  EXPECT_EQ(Utf8Json("x\"y\"z"), R"("x\"y\"z")");
}

// Plain text is copied in blocks: whatever needs escaping must be found at
// every place in and around a block, and the text after it still copied.
TEST(JsonEscaping, AtEveryPlaceOfALongText) {
  struct TCase {
    std::string_view Text;
    unsigned CodePage;
    std::string_view Json;
  };
  const TCase cases[] = {
      {"\"", 65001, "\\\""},        {"\\", 65001, "\\\\"},         {"\n", 65001, "\\n"},
      {"\x01", 65001, "\\u0001"},     {"\xC3\xA9", 65001, "\xC3\xA9"}, {"\xFF", 65001, "\xEF\xBF\xBD"},
      {"\xE9", 1252, "\xC3\xA9"},     {"\x80", 1252, "\xE2\x82\xAC"}, {"\t", 1252, "\\t"},
  };
  for (const TCase& c : cases) {
    for (std::size_t length = 0; length <= 40; ++length) {
      for (std::size_t place = 0; place <= length; ++place) {
        const std::string before(place, 'a');
        const std::string after(length - place, 'z');
        ASSERT_EQ(SingleByteJson(before + std::string(c.Text) + after, c.CodePage),
                  "\"" + before + std::string(c.Json) + after + "\"")
            << "code page " << c.CodePage << ", place " << place << " of " << length;
      }
    }
  }
  for (std::size_t length = 0; length <= 40; ++length) {
    const std::string plain(length, 'p');
    ASSERT_EQ(SingleByteJson(plain, 1252), "\"" + plain + "\"");
  }
}

TEST(JsonEscaping, WellFormedUtf8PassesThrough) {
  const std::string text = "Caf\xC3\xA9 \xE2\x98\x95 \xF0\x9F\x8E\x89 \xF4\x8F\xBF\xBF";
  EXPECT_EQ(Utf8Json(text), "\"" + text + "\"");
}

TEST(JsonEscaping, IllFormedUtf8BecomesReplacementCharacters) {
  // A lone continuation byte, a byte that never starts a sequence.
  EXPECT_EQ(Utf8Json("a\x80z"), "\"a" + Replacement + "z\"");
  EXPECT_EQ(Utf8Json("a\xFFz"), "\"a" + Replacement + "z\"");
  // Overlong forms and encoded surrogates: every byte is its own subpart.
  EXPECT_EQ(Utf8Json("\xC0\x80"), "\"" + Replacement + Replacement + "\"");
  EXPECT_EQ(Utf8Json("\xED\xA0\x80"), "\"" + Replacement + Replacement + Replacement + "\"");
  EXPECT_EQ(Utf8Json("\xE0\x80\x80"), "\"" + Replacement + Replacement + Replacement + "\"");
  EXPECT_EQ(Utf8Json("\xF4\x90\x80\x80"), "\"" + Replacement + Replacement + Replacement + Replacement + "\"");
  // A truncated sequence is one subpart, wherever it is cut.
  EXPECT_EQ(Utf8Json("\xE2\x82"), "\"" + Replacement + "\"");
  EXPECT_EQ(Utf8Json("\xE2\x82z"), "\"" + Replacement + "z\"");
  EXPECT_EQ(Utf8Json("\xF0\x9F\x8E"), "\"" + Replacement + "\"");
  // Control characters after a bad byte are still escaped.
  EXPECT_EQ(Utf8Json("\xC3\n"), "\"" + Replacement + "\\n\"");
}

TEST(JsonEscaping, Utf16PairsAndUnpairedSurrogates) {
  EXPECT_EQ(Utf16Json(u"Gr\u00FC\u00DFe \u2615"), "\"Gr\xC3\xBC\xC3\x9F" "e \xE2\x98\x95\"");
  EXPECT_EQ(Utf16Json(u"\U0001F389"), "\"\xF0\x9F\x8E\x89\"");
  EXPECT_EQ(Utf16Json(u"\"\\\n"), R"("\"\\\n")");
  // The edges of the two- and three-byte forms and around the surrogates.
  EXPECT_EQ(Utf16Json(u"\u0080\u07FF\u0800\uD7FF\uE000\uFFFF"),
            "\"\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\"");

  const char16_t loneHigh[] = {u'a', 0xD83C, u'b', 0};
  EXPECT_EQ(Utf16Json(loneHigh), "\"a" + Replacement + "b\"");
  const char16_t loneLow[] = {0xDF89, 0};
  EXPECT_EQ(Utf16Json(loneLow), "\"" + Replacement + "\"");
  const char16_t highAtEnd[] = {u'x', 0xD83C, 0};
  EXPECT_EQ(Utf16Json(highAtEnd), "\"x" + Replacement + "\"");
  const char16_t reversed[] = {0xDF89, 0xD83C, 0};
  EXPECT_EQ(Utf16Json(reversed), "\"" + Replacement + Replacement + "\"");
}

TEST(CodePages, Windows1252) {
  EXPECT_EQ(SingleByteJson("Pr\xE4sentation \x80 5 \x96 \x93ok\x94", 1252),
            "\"Pr\xC3\xA4sentation \xE2\x82\xAC 5 \xE2\x80\x93 \xE2\x80\x9Cok\xE2\x80\x9D\"");
  EXPECT_EQ(SingleByteJson("\x8A\x9F\xFF", 1252), "\"\xC5\xA0\xC5\xB8\xC3\xBF\"");
  // The bytes 1252 leaves undefined keep their value as C1 controls.
  EXPECT_EQ(SingleByteJson("\x81\x8D\x8F\x90\x9D", 1252), "\"\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D\"");
  EXPECT_EQ(SingleByteJson("tab\there \"q\"", 1252), R"("tab\there \"q\"")");
}

TEST(CodePages, Latin1AndUtf8) {
  EXPECT_EQ(SingleByteJson("\x80\xE9", 28591), "\"\xC2\x80\xC3\xA9\"");
  EXPECT_EQ(SingleByteJson("\xC3\xA9\xE9", 65001), "\"\xC3\xA9" + Replacement + "\"");
}

TEST(CodePages, UnknownCodePagesAreRefused) {
  TCodePage codePage;
  EXPECT_FALSE(codePage.Select(70000));
  EXPECT_EQ(codePage.Id(), 1252u);
#ifdef _WIN32
  // The system converts code pages it has, single-byte and multi-byte alike.
  ASSERT_TRUE(codePage.Select(437));
  TJsonWriter writer;
  codePage.String(writer, "\x81");
  EXPECT_EQ(writer.Text(), "\"\xC3\xBC\"");
  ASSERT_TRUE(codePage.Select(932));
  writer.Clear();
  codePage.String(writer, "\x82\xA0");  // HIRAGANA LETTER A
  EXPECT_EQ(writer.Text(), "\"\xE3\x81\x82\"");
#else
  EXPECT_FALSE(codePage.Select(437));
#endif
}

TEST(TimeText, DatesAndTimesOfDay) {
  EXPECT_EQ(TimeText(April1st2010 + (10 * 3600 + 15 * 60 + 30) / 86400.0), "2010-04-01T10:15:30");
  EXPECT_EQ(TimeText(0), "1899-12-30T00:00:00");
  EXPECT_EQ(TimeText(60), "1900-02-28T00:00:00");
  EXPECT_EQ(TimeText(61), "1900-03-01T00:00:00");
  EXPECT_EQ(TimeText(40968 + 0.5), "2012-02-29T12:00:00");
  // Before the epoch the fraction still counts forward from midnight.
  EXPECT_EQ(TimeText(-1.25), "1899-12-29T06:00:00");
  EXPECT_EQ(TimeText(-0.5), "1899-12-30T12:00:00");
  EXPECT_EQ(TimeText(-693593), "0001-01-01T00:00:00");
  EXPECT_EQ(TimeText(2958465 + 86399 / 86400.0), "9999-12-31T23:59:59");
  // Neighbouring days, back and forth, around a value that is no date.
  EXPECT_EQ(TimeText(April1st2010 + 86399 / 86400.0), "2010-04-01T23:59:59");
  EXPECT_EQ(TimeText(April1st2010 + 1), "2010-04-02T00:00:00");
  EXPECT_EQ(TimeText(1e300), "<none>");
  EXPECT_EQ(TimeText(April1st2010 + 1.5), "2010-04-02T12:00:00");
  EXPECT_EQ(TimeText(April1st2010 + 0.5), "2010-04-01T12:00:00");
}

TEST(TimeText, RoundsToTheNearestSecondWithoutDrift) {
  for (int second = 0; second < 86400; ++second) {
    const double date = April1st2010 + second / 86400.0;
    char text[20];
    ASSERT_TRUE(AutomationDateToIsoText(date, text));
    const int parsed = ((text[11] - '0') * 10 + (text[12] - '0')) * 3600 +
                       ((text[14] - '0') * 10 + (text[15] - '0')) * 60 + (text[17] - '0') * 10 + (text[18] - '0');
    ASSERT_EQ(parsed, second) << text;
  }
  EXPECT_EQ(TimeText(April1st2010 + 30.49 / 86400.0), "2010-04-01T00:00:30");
  EXPECT_EQ(TimeText(April1st2010 + 30.51 / 86400.0), "2010-04-01T00:00:31");
  // Rounding up at the end of a day, a year and before the epoch carries the date.
  EXPECT_EQ(TimeText(April1st2010 + 86399.6 / 86400.0), "2010-04-02T00:00:00");
  EXPECT_EQ(TimeText(40543 + 86399.7 / 86400.0), "2011-01-01T00:00:00");
  EXPECT_EQ(TimeText(-1 - 86399.7 / 86400.0), "1899-12-30T00:00:00");
}

TEST(TimeText, ValuesThatAreNoDate) {
  EXPECT_EQ(TimeText(2958466), "<none>");
  EXPECT_EQ(TimeText(-693594), "<none>");
  EXPECT_EQ(TimeText(1e300), "<none>");
  EXPECT_EQ(TimeText(std::numeric_limits<double>::quiet_NaN()), "<none>");
  EXPECT_EQ(TimeText(std::numeric_limits<double>::infinity()), "<none>");
}

TEST(RecordLines, EveryFieldUnderItsName) {
  TLogRecord record;
  record.Version = "2.0";
  record.LogMode = true;
  record.Server = "MAIL1";
  record.Source = "Antispam";
  record.Time = April1st2010 + (10 * 3600 + 15 * 60 + 30) / 86400.0;
  record.Class = TLogEventClass::Blacklist;
  record.Actions.Include(TLogAction::Reject);
  record.Actions.Include(TLogAction::TagSubject);
  record.Severity = TLogSeverity::CriticalError;
  record.FilteringPoint = TFilteringPoint::OnArrival;
  record.IP = "10.0.0.1";
  record.IPValue = 0x0A000001;
  record.MessageID = "<1@x>";
  record.Sender = "j\xFCrgen@example.de";
  record.Recipients = "a@x;b@x";
  record.HeloDomain = "[10.0.0.1]";
  record.Subject = u"Hello World! \u2615";
  record.Message = "Rejected \x96 \"rule\"";
  record.LineNr = 41;

  TCodePage codePage;
  TJsonWriter writer;
  WriteRecordLine(writer, "\"f.log\"", record, codePage);
  EXPECT_EQ(writer.Text(),
            "{\"file\":\"f.log\",\"Version\":\"2.0\",\"LogMode\":\"Verbose\",\"Server\":\"MAIL1\","
            "\"Source\":\"Antispam\",\"Time\":\"2010-04-01T10:15:30\",\"Class\":\"Blacklist\","
            "\"Actions\":[\"Reject\",\"TagSubject\"],\"Severity\":\"CriticalError\","
            "\"FilteringPoint\":\"OnArrival\",\"IP\":\"10.0.0.1\",\"IPValue\":167772161,"
            "\"MessageID\":\"<1@x>\",\"Sender\":\"j\xC3\xBCrgen@example.de\",\"Recipients\":\"a@x;b@x\","
            "\"HeloDomain\":\"[10.0.0.1]\",\"Subject\":\"Hello World! \xE2\x98\x95\","
            "\"Message\":\"Rejected \xE2\x80\x93 \\\"rule\\\"\",\"LineNr\":41}\n");
}

TEST(RecordLines, EnumerationsWithoutIdentifiersAndBadTimes) {
  TLogRecord record;
  record.Class = static_cast<TLogEventClass>(9);
  record.Severity = static_cast<TLogSeverity>(4);
  record.FilteringPoint = static_cast<TFilteringPoint>(3);
  record.Actions.Bits = 0x7F;
  record.Time = std::numeric_limits<double>::quiet_NaN();
  TCodePage codePage;
  TJsonWriter writer;
  WriteRecordLine(writer, "\"f\"", record, codePage);
  const std::string text(writer.Text());
  EXPECT_NE(text.find("\"LogMode\":\"Short\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"Time\":null"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Class\":9,"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Severity\":4,"), std::string::npos) << text;
  EXPECT_NE(text.find("\"FilteringPoint\":3,"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Actions\":[\"Reject\",\"TagSubject\",\"TagHeader\",\"Redirect\",\"ReplaceAttachment\","
                      "\"RemoveRecipient\",\"WhitelistRecipient\"]"),
            std::string::npos)
      << text;
}

TEST(RecordLines, ErrorLine) {
  TCodePage codePage;
  ASSERT_TRUE(codePage.Select(TCodePage::Utf8));
  TJsonWriter writer;
  WriteErrorLine(writer, "\"f.log\"", "Could not process log file C:\\f.log. ERangeError/Range check error", codePage);
  EXPECT_EQ(writer.Text(),
            "{\"file\":\"f.log\",\"error\":\"Could not process log file C:\\\\f.log. ERangeError/Range check "
            "error\"}\n");
}
