#pragma once
// Text helpers of the log layer: ASCII-only case folding, trimming and the
// integer conversion the log formats rely on.
#include <cstdint>
#include <string_view>

inline char AsciiLower(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

inline bool SameTextAscii(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size())
    return false;
  if (a == b) // logs write their words as the vocabulary spells them
    return true;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i]))
      return false;
  return true;
}

inline bool StartsWithTextAscii(std::string_view text, std::string_view prefix) noexcept {
  return text.size() >= prefix.size() && SameTextAscii(text.substr(0, prefix.size()), prefix);
}

// Removes leading and trailing blanks and control characters (bytes 0-32).
inline std::string_view TrimText(std::string_view text) noexcept {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ')
    ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ')
    --end;
  return text.substr(begin, end - begin);
}

// Decimal text to a 32-bit signed integer: leading blanks, an optional sign,
// then digits only.
bool TryStrToInt(std::string_view text, std::int32_t& value) noexcept;

// The same, raising EConvertError "'<text>' is not a valid integer value".
std::int32_t StrToInt(std::string_view text);
