#pragma once
// What the benchmarks need from the operating system: a raw scan of a file
// through memory mappings and the process's peak memory.
#include <cstdint>
#include <cstring>
#include <filesystem>

struct TRawScanResult {
  std::uint64_t Bytes = 0;
  std::uint64_t Lines = 0; // CR LF pairs, plus a last line without one
};

// Counts CR LF line ends over consecutive windows of one file; a CR at the
// end of one window pairs with an LF at the start of the next.
class TCrLfCounter {
public:
  void Scan(std::uint64_t offset, const char* begin, const char* end) noexcept {
    const char* p = begin;
    while ((p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) != nullptr) {
      if ((p > begin ? p[-1] : previous_) == '\r') {
        ++lines_;
        lastLineEnd_ = offset + static_cast<std::uint64_t>(p + 1 - begin);
      }
      ++p;
    }
    if (end > begin) previous_ = end[-1];
  }
  // The CR LF pairs, plus a last line without one.
  std::uint64_t Lines(std::uint64_t fileSize) const noexcept {
    return lines_ + (lastLineEnd_ != fileSize ? 1 : 0);
  }

private:
  char previous_ = 0;
  std::uint64_t lines_ = 0;
  std::uint64_t lastLineEnd_ = 0;
};

// Counts CR LF line ends with memchr over mapped windows of windowSize bytes
// (a multiple of the system's mapping granularity), unmapping each window
// before the next so that memory stays flat. Throws std::runtime_error.
TRawScanResult ScanCrLfMapped(const std::filesystem::path& path, std::uint32_t windowSize);

// Peak resident memory (working set) of this process so far, in bytes.
std::uint64_t PeakResidentBytes();
