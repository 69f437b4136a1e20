#include "MappedFile_un.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const std::uint32_t TMappedFile::InjectedFailureCode = ENOMEM;

namespace {

std::uint32_t LastError() { return static_cast<std::uint32_t>(errno); }

} // namespace

TMappedFile::~TMappedFile() { Close(); }

// Sharing has no meaning here: POSIX files are never locked against others.
// Opening never blocks (a FIFO would wait for a writer), and only a regular
// file is read: anything else may block, never end or change its size.
std::uint32_t TMappedFile::Open(const TNativePath& path, TFileSharing) {
  FileDescriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (FileDescriptor < 0)
    return LastError();
  struct stat status {};
  std::uint32_t error = 0;
  if (fstat(FileDescriptor, &status) != 0)
    error = LastError();
  else if (S_ISDIR(status.st_mode)) // as on Windows, a directory is no file to read
    error = EISDIR;
  else if (!S_ISREG(status.st_mode))
    error = NotRegularFileErrorCode;
  if (error != 0) {
    close(FileDescriptor);
    FileDescriptor = -1;
  }
  return error;
}

std::uint32_t TMappedFile::QuerySize(std::uint64_t& size) {
  struct stat status {};
  if (fstat(FileDescriptor, &status) != 0)
    return LastError();
  size = static_cast<std::uint64_t>(status.st_size);
  return 0;
}

std::uint32_t TMappedFile::CreateMapping(std::uint64_t size) {
  MappingSize = size;
  return 0;
}

std::uint32_t TMappedFile::MapView(std::uint64_t offset, std::uint32_t count, const char*& data,
                                   std::uint32_t& available) {
  available = 0;
  if (!ViewWithin(offset, count, MappingSize))
    return EINVAL;
  if (count > ViewBufferSize) {
    ViewBuffer.reset();
    ViewBuffer = std::make_unique_for_overwrite<char[]>(count);
    ViewBufferSize = count;
  }
  while (available < count) {
    const ssize_t n = pread(FileDescriptor, ViewBuffer.get() + available, count - available,
                            static_cast<off_t>(offset + available));
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return LastError();
    }
    if (n == 0)
      break;
    available += static_cast<std::uint32_t>(n);
  }
  data = ViewBuffer.get();
  return 0;
}

// The buffer is kept for the next view.
void TMappedFile::UnmapView() noexcept {}

std::uint32_t TMappedFile::Close() noexcept {
  ViewBuffer.reset();
  ViewBufferSize = 0;
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
