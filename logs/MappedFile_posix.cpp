#include "MappedFile_un.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

const std::uint32_t TMappedFile::InjectedFailureCode = ENOMEM;

namespace {

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::uint32_t LastError() { return static_cast<std::uint32_t>(errno); }

} // namespace

// File names are bytes here; UTF-16 names are taken to mean UTF-8, the usual
// file name encoding. An unpaired surrogate becomes U+FFFD.
TNativePath NativePath(const std::u16string& path) {
  std::string result;
  result.reserve(path.size());
  for (std::size_t i = 0; i < path.size(); ++i) {
    char32_t c = path[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < path.size() && path[i + 1] >= 0xDC00 && path[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (path[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    AppendUtf8(result, c);
  }
  return result;
}

TNativePath NativePath(const std::string& path) { return path; }

std::string NarrowFileName(const std::u16string& path) { return NativePath(path); }

std::string SystemErrorText(std::uint32_t errorCode) {
  std::string text = std::strerror(static_cast<int>(errorCode));
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.'))
    text.pop_back();
  return text;
}

std::uint32_t AllocationGranularity() {
  const long pageSize = sysconf(_SC_PAGESIZE);
  return pageSize > 0 ? static_cast<std::uint32_t>(pageSize) : 4096u;
}

TMappedFile::~TMappedFile() { Close(); }

// Sharing has no meaning here: POSIX files are never locked against others.
std::uint32_t TMappedFile::Open(const TNativePath& path, TFileSharing) {
  FileDescriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (FileDescriptor < 0)
    return LastError();
  // As on Windows, a directory is no file to read.
  struct stat status {};
  if (fstat(FileDescriptor, &status) == 0 && S_ISDIR(status.st_mode)) {
    close(FileDescriptor);
    FileDescriptor = -1;
    return EISDIR;
  }
  return 0;
}

std::uint32_t TMappedFile::QuerySize(std::uint64_t& size) {
  struct stat status {};
  if (fstat(FileDescriptor, &status) != 0)
    return LastError();
  size = S_ISREG(status.st_mode) ? static_cast<std::uint64_t>(status.st_size) : 0;
  return 0;
}

std::uint32_t TMappedFile::CreateMapping(std::uint64_t size) {
  MappingSize = size;
  return 0;
}

std::uint32_t TMappedFile::MapView(std::uint64_t offset, std::uint32_t count, const char*& data) {
  UnmapView();
  if (offset > MappingSize || count > MappingSize - offset)
    return EINVAL;
  const std::uint64_t granularity = AllocationGranularity();
  const std::uint64_t alignedOffset = offset - offset % granularity;
  const std::size_t length = static_cast<std::size_t>(offset - alignedOffset) + count;
  void* start = mmap(nullptr, length, PROT_READ, MAP_SHARED, FileDescriptor, static_cast<off_t>(alignedOffset));
  if (start == MAP_FAILED)
    return LastError();
  ViewStart = start;
  ViewLength = length;
  data = static_cast<const char*>(start) + (offset - alignedOffset);
  return 0;
}

void TMappedFile::UnmapView() noexcept {
  if (ViewStart != nullptr)
    munmap(ViewStart, ViewLength);
  ViewStart = nullptr;
  ViewLength = 0;
}

std::uint32_t TMappedFile::Close() noexcept {
  UnmapView();
  MappingSize = 0;
  std::uint32_t error = 0;
  if (FileDescriptor >= 0 && close(FileDescriptor) != 0)
    error = LastError();
  FileDescriptor = -1;
  return error;
}

std::uint32_t TMappedFile::Read(char* buffer, std::uint32_t count, std::uint32_t& bytesRead) {
  bytesRead = 0;
  while (bytesRead < count) {
    const ssize_t n = read(FileDescriptor, buffer + bytesRead, count - bytesRead);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return LastError();
    }
    if (n == 0)
      break;
    bytesRead += static_cast<std::uint32_t>(n);
  }
  return 0;
}
