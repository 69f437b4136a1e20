#pragma once
// The one JSON string writer of zellogcat and zellogq. Strings go in as UTF-8
// or UTF-16 and always come out as valid UTF-8 with JSON escaping: \" \\ \n
// \r \t, and \u00xx for the other control characters. Writing goes through
// a raw pointer into room reserved beforehand, so that a record of twenty
// fields checks its buffer's size once, not at every piece.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// The most bytes the escaped form of `units` bytes or UTF-16 units can take
// (a control character becomes six), plus what a 16-byte store may write past
// the end of the text.
constexpr std::size_t JsonEscapedBound(std::size_t units) noexcept { return 6 * units + 16; }

// The escaped forms, without quotes; each returns the end of what it wrote.
// Ill-formed UTF-8 (each maximal ill-formed subpart) and unpaired surrogates
// become U+FFFD.
char* WriteJsonEscapedUtf8(char* out, std::string_view text) noexcept;
char* WriteJsonEscapedUtf16(char* out, std::u16string_view text) noexcept;
// At most six bytes.
char* WriteJsonEscapedCodePoint(char* out, char32_t codePoint) noexcept;

// Copies bytes that need no escaping straight to out, 16 at a time, and hands
// every other byte (a control character, '"', '\\', or a byte from 0x80) to
// `special`, which writes its form and returns how many input bytes it took.
// Writes up to 16 bytes past what it keeps (see JsonEscapedBound).
template <typename TSpecial>
char* WriteJsonPlainRuns(char* out, const char* p, const char* end, TSpecial&& special) noexcept;

// Nothing to copy may come with a null buffer (an empty writer) or text.
inline char* WriteRaw(char* out, std::string_view text) noexcept {
  if (!text.empty()) std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

// A quoted JSON string appended to out.
void AppendJsonString(std::string& out, std::string_view utf8);

#if defined(__SSE2__) || defined(_M_X64) || defined(_M_AMD64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>

// Copies fewer than 16 bytes with a few fixed-size moves (two that may
// overlap), not a call.
inline void CopyShort(char* to, const char* from, std::size_t count) noexcept {
  if (count >= 8) {
    std::memcpy(to, from, 8);
    std::memcpy(to + count - 8, from + count - 8, 8);
  } else if (count >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + count - 4, from + count - 4, 4);
  } else if (count > 0) {
    to[0] = from[0];
    to[count / 2] = from[count / 2];
    to[count - 1] = from[count - 1];
  }
}

template <typename TSpecial>
char* WriteJsonPlainRuns(char* out, const char* p, const char* end, TSpecial&& special) noexcept {
  const __m128i space = _mm_set1_epi8(0x20);
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  while (p < end) {
    const std::size_t left = static_cast<std::size_t>(end - p);
    __m128i bytes;
    unsigned valid = 0xFFFF;
    if (left >= 16) {
      bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    } else {
      // Most fields are short, and every field ends in a short piece: one
      // block from a copy, as nothing past the text may be read.
      alignas(16) char piece[16] = {};
      CopyShort(piece, p, left);
      bytes = _mm_load_si128(reinterpret_cast<const __m128i*>(piece));
      valid = (1u << left) - 1;
    }
    // Signed, bytes from 0x80 compare below the blank too.
    const __m128i attention = _mm_or_si128(_mm_cmplt_epi8(bytes, space),
                                           _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(attention)) & valid;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
    if (mask == 0) {
      const std::size_t taken = left >= 16 ? 16 : left;
      p += taken;
      out += taken;
      continue;
    }
    const int plain = std::countr_zero(mask);
    p += plain;
    out += plain;
    p += special(out, p, end);
  }
  return out;
}

#else

template <typename TSpecial>
char* WriteJsonPlainRuns(char* out, const char* p, const char* end, TSpecial&& special) noexcept {
  while (p < end) {
    const auto c = static_cast<unsigned char>(*p);
    if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\')
      *out++ = *p++;
    else
      p += special(out, p, end);
  }
  return out;
}

#endif
