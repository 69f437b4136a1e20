#include "OLEDbExactConvert.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <limits>

#if defined(__SSE2__) || defined(_M_X64) || defined(_M_AMD64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define OLEDB_EXACTCONVERT_SSE2 1
#endif

#include "OLEDbTypes.h"

namespace {
// Where a VARIANT keeps its value, on 32-bit and 64-bit Windows alike. Only
// the type and the value are written: the library leaves the reserved words
// as they were.
constexpr std::size_t VariantValueOffset = 8;
static_assert(sizeof(VARIANT) >= VariantValueOffset + 8);

// In a code page of one byte per character, a text's length in characters
// is its length in bytes in either form, so truncation is a matter of
// counting. Other code pages are left to the library.
bool SingleByteSystemCodePage() noexcept {
  static const bool single = [] {
    CPINFO info{};
    return GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 1;
  }();
  return single;
}

// Whether the system code page maps 0x00-0x7F to the same UTF-16 units and
// back, as every Windows code page of one byte per character does; asked of
// the platform once rather than assumed.
bool AsciiUnchanged() noexcept {
  static const bool unchanged = [] {
    char narrow[128];
    wchar_t wide[128];
    char back[128];
    for (int i = 0; i < 128; ++i) narrow[i] = static_cast<char>(i);
    if (MultiByteToWideChar(CP_ACP, 0, narrow, 128, wide, 128) != 128) return false;
    if (WideCharToMultiByte(CP_ACP, 0, wide, 128, back, 128, nullptr, nullptr) != 128) return false;
    for (int i = 0; i < 128; ++i)
      if (wide[i] != static_cast<wchar_t>(i) || back[i] != narrow[i]) return false;
    return true;
  }();
  return unchanged;
}

#if defined(OLEDB_EXACTCONVERT_SSE2)
// Widens the 8 bytes at text to out when all are ASCII.
bool WidenEightAscii(const char* text, wchar_t* out) noexcept {
  const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(text));
  if (_mm_movemask_epi8(bytes) != 0) return false;
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(bytes, _mm_setzero_si128()));
  return true;
}

// Widens the ASCII text before the first other byte with whole blocks, the
// last one ending at count and overlapping units already written with the
// same values; answers how many units are widened for certain.
std::size_t WidenAsciiBlocks(const char* text, std::size_t count, wchar_t* out) noexcept {
  if (count < 8) return 0;
  if (count < 16) {
    if (!WidenEightAscii(text, out)) return 0;
    return WidenEightAscii(text + count - 8, out + count - 8) ? count : 8;
  }
  const __m128i zero = _mm_setzero_si128();
  for (std::size_t i = 0;; i += 16) {
    if (count - i < 16) i = count - 16;
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    if (_mm_movemask_epi8(bytes) != 0) return i;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(bytes, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(bytes, zero));
    if (i + 16 == count) return count;
  }
}
#endif

// Widens count characters of single-byte text. Log text is nearly all ASCII:
// that part is widened here; from the first other byte on, the platform
// converts, one byte being one character.
bool WidenSingleByte(const char* text, std::size_t count, wchar_t* out) noexcept {
  std::size_t i = 0;
  if (AsciiUnchanged()) {
#if defined(OLEDB_EXACTCONVERT_SSE2)
    i = WidenAsciiBlocks(text, count, out);
#endif
    for (; i < count && static_cast<unsigned char>(text[i]) < 0x80; ++i) out[i] = static_cast<wchar_t>(text[i]);
    if (i == count) return true;
  }
  const int n = static_cast<int>(count - i);
  return MultiByteToWideChar(CP_ACP, 0, text + i, n, out + i, n) == n;
}

// A text to convert: single-byte in the system code page, or UTF-16.
struct TText {
  const char* Narrow = nullptr;
  const wchar_t* Wide = nullptr;
  std::size_t Units = 0;

  // The first count characters as single-byte text at out.
  bool CopyNarrow(char* out, std::size_t count) const noexcept {
    if (count == 0) return true;
    if (Narrow) {
      std::memcpy(out, Narrow, count);
      return true;
    }
    const int n = static_cast<int>(count);
    return WideCharToMultiByte(CP_ACP, 0, Wide, n, out, n, nullptr, nullptr) == n;
  }
  // The first count characters as UTF-16 at out.
  bool CopyWide(wchar_t* out, std::size_t count) const noexcept {
    if (count == 0) return true;
    if (Wide) {
      std::memcpy(out, Wide, count * sizeof(wchar_t));
      return true;
    }
    return WidenSingleByte(Narrow, count, out);
  }
};

bool HasSurrogates(const wchar_t* text, std::size_t units) noexcept {
  return std::any_of(text, text + units, [](wchar_t c) { return c >= 0xD800 && c <= 0xDFFF; });
}

// Text whose every character is one byte in the system code page and one
// unit in UTF-16.
bool Countable(const TText& text) noexcept {
  if (!SingleByteSystemCodePage()) return false;
  if (text.Units > static_cast<std::size_t>(std::numeric_limits<int>::max())) return false;
  return !text.Wide || !HasSurrogates(text.Wide, text.Units);
}

void Succeed(TConversionOutcome& outcome, DBLENGTH length, bool truncated = false) noexcept {
  outcome.Result = S_OK;
  outcome.Status = truncated ? DBSTATUS_S_TRUNCATED : DBSTATUS_S_OK;
  outcome.Length = length;
}

// A buffer too small for the terminator is the library's case.
bool ToStr(const TText& text, void* destination, DBLENGTH maxLength, TConversionOutcome& outcome) noexcept {
  if (maxLength < 1) return false;
  const std::size_t copied = std::min<std::size_t>(text.Units, maxLength - 1);
  char* out = static_cast<char*>(destination);
  if (!text.CopyNarrow(out, copied)) return false;
  out[copied] = '\0';
  Succeed(outcome, text.Units, copied < text.Units);
  return true;
}

bool ToWStr(const TText& text, void* destination, DBLENGTH maxLength, TConversionOutcome& outcome) noexcept {
  if (maxLength < sizeof(wchar_t)) return false;
  const std::size_t copied = std::min<std::size_t>(text.Units, maxLength / sizeof(wchar_t) - 1);
  wchar_t* out = static_cast<wchar_t*>(destination);
  if (!text.CopyWide(out, copied)) return false;
  out[copied] = L'\0';
  Succeed(outcome, text.Units * sizeof(wchar_t), copied < text.Units);
  return true;
}

// A new BSTR, or null when memory ran out or the text would not convert.
BSTR MakeBstr(const TText& text) noexcept {
  BSTR value = SysAllocStringLen(nullptr, static_cast<UINT>(text.Units));
  if (value && !text.CopyWide(value, text.Units)) {
    SysFreeString(value);
    return nullptr;
  }
  return value;
}

bool ToBstr(const TText& text, void* slot, TConversionOutcome& outcome) noexcept {
  const BSTR value = MakeBstr(text);
  if (!value) {
    outcome = {E_OUTOFMEMORY, DBSTATUS_E_CANTCREATE, 0};
    return true;
  }
  std::memcpy(slot, &value, sizeof value);
  Succeed(outcome, sizeof(BSTR));
  return true;
}

void PutVariant(void* destination, VARTYPE type, const void* value, std::size_t size) noexcept {
  std::memcpy(destination, &type, sizeof type);
  std::memcpy(static_cast<BYTE*>(destination) + VariantValueOffset, value, size);
}

bool TextToVariant(const TText& text, void* destination, TConversionOutcome& outcome) noexcept {
  const BSTR value = MakeBstr(text);
  if (!value) {
    outcome = {E_OUTOFMEMORY, DBSTATUS_E_CANTCREATE, 0};
    return true;
  }
  PutVariant(destination, VT_BSTR, &value, sizeof value);
  Succeed(outcome, sizeof(VARIANT));
  return true;
}

bool ConvertText(const TText& text, DBTYPE destinationType, void* destination, DBLENGTH maxLength,
                 TConversionOutcome& outcome) noexcept {
  if (!Countable(text)) return false;
  switch (destinationType) {
    case DBTYPE_STR:
      return ToStr(text, destination, maxLength, outcome);
    case DBTYPE_WSTR:
      return ToWStr(text, destination, maxLength, outcome);
    case DBTYPE_BSTR:
      return ToBstr(text, destination, outcome);
    case DBTYPE_VARIANT:
      return TextToVariant(text, destination, outcome);
    default:
      return false;
  }
}

// A value that does not fit is the library's case: it chooses the status.
template <class T>
bool PutInteger(std::int64_t value, void* destination, TConversionOutcome& outcome) noexcept {
  if (value < static_cast<std::int64_t>(std::numeric_limits<T>::min())) return false;
  if (value > 0 && static_cast<std::uint64_t>(value) > std::numeric_limits<T>::max()) return false;
  const T converted = static_cast<T>(value);
  std::memcpy(destination, &converted, sizeof converted);
  Succeed(outcome, sizeof converted);
  return true;
}

bool ToInteger(std::int64_t value, DBTYPE destinationType, void* destination, TConversionOutcome& outcome) noexcept {
  switch (destinationType) {
    case DBTYPE_I1:
      return PutInteger<std::int8_t>(value, destination, outcome);
    case DBTYPE_UI1:
      return PutInteger<std::uint8_t>(value, destination, outcome);
    case DBTYPE_I2:
      return PutInteger<std::int16_t>(value, destination, outcome);
    case DBTYPE_UI2:
      return PutInteger<std::uint16_t>(value, destination, outcome);
    case DBTYPE_I4:
      return PutInteger<std::int32_t>(value, destination, outcome);
    case DBTYPE_UI4:
      return PutInteger<std::uint32_t>(value, destination, outcome);
    case DBTYPE_I8:
      return PutInteger<std::int64_t>(value, destination, outcome);
    case DBTYPE_UI8:
      return PutInteger<std::uint64_t>(value, destination, outcome);
    default:
      return false;
  }
}

template <class T>
T Load(const void* source) noexcept {
  T value;
  std::memcpy(&value, source, sizeof value);
  return value;
}

// A value of a fixed-size type as a VARIANT of the same type.
template <class T>
void PutOwnType(void* destination, VARTYPE type, const void* source) noexcept {
  const T value = Load<T>(source);
  PutVariant(destination, type, &value, sizeof value);
}

bool OwnTypeToVariant(DBTYPE sourceType, const void* source, void* destination, TConversionOutcome& outcome) noexcept {
  const auto type = static_cast<VARTYPE>(sourceType);
  switch (sourceType) {
    case DBTYPE_I1:
    case DBTYPE_UI1:
      PutOwnType<std::uint8_t>(destination, type, source);
      break;
    case DBTYPE_I2:
    case DBTYPE_UI2:
    case DBTYPE_BOOL:
      PutOwnType<std::uint16_t>(destination, type, source);
      break;
    case DBTYPE_I4:
    case DBTYPE_UI4:
    case DBTYPE_R4:
      PutOwnType<std::uint32_t>(destination, type, source);
      break;
    case DBTYPE_R8:
    case DBTYPE_CY:
    case DBTYPE_DATE:
      PutOwnType<std::uint64_t>(destination, type, source);
      break;
    default:
      return false;
  }
  Succeed(outcome, sizeof(VARIANT));
  return true;
}
}  // namespace

bool ConvertExactly(DBTYPE sourceType, DBTYPE destinationType, const void* source, DBLENGTH sourceLength,
                    void* destination, DBLENGTH maxLength, TConversionOutcome& outcome) {
  switch (sourceType) {
    case DBTYPE_STR: {
      TText text;
      text.Narrow = static_cast<const char*>(source);
      text.Units = sourceLength;
      return ConvertText(text, destinationType, destination, maxLength, outcome);
    }
    case DBTYPE_WSTR: {
      TText text;
      text.Wide = static_cast<const wchar_t*>(source);
      text.Units = sourceLength / sizeof(wchar_t);
      return ConvertText(text, destinationType, destination, maxLength, outcome);
    }
    case DBTYPE_I4: {
      const std::int32_t value = Load<std::int32_t>(source);
      if (destinationType == DBTYPE_STR || destinationType == DBTYPE_WSTR || destinationType == DBTYPE_BSTR) {
        char digits[16];
        const std::to_chars_result written = std::to_chars(digits, digits + sizeof digits, value);
        TText text;
        text.Narrow = digits;
        text.Units = static_cast<std::size_t>(written.ptr - digits);
        return ConvertText(text, destinationType, destination, maxLength, outcome);
      }
      if (destinationType == DBTYPE_VARIANT) return OwnTypeToVariant(sourceType, source, destination, outcome);
      return ToInteger(value, destinationType, destination, outcome);
    }
    case DBTYPE_BOOL:
      if (destinationType == DBTYPE_VARIANT) return OwnTypeToVariant(sourceType, source, destination, outcome);
      return ToInteger(Load<VARIANT_BOOL>(source), destinationType, destination, outcome);
    default:
      if (destinationType == DBTYPE_VARIANT) return OwnTypeToVariant(sourceType, source, destination, outcome);
      return false;
  }
}

namespace {
bool IsIntegerType(DBTYPE type) noexcept {
  switch (type) {
    case DBTYPE_I1:
    case DBTYPE_UI1:
    case DBTYPE_I2:
    case DBTYPE_UI2:
    case DBTYPE_I4:
    case DBTYPE_UI4:
    case DBTYPE_I8:
    case DBTYPE_UI8:
      return true;
    default:
      return false;
  }
}

bool IsOwnVariantType(DBTYPE type) noexcept {
  switch (type) {
    case DBTYPE_I1:
    case DBTYPE_UI1:
    case DBTYPE_I2:
    case DBTYPE_UI2:
    case DBTYPE_BOOL:
    case DBTYPE_I4:
    case DBTYPE_UI4:
    case DBTYPE_R4:
    case DBTYPE_R8:
    case DBTYPE_CY:
    case DBTYPE_DATE:
      return true;
    default:
      return false;
  }
}
}  // namespace

bool ConvertsExactly(DBTYPE sourceType, DBTYPE destinationType) noexcept {
  const bool toText = destinationType == DBTYPE_STR || destinationType == DBTYPE_WSTR || destinationType == DBTYPE_BSTR;
  switch (sourceType) {
    case DBTYPE_STR:
    case DBTYPE_WSTR:
      return toText || destinationType == DBTYPE_VARIANT;
    case DBTYPE_I4:
      return toText || destinationType == DBTYPE_VARIANT || IsIntegerType(destinationType);
    case DBTYPE_BOOL:
      return destinationType == DBTYPE_VARIANT || IsIntegerType(destinationType);
    default:
      return destinationType == DBTYPE_VARIANT && IsOwnVariantType(sourceType);
  }
}

namespace {
// The length of text up to its first zero within units, and whether every
// byte before it is ASCII.
std::size_t MeasureNarrow(const char* text, std::size_t units, bool& ascii) noexcept {
  unsigned high = 0;
#if defined(OLEDB_EXACTCONVERT_SSE2)
  if (units >= 16) {
    const __m128i zero = _mm_setzero_si128();
    for (std::size_t i = 0;; i += 16) {
      // The last block ends at the text's end, overlapping bytes already seen.
      if (units - i < 16) i = units - 16;
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
      const auto zeros = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, zero)));
      const auto highs = static_cast<unsigned>(_mm_movemask_epi8(bytes));
      if (zeros != 0) {
        const auto at = static_cast<unsigned>(std::countr_zero(zeros));
        ascii = (high | (highs & ((1u << at) - 1))) == 0;
        return i + at;
      }
      high |= highs;
      if (i + 16 == units) {
        ascii = high == 0;
        return units;
      }
    }
  }
#endif
  // Most texts are short: two overlapping words, the last ending at the
  // text's end, looked at without a branch per byte.
  const auto inWords = [&](auto word) noexcept {
    using TWord = decltype(word);
    constexpr std::size_t Size = sizeof(TWord);
    constexpr TWord Ones = static_cast<TWord>(~TWord{0}) / 0xFF;
    constexpr TWord Highs = Ones << 7;
    TWord last;
    std::memcpy(&word, text, Size);
    std::memcpy(&last, text + units - Size, Size);
    // One high bit per zero byte, exact up to the first one.
    const TWord firstZeros = (word - Ones) & ~word & Highs;
    const TWord lastZeros = (last - Ones) & ~last & Highs;
    std::size_t end = units;
    if (firstZeros != 0) {
      end = static_cast<std::size_t>(std::countr_zero(firstZeros)) / 8;
      const auto before = static_cast<TWord>((TWord{1} << (end * 8)) - 1);
      ascii = (word & before & Highs) == 0;
      return end;
    }
    if (lastZeros != 0) end = units - Size + static_cast<std::size_t>(std::countr_zero(lastZeros)) / 8;
    // The bytes of last from the first one not in word up to end.
    const std::size_t lastFrom = Size - (units - Size < Size ? units - Size : Size);
    const std::size_t lastTo = end - (units - Size);
    const TWord lastMask = lastTo <= lastFrom ? TWord{0}
                                              : static_cast<TWord>(((lastTo == Size ? ~TWord{0} : (TWord{1} << (lastTo * 8)) - 1)) &
                                                                   ~((TWord{1} << (lastFrom * 8)) - 1));
    ascii = ((word & Highs) | (last & lastMask & Highs)) == 0;
    return end;
  };
  if (units >= 8) return inWords(std::uint64_t{});
  if (units >= 4) return inWords(std::uint32_t{});
  std::size_t i = 0;
  for (; i < units && text[i] != 0; ++i) high |= static_cast<unsigned char>(text[i]) & 0x80u;
  ascii = high == 0;
  return i;
}

// Widens count bytes of ASCII text, writing nothing past out + count.
void WidenAscii(const char* text, std::size_t count, wchar_t* out) noexcept {
  std::size_t i = 0;
#if defined(OLEDB_EXACTCONVERT_SSE2)
  if (count >= 8) {
    if (WidenAsciiBlocks(text, count, out) == count) return;
  }
#endif
  for (; i < count; ++i) out[i] = static_cast<wchar_t>(text[i]);
}
}  // namespace

bool ConvertTextToWide(const char* text, std::size_t units, DBTYPE destinationType, void* destination,
                       DBLENGTH maxLength, TConversionOutcome& outcome) noexcept {
  if (!SingleByteSystemCodePage() || !AsciiUnchanged()) return false;
  bool ascii = false;
  TText measured;
  measured.Narrow = text;
  measured.Units = MeasureNarrow(text, units, ascii);
  if (!ascii) return ConvertText(measured, destinationType, destination, maxLength, outcome);
  if (measured.Units > static_cast<std::size_t>(std::numeric_limits<int>::max())) return false;
  if (destinationType == DBTYPE_WSTR) {
    if (maxLength < sizeof(wchar_t)) return false;
    const std::size_t copied = std::min<std::size_t>(measured.Units, maxLength / sizeof(wchar_t) - 1);
    wchar_t* out = static_cast<wchar_t*>(destination);
    WidenAscii(text, copied, out);
    out[copied] = L'\0';
    Succeed(outcome, measured.Units * sizeof(wchar_t), copied < measured.Units);
    return true;
  }
  if (destinationType != DBTYPE_BSTR && destinationType != DBTYPE_VARIANT) return false;
  const BSTR value = SysAllocStringLen(nullptr, static_cast<UINT>(measured.Units));
  if (!value) {
    outcome = {E_OUTOFMEMORY, DBSTATUS_E_CANTCREATE, 0};
    return true;
  }
  WidenAscii(text, measured.Units, value);
  if (destinationType == DBTYPE_BSTR) {
    std::memcpy(destination, &value, sizeof value);
    Succeed(outcome, sizeof(BSTR));
  } else {
    PutVariant(destination, VT_BSTR, &value, sizeof value);
    Succeed(outcome, sizeof(VARIANT));
  }
  return true;
}

// ---- Remembered answers of the library ------------------------------------------

namespace {
// How many bytes the library wrote for a text answer: up to and including
// its terminator, which lies within the buffer; 0 when there is none.
std::size_t WrittenText(DBTYPE type, const void* destination, DBLENGTH maxLength, std::size_t limit) noexcept {
  const std::size_t bytes = std::min<std::size_t>(maxLength, limit);
  if (type == DBTYPE_STR) {
    const auto* text = static_cast<const char*>(destination);
    const auto* end = std::find(text, text + bytes, '\0');
    return end == text + bytes ? 0 : static_cast<std::size_t>(end - text) + 1;
  }
  const auto* text = static_cast<const unsigned char*>(destination);
  for (std::size_t i = 0; i + 1 < bytes; i += 2)
    if (text[i] == 0 && text[i + 1] == 0) return i + 2;
  return 0;
}
}  // namespace

bool TConversionMemo::Replayable(const TRequest& request) noexcept {
  const int sourceSize = TypeSize(request.SourceType);
  if (sourceSize <= 0 || static_cast<std::size_t>(sourceSize) > MaxSource) return false;
  if (request.SourceLength != static_cast<DBLENGTH>(sourceSize)) return false;
  return request.DestinationType == DBTYPE_STR || request.DestinationType == DBTYPE_WSTR ||
         IsPlainValueType(request.DestinationType);
}

namespace {
// The bytes of a short value as a word; a typed load for the common sizes,
// since a word read back from narrower stores stalls.
std::uint64_t WordOf(const void* source, std::size_t length) noexcept {
  switch (length) {
    case 2:
      return Load<std::uint16_t>(source);
    case 4:
      return Load<std::uint32_t>(source);
    case 8:
      return Load<std::uint64_t>(source);
    default: {
      std::uint64_t word = 0;
      std::memcpy(&word, source, length);
      return word;
    }
  }
}

// A short copy of a size known only now: words, never a string instruction.
void CopyShort(void* destination, const unsigned char* source, std::size_t length) noexcept {
  auto* out = static_cast<unsigned char*>(destination);
  if (length >= 8) {
    std::size_t i = 0;
    for (; length - i >= 8; i += 8) std::memcpy(out + i, source + i, 8);
    if (i < length) std::memcpy(out + length - 8, source + length - 8, 8);
    return;
  }
  for (std::size_t i = 0; i < length; ++i) out[i] = source[i];
}
}  // namespace

bool TConversionMemo::KeyOf(const TRequest& request, TKey& key) noexcept {
  if (request.SourceLength == 0 || request.SourceLength > MaxSource) return false;
  const auto* source = static_cast<const unsigned char*>(request.Source);
  const std::size_t length = request.SourceLength;
  key.Source[0] = WordOf(source, std::min<std::size_t>(length, 8));
  key.Source[1] = length > 8 ? WordOf(source + 8, length - 8) : 0;
  key.Types = request.SourceType | std::uint64_t{request.DestinationType} << 16 |
              std::uint64_t{request.Precision} << 32 | std::uint64_t{request.Scale} << 40;
  key.SourceLength = request.SourceLength;
  key.MaxLength = request.MaxLength;
  key.SourceStatus = request.SourceStatus;
  return true;
}

std::size_t TConversionMemo::SlotOf(const TKey& key) noexcept {
  const std::uint64_t mixed = key.Source[0] ^ (key.Source[1] << 1) ^ (key.Types << 3) ^ (key.MaxLength << 7);
  return static_cast<std::size_t>((mixed * 0x9E3779B97F4A7C15ull) >> 59) % std::tuple_size_v<decltype(entries_)>;
}

bool TConversionMemo::Recall(const TRequest& request, void* destination, TConversionOutcome& outcome) const noexcept {
  // Only replayable requests are remembered, so a match is one.
  TKey key;
  if (!KeyOf(request, key)) return false;
  const TEntry& entry = entries_[SlotOf(key)];
  if (!(entry.Key == key)) return false;
  CopyShort(destination, entry.Output.data(), entry.Written);
  outcome = entry.Outcome;
  return true;
}

void TConversionMemo::Remember(const TRequest& request, const void* destination,
                               const TConversionOutcome& outcome) noexcept {
  TKey key;
  if (!Replayable(request) || !KeyOf(request, key) || outcome.Result != S_OK) return;
  if (outcome.Status != DBSTATUS_S_OK && outcome.Status != DBSTATUS_S_TRUNCATED) return;
  std::size_t written;
  if (request.DestinationType == DBTYPE_STR || request.DestinationType == DBTYPE_WSTR) {
    written = WrittenText(request.DestinationType, destination, request.MaxLength, MaxOutput);
  } else {
    written = static_cast<std::size_t>(TypeSize(request.DestinationType));
    if (written > MaxOutput) written = 0;
  }
  if (written == 0) return;
  TEntry& entry = entries_[SlotOf(key)];
  entry.Key = key;
  entry.Outcome = outcome;
  entry.Written = static_cast<std::uint8_t>(written);
  std::memcpy(entry.Output.data(), destination, written);
}

bool TBindingAnswers::Keeps(DBTYPE sourceType, DBTYPE destinationType) noexcept {
  const int sourceSize = TypeSize(sourceType);
  if (!IsPlainValueType(sourceType) || sourceSize <= 0 || sourceSize > 8) return false;
  return destinationType == DBTYPE_STR || destinationType == DBTYPE_WSTR || IsPlainValueType(destinationType);
}

void TBindingAnswers::Remember(std::uint64_t value, DBTYPE destinationType, DBLENGTH maxLength,
                               const void* destination, DBLENGTH length, DBSTATUS status) noexcept {
  if (status != DBSTATUS_S_OK) return;
  std::size_t written;
  if (destinationType == DBTYPE_STR || destinationType == DBTYPE_WSTR) {
    // A whole text is the text the library measured and its terminator:
    // then every byte it wrote is known.
    const std::size_t unit = destinationType == DBTYPE_STR ? 1 : sizeof(wchar_t);
    if (length > MaxOutput - unit || length + unit > maxLength) return;
    written = static_cast<std::size_t>(length) + unit;
    const auto* terminator = static_cast<const unsigned char*>(destination) + length;
    if (terminator[0] != 0 || terminator[unit - 1] != 0) return;
  } else {
    const int size = TypeSize(destinationType);
    if (!IsPlainValueType(destinationType) || size <= 0 || static_cast<std::size_t>(size) > MaxOutput) return;
    written = static_cast<std::size_t>(size);
  }
  TAnswer& answer = answers_[next_];
  next_ = static_cast<std::uint8_t>((next_ + 1) % answers_.size());
  answer.Value = value;
  answer.Length = length;
  answer.Status = status;
  answer.Written = static_cast<std::uint8_t>(written);
  std::memcpy(answer.Output.data(), destination, written);
}

void TConversionMemo::Convert(IDataConvert& convert, const TRequest& request, void* destination,
                              DBLENGTH destinationLength, TConversionOutcome& outcome) noexcept {
  if (Recall(request, destination, outcome)) return;
  DBSTATUS status = request.SourceStatus;
  outcome.Result = convert.DataConvert(request.SourceType, request.DestinationType, request.SourceLength,
                                       &destinationLength, const_cast<void*>(request.Source), destination,
                                       request.MaxLength, request.SourceStatus, &status, request.Precision,
                                       request.Scale, 0);
  outcome.Status = status;
  outcome.Length = destinationLength;
  Remember(request, destination, outcome);
}
