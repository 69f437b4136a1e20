#include "BenchPlatform.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace {

[[noreturn]] void Fail(const std::string& what, const std::filesystem::path& path) {
  throw std::runtime_error(what + " " + path.string() + ": error " + std::to_string(GetLastError()));
}

}  // namespace

TRawScanResult ScanCrLfMapped(const std::filesystem::path& path, std::uint32_t windowSize) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail("cannot open", path);
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) {
    CloseHandle(file);
    Fail("cannot size", path);
  }
  TRawScanResult result;
  result.Bytes = static_cast<std::uint64_t>(size.QuadPart);
  if (result.Bytes == 0) {
    CloseHandle(file);
    return result;
  }
  const HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) {
    CloseHandle(file);
    Fail("cannot map", path);
  }
  TCrLfCounter counter;
  for (std::uint64_t offset = 0; offset < result.Bytes; offset += windowSize) {
    const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(windowSize, result.Bytes - offset));
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, static_cast<DWORD>(offset >> 32),
                               static_cast<DWORD>(offset & 0xFFFFFFFFu), length);
    if (view == nullptr) {
      CloseHandle(mapping);
      CloseHandle(file);
      Fail("cannot map a view of", path);
    }
    const char* begin = static_cast<const char*>(view);
    counter.Scan(offset, begin, begin + length);
    UnmapViewOfFile(view);
  }
  CloseHandle(mapping);
  CloseHandle(file);
  result.Lines = counter.Lines(result.Bytes);
  return result;
}

std::uint64_t PeakResidentBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return counters.PeakWorkingSetSize;
}
