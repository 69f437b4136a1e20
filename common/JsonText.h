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

// Bytes that need attention: control characters, '"', '\\' and, compared
// signed, every byte from 0x80.
inline unsigned JsonAttentionMask(__m128i bytes) noexcept {
  const __m128i attention =
      _mm_or_si128(_mm_cmplt_epi8(bytes, _mm_set1_epi8(0x20)),
                   _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\'))));
  return static_cast<unsigned>(_mm_movemask_epi8(attention));
}

// Copies the `count` (below 16) bytes at `from` to `to` and returns how many
// of them come before the first that needs attention (count when none
// does). Most fields are short and every field ends in a short piece: two
// overlapping loads go straight into registers, since bytes gathered in
// memory first would wait for the stores to retire before one wide load.
inline std::size_t CopyShortPlain(char* to, const char* from, std::size_t count) noexcept {
  __m128i low;
  __m128i high;
  std::size_t half;
  unsigned valid;
  if (count >= 8) {
    low = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(from));
    high = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(from + count - 8));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to), low);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to + count - 8), high);
    half = 8;
    valid = 0xFFFF;
  } else if (count >= 4) {
    std::int32_t first;
    std::int32_t last;
    std::memcpy(&first, from, 4);
    std::memcpy(&last, from + count - 4, 4);
    std::memcpy(to, &first, 4);
    std::memcpy(to + count - 4, &last, 4);
    low = _mm_cvtsi32_si128(first);
    high = _mm_cvtsi32_si128(last);
    half = 4;
    valid = 0x0F0F;
  } else {
    for (std::size_t i = 0; i < count; ++i) {
      const auto c = static_cast<unsigned char>(from[i]);
      if (c < 0x20 || c >= 0x80 || c == '"' || c == '\\') return i;
      to[i] = from[i];
    }
    return count;
  }
  // The high half repeats what the low one holds below `half`: its first
  // hit counts only when the low half has none.
  const unsigned mask = JsonAttentionMask(_mm_unpacklo_epi64(low, high)) & valid;
  if ((mask & 0xFF) != 0) return static_cast<std::size_t>(std::countr_zero(mask));
  if (mask != 0) return count - half + static_cast<std::size_t>(std::countr_zero(mask >> 8));
  return count;
}

template <typename TSpecial>
char* WriteJsonPlainRuns(char* out, const char* p, const char* end, TSpecial&& special) noexcept {
  while (p < end) {
    const std::size_t left = static_cast<std::size_t>(end - p);
    std::size_t plain;
    if (left >= 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
      const unsigned mask = JsonAttentionMask(bytes);
      if (mask == 0) {
        p += 16;
        out += 16;
        continue;
      }
      plain = static_cast<std::size_t>(std::countr_zero(mask));
    } else {
      plain = CopyShortPlain(out, p, left);
      if (plain == left) return out + left;
    }
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
