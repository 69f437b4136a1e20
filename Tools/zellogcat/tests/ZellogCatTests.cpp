#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <new>
#include <random>
#include <sstream>

#include "JsonWriter.h"
#include "LogGenerator.h"
#include "ZellogCat.h"

namespace fs = std::filesystem;

namespace {

// A strict JSON syntax check of one value: enough to prove that every line
// zellogcat writes parses (escapes, UTF-8, no raw control characters).
class TJsonChecker {
public:
  explicit TJsonChecker(std::string_view text) : Text(text) {}

  bool Check() {
    if (!Value()) return false;
    return Pos == Text.size();
  }

private:
  bool Value() {
    if (Pos >= Text.size()) return false;
    switch (Text[Pos]) {
      case '{': return Container('}', true);
      case '[': return Container(']', false);
      case '"': return String();
      case 't': return Literal("true");
      case 'f': return Literal("false");
      case 'n': return Literal("null");
      default: return Number();
    }
  }

  bool Container(char close, bool object) {
    ++Pos;
    if (Peek(close)) return ++Pos, true;
    for (;;) {
      if (object && !(String() && Peek(':') && ++Pos)) return false;
      if (!Value()) return false;
      if (Peek(close)) return ++Pos, true;
      if (!Peek(',')) return false;
      ++Pos;
    }
  }

  bool String() {
    if (!Peek('"')) return false;
    ++Pos;
    while (Pos < Text.size()) {
      const auto c = static_cast<unsigned char>(Text[Pos]);
      if (c == '"') return ++Pos, true;
      if (c < 0x20) return false;
      if (c == '\\') {
        if (++Pos >= Text.size()) return false;
        const char e = Text[Pos];
        if (e == 'u') {
          if (Pos + 4 >= Text.size()) return false;
          for (int i = 1; i <= 4; ++i)
            if (!std::isxdigit(static_cast<unsigned char>(Text[Pos + i]))) return false;
          Pos += 4;
        } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
          return false;
        }
        ++Pos;
      } else if (c >= 0x80) {
        const int length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        if (length == 0 || c > 0xF4 || Pos + length > Text.size()) return false;
        for (int i = 1; i < length; ++i)
          if ((static_cast<unsigned char>(Text[Pos + i]) & 0xC0) != 0x80) return false;
        Pos += length;
      } else {
        ++Pos;
      }
    }
    return false;
  }

  bool Number() {
    const std::size_t start = Pos;
    if (Peek('-')) ++Pos;
    while (Pos < Text.size() && std::isdigit(static_cast<unsigned char>(Text[Pos]))) ++Pos;
    return Pos > start && Text[Pos - 1] != '-';
  }

  bool Literal(std::string_view word) {
    if (Text.substr(Pos, word.size()) != word) return false;
    Pos += word.size();
    return true;
  }

  bool Peek(char c) const { return Pos < Text.size() && Text[Pos] == c; }

  std::string_view Text;
  std::size_t Pos = 0;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

bool IsErrorLine(const std::string& line) { return line.find(",\"error\":") != std::string::npos && line.find("\"LineNr\"") == std::string::npos; }

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// The "file" member that starts every line about path.
std::string FileMember(const fs::path& path) {
  TJsonWriter writer;
  writer.StringUtf8(Utf8(path));
  return "{\"file\":" + std::string(writer.Text()) + ",";
}

TCatArgument FileArgument(const fs::path& path) {
#ifdef _WIN32
  return {Utf8(path), path.u16string()};
#else
  return {Utf8(path), path.string()};
#endif
}

TCatArgument Option(const std::string& text) { return {text, TCatPath(text.begin(), text.end())}; }

struct TCatResult {
  int Status = -1;
  std::string Out;
  std::string Err;
  int OutWrites = 0;
};

TCatResult Cat(const std::vector<TCatArgument>& arguments) {
  TCatResult result;
  result.Status = RunZellogcat(
      arguments,
      [&](std::string_view text) {
        result.Out.append(text);
        ++result.OutWrites;
        return true;
      },
      [&](std::string_view text) {
        result.Err.append(text);
        return true;
      });
  return result;
}

class ZellogCat : public ::testing::Test {
protected:
  void SetUp() override {
    std::random_device random;
    Dir = fs::temp_directory_path() / ("zellogcat-test-" + std::to_string(random()));
    fs::create_directories(Dir);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(Dir, ignored);
  }

  fs::path WriteFile(const fs::path& name, const std::string& bytes) {
    const fs::path path = Dir / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  fs::path Dir;
};

const std::string CurrentHeader =
    "#Software: Tarnvel ZEL Corvane Edition\r\n#Version: 2.0\r\n#Timezone: UTC\r\n"
    "#Fields: x-event-datetime x-event-class x-event-action x-event-severity x-ip x-event-msg\r\n";

// Header blocks of both formats, some short, with damaged lines among them.
TLogGenOptions MixedLog(std::uint64_t seed, std::uint64_t bytes, std::uint32_t minBlockLines,
                        std::uint32_t maxBlockLines) {
  TLogGenOptions options;
  options.Seed = seed;
  options.TargetBytes = bytes;
  options.LegacyBlockPercent = 30;
  options.MalformedPerMille = 20;
  options.MinBlockLines = minBlockLines;
  options.MaxBlockLines = maxBlockLines;
  return options;
}

}  // namespace

TEST_F(ZellogCat, GeneratedLogGivesOneValidLinePerRecordAndError) {
  const fs::path path = Dir / "generated.log";
  const TLogGenStats stats = WriteLogFile(path, MixedLog(7, 3u << 20, 50, 600));
  ASSERT_GT(stats.ErrorLines, 0u);
  ASSERT_GT(stats.LegacyBlocks, 0u);

  const TCatResult result = Cat({FileArgument(path)});
  EXPECT_EQ(result.Status, CatExitSuccess);
  EXPECT_EQ(result.Err, "");
  // More than one buffer's worth: the output went out in several writes.
  EXPECT_GT(result.OutWrites, 1);

  std::uint64_t records = 0;
  std::uint64_t errors = 0;
  const std::string fileField = FileMember(path);
  for (const std::string& line : Lines(result.Out)) {
    ASSERT_TRUE(TJsonChecker(line).Check()) << line;
    ASSERT_EQ(line.rfind(fileField, 0), 0u) << line;
    if (IsErrorLine(line)) {
      ++errors;
      continue;
    }
    const std::string lineNr = ",\"LineNr\":" + std::to_string(records) + "}";
    ASSERT_TRUE(line.ends_with(lineNr)) << line;
    ++records;
  }
  EXPECT_EQ(records, stats.DataLines);
  EXPECT_EQ(errors, stats.ErrorLines);
}

TEST_F(ZellogCat, SampleLogs) {
  const fs::path examples = ZELLOG_EXAMPLE_LOGS;
  const TCatResult result = Cat({FileArgument(examples / "mail1-20100401.log"),
                                 FileArgument(examples / "mail1-20100402-damaged.log"),
                                 FileArgument(examples / "mail2-20090315.log")});
  EXPECT_EQ(result.Status, CatExitSuccess);
  EXPECT_EQ(result.Err, "");
  std::map<std::string, std::pair<int, int>> counts;  // file name -> records, errors
  for (const std::string& line : Lines(result.Out)) {
    ASSERT_TRUE(TJsonChecker(line).Check()) << line;
    const std::string name = fs::path(line.substr(9, line.find('"', 9) - 9)).filename().string();
    (IsErrorLine(line) ? counts[name].second : counts[name].first)++;
  }
  EXPECT_EQ(counts["mail1-20100401.log"], std::make_pair(13, 0));
  EXPECT_EQ(counts["mail1-20100402-damaged.log"], std::make_pair(4, 4));
  EXPECT_EQ(counts["mail2-20090315.log"], std::make_pair(11, 0));
  // Percent-encoded UTF-8 subjects and Windows-1252 free text both arrive as UTF-8.
  EXPECT_NE(result.Out.find("\"Subject\":\"Zaproszenie na spotkanie \xE2\x80\x93 \xC5\x81\xC3\xB3" "d\xC5\xBA\""),
            std::string::npos);
  EXPECT_NE(result.Out.find("'Pr\xC3\xA4sentation_Q2.scr' replaced by a notice \xE2\x80\x93 blocked"),
            std::string::npos);
}

TEST_F(ZellogCat, RefusedFilesAreReportedAndSkipped) {
  const fs::path first = WriteFile("first.log", CurrentHeader + "2010-04-01T10:00:00 Pass - Info - one\r\n");
  const fs::path foreign = WriteFile("foreign.log", "#Software: Something Else\r\n");
  const fs::path empty = WriteFile("empty.log", "");
  const fs::path last = WriteFile("last.log", CurrentHeader + "2010-04-01T11:00:00 Pass - Info - two\r\n");
  const TCatResult result = Cat({FileArgument(first), FileArgument(foreign), FileArgument(Dir / "missing.log"),
                                 FileArgument(empty), FileArgument(last)});
  EXPECT_EQ(result.Status, CatExitUnreadable);
  const std::vector<std::string> lines = Lines(result.Out);
  ASSERT_EQ(lines.size(), 2u) << result.Out;
  EXPECT_NE(lines[0].find("\"Message\":\"one\""), std::string::npos);
  EXPECT_NE(lines[1].find("\"Message\":\"two\""), std::string::npos);
  const std::vector<std::string> messages = Lines(result.Err);
  ASSERT_EQ(messages.size(), 3u) << result.Err;
  EXPECT_NE(messages[0].find("foreign.log: not a log file"), std::string::npos) << messages[0];
  EXPECT_NE(messages[1].find("missing.log"), std::string::npos) << messages[1];
  EXPECT_NE(messages[2].find("empty.log: not a log file"), std::string::npos) << messages[2];
}

TEST_F(ZellogCat, NonAsciiFileNames) {
  const fs::path path = Dir / fs::path(u8"journal-\u00E9\u2615.log");
  std::ofstream(path, std::ios::binary) << CurrentHeader + "2010-04-01T10:00:00 Pass - Info - ok\r\n";
  const TCatResult result = Cat({FileArgument(path)});
  EXPECT_EQ(result.Status, CatExitSuccess) << result.Err;
  EXPECT_EQ(result.Out.rfind(FileMember(path), 0), 0u) << result.Out;
  EXPECT_NE(result.Out.find("journal-\xC3\xA9\xE2\x98\x95.log"), std::string::npos);
}

TEST_F(ZellogCat, CodePageOption) {
  const fs::path path = WriteFile("cp.log", CurrentHeader + "2010-04-01T10:00:00 Pass - Info - caf\xE9 \x80\r\n");
  const auto message = [&](std::vector<TCatArgument> arguments) {
    arguments.push_back(FileArgument(path));
    const TCatResult result = Cat(arguments);
    EXPECT_EQ(result.Status, CatExitSuccess) << result.Err;
    const std::size_t start = result.Out.find("\"Message\":\"");
    return start == std::string::npos ? result.Out : result.Out.substr(start + 11, result.Out.find('"', start + 11) - start - 11);
  };
  EXPECT_EQ(message({}), "caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(message({Option("--codepage"), Option("28591")}), "caf\xC3\xA9 \xC2\x80");
  EXPECT_EQ(message({Option("--codepage=65001")}), "caf\xEF\xBF\xBD \xEF\xBF\xBD");
}

TEST_F(ZellogCat, UsageAndOptionErrors) {
  TCatResult help = Cat({Option("--help")});
  EXPECT_EQ(help.Status, CatExitSuccess);
  EXPECT_EQ(help.Out.rfind("Usage: zellogcat", 0), 0u);

  EXPECT_EQ(Cat({}).Status, CatExitUsage);
  EXPECT_EQ(Cat({Option("--verbose"), Option("x.log")}).Status, CatExitUsage);
  EXPECT_EQ(Cat({Option("x.log"), Option("--codepage")}).Status, CatExitUsage);
  EXPECT_EQ(Cat({Option("--codepage=12a"), Option("x.log")}).Status, CatExitUsage);
  for (const char* jobs : {"-j0", "-j", "--jobs=x", "-j257"})
    EXPECT_EQ(Cat({Option(jobs), Option("x.log")}).Status, CatExitUsage) << jobs;
  const TCatResult unknown = Cat({Option("--codepage"), Option("70000"), Option("x.log")});
  EXPECT_EQ(unknown.Status, CatExitUsage);
  EXPECT_NE(unknown.Err.find("code page 70000 is not available"), std::string::npos) << unknown.Err;

  // After "--" an argument that looks like an option is a file name.
  const TCatResult afterDashes = Cat({Option("--"), Option("--help")});
  EXPECT_EQ(afterDashes.Status, CatExitUnreadable);
  EXPECT_EQ(afterDashes.Out, "");
  EXPECT_NE(afterDashes.Err.find("--help"), std::string::npos) << afterDashes.Err;
}

TEST_F(ZellogCat, FailedOutputIsAnError) {
  const fs::path path = WriteFile("a.log", CurrentHeader + "2010-04-01T10:00:00 Pass - Info - x\r\n");
  std::string err;
  const int status = RunZellogcat({FileArgument(path)}, [](std::string_view) { return false; },
                                  [&](std::string_view text) {
                                    err.append(text);
                                    return true;
                                  });
  EXPECT_EQ(status, CatExitUnreadable);
  EXPECT_NE(err.find("cannot write the output"), std::string::npos) << err;
}

// Want of memory on the way (here met by the output) ends the run with a
// message and a failing status, with one thread or several.
TEST_F(ZellogCat, WantOfMemoryIsReported) {
  const fs::path path = Dir / "a.log";
  WriteLogFile(path, MixedLog(13, 600u << 10, 20, 300));
  for (const char* jobs : {"-j1", "-j2"}) {
    std::string err;
    const int status = RunZellogcat({Option(jobs), FileArgument(path)},
                                    [](std::string_view) -> bool { throw std::bad_alloc(); },
                                    [&](std::string_view text) {
                                      err.append(text);
                                      return true;
                                    });
    EXPECT_EQ(status, CatExitUnreadable) << jobs;
    EXPECT_EQ(err, "zellogcat: out of memory\n") << jobs;
  }
}

// Any number of threads gives the output of one, byte for byte and with the
// messages in the same places: large files are cut into parts across header
// blocks that change the field list, the time zone and the format, with
// damaged lines among them, and a file may come twice.
TEST_F(ZellogCat, ThreadsGiveTheOutputOfOne) {
  const fs::path big = Dir / "big.log";
  ASSERT_GT(WriteLogFile(big, MixedLog(11, 3u << 20, 20, 300)).ErrorLines, 0u);
  const fs::path small = Dir / "small.log";
  WriteLogFile(small, MixedLog(12, 300u << 10, 20, 300));
  const fs::path foreign = WriteFile("foreign.log", "#Software: Something Else\r\n");

  // Output in pieces too, as a program takes it that can write them at once.
  const auto run = [&](const std::string& jobs, int& status, bool inPieces = false) {
    std::string all;
    TCatGatherSink gather;
    if (inPieces)
      gather = [&](std::span<const std::string_view> pieces) {
        for (const std::string_view piece : pieces) all.append(piece);
        return true;
      };
    status = RunZellogcat({Option("-j" + jobs), FileArgument(big), FileArgument(foreign), FileArgument(Dir / "missing.log"),
                           FileArgument(small), FileArgument(big)},
                          [&](std::string_view text) {
                            all.append(text);
                            return true;
                          },
                          [&](std::string_view text) {
                            all.append("<stderr>").append(text);
                            return true;
                          },
                          gather);
    return all;
  };
  int oneStatus = 0;
  const std::string one = run("1", oneStatus);
  EXPECT_EQ(oneStatus, CatExitUnreadable);
  ASSERT_GT(one.size(), 6u << 20);
  for (const bool inPieces : {false, true}) {
    for (const char* jobs : {"2", "3", "8"}) {
      int status = 0;
      const std::string many = run(jobs, status, inPieces);
      EXPECT_EQ(status, oneStatus) << jobs;
      ASSERT_EQ(many.size(), one.size()) << jobs;
      EXPECT_TRUE(many == one) << jobs << " threads" << (inPieces ? " in pieces" : "") << " differ first at byte "
                               << std::mismatch(one.begin(), one.end(), many.begin()).first - one.begin();
    }
  }
}

// Lines longer than what a part reads past its cut, and one longer than a
// part's view after a header block that reorders the fields: the parts still
// give the output of one thread.
TEST_F(ZellogCat, LongLinesAcrossCuts) {
  const std::string time = "2010-04-01T10:00:00";
  std::string log = CurrentHeader;
  for (int i = 0; i < 2000; ++i) log += time + " Pass - Info 10.0.0.1 short " + std::to_string(i) + "\r\n";
  for (int i = 0; i < 120; ++i) log += time + " Pass - Info 10.0.0.2 " + std::string(10000 + i, 'x') + "\r\n";
  log += "#Software: Tarnvel ZEL Corvane Edition\r\n#Version: 2.0\r\n"
         "#Fields: x-event-class x-event-datetime x-event-action x-event-severity x-ip x-event-msg\r\n";
  log += "Pass " + time + " - Info 10.0.0.3 " + std::string(17u << 20, 'y') + "\r\n";
  for (int i = 0; i < 2000; ++i) log += "Pass " + time + " - Info 10.0.0.4 after " + std::to_string(i) + "\r\n";
  const fs::path path = WriteFile("long.log", log);

  const TCatResult one = Cat({Option("-j1"), FileArgument(path)});
  ASSERT_EQ(one.Status, CatExitSuccess) << one.Err;
  EXPECT_EQ(std::count(one.Out.begin(), one.Out.end(), '\n'), 2000 + 120 + 1 + 2000);
  EXPECT_NE(one.Out.find("\"Message\":\"after 1999\",\"LineNr\":4120}"), std::string::npos);
  for (const char* jobs : {"-j2", "-j3"}) {
    const TCatResult many = Cat({Option(jobs), FileArgument(path)});
    EXPECT_EQ(many.Status, CatExitSuccess) << jobs;
    EXPECT_TRUE(many.Out == one.Out) << jobs << " differs first at byte "
                                     << std::mismatch(one.Out.begin(), one.Out.end(), many.Out.begin()).first -
                                            one.Out.begin();
  }
}
