#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "ComPtr.h"
#include "TestProvider.h"
#include "TraceCapture.h"

namespace {

// Captures the debugger output; a test switches the trace on itself.
class TraceTest : public testing::Test {
protected:
  TTraceCapture Capture{false};
  std::vector<std::string>& Lines = Capture.Lines;
};

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }
bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

TEST_F(TraceTest, PublishedCallsAreTracedWithTheirResults) {
  OleDbTracing = true;
  TComPtr<IUnknown> unknown;
  ASSERT_EQ(CreateTestProvider(nullptr, IID_IUnknown, unknown.PutVoid()), S_OK);
  ASSERT_EQ(Lines.size(), 1u);
  EXPECT_TRUE(StartsWith(Lines[0], "zellogdb: IClassFactory::CreateInstance({00000000-0000-0000-C000-000000000046}) on "))
      << Lines[0];
  EXPECT_TRUE(EndsWith(Lines[0], " -> 0x00000000")) << Lines[0];

  Lines.clear();
  TComPtr<IPersist> persist;
  ASSERT_EQ(unknown->QueryInterface(IID_IPersist, persist.PutVoid()), S_OK);
  CLSID clsid;
  EXPECT_EQ(persist->GetClassID(&clsid), S_OK);
  EXPECT_EQ(persist->GetClassID(nullptr), E_INVALIDARG);
  IUnknown* none = nullptr;
  EXPECT_EQ(unknown->QueryInterface(IID_IRowset, reinterpret_cast<void**>(&none)), E_NOINTERFACE);

  // The refused interface also gets the data source's own debug line first.
  ASSERT_EQ(Lines.size(), 5u);
  EXPECT_TRUE(StartsWith(Lines[0], "zellogdb: QueryInterface({0000010C-0000-0000-C000-000000000046}) on TTestDataSource@"))
      << Lines[0];
  EXPECT_TRUE(StartsWith(Lines[1], "zellogdb: TOleDbDatasource::GetClassID() on TTestDataSource@")) << Lines[1];
  EXPECT_TRUE(EndsWith(Lines[1], " -> 0x00000000")) << Lines[1];
  EXPECT_TRUE(EndsWith(Lines[2], " -> 0x80070057")) << Lines[2];
  EXPECT_TRUE(StartsWith(Lines[4], "zellogdb: QueryInterface({0C733A7C-2A1C-11CE-ADE5-00AA0044773D}) on "))
      << Lines[4];
  EXPECT_TRUE(EndsWith(Lines[4], " -> 0x80004002")) << Lines[4];
}

TEST_F(TraceTest, NothingIsTracedWhenOff) {
  TComPtr<IPersist> persist;
  ASSERT_EQ(CreateTestProvider(nullptr, IID_IPersist, persist.PutVoid()), S_OK);
  CLSID clsid;
  EXPECT_EQ(persist->GetClassID(&clsid), S_OK);
  EXPECT_TRUE(Lines.empty());
}

}  // namespace
