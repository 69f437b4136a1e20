#pragma once
// The heap hook of the test build of zellogdb.dll: its global operator new
// counts every allocation and throws std::bad_alloc for the chosen one.
#include <windows.h>

#include <atomic>
#include <cstdint>

struct TZelLogHeapHook {
  std::atomic<std::uint64_t> Counted{0};
  std::atomic<std::uint64_t> FailAt{0};  // 1-based among Counted; 0 fails none
  std::atomic<std::int64_t> Live{0};     // blocks allocated and not yet deleted
  std::atomic<bool> Injected{false};
  void* InjectedAt[24] = {};  // the failed allocation's call stack
  unsigned short InjectedFrames = 0;
};

// Exported by the test build only.
using TZelLogHeapHookEntry = TZelLogHeapHook* (*)();
