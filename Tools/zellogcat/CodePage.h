#pragma once
// Single-byte log text to JSON-escaped UTF-8. Windows-1252, ISO-8859-1 and
// UTF-8 are built in and behave the same on every platform; on Windows any
// other code page the system knows is converted by the system.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

class TJsonWriter;

class TCodePage {
public:
  static constexpr unsigned Windows1252 = 1252;
  static constexpr unsigned Latin1 = 28591;
  static constexpr unsigned Utf8 = 65001;

  // Windows-1252.
  TCodePage();

  // False when the code page is not available here.
  bool Select(unsigned id);
  unsigned Id() const noexcept { return CodePageId; }

  // Text as JSON string content (without quotes), at most
  // JsonEscapedBound(text.size()) bytes; returns the end of what it wrote.
  char* WriteEscaped(char* out, std::string_view text) const;
  // Text as a quoted JSON string.
  void String(TJsonWriter& writer, std::string_view text) const;

private:
  enum class TKind { ByteTable, Utf8, System };

  // The escaped UTF-8 form of one byte.
  struct TByteText {
    char Text[7];
    std::uint8_t Length;
  };

  void BuildTable(const char16_t (&upperHalf)[128]);
  void SetByteText(unsigned byte, char32_t codePoint);

  unsigned CodePageId = Windows1252;
  TKind Kind = TKind::ByteTable;
  std::array<TByteText, 256> Table{};
  // System conversions of multi-byte code pages; reused from line to line.
  mutable std::wstring Scratch;
};
