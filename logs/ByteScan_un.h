#pragma once
// The log layer's own search for one byte value, 16 bytes at a time with
// SSE2 (which every x64 processor and every x86 one that runs Windows 8 or
// later has). The C runtime's memchr is not used for this: its speed is the
// runtime's choice and differs by a factor of eight between the runtimes this
// code is built against, while these scans run the same everywhere.
//
// Nothing outside [begin, end) is ever read, not even within the same
// page: the fuzz build poisons the bytes around a view and would catch it.
#include <bit>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__) || defined(_M_X64) || defined(_M_AMD64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define ZELLOG_BYTESCAN_SSE2 1
#endif

namespace bytescan_detail {

#if defined(ZELLOG_BYTESCAN_SSE2)
// One bit per byte of the 16 at p, set where the byte equals the pattern.
inline std::uint32_t Matches16(const char* p, __m128i pattern) noexcept {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, pattern)));
}
#else
// Without SSE2: eight bytes a word at a time; high bit of each matching byte.
inline std::uint64_t MatchingHighBits8(const char* p, std::uint64_t pattern) noexcept {
  std::uint64_t word = 0; // the first byte lowest, which compilers turn into one load
  for (int i = 0; i < 8; ++i)
    word |= std::uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
  constexpr std::uint64_t Low7 = 0x7F7F7F7F7F7F7F7Fu;
  const std::uint64_t x = word ^ pattern;
  return ~(((x & Low7) + Low7) | x | Low7);
}
inline std::uint32_t Matches16(const char* p, std::uint64_t pattern) noexcept {
  constexpr std::uint64_t Gather = 0x0002040810204081u; // the eight high bits into the top byte
  const std::uint64_t low = (MatchingHighBits8(p, pattern) >> 7) * Gather >> 56;
  const std::uint64_t high = (MatchingHighBits8(p + 8, pattern) >> 7) * Gather >> 56;
  return static_cast<std::uint32_t>(low | high << 8);
}
#endif

// Whether any of the 64 bytes at p equals the pattern.
#if defined(ZELLOG_BYTESCAN_SSE2)
inline bool Any64(const char* p, __m128i pattern) noexcept {
  const auto equal = [&](int at) {
    return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at)), pattern);
  };
  return _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(equal(0), equal(16)), _mm_or_si128(equal(32), equal(48)))) != 0;
}
#else
inline bool Any64(const char* p, std::uint64_t pattern) noexcept {
  return (MatchingHighBits8(p, pattern) | MatchingHighBits8(p + 8, pattern) | MatchingHighBits8(p + 16, pattern) |
          MatchingHighBits8(p + 24, pattern) | MatchingHighBits8(p + 32, pattern) |
          MatchingHighBits8(p + 40, pattern) | MatchingHighBits8(p + 48, pattern) |
          MatchingHighBits8(p + 56, pattern)) != 0;
}
#endif

inline auto Pattern(char byte) noexcept {
#if defined(ZELLOG_BYTESCAN_SSE2)
  return _mm_set1_epi8(byte);
#else
  return std::uint64_t{0x0101010101010101u} * static_cast<unsigned char>(byte);
#endif
}

} // namespace bytescan_detail

// The first byte equal to `byte` in [begin, end), or end.
inline const char* FindByte(const char* begin, const char* end, char byte) noexcept {
  using namespace bytescan_detail;
  const auto pattern = Pattern(byte);
  const char* p = begin;
  // Lines run to hundreds of bytes: four blocks per test of the loop, and
  // the blocks' bits gathered only once one of them holds the byte.
  while (end - p >= 64) {
    if (Any64(p, pattern)) {
      const std::uint64_t mask = Matches16(p, pattern) | std::uint64_t{Matches16(p + 16, pattern)} << 16 |
                                 std::uint64_t{Matches16(p + 32, pattern)} << 32 |
                                 std::uint64_t{Matches16(p + 48, pattern)} << 48;
      return p + std::countr_zero(mask);
    }
    p += 64;
  }
  while (end - p >= 16) {
    if (const std::uint32_t mask = Matches16(p, pattern))
      return p + std::countr_zero(mask);
    p += 16;
  }
  while (p < end && *p != byte)
    ++p;
  return p;
}

// Lines end with CR LF (a lone CR or LF is line content).
// The end of the line that starts at begin (its CR), or end when it has no
// CR LF before end.
inline const char* FindLineEnd(const char* begin, const char* end) noexcept {
  for (const char* p = begin; (p = FindByte(p, end, '\n')) != end; ++p)
    if (p > begin && p[-1] == '\r')
      return p - 1;
  return end;
}

// The first line in [begin, end) that starts with `byte`, or end; begin is
// where a line starts. Searches for the byte, not line by line: a byte that
// seldom occurs (the "#" of directives) is found at the speed of FindByte.
inline const char* FindLineStartingWith(const char* begin, const char* end, char byte) noexcept {
  if (begin == end || *begin == byte)
    return begin;
  const auto pattern = bytescan_detail::Pattern(byte);
  for (const char* p = begin + 1;; ++p) {
    while (end - p >= 128 && !bytescan_detail::Any64(p, pattern) && !bytescan_detail::Any64(p + 64, pattern))
      p += 128;
    if ((p = FindByte(p, end, byte)) == end)
      return end;
    if (p - begin >= 2 && p[-1] == '\n' && p[-2] == '\r')
      return p;
  }
}

// One bit per byte of the up to 64 bytes at p (count of them; bits beyond
// count stay clear), set where the byte equals `byte`; the first byte in bit 0.
inline std::uint64_t ByteMask64(const char* p, std::size_t count, char byte) noexcept {
  using namespace bytescan_detail;
  const auto pattern = Pattern(byte);
  if (count >= 64)
    return Matches16(p, pattern) | std::uint64_t{Matches16(p + 16, pattern)} << 16 |
           std::uint64_t{Matches16(p + 32, pattern)} << 32 | std::uint64_t{Matches16(p + 48, pattern)} << 48;
  std::uint64_t mask = 0;
  std::size_t at = 0;
  for (; count - at >= 16; at += 16)
    mask |= std::uint64_t{Matches16(p + at, pattern)} << at;
  for (; at < count; ++at)
    mask |= std::uint64_t{p[at] == byte} << at;
  return mask;
}

// Percent-encoded text (a subject) widened to UTF-16 a block at a time: of the
// 16 bytes at p, those before the first "%" or byte from 0x80 go to out, "+"
// as a blank. Returns how many (16 when there is no such byte); out must have
// room for 16 units, whatever is returned.
inline std::size_t WidenPlainPercentText16(const char* p, char16_t* out) noexcept {
#if defined(ZELLOG_BYTESCAN_SSE2)
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i plus = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('+'));
  const __m128i text = _mm_or_si128(_mm_andnot_si128(plus, bytes), _mm_and_si128(plus, _mm_set1_epi8(' ')));
  const __m128i zero = _mm_setzero_si128();
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(text, zero));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(text, zero));
  const auto stops = static_cast<std::uint32_t>(_mm_movemask_epi8(bytes)) |
                     bytescan_detail::Matches16(p, bytescan_detail::Pattern('%'));
  return stops == 0 ? 16 : static_cast<std::size_t>(std::countr_zero(stops));
#else
  std::size_t count = 0;
  for (; count < 16 && p[count] != '%' && static_cast<unsigned char>(p[count]) < 0x80; ++count)
    out[count] = p[count] == '+' ? u' ' : static_cast<char16_t>(p[count]);
  return count;
#endif
}

