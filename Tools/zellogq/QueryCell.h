#pragma once
// One value of a result row, as the output formats see it: typed, provider
// neutral, text already UTF-8. Cells are reused row after row, so their text
// keeps its capacity and steady-state reading allocates nothing.
#include <cstdint>
#include <string>

enum class TCellKind : std::uint8_t {
  Null,
  Bool,
  Integer,
  Unsigned,
  Real,
  Decimal,  // exact number as text (DECIMAL, NUMERIC, currency)
  Date,     // date only
  Time,     // time of day only
  DateTime,
  Text,
  Error,    // the value could not be read; Text holds the reason in one word
};

struct TCellDateTime {
  std::int64_t Year = 0;
  unsigned Month = 1;
  unsigned Day = 1;
  unsigned Hour = 0;
  unsigned Minute = 0;
  unsigned Second = 0;
  std::uint32_t Nanosecond = 0;
};

struct TQueryCell {
  TCellKind Kind = TCellKind::Null;
  bool Truncated = false;  // the provider cut the value to fit its buffer
  bool Bool = false;
  std::int64_t Integer = 0;
  std::uint64_t Unsigned = 0;
  double Real = 0;
  TCellDateTime DateTime;
  std::string Text;

  bool IsNumber() const noexcept {
    return Kind == TCellKind::Integer || Kind == TCellKind::Unsigned || Kind == TCellKind::Real ||
           Kind == TCellKind::Decimal;
  }
};
