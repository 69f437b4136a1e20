#pragma once
// Log records and read errors as JSON Lines objects.
#include <array>
#include <cstdint>
#include <string_view>

#include "JsonWriter.h"
#include "LogTimeText.h"
#include "LogFileReader_un.h"

class TCodePage;

// The identifier of an enumeration value as a JSON string, or its number when
// the value has no identifier.
template <std::size_t N>
void WriteEnumName(TJsonWriter& writer, const std::array<std::string_view, N>& names, unsigned value) {
  if (value < N) {
    writer.Raw('"');
    writer.Raw(names[value]);
    writer.Raw('"');
  } else {
    writer.UInt(value);
  }
}

// The actions in bit order as a JSON array of identifiers.
void WriteActions(TJsonWriter& writer, TLogActions actions);

// Writes record lines: {"file":..., "Version":..., ..., "LineNr":...}.
// fileJson is the file name already written as a JSON string; text fields are
// converted from codePage.
class TRecordJson {
public:
  void WriteLine(TJsonWriter& writer, std::string_view fileJson, const TLogRecord& record, const TCodePage& codePage);
  // The line up to and including "LineNr":, for a caller that writes the
  // number, and "}\n", itself.
  void WriteUpToLineNr(TJsonWriter& writer, std::string_view fileJson, const TLogRecord& record,
                       const TCodePage& codePage);

private:
  // Neighbouring records often share their time to the second.
  double CachedTime = -1e300;
  bool CachedTimeValid = false;
  std::uint64_t CachedTimeOfDay = 0;
  TIsoTimeWriter TimeWriter;
};

// The same, once.
void WriteRecordLine(TJsonWriter& writer, std::string_view fileJson, const TLogRecord& record,
                     const TCodePage& codePage);

// One line: {"file":..., "error":...}; the error text is in the system's
// narrow encoding, given as errorCodePage.
void WriteErrorLine(TJsonWriter& writer, std::string_view fileJson, std::string_view errorText,
                    const TCodePage& errorCodePage);
