#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "MappedFile_un.h"
#include "TestFiles.h"

namespace {

// Both platforms refuse a view reaching past the mapping before asking the system.
TEST(MappedFile, ViewsStayInsideTheMapping) {
  TTempDir dir;
  const std::string path = dir.Write("ten.txt", "0123456789");
  TMappedFile file;
  ASSERT_EQ(0u, file.Open(NativePath(path), TFileSharing::Read));
  std::uint64_t size = 0;
  ASSERT_EQ(0u, file.QuerySize(size));
  ASSERT_EQ(10u, size);
  ASSERT_EQ(0u, file.CreateMapping(size));

  const char* data = nullptr;
  ASSERT_EQ(0u, file.MapView(3, 7, data));
  EXPECT_EQ("3456789", std::string(data, 7));
  EXPECT_NE(0u, file.MapView(3, 8, data));
  EXPECT_NE(0u, file.MapView(11, 0, data));
  EXPECT_NE(0u, file.MapView(UINT64_MAX, 2, data));
  EXPECT_EQ(0u, file.Close());
}

}  // namespace
