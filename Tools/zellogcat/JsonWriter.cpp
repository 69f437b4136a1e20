#include "JsonWriter.h"

#include <algorithm>
#include <charconv>
#include <cstring>

void TJsonWriter::Grow(std::size_t bytes) {
  const std::size_t room = std::max(Used + bytes, std::max<std::size_t>(2 * Room, 4096));
  std::unique_ptr<char[]> grown(new char[room]);
  if (Used > 0) std::memcpy(grown.get(), Buffer.get(), Used);
  Buffer = std::move(grown);
  Room = room;
}

void TJsonWriter::UInt(std::uint64_t value) {
  char* out = Reserve(24);
  Commit(std::to_chars(out, out + 24, value).ptr);
}

void TJsonWriter::Int(std::int64_t value) {
  char* out = Reserve(24);
  Commit(std::to_chars(out, out + 24, value).ptr);
}

void TJsonWriter::EscapedCodePoint(char32_t codePoint) { Commit(WriteJsonEscapedCodePoint(Reserve(6), codePoint)); }

void TJsonWriter::EscapedUtf8(std::string_view text) {
  Commit(WriteJsonEscapedUtf8(Reserve(JsonEscapedBound(text.size())), text));
}

void TJsonWriter::EscapedUtf16(std::u16string_view text) {
  Commit(WriteJsonEscapedUtf16(Reserve(JsonEscapedBound(text.size())), text));
}

void TJsonWriter::StringUtf8(std::string_view text) {
  char* out = Reserve(JsonEscapedBound(text.size()) + 2);
  *out++ = '"';
  out = WriteJsonEscapedUtf8(out, text);
  *out++ = '"';
  Commit(out);
}

void TJsonWriter::StringUtf16(std::u16string_view text) {
  char* out = Reserve(JsonEscapedBound(text.size()) + 2);
  *out++ = '"';
  out = WriteJsonEscapedUtf16(out, text);
  *out++ = '"';
  Commit(out);
}
