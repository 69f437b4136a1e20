#pragma once
// The process-wide OLE DB data conversion object. Every object tree of the
// process, on whatever thread, converts through the one object: it is created
// once, under a lock, on first use and kept until the library unloads.
#include <windows.h>
#include <oledb.h>
#include <msdadc.h>

#include <atomic>

namespace dataconvert_detail {
extern std::atomic<IDataConvert*> sharedConvert;
IDataConvert* CreateSharedConvert() noexcept;
}  // namespace dataconvert_detail

// The shared IDataConvert, created now if needed; null when the conversion
// library cannot be created (the next call tries again). The reference is
// borrowed: it stays valid until the library unloads, so callers neither
// AddRef nor Release it, and reading it takes no lock once it exists: every
// converted value asks for it.
inline IDataConvert* GetDataConvert() noexcept {
  if (IDataConvert* convert = dataconvert_detail::sharedConvert.load(std::memory_order_acquire)) return convert;
  return dataconvert_detail::CreateSharedConvert();
}
// Drops the shared reference. Only for the library's unload (and tests that
// own the whole process): nothing may be converting at the same time.
void ReleaseDataConvert() noexcept;
