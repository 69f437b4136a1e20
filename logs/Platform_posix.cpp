// File names, error texts and the page size of POSIX systems, for the file
// reading and the in-memory files alike.
#include "MappedFile_un.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

#include "Utf8Text.h"

// File names are bytes here; UTF-16 names are taken to mean UTF-8, the usual
// file name encoding. An unpaired surrogate becomes U+FFFD.
TNativePath NativePath(const std::u16string& path) { return Utf8FromUtf16(path); }

TNativePath NativePath(const std::string& path) { return path; }

std::string NarrowFileName(const std::u16string& path) { return NativePath(path); }

std::string SystemErrorText(std::uint32_t errorCode) {
  if (errorCode == NotRegularFileErrorCode)
    return "Not a regular file";
  std::string text = std::strerror(static_cast<int>(errorCode));
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.'))
    text.pop_back();
  return text;
}

std::uint32_t AllocationGranularity() {
  const long pageSize = sysconf(_SC_PAGESIZE);
  return pageSize > 0 ? static_cast<std::uint32_t>(pageSize) : 4096u;
}

