#include "JsonText.h"

#include "Utf8Text.h"

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
  if (codePoint >= 0x80) return WriteUtf8(out, codePoint);
  const auto c = static_cast<unsigned char>(codePoint);
  if (c < 0x20 || c == '"' || c == '\\') return WriteEscapedAscii(out, c);
  *out++ = static_cast<char>(c);
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
#if defined(__SSE2__) || defined(_M_X64) || defined(_M_AMD64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
    // Subjects are mostly ASCII: eight units at a time while they need no
    // escape, narrowed to bytes (the store may reach past what is kept, within
    // JsonEscapedBound's slack).
    if (end - p >= 8) {
      const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      // Signed, units from 0x8000 compare below the blank too.
      const __m128i attention = _mm_or_si128(
          _mm_or_si128(_mm_cmplt_epi16(units, _mm_set1_epi16(0x20)), _mm_cmpgt_epi16(units, _mm_set1_epi16(0x7F))),
          _mm_or_si128(_mm_cmpeq_epi16(units, _mm_set1_epi16('"')), _mm_cmpeq_epi16(units, _mm_set1_epi16('\\'))));
      const auto mask = static_cast<unsigned>(_mm_movemask_epi8(attention));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(units, units));
      const int plain = mask == 0 ? 8 : std::countr_zero(mask) / 2;
      p += plain;
      out += plain;
      if (plain == 8) continue;
    }
#endif
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

void AppendJsonString(std::string& out, std::string_view utf8) {
  const std::size_t start = out.size();
  out.resize(start + JsonEscapedBound(utf8.size()) + 2);
  char* at = out.data() + start;
  *at++ = '"';
  at = WriteJsonEscapedUtf8(at, utf8);
  *at++ = '"';
  out.resize(static_cast<std::size_t>(at - out.data()));
}
