#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "FastTextReader_un.h"
#include "MappedFile_un.h"
#include "TestFiles.h"

namespace {

// Lines as the format defines them: only CR LF ends a line, and a final CR LF
// makes no empty last line.
std::vector<std::string> ExpectedLines(const std::string& content) {
  std::vector<std::string> lines;
  std::size_t begin = 0;
  while (begin < content.size()) {
    const std::size_t end = content.find("\r\n", begin);
    if (end == std::string::npos) {
      lines.push_back(content.substr(begin));
      break;
    }
    lines.push_back(content.substr(begin, end - begin));
    begin = end + 2;
  }
  return lines;
}

std::vector<std::string> ReadAll(const std::string& path, std::uint32_t viewSize) {
  TFastTextReaderOptions options;
  options.ViewSize = viewSize;
  TFastTextReader reader(path, fmShareDenyNone, options);
  std::vector<std::string> lines;
  while (!reader.Eof())
    lines.emplace_back(reader.ReadLineView());
  EXPECT_EQ(reader.FileSize(), reader.Position());
  EXPECT_THROW(reader.ReadLine(), EFastTextReaderError);
  return lines;
}

constexpr std::uint32_t ViewSizes[] = {1, 2, 3, 5, 7, 64, 0};

TEST(FastTextReader, SplitsOnlyAtCrLf) {
  TTempDir dir;
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"A\r\nB", {"A", "B"}},
      {"A\r\n", {"A"}},
      {"\r\n\r\n", {"", ""}},
      {"a\nb\rc\n\r\r\nd", {"a\nb\rc\n\r", "d"}},
      {"one\ntwo\nthree\n", {"one\ntwo\nthree\n"}},
      {"\r", {"\r"}},
      {"x\r\r\n\n\r\n", {"x\r", "\n"}},
  };
  for (const auto& [content, expected] : cases) {
    const std::string path = dir.Write("case.txt", content);
    for (const std::uint32_t viewSize : ViewSizes)
      EXPECT_EQ(expected, ReadAll(path, viewSize)) << "view size " << viewSize << " for " << content;
  }
}

// Random files of CR, LF and letters, read through views of many sizes, put
// CR LF pairs and long lines across every kind of view boundary.
TEST(FastTextReader, AnyViewSizeGivesTheSameLines) {
  TTempDir dir;
  std::mt19937 random(12345);
  const char alphabet[] = {'A', 'b', '\r', '\n', '\r', '\n'};
  for (int round = 0; round < 60; ++round) {
    std::string content(random() % 300, ' ');
    for (char& c : content)
      c = alphabet[random() % sizeof alphabet];
    if (round % 10 == 0)
      content += std::string(1000, 'L') + "\r\n"; // one line far longer than a view
    const std::string path = dir.Write("random.txt", content);
    const std::vector<std::string> expected = ExpectedLines(content);
    for (const std::uint32_t viewSize : ViewSizes)
      ASSERT_EQ(expected, ReadAll(path, viewSize)) << "view size " << viewSize << ", round " << round;
  }
}

TEST(FastTextReader, CrLfAcrossViewsAndReusedBuffer) {
  TTempDir dir;
  // With views of 4 bytes the CR of the first line is byte 3 and its LF byte 4.
  const std::string path = dir.Write("split.txt", "abc\r\ndefghijk\r\nl");
  TFastTextReaderOptions options;
  options.ViewSize = 4;
  TFastTextReader reader(path, fmShareDenyNone, options);
  std::string line;
  reader.ReadLine(line);
  EXPECT_EQ("abc", line);
  reader.ReadLine(line);
  EXPECT_EQ("defghijk", line);
  EXPECT_EQ("l", reader.ReadLine());
  EXPECT_TRUE(reader.Eof());
}

TEST(FastTextReader, EmptyFileEvenWhenItGrows) {
  TTempDir dir;
  const std::string path = dir.Write("empty.txt", "");
  TFastTextReader reader(path, fmShareDenyNone);
  dir.Append("empty.txt", "late line\r\n");
  EXPECT_TRUE(reader.Eof());
  try {
    reader.ReadLine();
    FAIL() << "no error";
  } catch (const EFastTextReaderError& error) {
    EXPECT_STREQ("Cannot read over EOF.", error.what());
    EXPECT_EQ("EFastTextReaderError", error.ClassName());
  }
}

TEST(FastTextReader, SeesOnlyTheSizeAtCreation) {
  TTempDir dir;
  const std::string path = dir.Write("grow.txt", "first\r\nsecond");
  TFastTextReaderOptions options;
  options.ViewSize = 3;
  TFastTextReader reader(path, fmShareDenyNone, options);
  dir.Append("grow.txt", " continued\r\nthird\r\n");
  EXPECT_EQ("first", reader.ReadLine());
  EXPECT_EQ("second", reader.ReadLine());
  EXPECT_TRUE(reader.Eof());
}

TEST(FastTextReader, MissingFileGivesErrorTwo) {
  TTempDir dir;
  try {
    TFastTextReader reader(dir.PathOf("missing.txt"), fmShareDenyNone);
    FAIL() << "no error";
  } catch (const EFastTextReaderError& error) {
    EXPECT_FALSE(SystemErrorText(2).empty());
    EXPECT_EQ("Could not open file. Error 2 (" + SystemErrorText(2) + ").", error.what());
  }
  EXPECT_THROW(TFastTextReader(dir.PathOf("missing.txt"), 0x50), ERangeError);
}

TEST(FastTextReader, WideFileName) {
  TTempDir dir;
  const std::string path = dir.Write("wide.txt", "w\r\n");
  TFastTextReader reader(std::u16string(path.begin(), path.end()), fmShareDenyWrite);
  EXPECT_EQ("w", reader.ReadLine());
}

TEST(FastTextReader, FailedViewMappingEndsTheFile) {
  TTempDir dir;
  const std::string path = dir.Write("fail.txt", "abcd\r\nefgh\r\nijkl\r\n");
  TFastTextReaderOptions options;
  options.ViewSize = 8;
  options.FailViewMappingAt = 8;
  TFastTextReader reader(path, fmShareDenyNone, options);
  EXPECT_EQ("abcd", reader.ReadLine());
  try {
    reader.ReadLine();
    FAIL() << "no error";
  } catch (const EFastTextReaderError& error) {
    const std::uint32_t code = TMappedFile::InjectedFailureCode;
    EXPECT_EQ("Could not map next view of file. Error " + std::to_string(code) + " (" + SystemErrorText(code) + ").",
              error.what());
  }
  EXPECT_TRUE(reader.Eof());
  EXPECT_THROW(reader.ReadLine(), EFastTextReaderError);
}

// A view reaching past the mapping is refused alike on every platform, also
// where offset + count would overflow.
TEST(MappedFile, ViewOutsideMappingRefused) {
  TTempDir dir;
  TMappedFile file;
  ASSERT_EQ(0u, file.Open(NativePath(dir.Write("m.txt", "0123456789")), TFileSharing::ReadWrite));
  ASSERT_EQ(0u, file.CreateMapping(10));
  const char* data = nullptr;
  std::uint32_t available = 0;
  ASSERT_EQ(0u, file.MapView(4, 6, data, available));
  EXPECT_EQ("456789", std::string(data, available));
  EXPECT_NE(0u, file.MapView(4, 7, data, available));
  EXPECT_EQ(0u, available);
  EXPECT_NE(0u, file.MapView(11, 0, data, available));
  EXPECT_NE(0u, file.MapView(~std::uint64_t{0}, 2, data, available));
  EXPECT_EQ(0u, file.Close());
}

TEST(FastTextReader, ProductionViewSize) {
  // Mapped views are large on 64-bit Windows, a few MiB where address space is
  // scarce, and small where a view is a copy into a buffer.
  struct TCase {
    std::uint32_t Granularity;
    std::uint32_t Win64, Win32, Posix;
  };
  constexpr TCase Cases[] = {
      {65536, 8388608, 2097152, 1048576},
      {4096, 8388608, 2097152, 1048576},
      {3000, 8388000, 2097000, 1047000},
      {67108864, 67108864, 67108864, 67108864},
  };
  for (const TCase& c : Cases) {
#ifdef _WIN32
    const std::uint32_t expected = sizeof(void*) >= 8 ? c.Win64 : c.Win32;
#else
    const std::uint32_t expected = c.Posix;
#endif
    EXPECT_EQ(expected, TFastTextReader::ViewSizeForGranularity(c.Granularity)) << c.Granularity;
  }
  TTempDir dir;
  TFastTextReader reader(dir.Write("v.txt", "v"), fmShareDenyNone);
  EXPECT_EQ(TFastTextReader::ViewSizeForGranularity(AllocationGranularity()), reader.ViewSize());
}

// Opt-in (ZELLOG_BIG_FILE_TEST=1): a sparse file above 4 GiB whose last lines
// lie beyond the 32-bit range.
TEST(FastTextReader, FileAbove4GiB) {
  const char* enabled = std::getenv("ZELLOG_BIG_FILE_TEST");
  if (enabled == nullptr || std::string(enabled) != "1")
    GTEST_SKIP() << "set ZELLOG_BIG_FILE_TEST=1";
  TTempDir dir;
  const std::string path = dir.Write("big.txt", "");
  constexpr std::uint64_t LineSpacing = 1ull << 24; // 16 MiB of zero bytes per line
  constexpr std::uint64_t Lines = 260;              // 4.06 GiB
  {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    for (std::uint64_t i = 1; i <= Lines; ++i) {
      file.seekp(static_cast<std::streamoff>(i * LineSpacing - 2));
      file.write("\r\n", 2);
    }
    file.write("tail", 4);
  }
  TFastTextReader reader(path, fmShareDenyNone);
  ASSERT_GT(reader.FileSize(), 1ull << 32);
  std::uint64_t count = 0;
  std::string line;
  while (!reader.Eof()) {
    reader.ReadLine(line);
    ++count;
    if (count <= Lines) {
      ASSERT_EQ(LineSpacing - 2, line.size()) << "line " << count;
    }
  }
  EXPECT_EQ(Lines + 1, count);
  EXPECT_EQ("tail", line);
  EXPECT_EQ(Lines * LineSpacing + 4, reader.Position());
}

} // namespace
