#include "JsonWriter.h"

#include <algorithm>
#include <charconv>

namespace {

constexpr std::string_view ReplacementCharacter = "\xEF\xBF\xBD";

// The escape of an ASCII byte that JSON does not take as it is.
char* WriteEscapedAscii(char* out, unsigned char c) noexcept {
  static constexpr char Hex[] = "0123456789abcdef";
  *out++ = '\\';
  switch (c) {
    case '"': *out++ = '"'; break;
    case '\\': *out++ = '\\'; break;
    case '\n': *out++ = 'n'; break;
    case '\r': *out++ = 'r'; break;
    case '\t': *out++ = 't'; break;
    default:
      out = WriteRaw(out, "u00");
      *out++ = Hex[c >> 4];
      *out++ = Hex[c & 0xF];
  }
  return out;
}

// Length of the well-formed UTF-8 sequence at p, or 0 when it is ill-formed;
// then `consumed` is the length of its maximal ill-formed subpart (at least 1),
// which becomes one replacement character.
int Utf8SequenceLength(const unsigned char* p, const unsigned char* end, int& consumed) noexcept {
  const unsigned char lead = *p;
  int length;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    consumed = 1;
    return 0;
  }
  consumed = 1;
  for (int i = 1; i < length; ++i) {
    if (p + i >= end || p[i] < low || p[i] > high) return 0;
    low = 0x80;
    high = 0xBF;
    consumed = i + 1;
  }
  return length;
}

}  // namespace

char* WriteJsonEscapedCodePoint(char* out, char32_t codePoint) noexcept {
  if (codePoint < 0x80) {
    const auto c = static_cast<unsigned char>(codePoint);
    if (c >= 0x20 && c != '"' && c != '\\') {
      *out++ = static_cast<char>(c);
      return out;
    }
    return WriteEscapedAscii(out, c);
  }
  if (codePoint < 0x800) {
    *out++ = static_cast<char>(0xC0 | (codePoint >> 6));
    *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint >= 0xD800 && codePoint <= 0xDFFF) {
    out = WriteRaw(out, ReplacementCharacter);
  } else if (codePoint < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (codePoint >> 12));
    *out++ = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint <= 0x10FFFF) {
    *out++ = static_cast<char>(0xF0 | (codePoint >> 18));
    *out++ = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out = WriteRaw(out, ReplacementCharacter);
  }
  return out;
}

char* WriteJsonEscapedUtf8(char* out, std::string_view text) noexcept {
  return WriteJsonPlainRuns(out, text.data(), text.data() + text.size(),
                            [](char*& at, const char* p, const char* end) -> std::size_t {
                              const auto* bytes = reinterpret_cast<const unsigned char*>(p);
                              if (*bytes < 0x80) {
                                at = WriteEscapedAscii(at, *bytes);
                                return 1;
                              }
                              int consumed = 0;
                              const int length = Utf8SequenceLength(
                                  bytes, reinterpret_cast<const unsigned char*>(end), consumed);
                              if (length == 0) {
                                at = WriteRaw(at, ReplacementCharacter);
                                return static_cast<std::size_t>(consumed);
                              }
                              at = WriteRaw(at, std::string_view(p, static_cast<std::size_t>(length)));
                              return static_cast<std::size_t>(length);
                            });
}

char* WriteJsonEscapedUtf16(char* out, std::u16string_view text) noexcept {
  const char16_t* p = text.data();
  const char16_t* const end = p + text.size();
  while (p < end) {
    const char16_t unit = *p++;
    if (unit >= 0x20 && unit < 0x80 && unit != '"' && unit != '\\') {
      *out++ = static_cast<char>(unit);
    } else if (unit >= 0xD800 && unit <= 0xDBFF && p < end && *p >= 0xDC00 && *p <= 0xDFFF) {
      out = WriteJsonEscapedCodePoint(out, 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (*p - 0xDC00));
      ++p;
    } else {
      out = WriteJsonEscapedCodePoint(out, unit);  // a lone surrogate becomes U+FFFD there
    }
  }
  return out;
}

void TJsonWriter::Grow(std::size_t bytes) {
  Buffer.resize(std::max(Used + bytes, std::max<std::size_t>(2 * Buffer.size(), 4096)));
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
