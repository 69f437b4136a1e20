#pragma once
// UTF-8 from UTF-16 without the system's help, for file names on systems
// whose names are bytes.
#include <string>
#include <string_view>

// Appends one code point as UTF-8; surrogates and values above U+10FFFF
// become U+FFFD.
void AppendUtf8(std::string& out, char32_t codePoint);
// The same into room for at least four bytes; returns the end of what it wrote.
char* WriteUtf8(char* out, char32_t codePoint) noexcept;
// An unpaired surrogate becomes U+FFFD.
std::string Utf8FromUtf16(std::u16string_view text);
