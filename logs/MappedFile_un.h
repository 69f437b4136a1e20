#pragma once
// The platform seam of the log layer: a read-only file with an optional
// read-only mapping of it, the system's error texts and the narrow/wide file
// name conversions. Win32 on Windows, POSIX elsewhere.
#include <cstdint>
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

enum class TFileSharing { None, Read, Write, ReadWrite };

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
  // A read-only mapping of exactly size bytes; size must not be 0.
  std::uint32_t CreateMapping(std::uint64_t size);
  // Maps count bytes from offset (any offset: the view is mapped from the
  // granularity below it) and replaces the previous view; data points at the
  // byte at offset.
  std::uint32_t MapView(std::uint64_t offset, std::uint32_t count, const char*& data);
  void UnmapView() noexcept;
  // Releases view, mapping and file; the first failure's code, or 0.
  std::uint32_t Close() noexcept;
  // Reads up to count bytes from the current file position.
  std::uint32_t Read(char* buffer, std::uint32_t count, std::uint32_t& bytesRead);

private:
#ifdef _WIN32
  void* FileHandle = reinterpret_cast<void*>(static_cast<std::intptr_t>(-1));
  void* MappingHandle = nullptr;
#else
  int FileDescriptor = -1;
  std::uint64_t MappingSize = 0;
#endif
  void* ViewStart = nullptr;
  std::size_t ViewLength = 0;
};
