#include "JsonWriter.h"

#include <charconv>

namespace {

constexpr char ReplacementCharacter[] = "\xEF\xBF\xBD";

bool IsPlainAscii(unsigned char c) noexcept { return c >= 0x20 && c < 0x80 && c != '"' && c != '\\'; }

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

void TJsonWriter::UInt(std::uint64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  Buffer.append(digits, result.ptr);
}

void TJsonWriter::Int(std::int64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  Buffer.append(digits, result.ptr);
}

void TJsonWriter::EscapedAscii(const char* begin, const char* end) {
  static constexpr char Hex[] = "0123456789abcdef";
  const char* run = begin;
  for (const char* p = begin; p < end; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (IsPlainAscii(c)) continue;
    Buffer.append(run, p);
    run = p + 1;
    if (c == '"' || c == '\\') {
      Buffer.push_back('\\');
      Buffer.push_back(static_cast<char>(c));
    } else {
      const char escape[6] = {'\\', 'u', '0', '0', Hex[c >> 4], Hex[c & 0xF]};
      Buffer.append(escape, sizeof escape);
    }
  }
  Buffer.append(run, end);
}

void TJsonWriter::EscapedCodePoint(char32_t codePoint) {
  if (codePoint < 0x80) {
    const char c = static_cast<char>(codePoint);
    EscapedAscii(&c, &c + 1);
  } else if (codePoint < 0x800) {
    Buffer.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
    Buffer.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else if (codePoint >= 0xD800 && codePoint <= 0xDFFF) {
    Buffer.append(ReplacementCharacter);
  } else if (codePoint < 0x10000) {
    Buffer.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
    Buffer.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    Buffer.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else if (codePoint <= 0x10FFFF) {
    Buffer.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
    Buffer.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
    Buffer.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    Buffer.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    Buffer.append(ReplacementCharacter);
  }
}

void TJsonWriter::EscapedUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  const auto* run = p;
  while (p < end) {
    if (IsPlainAscii(*p)) {
      ++p;
      continue;
    }
    if (*p >= 0x80) {
      int consumed = 0;
      const int length = Utf8SequenceLength(p, end, consumed);
      if (length != 0) {
        p += length;
        continue;
      }
      Buffer.append(reinterpret_cast<const char*>(run), reinterpret_cast<const char*>(p));
      Buffer.append(ReplacementCharacter);
      p += consumed;
    } else {
      Buffer.append(reinterpret_cast<const char*>(run), reinterpret_cast<const char*>(p));
      EscapedAscii(reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(p) + 1);
      ++p;
    }
    run = p;
  }
  Buffer.append(reinterpret_cast<const char*>(run), reinterpret_cast<const char*>(p));
}

void TJsonWriter::StringUtf8(std::string_view text) {
  Buffer.push_back('"');
  EscapedUtf8(text);
  Buffer.push_back('"');
}

void TJsonWriter::EscapedUtf16(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      EscapedCodePoint(0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else {
      EscapedCodePoint(unit);  // a lone surrogate becomes U+FFFD there
    }
  }
}

void TJsonWriter::StringUtf16(std::u16string_view text) {
  Buffer.push_back('"');
  EscapedUtf16(text);
  Buffer.push_back('"');
}
