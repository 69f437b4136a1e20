#include "BenchPlatform.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

[[noreturn]] void Fail(const std::string& what, const std::filesystem::path& path) {
  throw std::runtime_error(what + " " + path.string() + ": " + std::strerror(errno));
}

}  // namespace

TRawScanResult ScanCrLfMapped(const std::filesystem::path& path, std::uint32_t windowSize) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) Fail("cannot open", path);
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    ::close(fd);
    Fail("cannot stat", path);
  }
  TRawScanResult result;
  result.Bytes = static_cast<std::uint64_t>(info.st_size);
  TCrLfCounter counter;
  for (std::uint64_t offset = 0; offset < result.Bytes; offset += windowSize) {
    const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(windowSize, result.Bytes - offset));
    void* view = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, static_cast<off_t>(offset));
    if (view == MAP_FAILED) {
      ::close(fd);
      Fail("cannot map", path);
    }
    const char* begin = static_cast<const char*>(view);
    counter.Scan(offset, begin, begin + length);
    ::munmap(view, length);
  }
  ::close(fd);
  result.Lines = counter.Lines(result.Bytes);
  return result;
}

std::uint64_t PeakResidentBytes() {
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
#ifdef __APPLE__
  return static_cast<std::uint64_t>(usage.ru_maxrss);
#else
  return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
#endif
}
