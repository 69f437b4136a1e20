#pragma once
#include <windows.h>
#include <oledb.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64) || defined(_M_AMD64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define OLEDB_STOREDLENGTH_SSE2 1
#endif

namespace storedlength_detail {
// One high bit per zero unit of word, exact up to the lowest: a borrow only
// marks units above a zero one.
template <class Unit, class Word>
constexpr Word ZeroUnits(Word word) noexcept {
  constexpr Word Ones = static_cast<Word>(~Word{0}) / static_cast<Word>((Word{1} << (8 * sizeof(Unit))) - 1);
  constexpr Word Highs = Ones << (8 * sizeof(Unit) - 1);
  return (word - Ones) & ~word & Highs;
}

// Index of the first zero unit among units [at, at + sizeof(Word)/sizeof(Unit)),
// or -1.
template <class Unit, class Word>
std::ptrdiff_t ZeroInWord(const Unit* data, std::size_t at) noexcept {
  Word word;
  std::memcpy(&word, data + at, sizeof word);
  const Word zeros = ZeroUnits<Unit>(word);
  if (zeros == 0) return -1;
  return static_cast<std::ptrdiff_t>(at + static_cast<std::size_t>(std::countr_zero(zeros)) / (8 * sizeof(Unit)));
}

// The first zero unit by whole words, when count fills one: the last word
// ends at the slot's end, overlapping words already seen to hold no zero.
template <class Unit, class Word>
bool ZeroInWords(const Unit* data, std::size_t count, std::size_t& found) noexcept {
  constexpr std::size_t PerWord = sizeof(Word) / sizeof(Unit);
  if (count < PerWord) return false;
  for (std::size_t i = 0;; i += PerWord) {
    if (count - i < PerWord) i = count - PerWord;
    const std::ptrdiff_t at = ZeroInWord<Unit, Word>(data, i);
    if (at >= 0 || i + PerWord == count) {
      found = at < 0 ? count : static_cast<std::size_t>(at);
      return true;
    }
  }
}

// Index of the first zero unit of count units of Unit at data, or count.
// Every text value of every row passes here, most of them a few to a few
// hundred bytes long: whole blocks and words instead of single units. Nothing
// outside the slot is read.
template <class Unit>
std::size_t FirstZero(const Unit* data, std::size_t count) noexcept {
  std::size_t found;
#if defined(OLEDB_STOREDLENGTH_SSE2)
  constexpr std::size_t PerBlock = 16 / sizeof(Unit);
  if (count >= PerBlock) {
    const __m128i zero = _mm_setzero_si128();
    const auto zerosAt = [&](std::size_t at) noexcept {
      const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
      const __m128i equal = sizeof(Unit) == 1 ? _mm_cmpeq_epi8(units, zero) : _mm_cmpeq_epi16(units, zero);
      return static_cast<std::uint32_t>(_mm_movemask_epi8(equal));
    };
    for (std::size_t i = 0;; i += PerBlock) {
      // The last block ends at the slot's end, overlapping blocks already
      // seen to hold no zero.
      if (count - i < PerBlock) i = count - PerBlock;
      if (const std::uint32_t mask = zerosAt(i))
        return i + static_cast<std::size_t>(std::countr_zero(mask)) / sizeof(Unit);
      if (i + PerBlock == count) return count;
    }
  }
#endif
  if (ZeroInWords<Unit, std::uint64_t>(data, count, found)) return found;
  if (ZeroInWords<Unit, std::uint32_t>(data, count, found)) return found;
  for (std::size_t i = 0; i < count; ++i)
    if (data[i] == 0) return i;
  return count;
}

// Copies fewer than 16 bytes with a few overlapping moves: most values are
// that short, and a call into the runtime's memcpy costs more than the copy.
inline void CopyShort(void* destination, const void* source, std::size_t bytes) noexcept {
  auto* to = static_cast<unsigned char*>(destination);
  const auto* from = static_cast<const unsigned char*>(source);
  const auto moveTwice = [&](auto word) noexcept {
    constexpr std::size_t Size = sizeof word;
    decltype(word) last;
    std::memcpy(&word, from, Size);
    std::memcpy(&last, from + bytes - Size, Size);
    std::memcpy(to, &word, Size);
    std::memcpy(to + bytes - Size, &last, Size);
  };
  if (bytes >= 8)
    moveTwice(std::uint64_t{});
  else if (bytes >= 4)
    moveTwice(std::uint32_t{});
  else if (bytes >= 2)
    moveTwice(std::uint16_t{});
  else if (bytes == 1)
    *to = *from;
}
}  // namespace storedlength_detail

// Copies the text of count units at source up to its first zero unit (or all
// of it) to destination and answers how many units that was; the
// terminator is not written. Measures and copies in one pass, touching
// nothing outside either slot.
template <class Unit>
std::size_t CopyUpToZero(Unit* destination, const Unit* source, std::size_t count) noexcept {
  using namespace storedlength_detail;
#if defined(OLEDB_STOREDLENGTH_SSE2)
  constexpr std::size_t PerBlock = 16 / sizeof(Unit);
  if (count >= PerBlock) {
    const __m128i zero = _mm_setzero_si128();
    for (std::size_t i = 0;; i += PerBlock) {
      // The last block ends at the slot's end, overlapping units already
      // copied and seen to hold no zero.
      if (count - i < PerBlock) i = count - PerBlock;
      const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
      const __m128i equal = sizeof(Unit) == 1 ? _mm_cmpeq_epi8(units, zero) : _mm_cmpeq_epi16(units, zero);
      if (const auto mask = static_cast<std::uint32_t>(_mm_movemask_epi8(equal))) {
        const std::size_t end = i + static_cast<std::size_t>(std::countr_zero(mask)) / sizeof(Unit);
        CopyShort(destination + i, source + i, (end - i) * sizeof(Unit));
        return end;
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + i), units);
      if (i + PerBlock == count) return count;
    }
  }
#endif
  // A short text as two overlapping words, checked for a zero unit before
  // either is stored.
  const std::size_t bytes = count * sizeof(Unit);
  const auto moveIfNoZero = [&](auto word) noexcept {
    using TWord = decltype(word);
    constexpr std::size_t Size = sizeof word;
    TWord last;
    std::memcpy(&word, source, Size);
    std::memcpy(&last, reinterpret_cast<const unsigned char*>(source) + bytes - Size, Size);
    if ((ZeroUnits<Unit>(word) | ZeroUnits<Unit>(last)) != 0) return false;
    std::memcpy(destination, &word, Size);
    std::memcpy(reinterpret_cast<unsigned char*>(destination) + bytes - Size, &last, Size);
    return true;
  };
  if (bytes >= 8 && bytes < 16 && moveIfNoZero(std::uint64_t{})) return count;
  if (bytes >= 4 && bytes < 8 && moveIfNoZero(std::uint32_t{})) return count;
  const std::size_t end = FirstZero(source, count);
  if (end * sizeof(Unit) < 16)
    CopyShort(destination, source, end * sizeof(Unit));
  else
    std::memcpy(destination, source, end * sizeof(Unit));
  return end;
}

// Length in bytes of a value stored in a slot of length bytes: text ends at
// its terminator but never beyond the slot, a BSTR slot holds the string.
inline DBLENGTH StoredLength(DBTYPE type, const void* data, DBLENGTH length) noexcept {
  switch (type) {
    case DBTYPE_STR:
      return static_cast<DBLENGTH>(storedlength_detail::FirstZero(static_cast<const char*>(data), length));
    case DBTYPE_WSTR:
      return static_cast<DBLENGTH>(
                 storedlength_detail::FirstZero(static_cast<const wchar_t*>(data), length / sizeof(wchar_t))) *
             sizeof(wchar_t);
    case DBTYPE_BSTR: {
      BSTR text;
      std::memcpy(&text, data, sizeof(text));
      return SysStringByteLen(text);
    }
    default:
      return length;
  }
}
