// The file seam of the fuzz build: every path opens one file held in memory,
// so an input costs no file, no mapping and no page fault, and the sanitizer
// sees every byte outside the current view as out of bounds.
#include "MappedFile_un.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sanitizer/asan_interface.h>

const std::uint32_t TMappedFile::InjectedFailureCode = ENOMEM;

namespace {

const char* MemoryData = nullptr;
std::size_t MemorySize = 0;

void Poison(std::uint64_t offset, std::size_t count) noexcept {
  ASAN_POISON_MEMORY_REGION(MemoryData + offset, count);
}

void Unpoison(std::uint64_t offset, std::size_t count) noexcept {
  ASAN_UNPOISON_MEMORY_REGION(MemoryData + offset, count);
}

} // namespace

void SetMemoryFile(const char* data, std::size_t size) noexcept {
  if (MemoryData != nullptr)
    Unpoison(0, MemorySize);
  MemoryData = data;
  MemorySize = data != nullptr ? size : 0;
  if (MemoryData != nullptr)
    Poison(0, MemorySize);
}

TMappedFile::~TMappedFile() { Close(); }

std::uint32_t TMappedFile::Open(const TNativePath&, TFileSharing) {
  if (MemoryData == nullptr)
    return ENOENT;
  IsOpen = true;
  ReadPosition = 0;
  return 0;
}

std::uint32_t TMappedFile::QuerySize(std::uint64_t& size) {
  size = MemorySize;
  return 0;
}

std::uint32_t TMappedFile::CreateMapping(std::uint64_t) { return 0; }

std::uint32_t TMappedFile::MapView(std::uint64_t offset, std::uint32_t count, const char*& data,
                                   std::uint32_t& available) {
  UnmapView();
  available = 0;
  if (!IsOpen)
    return EBADF;
  if (!ViewWithin(offset, count, MemorySize))
    return EINVAL;
  Unpoison(offset, count);
  ViewOffset = offset;
  ViewLength = count;
  data = MemoryData + offset;
  available = count;
  return 0;
}

void TMappedFile::UnmapView() noexcept {
  if (ViewLength != 0)
    Poison(ViewOffset, ViewLength);
  ViewLength = 0;
}

std::uint32_t TMappedFile::Close() noexcept {
  UnmapView();
  IsOpen = false;
  return 0;
}

std::uint32_t TMappedFile::Read(char* buffer, std::uint32_t count, std::uint32_t& bytesRead) {
  bytesRead = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, MemorySize - ReadPosition));
  Unpoison(ReadPosition, bytesRead);
  std::memcpy(buffer, MemoryData + ReadPosition, bytesRead);
  Poison(ReadPosition, bytesRead);
  if (ViewLength != 0)
    Unpoison(ViewOffset, ViewLength);
  ReadPosition += bytesRead;
  return 0;
}
