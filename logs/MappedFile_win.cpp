#include "MappedFile_un.h"

#include <windows.h>

#include "CodePageText.h"

const std::uint32_t TMappedFile::InjectedFailureCode = ERROR_NOT_ENOUGH_MEMORY;

namespace {

std::uint32_t LastError() { return static_cast<std::uint32_t>(GetLastError()); }

} // namespace

TNativePath NativePath(const std::u16string& path) { return TNativePath(path.begin(), path.end()); }

TNativePath NativePath(const std::string& path) { return WideFromCodePage(path); }

std::string NarrowFileName(const std::u16string& path) {
  return CodePageFromWide(std::wstring_view(reinterpret_cast<const wchar_t*>(path.data()), path.size()));
}

std::string SystemErrorText(std::uint32_t errorCode) {
  if (errorCode == NotRegularFileErrorCode)
    return "Not a regular file";
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      errorCode, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text;
  if (length != 0 && buffer != nullptr)
    text.assign(buffer, length);
  LocalFree(buffer);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.'))
    text.pop_back();
  return text;
}

std::uint32_t AllocationGranularity() {
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  return info.dwAllocationGranularity;
}

TMappedFile::~TMappedFile() { Close(); }

std::uint32_t TMappedFile::Open(const TNativePath& path, TFileSharing sharing) {
  // Sharing reading and writing shares deleting too: the service rotates its
  // logs by renaming them, which an open reader must not block.
  static constexpr DWORD ShareFlags[] = {0, FILE_SHARE_READ, FILE_SHARE_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE};
  // A missing medium must give an error code, not a system dialog. The
  // thread's mode is restored so that the host process keeps its own.
  DWORD previousMode = 0;
  const BOOL modeSet = SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previousMode);
  FileHandle = CreateFileW(path.c_str(), GENERIC_READ, ShareFlags[static_cast<int>(sharing)], nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  std::uint32_t error = FileHandle == INVALID_HANDLE_VALUE ? LastError() : 0;
  if (modeSet)
    SetThreadErrorMode(previousMode, nullptr);
  // A pipe, a console or another device may block on the first read or never
  // end, so only a file on a disk is read; checked before any byte is.
  if (error == 0 && GetFileType(FileHandle) != FILE_TYPE_DISK) {
    CloseHandle(FileHandle);
    FileHandle = INVALID_HANDLE_VALUE;
    error = NotRegularFileErrorCode;
  }
  return error;
}

std::uint32_t TMappedFile::QuerySize(std::uint64_t& size) {
  LARGE_INTEGER fileSize{};
  if (!GetFileSizeEx(FileHandle, &fileSize))
    return LastError();
  size = static_cast<std::uint64_t>(fileSize.QuadPart);
  return 0;
}

std::uint32_t TMappedFile::CreateMapping(std::uint64_t size) {
  MappingHandle = CreateFileMappingW(FileHandle, nullptr, PAGE_READONLY, static_cast<DWORD>(size >> 32),
                                     static_cast<DWORD>(size), nullptr);
  if (MappingHandle == nullptr)
    return LastError();
  MappingSize = size;
  return 0;
}

// A mapped file cannot be truncated by others, so a view is always whole.
std::uint32_t TMappedFile::MapView(std::uint64_t offset, std::uint32_t count, const char*& data,
                                   std::uint32_t& available) {
  UnmapView();
  available = 0;
  if (!ViewWithin(offset, count, MappingSize))
    return ERROR_INVALID_PARAMETER;
  const std::uint64_t granularity = AllocationGranularity();
  const std::uint64_t alignedOffset = offset - offset % granularity;
  const SIZE_T length = static_cast<SIZE_T>(offset - alignedOffset) + count;
  void* start = MapViewOfFile(MappingHandle, FILE_MAP_READ, static_cast<DWORD>(alignedOffset >> 32),
                              static_cast<DWORD>(alignedOffset), length);
  if (start == nullptr)
    return LastError();
  ViewStart = start;
  ViewLength = length;
  data = static_cast<const char*>(start) + (offset - alignedOffset);
  available = count;
  return 0;
}

void TMappedFile::UnmapView() noexcept {
  if (ViewStart != nullptr)
    UnmapViewOfFile(ViewStart);
  ViewStart = nullptr;
  ViewLength = 0;
}

std::uint32_t TMappedFile::Close() noexcept {
  std::uint32_t error = 0;
  if (ViewStart != nullptr && !UnmapViewOfFile(ViewStart))
    error = LastError();
  ViewStart = nullptr;
  ViewLength = 0;
  if (MappingHandle != nullptr && !CloseHandle(MappingHandle) && error == 0)
    error = LastError();
  MappingHandle = nullptr;
  MappingSize = 0;
  if (FileHandle != INVALID_HANDLE_VALUE && !CloseHandle(FileHandle) && error == 0)
    error = LastError();
  FileHandle = INVALID_HANDLE_VALUE;
  return error;
}

std::uint32_t TMappedFile::Read(char* buffer, std::uint32_t count, std::uint32_t& bytesRead) {
  DWORD read = 0;
  bytesRead = 0;
  while (bytesRead < count) {
    if (!ReadFile(FileHandle, buffer + bytesRead, count - bytesRead, &read, nullptr))
      return LastError();
    if (read == 0)
      break;
    bytesRead += read;
  }
  return 0;
}
