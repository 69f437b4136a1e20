#pragma once
// UTF-8 from UTF-16 without the system's help, for file names on systems
// whose names are bytes.
#include <string>
#include <string_view>

// Appends one code point as UTF-8; surrogates and values above U+10FFFF
// become U+FFFD.
void AppendUtf8(std::string& out, char32_t codePoint);
// The same into room for at least four bytes; returns the end of what it
// wrote. Inline: the JSON writers call it for every character outside ASCII.
inline char* WriteUtf8(char* out, char32_t c) noexcept {
  if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
  if (c < 0x80) {
    *out++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *out++ = static_cast<char>(0xC0 | (c >> 6));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (c >> 12));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (c >> 18));
    *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}
// An unpaired surrogate becomes U+FFFD.
std::string Utf8FromUtf16(std::u16string_view text);
