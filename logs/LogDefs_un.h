#pragma once
// The vocabulary of the mail filtering service's log: enumerations, their
// log-line and display texts, the strict date-time and IPv4 conversions, the
// error types of the log layer and the log viewer's presentation defaults.
//
// All text is single-byte (the system's narrow code page). Vocabulary is
// compared ASCII case-insensitively; no locale is involved.
#include <array>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

// ---------------------------------------------------------------------------
// Errors. Every error the layer raises names its class, because the reader's
// error texts carry "class/message".

class ELogError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
  virtual std::string_view ClassName() const noexcept = 0;
};

// A text that is not a number, or an invalid time ("Invalid argument to time encode").
class EConvertError : public ELogError {
public:
  using ELogError::ELogError;
  std::string_view ClassName() const noexcept override { return "EConvertError"; }
};

// A value outside its range; its message is always "Range check error".
class ERangeError : public ELogError {
public:
  ERangeError() : ELogError("Range check error") {}
  std::string_view ClassName() const noexcept override { return "ERangeError"; }
};

// A failed system call outside the mapped reader (opening or reading a file for
// the fingerprint check).
class EOSError : public ELogError {
public:
  EOSError(std::string message, std::uint32_t errorCode)
      : ELogError(std::move(message)), ErrorCode(errorCode) {}
  std::string_view ClassName() const noexcept override { return "EOSError"; }
  std::uint32_t ErrorCode;
};

// Misuse of the log viewer's row colour settings.
class ERowColorSettingsError : public ELogError {
public:
  using ELogError::ELogError;
  std::string_view ClassName() const noexcept override { return "ERowColorSettingsError"; }
};

// ---------------------------------------------------------------------------
// Enumerations, one byte each.

enum class TLogEventClass : std::uint8_t { System, Pass, Whitelist, Blacklist, Intermediate };

enum class TLogAction : std::uint8_t {
  Reject,
  TagSubject,
  TagHeader,
  Redirect,
  ReplaceAttachment,
  RemoveRecipient,
  WhitelistRecipient
};

enum class TFilteringPoint : std::uint8_t { NonFiltering, BeforeArrival, OnArrival };

enum class TLogSeverity : std::uint8_t { Info, Warning, Error, CriticalError };

enum class TLogMode : std::uint8_t { Short, Verbose };

constexpr std::uint8_t LogActionMask(TLogAction action) noexcept {
  return static_cast<std::uint8_t>(1u << static_cast<unsigned>(action));
}

// A set of actions; bit n is set when action n was taken (bit 7 never is).
struct TLogActions {
  std::uint8_t Bits = 0;

  constexpr bool Contains(TLogAction action) const noexcept { return (Bits & LogActionMask(action)) != 0; }
  constexpr void Include(TLogAction action) noexcept { Bits = static_cast<std::uint8_t>(Bits | LogActionMask(action)); }
  constexpr void Exclude(TLogAction action) noexcept {
    Bits = static_cast<std::uint8_t>(Bits & ~LogActionMask(action));
  }
  constexpr void Clear() noexcept { Bits = 0; }
  constexpr bool Empty() const noexcept { return Bits == 0; }
  friend constexpr bool operator==(TLogActions, TLogActions) = default;
};

// ---------------------------------------------------------------------------
// Name tables: the identifiers of each enumeration in value order, and the
// identifiers of the record fields.

inline constexpr std::array<std::string_view, 5> LogEventClassNames = {"System", "Pass", "Whitelist", "Blacklist",
                                                                        "Intermediate"};
inline constexpr std::array<std::string_view, 7> LogActionNames = {
    "Reject", "TagSubject", "TagHeader", "Redirect", "ReplaceAttachment", "RemoveRecipient", "WhitelistRecipient"};
inline constexpr std::array<std::string_view, 3> FilteringPointNames = {"NonFiltering", "BeforeArrival",
                                                                         "OnArrival"};
inline constexpr std::array<std::string_view, 4> LogSeverityNames = {"Info", "Warning", "Error", "CriticalError"};
inline constexpr std::array<std::string_view, 2> LogModeNames = {"Short", "Verbose"};

inline constexpr std::array<std::string_view, 15> LogRecordFieldNames = {
    "Version",  "LogMode",        "Server", "Source",    "Time",   "Class",      "Severity", "Actions",
    "FilteringPoint", "IP", "MessageID", "Sender", "Recipients", "Subject", "Message"};
inline constexpr std::array<std::string_view, 8> LogRecordTextFieldNames = {
    "Server", "Source", "IP", "MessageID", "Sender", "Recipients", "Subject", "Message"};

// ---------------------------------------------------------------------------
// Text to value. Each returns true on success and writes its result only on
// success unless noted.

// Automation date (days since 1899-12-30) of an exact "YYYY-MM-DDTHH:MM:SS"
// text; no time zone is applied.
bool StrToLogDateTime(std::string_view text, double& value);
// The same as seconds since 1899-12-30 00:00, the form the reader computes with.
bool StrToLogSeconds(std::string_view text, std::int64_t& seconds);

// A field of a data line without the blanks and control characters around
// it; "-" stands for an empty field. Compiled apart from the reader's field
// cut, which runs for every field of every line, because such fields are rare.
std::string_view TrimmedFieldText(std::string_view text) noexcept;

// StrToLogSeconds for the lines of one log, which keep to one day for long
// stretches: the day of the last text that converted is kept, and a text of
// the same day costs only its time of day. Same results as StrToLogSeconds.
class TLogSecondsReader {
public:
  bool Read(std::string_view text, std::int64_t& seconds) {
    if (HasDay && text.size() == 19 && std::memcmp(text.data(), Day, sizeof Day) == 0 && text[10] == 'T' &&
        text[13] == ':' && text[16] == ':') {
      const auto digit = [text](std::size_t place) {
        return static_cast<unsigned>(static_cast<unsigned char>(text[place])) - unsigned{'0'};
      };
      const unsigned digits[6] = {digit(11), digit(12), digit(14), digit(15), digit(17), digit(18)};
      if ((digits[0] > 9) + (digits[1] > 9) + (digits[2] > 9) + (digits[3] > 9) + (digits[4] > 9) + (digits[5] > 9) ==
          0) {
        const unsigned hour = digits[0] * 10 + digits[1];
        const unsigned minute = digits[2] * 10 + digits[3];
        const unsigned second = digits[4] * 10 + digits[5];
        if (hour <= 23 && minute <= 59 && second <= 59) {
          seconds = DaySeconds + hour * 3600 + minute * 60 + second;
          return true;
        }
      }
    }
    return ReadNewDay(text, seconds);
  }

private:
  bool ReadNewDay(std::string_view text, std::int64_t& seconds);

  char Day[10] = {}; // the date part of the last text that converted
  std::int64_t DaySeconds = 0;
  bool HasDay = false;
};

// Dotted IPv4 text, first octet most significant. "" and "-" give 0 and
// succeed. Not exactly three dots: fails, value untouched. A part that is not
// an integer raises EConvertError, one outside 0-255 raises ERangeError.
// Otherwise the value is written and the result is true only when the first
// and the last octet are non-zero.
// The conversions a reader makes on every line take their text as its first
// byte and length, each declared beside its string_view form: the x64
// Windows calling convention passes a string_view through memory, which the
// callee must wait to read back.
bool StrToIPv4Value(std::string_view text, std::uint32_t& value);
// The same, where the bytes from the text up to readableEnd may be read.
bool StrToIPv4Value(const char* text, std::size_t size, const char* readableEnd, std::uint32_t& value);
inline bool StrToIPv4Value(std::string_view text, const char* readableEnd, std::uint32_t& value) {
  return StrToIPv4Value(text.data(), text.size(), readableEnd, value);
}

bool StrToEventClass(const char* text, std::size_t size, TLogEventClass& value);
inline bool StrToEventClass(std::string_view text, TLogEventClass& value) {
  return StrToEventClass(text.data(), text.size(), value);
}
bool StrToAction(std::string_view text, TLogAction& value);
// Actions joined by "+"; the set is cleared first and keeps the actions read
// before a failing item.
bool StrToActions(const char* text, std::size_t size, TLogActions& value);
inline bool StrToActions(std::string_view text, TLogActions& value) {
  return StrToActions(text.data(), text.size(), value);
}
// The older format's single class word naming class and action; the set is
// cleared first.
bool StrToLegacyEventClass(const char* text, std::size_t size, TLogEventClass& eventClass, TLogActions& actions);
inline bool StrToLegacyEventClass(std::string_view text, TLogEventClass& eventClass, TLogActions& actions) {
  return StrToLegacyEventClass(text.data(), text.size(), eventClass, actions);
}
bool StrToFilteringPoint(const char* text, std::size_t size, TFilteringPoint& value);
inline bool StrToFilteringPoint(std::string_view text, TFilteringPoint& value) {
  return StrToFilteringPoint(text.data(), text.size(), value);
}
bool StrToSeverity(const char* text, std::size_t size, TLogSeverity& value);
inline bool StrToSeverity(std::string_view text, TLogSeverity& value) {
  return StrToSeverity(text.data(), text.size(), value);
}

// Value to display text; a value outside the enumeration gives "".
std::string_view EventClassToDisplayText(TLogEventClass value) noexcept;
std::string_view SeverityToDisplayText(TLogSeverity value) noexcept;
std::string_view FilteringPointToDisplayText(TFilteringPoint value) noexcept;

// ---------------------------------------------------------------------------
// Log viewer presentation defaults. This library only creates them; what the
// flags, entries and row kinds mean is the viewer's business.

struct TLogViewColumn {
  std::int32_t Position = 0;
  std::uint8_t Flag1 = 0;
  std::uint8_t Flag2 = 0;
  std::uint8_t Flag3 = 0;
  std::int32_t Width = 0;
  std::uint8_t Flag4 = 0;
};

class TLogViewColumns {
public:
  static constexpr int Count = 16;
  TLogViewColumns();
  // Entry 0-15; any other number raises ERangeError.
  TLogViewColumn& Column(int entry);
  const TLogViewColumn& Column(int entry) const;

private:
  std::array<TLogViewColumn, Count> Columns;
};

struct TColorSetting {
  std::uint32_t Color = 0; // 0x00BBGGRR, or a system colour 0xFF0000nn
  bool UseCustomSetting = false;
};

class TRowColorSettings {
public:
  static constexpr int RowKindCount = 4;
  static constexpr std::uint32_t SystemWindowColor = 0xFF000005;
  static constexpr std::uint32_t SystemWindowTextColor = 0xFF000008;
  static constexpr int BackgroundIndex = 0;
  static constexpr int TextIndex = 1;

  TRowColorSettings();
  // kind 0-3, index 0 (background) or 1 (text); anything else raises
  // ERowColorSettingsError.
  void SetColor(int kind, int index, std::uint32_t color);
  void SetUseCustomSetting(int kind, int index, bool useCustomSetting);
  const TColorSetting& Setting(int kind, int index) const;

  bool Enabled = false;

private:
  std::array<std::array<TColorSetting, 2>, RowKindCount> Settings;
};

// The process-wide instances, alive from load to unload.
extern const TLogViewColumns DefaultLogViewColumns;
extern const TRowColorSettings DefaultRowColors; // the first colour set
extern const TRowColorSettings BasicRowColors;   // the second colour set
