#include "FastTextReader_un.h"

#include <algorithm>
#include <cstdio>

#include "ByteScan_un.h"
#include "MappedFile_un.h"

namespace {

[[noreturn]] void RaiseSystemError(std::string_view action, std::uint32_t errorCode) {
  throw EFastTextReaderError(FormatSystemError(action, errorCode));
}

TFileSharing SharingOfOpenMode(std::uint32_t openMode) {
  switch ((openMode >> 4) & 0x0F) {
  case 0:
  case 1:
    return TFileSharing::None;
  case 2:
    return TFileSharing::Read;
  case 3:
    return TFileSharing::Write;
  case 4:
    return TFileSharing::ReadWrite;
  default:
    throw ERangeError();
  }
}

std::unique_ptr<TMappedFile> OpenFile(const TNativePath& path, std::uint32_t openMode) {
  const TFileSharing sharing = SharingOfOpenMode(openMode);
  auto file = std::make_unique<TMappedFile>();
  if (const std::uint32_t error = file->Open(path, sharing))
    RaiseSystemError("open file", error);
  return file;
}

} // namespace

TFastTextReader::TFastTextReader(const std::u16string& fileName, std::uint32_t openMode,
                                 const TFastTextReaderOptions& options)
    : File(OpenFile(NativePath(fileName), openMode)) {
  Initialize(options);
}

TFastTextReader::TFastTextReader(const std::string& fileName, std::uint32_t openMode,
                                 const TFastTextReaderOptions& options)
    : File(OpenFile(NativePath(fileName), openMode)) {
  Initialize(options);
}

TFastTextReader::TFastTextReader(std::unique_ptr<TMappedFile> file, const TFastTextReaderOptions& options)
    : File(std::move(file)) {
  Initialize(options);
}

TFastTextReader::~TFastTextReader() = default;

std::uint32_t TFastTextReader::ViewSizeForGranularity(std::uint32_t granularity) noexcept {
  if (granularity == 0)
    return MaxViewSize;
  if (granularity >= MaxViewSize)
    return granularity;
  return MaxViewSize / granularity * granularity;
}

void TFastTextReader::Initialize(const TFastTextReaderOptions& options) {
  FullViewSize = options.ViewSize != 0 ? options.ViewSize : ViewSizeForGranularity(AllocationGranularity());
  FailViewMappingAt = options.FailViewMappingAt;
  if (const std::uint32_t error = File->QuerySize(Size)) {
    char code[16];
    std::snprintf(code, sizeof code, "%08lX", static_cast<unsigned long>(error));
    throw EFastTextReaderError(std::string("Could query file size. Error ") + code + " (" +
                               SystemErrorText(error) + ").");
  }
  Size = std::min(Size, options.End);
  OpenedSize = Size;
  if (Size == 0)
    return;
  if (const std::uint32_t error = File->CreateMapping(Size))
    RaiseSystemError("create file mapping", error);
  CurrentPosition = std::min(options.Begin, Size);
  if (CurrentPosition < Size)
    MapNextView();
}

std::uint32_t TFastTextReader::MapViewAt(std::uint64_t offset, std::uint32_t count, const char*& data,
                                         std::uint32_t& available) {
  if (offset == FailViewMappingAt) {
    available = 0;
    return TMappedFile::InjectedFailureCode;
  }
  return File->MapView(offset, count, data, available);
}

void TFastTextReader::MapNextView() {
  File->UnmapView();
  ViewEnd = ReadPtr = nullptr;
  const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(FullViewSize, Size - CurrentPosition));
  const char* base = nullptr;
  std::uint32_t available = 0;
  if (const std::uint32_t error = MapViewAt(CurrentPosition, count, base, available)) {
    Stopped = true;
    RaiseSystemError("map next view of file", error);
  }
  if (available < count) { // truncated by someone else: what is left is all there is
    Size = CurrentPosition + available;
    Shrunk = true;
  }
  ViewEnd = base + available;
  ReadPtr = base;
}

// Called once a line has filled more than a view. Growing the line by doubling
// would hold up to three times its length at once; measuring the rest first
// (reading it twice, which only lines longer than a view pay) lets it be
// collected in storage of its final size. Leaves the current view unmapped.
void TFastTextReader::ReserveRestOfLine() {
  std::uint64_t offset = CurrentPosition;
  std::uint64_t rest = Size - offset;
  bool carriageReturnBefore = !SpanningLine.empty() && SpanningLine.back() == '\r';
  while (offset < Size) {
    const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(FullViewSize, Size - offset));
    const char* base = nullptr;
    std::uint32_t available = 0;
    if (MapViewAt(offset, count, base, available) != 0)
      break; // reading the line reports it
    for (const char* at = base; at < base + available; ++at) {
      at = FindByte(at, base + available, '\n');
      if (at == base + available)
        break;
      if (at > base ? at[-1] == '\r' : carriageReturnBefore) {
        rest = offset + static_cast<std::uint64_t>(at - base) + 1 - CurrentPosition;
        offset = Size;
        break;
      }
    }
    if (available < count || available == 0)
      break;
    carriageReturnBefore = base[available - 1] == '\r';
    offset += available;
  }
  const std::size_t total = SpanningLine.size() + static_cast<std::size_t>(rest);
  if (total > SpanningLine.capacity()) {
    std::string sized;
    sized.reserve(total);
    sized.append(SpanningLine);
    SpanningLine.swap(sized);
  }
}

[[noreturn]] void TFastTextReader::RaiseShrunk() {
  Stopped = true;
  SpanningLine.clear();
  throw EFastTextReaderError("The file shrank from " + std::to_string(OpenedSize) + " to " +
                             std::to_string(Size) + " bytes while it was read.");
}

std::string_view TFastTextReader::ReadLineView() {
  if (Eof())
    throw EFastTextReaderError("Cannot read over EOF.");
  // The storage of a long line goes back once the caller is done with it.
  if (SpanningLine.capacity() > RetainedLineCapacity)
    std::string().swap(SpanningLine);
  // A line within one view is returned in place; only a line that crosses a
  // view boundary is collected in SpanningLine.
  bool spanning = false;
  bool sized = false;
  const char* start = ReadPtr;
  for (;;) {
    if (ReadPtr == ViewEnd) {
      if (CurrentPosition == Size) {
        // A line cut short by truncation is no line.
        if (Shrunk)
          RaiseShrunk();
        if (!spanning)
          return std::string_view(start, static_cast<std::size_t>(ReadPtr - start));
        SpanningLine.append(start, ReadPtr);
        return SpanningLine;
      }
      if (!spanning)
        SpanningLine.clear();
      SpanningLine.append(start, ReadPtr);
      if (spanning && !sized) {
        ReserveRestOfLine();
        sized = true;
      }
      spanning = true;
      MapNextView();
      start = ReadPtr;
    }
    const char* lineFeed = FindByte(ReadPtr, ViewEnd, '\n');
    if (lineFeed == ViewEnd) {
      CurrentPosition += static_cast<std::uint64_t>(ViewEnd - ReadPtr);
      ReadPtr = ViewEnd;
      continue;
    }
    CurrentPosition += static_cast<std::uint64_t>(lineFeed + 1 - ReadPtr);
    ReadPtr = lineFeed + 1;
    const bool carriageReturnBefore =
        lineFeed > start ? lineFeed[-1] == '\r' : spanning && !SpanningLine.empty() && SpanningLine.back() == '\r';
    if (!carriageReturnBefore)
      continue;
    if (!spanning)
      return std::string_view(start, static_cast<std::size_t>(lineFeed - 1 - start));
    if (lineFeed == start)
      SpanningLine.pop_back();
    else
      SpanningLine.append(start, lineFeed - 1);
    return SpanningLine;
  }
}

void TFastTextReader::Close() {
  ViewEnd = ReadPtr = nullptr;
  Stopped = true;
  if (const std::uint32_t error = File->Close())
    RaiseSystemError("close file", error);
}

void TFastTextReader::ReadLine(std::string& line) { line.assign(ReadLineView()); }

std::string TFastTextReader::ReadLine() { return std::string(ReadLineView()); }
