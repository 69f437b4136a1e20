#pragma once
// What the benchmarks need from the operating system: a raw scan of a file
// through memory mappings and the process's peak memory.
#include <cstdint>
#include <filesystem>

struct TRawScanResult {
  std::uint64_t Bytes = 0;
  std::uint64_t Lines = 0; // CR LF pairs, plus a last line without one
};

// Counts CR LF line ends with memchr over mapped windows of windowSize bytes
// (a multiple of the system's mapping granularity), unmapping each window
// before the next so that memory stays flat. Throws std::runtime_error.
TRawScanResult ScanCrLfMapped(const std::filesystem::path& path, std::uint32_t windowSize);

// Peak resident memory (working set) of this process so far, in bytes.
std::uint64_t PeakResidentBytes();
