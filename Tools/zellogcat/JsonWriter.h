#pragma once
// JSON text built into one growing buffer that the caller drains in large
// writes, through the shared JSON string writer.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "JsonText.h"

class TJsonWriter {
public:
  TJsonWriter() = default;
  // A writer moved from is empty and can be written again.
  TJsonWriter(TJsonWriter&& other) noexcept
      : Buffer(std::move(other.Buffer)), Room(std::exchange(other.Room, 0)), Used(std::exchange(other.Used, 0)) {}
  TJsonWriter& operator=(TJsonWriter&& other) noexcept {
    Buffer = std::move(other.Buffer);
    Room = std::exchange(other.Room, 0);
    Used = std::exchange(other.Used, 0);
    return *this;
  }

  std::string_view Text() const noexcept { return {Buffer.get(), Used}; }
  void Clear() noexcept { Used = 0; }

  // Room for at least `bytes` more; write from the result, then Commit the end.
  char* Reserve(std::size_t bytes) {
    if (Room - Used < bytes)
      Grow(bytes);
    return Buffer.get() + Used;
  }
  void Commit(char* end) noexcept { Used = static_cast<std::size_t>(end - Buffer.get()); }

  void Raw(std::string_view text) { Commit(WriteRaw(Reserve(text.size()), text)); }
  void Raw(char c) { Commit(WriteRaw(Reserve(1), std::string_view(&c, 1))); }
  void Null() { Raw("null"); }
  void UInt(std::uint64_t value);
  void Int(std::int64_t value);

  // Quoted strings.
  void StringUtf8(std::string_view text);
  void StringUtf16(std::u16string_view text);

  // One code point, escaped as inside a string; the quotes are the caller's.
  void EscapedCodePoint(char32_t codePoint);
  // Contents of a string without quotes.
  void EscapedUtf8(std::string_view text);
  void EscapedUtf16(std::u16string_view text);

private:
  void Grow(std::size_t bytes);

  // Room bytes, Used of them text. Growing never shrinks it, so that Clear
  // keeps the room for the next round; the room is never filled in advance,
  // as a buffer of megabytes would be written twice.
  std::unique_ptr<char[]> Buffer;
  std::size_t Room = 0;
  std::size_t Used = 0;
};
