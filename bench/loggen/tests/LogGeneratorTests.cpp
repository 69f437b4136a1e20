#include <gtest/gtest.h>

#include <string_view>

#include "LogGenerator.h"

namespace {

TLogGenOptions SmallLog(std::uint64_t seed) {
  TLogGenOptions options;
  options.Seed = seed;
  options.TargetBytes = 512u << 10;
  options.MinBlockLines = 20;
  options.MaxBlockLines = 200;
  options.LegacyBlockPercent = 40;
  options.MalformedPerMille = 30;
  return options;
}

}  // namespace

// Benchmarks reuse a generated file by its name, so the same options must give
// the same bytes, chunked or not.
TEST(LogGenerator, DeterministicForItsOptions) {
  TLogGenStats first;
  TLogGenStats second;
  const std::string text = GenerateLogText(SmallLog(5), &first);
  EXPECT_EQ(text, GenerateLogText(SmallLog(5), &second));
  EXPECT_EQ(first.Lines, second.Lines);
  EXPECT_NE(text, GenerateLogText(SmallLog(6)));

  TLogGenerator generator(SmallLog(5));
  std::string lineByLine;
  while (generator.NextLine(lineByLine)) {
  }
  EXPECT_EQ(lineByLine, text);
}

TEST(LogGenerator, LinesAndCountsAddUp) {
  TLogGenStats stats;
  const std::string text = GenerateLogText(SmallLog(9), &stats);
  EXPECT_EQ(stats.Bytes, text.size());
  EXPECT_GE(text.size(), 512u << 10);
  EXPECT_TRUE(text.starts_with("#Software: Tarnvel "));

  std::uint64_t lines = 0;
  std::uint64_t directives = 0;
  std::uint64_t softwareLines = 0;
  std::uint64_t legacyVersions = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "last line without CR LF";
    const std::string_view line(text.data() + start, end - start);
    ASSERT_EQ(line.find('\n'), std::string_view::npos);
    ASSERT_EQ(line.find('\r'), std::string_view::npos);
    ++lines;
    if (line.starts_with("#")) ++directives;
    if (line.starts_with("#Software: ")) ++softwareLines;
    if (line == "#Version: 1.4" || line == "#Version: 1.3") ++legacyVersions;
    start = end + 2;
  }
  EXPECT_EQ(lines, stats.Lines);
  EXPECT_EQ(directives, stats.DirectiveLines);
  EXPECT_EQ(softwareLines, stats.HeaderBlocks);
  EXPECT_EQ(legacyVersions, stats.LegacyBlocks);
  EXPECT_GT(stats.LegacyBlocks, 0u);
  EXPECT_LT(stats.LegacyBlocks, stats.HeaderBlocks);
  EXPECT_EQ(stats.DataLines + stats.SkippedLines + stats.ErrorLines + stats.DirectiveLines, stats.Lines);
  EXPECT_GT(stats.SkippedLines, 0u);
  EXPECT_GT(stats.ErrorLines, 0u);
}
