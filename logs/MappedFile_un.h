#pragma once
// The platform seam of the log layer: a read-only file read through views of
// it, the system's error texts and the narrow/wide file name conversions.
// Win32 maps the views: a mapped file cannot be truncated there. POSIX reads
// them into one reused buffer: a mapping there faults (SIGBUS) when another
// process truncates the file. The fuzz build serves a file from memory.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#ifdef _WIN32
using TNativePath = std::wstring;
#else
using TNativePath = std::string;
#endif

TNativePath NativePath(const std::u16string& path);
TNativePath NativePath(const std::string& path);
// A UTF-16 file name in the system's narrow encoding, for messages.
std::string NarrowFileName(const std::u16string& path);

// The system's text for an error code without trailing blanks, line breaks and
// dots; empty when the system has none.
std::string SystemErrorText(std::uint32_t errorCode);

// "Could not <action>. Error <code in decimal> (<system text>)."
inline std::string FormatSystemError(std::string_view action, std::uint32_t errorCode) {
  return "Could not " + std::string(action) + ". Error " + std::to_string(errorCode) + " (" +
         SystemErrorText(errorCode) + ").";
}

// The alignment every view offset must have.
std::uint32_t AllocationGranularity();

// The code Open reports for a path that names something other than a regular
// file on a disk (a FIFO or pipe, a device, a socket), closed before a byte of
// it is read: an application-defined code, which SystemErrorText knows.
inline constexpr std::uint32_t NotRegularFileErrorCode = 0x20000001;

enum class TFileSharing { None, Read, Write, ReadWrite };

// Whether count bytes from offset lie within the first size bytes; written so
// that offset + count cannot overflow.
inline bool ViewWithin(std::uint64_t offset, std::uint32_t count, std::uint64_t size) noexcept {
  return offset <= size && count <= size - offset;
}

class TMappedFile {
public:
  // A code a mapping failure is reported with when a test injects one: the
  // system's "not enough memory" code.
  static const std::uint32_t InjectedFailureCode;

  TMappedFile() = default;
  ~TMappedFile();
  TMappedFile(const TMappedFile&) = delete;
  TMappedFile& operator=(const TMappedFile&) = delete;

  // Each returns 0 or the system's error code of the failed call.
  std::uint32_t Open(const TNativePath& path, TFileSharing sharing);
  std::uint32_t QuerySize(std::uint64_t& size);
  // Prepares views of the first size bytes; size must not be 0.
  std::uint32_t CreateMapping(std::uint64_t size);
  // Makes count bytes from offset readable at data (any offset) and replaces
  // the previous view. available is count, or fewer when the file has shrunk
  // below offset + count since it was sized; only those bytes are readable.
  std::uint32_t MapView(std::uint64_t offset, std::uint32_t count, const char*& data, std::uint32_t& available);
  void UnmapView() noexcept;
  // Releases view, mapping and file; the first failure's code, or 0.
  std::uint32_t Close() noexcept;
  // Reads up to count bytes from the current file position.
  std::uint32_t Read(char* buffer, std::uint32_t count, std::uint32_t& bytesRead);

private:
#if defined(ZELLOG_MEMORY_FILES)
  bool IsOpen = false;
  std::uint64_t ReadPosition = 0;
  std::uint64_t ViewOffset = 0;
  std::size_t ViewLength = 0;
#elif defined(_WIN32)
  void* FileHandle = reinterpret_cast<void*>(static_cast<std::intptr_t>(-1));
  void* MappingHandle = nullptr;
  std::uint64_t MappingSize = 0;
  void* ViewStart = nullptr;
  std::size_t ViewLength = 0;
#else
  int FileDescriptor = -1;
  std::uint64_t MappingSize = 0;
  std::unique_ptr<char[]> ViewBuffer;
  std::uint32_t ViewBufferSize = 0;
#endif
};

#if defined(ZELLOG_MEMORY_FILES)
// The one file every path opens in the memory build: size bytes at data,
// which stay the caller's and must outlive every reader of them. Bytes outside
// the current view are poisoned for AddressSanitizer, so that a read past a
// view is caught at the exact byte (at the end; within 8 bytes at the start).
// Call again with nullptr before releasing the bytes.
void SetMemoryFile(const char* data, std::size_t size) noexcept;
#endif
