#pragma once
// Reads a text file front to back, line by line, straight out of mapped views
// of the file. Lines end with CR LF only; a lone CR or LF is line content.
// The file size is taken once at creation: bytes appended later are not seen.
// A file that another process truncates meanwhile gives its complete lines
// that are still there, then an error.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "LogDefs_un.h"

class EFastTextReaderError : public ELogError {
public:
  using ELogError::ELogError;
  std::string_view ClassName() const noexcept override { return "EFastTextReaderError"; }
};

// Open modes: bits 4-7 select the sharing granted to other processes. The file
// is always opened for reading only.
inline constexpr std::uint32_t fmShareCompat = 0x00;
inline constexpr std::uint32_t fmShareExclusive = 0x10;
inline constexpr std::uint32_t fmShareDenyWrite = 0x20; // others may read
inline constexpr std::uint32_t fmShareDenyRead = 0x30;  // others may write
inline constexpr std::uint32_t fmShareDenyNone = 0x40;  // others may read and write

struct TFastTextReaderOptions {
  // Bytes per view; 0 takes the production size derived from the system's
  // allocation granularity. Tests pass small sizes to put view boundaries
  // inside small files; any size works because views are mapped at the
  // granularity below their offset.
  std::uint32_t ViewSize = 0;
  // Reads only the bytes from Begin to End (or the end of the file): Begin
  // must be where a line starts, End where one ends.
  std::uint64_t Begin = 0;
  std::uint64_t End = UINT64_MAX;
  // Test hook: mapping the view that starts at this file offset fails as if
  // the system had refused it.
  std::uint64_t FailViewMappingAt = UINT64_MAX;
};

class TMappedFile;

class TFastTextReader {
public:
#ifdef _WIN32
  // Each view is a mapping, a call into the system: a large log is read
  // through few, large views. A view holds address space, and the pages read
  // stay in the working set, until the next view replaces it; a 32-bit host
  // may hold many readers beside its own data, so there views are smaller.
  static constexpr std::uint32_t MaxViewSize = sizeof(void*) >= 8 ? 8u << 20 : 2u << 20;
#else
  // Each view is a copy into one buffer (pread), a call into the system:
  // large enough that the calls cost little beside the copy, small enough
  // that the scan finds the copied bytes still in a core's cache.
  static constexpr std::uint32_t MaxViewSize = 1u << 20;
#endif

  // fileName: UTF-16 (u16string) or the system's narrow file name encoding
  // (std::string: the ANSI code page on Windows, bytes on POSIX).
  // Raises EFastTextReaderError when the file cannot be opened, sized or
  // mapped, ERangeError for a sharing selector above 4.
  TFastTextReader(const std::u16string& fileName, std::uint32_t openMode,
                  const TFastTextReaderOptions& options = {});
  TFastTextReader(const std::string& fileName, std::uint32_t openMode,
                  const TFastTextReaderOptions& options = {});
  // Reads a file its caller has opened already (and may have read from: views
  // do not depend on the file position).
  explicit TFastTextReader(std::unique_ptr<TMappedFile> file, const TFastTextReaderOptions& options = {});
  ~TFastTextReader();
  TFastTextReader(const TFastTextReader&) = delete;
  TFastTextReader& operator=(const TFastTextReader&) = delete;

  // True for an empty file, at the end of the file, after Close, after a view
  // could not be mapped (the reader never touches a released view again) and
  // after the error for a file that shrank. A file that shrank is not at its
  // end before that error was raised.
  bool Eof() const noexcept { return Stopped || (CurrentPosition == Size && !Shrunk); }

  // The next line without its CR LF. Raises EFastTextReaderError at the end
  // ("Cannot read over EOF."), when the next view cannot be mapped, and once
  // when the file ends before the size it had at creation (a line cut there
  // is dropped).
  std::string ReadLine();
  // The same into a caller's buffer, reusing its capacity.
  void ReadLine(std::string& line);
  // The same as a view: into the mapping when the line lies within one view,
  // otherwise into the reader's own buffer. Valid until the next read.
  std::string_view ReadLineView();

  // Releases the view, the mapping and the file now, reporting a failure of
  // the system as EFastTextReaderError; the reader is at its end afterwards.
  // Destruction releases them too, silently.
  void Close();

  std::uint64_t Position() const noexcept { return CurrentPosition; }
  // The bytes of the current view from Position() on, not read yet.
  std::string_view Unread() const noexcept { return {ReadPtr, static_cast<std::size_t>(ViewEnd - ReadPtr)}; }
  std::uint64_t FileSize() const noexcept { return Size; }
  std::uint32_t ViewSize() const noexcept { return FullViewSize; }

  // The largest multiple of the granularity not above MaxViewSize, or the
  // granularity itself when that is larger.
  static std::uint32_t ViewSizeForGranularity(std::uint32_t granularity) noexcept;

private:
  void Initialize(const TFastTextReaderOptions& options);
  std::uint32_t MapViewAt(std::uint64_t offset, std::uint32_t count, const char*& data, std::uint32_t& available);
  void MapNextView();
  void ReserveRestOfLine();
  [[noreturn]] void RaiseShrunk();
  // Longer lines do not keep their storage after the next read.
  static constexpr std::size_t RetainedLineCapacity = std::size_t{1} << 20;

  std::unique_ptr<TMappedFile> File;
  const char* ViewEnd = nullptr;
  const char* ReadPtr = nullptr;
  std::uint64_t CurrentPosition = 0;
  std::uint64_t Size = 0;       // where the data ends: the size at creation, or less once it shrank
  std::uint64_t OpenedSize = 0; // the size at creation
  std::uint32_t FullViewSize = 0;
  std::uint64_t FailViewMappingAt = UINT64_MAX;
  bool Stopped = false; // a view could not be mapped, the file shrank, or Close was called
  bool Shrunk = false;  // a view came short: Size is where the data now ends
  std::string SpanningLine;
};
