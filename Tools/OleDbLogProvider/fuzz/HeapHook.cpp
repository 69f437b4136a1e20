// Linked into the test build of the DLL only: every operator new and delete
// of the provider, the toolkit and the C++ library inside the DLL comes here
// (the array, nothrow and sized forms of the library forward to these, the
// plain pair and the over-aligned pair).
#include "HeapHook.h"

#include <malloc.h>

#include <cstdlib>
#include <new>

namespace {
TZelLogHeapHook hook;
}

extern "C" TZelLogHeapHook* ZelLogHeapHook() { return &hook; }

namespace {
// Counts an allocation, and fails it when it is the chosen one.
void CountAllocation() {
  const std::uint64_t serial = ++hook.Counted;
  if (serial == hook.FailAt.load(std::memory_order_relaxed)) {
    hook.InjectedFrames = RtlCaptureStackBackTrace(1, 24, hook.InjectedAt, nullptr);
    hook.Injected = true;
    throw std::bad_alloc();
  }
}
}  // namespace

void* operator new(std::size_t size) {
  CountAllocation();
  void* block = std::malloc(size ? size : 1);
  if (!block) throw std::bad_alloc();
  ++hook.Live;
  return block;
}

void* operator new(std::size_t size, std::align_val_t alignment) {
  CountAllocation();
  void* block = _aligned_malloc(size ? size : 1, static_cast<std::size_t>(alignment));
  if (!block) throw std::bad_alloc();
  ++hook.Live;
  return block;
}

void operator delete(void* block) noexcept {
  if (!block) return;
  --hook.Live;
  std::free(block);
}

void operator delete(void* block, std::size_t) noexcept { operator delete(block); }

void operator delete(void* block, std::align_val_t) noexcept {
  if (!block) return;
  --hook.Live;
  _aligned_free(block);
}

void operator delete(void* block, std::size_t, std::align_val_t alignment) noexcept {
  operator delete(block, alignment);
}
