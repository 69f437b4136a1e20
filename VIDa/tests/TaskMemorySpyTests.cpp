// The spy that every DLL-level test relies on must see what it claims to.
#include <gtest/gtest.h>

#include "ConsumerTestSupport.h"

namespace {
const void* ImageEnd(HMODULE module) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const BYTE*>(module) + dos->e_lfanew);
  return reinterpret_cast<const BYTE*>(module) + nt->OptionalHeader.SizeOfImage;
}

TEST(TaskMemorySpyTests, SeesUnfreedTaskMemoryAndBstrsWithTheirSizes) {
  TTaskMemorySpy& spy = TTaskMemorySpy::Instance();
  const std::uint64_t mark = spy.Mark();
  void* block = CoTaskMemAlloc(123);
  BSTR text = SysAllocString(L"abc");
  const auto unfreed = spy.Unfreed(mark);
  ASSERT_EQ(unfreed.size(), 2u);
  EXPECT_TRUE(unfreed[0].Size == 123 || unfreed[1].Size == 123);
  EXPECT_NE(unfreed[0].Caller.find(".exe+0x"), std::string::npos) << unfreed[0].Caller;
  CoTaskMemFree(block);
  SysFreeString(text);
  EXPECT_TRUE(spy.Unfreed(mark).empty());
}

TEST(TaskMemorySpyTests, FailsOnlyTheChosenAllocationMadeThroughTheModule) {
  TTaskMemorySpy& spy = TTaskMemorySpy::Instance();
  const HMODULE self = GetModuleHandleW(nullptr);
  spy.InjectFailure(self, ImageEnd(self), 2);
  void* first = CoTaskMemAlloc(8);
  void* second = CoTaskMemAlloc(8);
  void* third = CoTaskMemAlloc(8);
  spy.StopInjecting();
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_NE(third, nullptr);
  EXPECT_TRUE(spy.Injected());
  EXPECT_EQ(spy.CountedAllocations(), 3u);
  CoTaskMemFree(first);
  CoTaskMemFree(third);

  // A range no stack passes through counts nothing.
  static const char elsewhere[16] = {};
  spy.InjectFailure(elsewhere, elsewhere + sizeof elsewhere, 1);
  void* unaffected = CoTaskMemAlloc(8);
  spy.StopInjecting();
  EXPECT_NE(unaffected, nullptr);
  EXPECT_EQ(spy.CountedAllocations(), 0u);
  CoTaskMemFree(unaffected);
}
}  // namespace
