#include "MappedFile_un.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const std::uint32_t TMappedFile::InjectedFailureCode = ENOMEM;

namespace {

std::uint32_t LastError() { return static_cast<std::uint32_t>(errno); }

// Calls readSome(destination offset, bytes wanted) until count bytes are in or
// the file ends, resuming after a signal; the error, or 0.
template <class F>
std::uint32_t ReadFully(std::uint32_t count, std::uint32_t& done, F&& readSome) {
  done = 0;
  while (done < count) {
    const ssize_t n = readSome(done, count - done);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return LastError();
    }
    if (n == 0)
      break;
    done += static_cast<std::uint32_t>(n);
  }
  return 0;
}

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
  const std::uint32_t error = ReadFully(count, available, [&](std::uint32_t at, std::uint32_t wanted) {
    return pread(FileDescriptor, ViewBuffer.get() + at, wanted, static_cast<off_t>(offset + at));
  });
  if (error != 0)
    return error;
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
  return ReadFully(count, bytesRead, [&](std::uint32_t at, std::uint32_t wanted) {
    return read(FileDescriptor, buffer + at, wanted);
  });
}
