#pragma once
// JSON text built into one growing buffer that the caller drains in large
// writes. Strings go in as UTF-8 or UTF-16 (single-byte text of a code page
// through TCodePage) and always come out as valid UTF-8 with JSON escaping.
#include <cstdint>
#include <string>
#include <string_view>

class TJsonWriter {
public:
  std::string& Text() noexcept { return Buffer; }
  void Clear() noexcept { Buffer.clear(); }

  void Raw(std::string_view text) { Buffer.append(text); }
  void Raw(char c) { Buffer.push_back(c); }
  void Null() { Buffer.append("null"); }
  void UInt(std::uint64_t value);
  void Int(std::int64_t value);

  // Quoted strings. Ill-formed UTF-8 (each maximal ill-formed subpart) and
  // unpaired surrogates become U+FFFD.
  void StringUtf8(std::string_view text);
  void StringUtf16(std::u16string_view text);

  // One code point, escaped as inside a string; the quotes are the caller's.
  void EscapedCodePoint(char32_t codePoint);
  // Contents of a string without quotes.
  void EscapedUtf8(std::string_view text);
  void EscapedUtf16(std::u16string_view text);

private:
  void EscapedAscii(const char* begin, const char* end);

  std::string Buffer;
};
