#pragma once
// The conversions the toolkit makes itself, beside the platform's conversion
// library: those whose result OLE DB fixes to the byte, and answers the
// library gave before for the same value and binding.
//
// Both give exactly what the library's IDataConvert::DataConvert gives for
// the same arguments: result code, status, length and every byte written.
// Whatever is the library's own choice (dates and booleans as text, dates as
// structures, the status of a value that does not fit, text in a code page of
// more than one byte per character) still goes to the library.
#include <windows.h>
#include <oledb.h>
#include <msdadc.h>

#include <array>
#include <cstdint>
#include <cstring>

// The outcome of one conversion, as IDataConvert::DataConvert reports it.
struct TConversionOutcome {
  HRESULT Result = S_OK;
  DBSTATUS Status = DBSTATUS_S_OK;
  DBLENGTH Length = 0;
};

// Converts source to destination when the pair and the value are among those
// OLE DB fixes to the byte: text between DBTYPE_STR and DBTYPE_WSTR or
// DBTYPE_BSTR in the system code page, a value to a VARIANT of its own type,
// DBTYPE_I4 to decimal text and to the other integer types, DBTYPE_BOOL to
// the integer types. Answers false, leaving destination as it was, for any
// other pair or value. Allocates only what the destination type asks for (a
// BSTR); its failure is E_OUTOFMEMORY.
bool ConvertExactly(DBTYPE sourceType, DBTYPE destinationType, const void* source, DBLENGTH sourceLength,
                    void* destination, DBLENGTH maxLength, TConversionOutcome& outcome);

// Whether ConvertExactly converts some values of the pair: false means it
// never does.
bool ConvertsExactly(DBTYPE sourceType, DBTYPE destinationType) noexcept;

// DBTYPE_STR text of at most units bytes, measured up to its first zero, to
// DBTYPE_WSTR, DBTYPE_BSTR or DBTYPE_VARIANT: what ConvertExactly gives for
// the text so measured, widened without a second look at text that is
// ASCII. False where ConvertExactly would leave the conversion to the
// library.
bool ConvertTextToWide(const char* text, std::size_t units, DBTYPE destinationType, void* destination,
                       DBLENGTH maxLength, TConversionOutcome& outcome) noexcept;

// The last answers the conversion library gave for one binding whose source
// is a fixed-size value of at most 8 bytes (a boolean, a date), keyed by the
// value's bits alone: everything else an answer depends on is the
// binding's, so a binding's answers are kept with it and dropped with it.
// Two of them: a boolean's both values, or a time and the one before it.
class TBindingAnswers {
public:
  // Whether answers for bindings of sourceType as destinationType can be
  // kept at all.
  static bool Keeps(DBTYPE sourceType, DBTYPE destinationType) noexcept;

  // Writes the answer kept for value into destination and sets length and
  // status as the library did; false when there is none.
  bool Recall(std::uint64_t value, void* destination, DBLENGTH& length, DBSTATUS& status) const noexcept {
    for (const TAnswer& answer : answers_) {
      if (answer.Written == 0 || answer.Value != value) continue;
      auto* out = static_cast<unsigned char*>(destination);
      // Whole words, the last one ending at the answer's end.
      const std::size_t written = answer.Written;
      if (written >= 8) {
        for (std::size_t i = 0; i + 8 < written; i += 8) std::memcpy(out + i, answer.Output.data() + i, 8);
        std::memcpy(out + written - 8, answer.Output.data() + written - 8, 8);
      } else {
        std::memcpy(out, answer.Output.data(), written);
      }
      length = answer.Length;
      status = answer.Status;
      return true;
    }
    return false;
  }
  // Keeps what a conversion of value to destinationType in maxLength bytes
  // wrote into destination, when it is a whole answer: the conversion
  // succeeded without truncation and what it wrote is known to the byte.
  void Remember(std::uint64_t value, DBTYPE destinationType, DBLENGTH maxLength, const void* destination,
                DBLENGTH length, DBSTATUS status) noexcept;

private:
  static constexpr std::size_t MaxOutput = 64;
  struct TAnswer {
    std::uint64_t Value = 0;
    DBLENGTH Length = 0;
    DBSTATUS Status = DBSTATUS_S_OK;
    // 0: unused.
    std::uint8_t Written = 0;
    std::array<unsigned char, MaxOutput> Output{};
  };
  std::array<TAnswer, 2> answers_{};
  std::uint8_t next_ = 0;
};

// Answers of the conversion library for small fixed-size values (a boolean,
// a date) converted to text or to a fixed-size type, remembered so that the
// same value bound the same way is not converted again. Values the consumer
// owns afterwards (BSTR, VARIANT, by-reference) are never remembered.
class TConversionMemo {
public:
  struct TRequest {
    DBTYPE SourceType;
    DBTYPE DestinationType;
    const void* Source;
    DBLENGTH SourceLength;
    DBLENGTH MaxLength;
    BYTE Precision;
    BYTE Scale;
    DBSTATUS SourceStatus;
  };

  // The library's answer for request, remembered or asked of convert now
  // and remembered; destinationLength is what the library's length starts
  // as.
  void Convert(IDataConvert& convert, const TRequest& request, void* destination, DBLENGTH destinationLength,
               TConversionOutcome& outcome) noexcept;

private:
  // Writes a remembered answer for request into destination; false when
  // there is none.
  bool Recall(const TRequest& request, void* destination, TConversionOutcome& outcome) const noexcept;
  // Remembers what the library wrote into destination for request, when
  // request and outcome are of the kind that can be replayed.
  void Remember(const TRequest& request, const void* destination, const TConversionOutcome& outcome) noexcept;

  static constexpr std::size_t MaxSource = 16;
  static constexpr std::size_t MaxOutput = 96;
  // Everything an answer depends on, in words compared at once: a lookup is
  // made for every boolean and date of every row.
  struct TKey {
    std::uint64_t Source[MaxSource / 8];
    std::uint64_t Types;
    std::uint64_t SourceLength;
    std::uint64_t MaxLength;
    std::uint64_t SourceStatus;
    bool operator==(const TKey&) const noexcept = default;
  };
  // An unused entry's key has no source length, which no remembered request
  // has.
  struct TEntry {
    TKey Key{};
    TConversionOutcome Outcome;
    std::array<unsigned char, MaxOutput> Output{};
    std::uint8_t Written = 0;
  };

  static bool Replayable(const TRequest& request) noexcept;
  // False for a source too long to be remembered.
  static bool KeyOf(const TRequest& request, TKey& key) noexcept;
  static std::size_t SlotOf(const TKey& key) noexcept;

  std::array<TEntry, 32> entries_{};
};
