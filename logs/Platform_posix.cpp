// File names, error texts and the page size of POSIX systems, for the file
// reading and the in-memory files alike.
#include "MappedFile_un.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

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

