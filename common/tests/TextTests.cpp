// Text conversions as file names and consumers' texts meet them.
#include <gtest/gtest.h>

#include <string>

#include "Utf8Text.h"
#ifdef _WIN32
#include "CodePageText.h"
#endif

TEST(Utf8FromUtf16, EncodesEveryLengthAndReplacesLoneSurrogates) {
  const struct {
    std::u16string In;
    std::string Out;
  } cases[] = {
      {u"", ""},
      {u"a.log", "a.log"},
      {u"\u00e9", "\xC3\xA9"},
      {u"\u65e5", "\xE6\x97\xA5"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},
      {u"a\xD800", "a\xEF\xBF\xBD"},
      {u"\xDC00z", "\xEF\xBF\xBDz"},
      {u"\xDBFF\xDFFF", "\xF4\x8F\xBF\xBF"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Out, Utf8FromUtf16(c.In));
}

#ifdef _WIN32
TEST(CodePageText, ConvertsBothWaysThroughTheCodePageAsked) {
  EXPECT_EQ(L"\u00e9t\u00e9", WideFromUtf8("\xC3\xA9t\xC3\xA9"));
  EXPECT_EQ("\xC3\xA9t\xC3\xA9", Utf8FromWide(L"\u00e9t\u00e9"));
  EXPECT_EQ(L"\u20ac", WideFromCodePage("\x80", 1252));
  EXPECT_EQ("\x80", CodePageFromWide(L"\u20ac", 1252));
  EXPECT_EQ(L"\u3042", WideFromCodePage("\x82\xA0", 932));
  EXPECT_EQ(L"", WideFromCodePage(""));
  EXPECT_EQ("", CodePageFromWide(L""));
}

TEST(CodePageText, AssigningKeepsTheBufferAndReportsWhatTheSystemRefuses) {
  std::wstring wide;
  wide.reserve(64);
  const wchar_t* storage = wide.data();
  ASSERT_TRUE(AssignWideFromCodePage(wide, "abc", Utf8CodePage));
  EXPECT_EQ(L"abc", wide);
  EXPECT_EQ(storage, wide.data());
  EXPECT_FALSE(AssignWideFromCodePage(wide, "abc", 12345));  // no such code page
  EXPECT_TRUE(wide.empty());
}
#endif
