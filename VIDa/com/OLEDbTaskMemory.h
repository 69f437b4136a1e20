#pragma once
// Memory handed to consumers comes from the COM task allocator; until an
// out-parameter takes it (release()), a TTaskMemory owns it.
#include <windows.h>
#include <objbase.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "OLEDbError.h"

struct TTaskMemoryFree {
  void operator()(void* block) const noexcept { CoTaskMemFree(block); }
};

template <class T>
using TTaskMemory = std::unique_ptr<T, TTaskMemoryFree>;

// count zero-filled items of T; E_OUTOFMEMORY when they do not fit.
template <class T>
TTaskMemory<T[]> OleDbAllocArray(std::size_t count) {
  if (count > SIZE_MAX / sizeof(T)) throw EOleDbException(E_OUTOFMEMORY);
  TTaskMemory<T[]> items(static_cast<T*>(OleDbAlloc(count * sizeof(T))));
  std::memset(static_cast<void*>(items.get()), 0, count * sizeof(T));
  return items;
}
