#pragma once
// Single-byte log text to JSON-escaped UTF-8. Windows-1252, ISO-8859-1 and
// UTF-8 are built in and behave the same on every platform; on Windows any
// other code page the system knows is converted by the system.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "JsonWriter.h"

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

  // Appends text as a quoted JSON string.
  void WriteString(TJsonWriter& writer, std::string_view text) const;
  // Appends text as JSON string content (without quotes).
  void AppendEscaped(TJsonWriter& writer, std::string_view text) const;

private:
  enum class TKind { ByteTable, Utf8, System };

  // The escaped UTF-8 form of one byte; Same when that is the byte itself.
  struct TByteText {
    char Text[6];
    std::uint8_t Length;
    bool Same;
  };

  void BuildTable(const char16_t (&upperHalf)[128]);
  void SetByteText(unsigned byte, char32_t codePoint);

  unsigned CodePageId = Windows1252;
  TKind Kind = TKind::ByteTable;
  std::array<TByteText, 256> Table{};
  // System conversions of multi-byte code pages; reused from line to line.
  mutable std::wstring Scratch;
};
