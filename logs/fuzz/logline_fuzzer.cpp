// Feeds arbitrary lines to the log reader behind one of a few headers, from
// memory through the file seam, and runs the vocabulary conversions over each
// input line. Every input is read twice, with the production view size and
// with a small one, and both reads must give the same records and errors: a
// view boundary that changes the output is a fault even when nothing crashes.
//
// The first input byte selects the header (bits 0-1) and the small view size
// (bits 2-7, 1 to 64 bytes).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "CivilDate_un.h"
#include "LogDebugOutput_un.h"
#include "LogFileReader_un.h"
#include "MappedFile_un.h"

// Freed inputs need not be watched for long: a small quarantine keeps the
// process small and its allocations cache-warm.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16:malloc_context_size=10"; }

namespace {

constexpr std::string_view Headers[] = {
    "#Software: Tarnvel ZEL Corvane Edition\r\n#Version: 2.0\r\n#LogMode: verbose\r\n#Timezone: GMT+0100\r\n"
    "#Server: MAIL1\r\n#Fields: x-event-datetime x-event-class x-event-action x-filtering-point x-event-severity "
    "x-ip x-sender x-recipients x-msg-subject x-helo-domain x-event-msg\r\n",
    "#Software: Tarnvel ZEL Valtrix\r\n#Version: 1.4\r\n#Fields: x-event-datetime x-event-class x-event-severity "
    "c-ip x-sender x-recipients x-event-msg\r\n",
    "",
};

// An address converted with and without bytes to read past its end (a block
// at a time or a byte at a time) must give the same result, value and error.
struct TAddressOutcome {
  bool Result = false;
  std::uint32_t Value = 7;
  std::string Error;
  bool operator==(const TAddressOutcome&) const = default;
};

TAddressOutcome ConvertAddress(std::string_view text, const char* readableEnd) {
  TAddressOutcome outcome;
  try {
    outcome.Result = StrToIPv4Value(text, readableEnd, outcome.Value);
  } catch (const ELogError& error) {
    outcome.Error.assign(error.ClassName()).append(": ").append(error.what());
  }
  return outcome;
}

void ConvertAddressBothWays(std::string_view text) {
  std::string padded(text);
  padded.append(16, '9'); // digits past the end must not be taken for the address's own
  const std::string_view inPadded(padded.data(), text.size());
  if (!(ConvertAddress(text, text.data() + text.size()) == ConvertAddress(inPadded, padded.data() + padded.size()))) {
    std::fprintf(stderr, "address converted differently with bytes past its end: '%.*s'\n",
                 static_cast<int>(text.size()), text.data());
    std::abort();
  }
}

void ConvertVocabulary(std::string_view text) {
  double time = 0;
  StrToLogDateTime(text, time);
  ConvertAddressBothWays(text);
  TLogEventClass eventClass{};
  TLogActions actions;
  TFilteringPoint filteringPoint{};
  TLogSeverity severity{};
  if (StrToEventClass(text, eventClass))
    EventClassToDisplayText(eventClass);
  StrToActions(text, actions);
  StrToLegacyEventClass(text, eventClass, actions);
  if (StrToFilteringPoint(text, filteringPoint))
    FilteringPointToDisplayText(filteringPoint);
  if (StrToSeverity(text, severity))
    SeverityToDisplayText(severity);
}

// What one ReadRecord call gave.
struct TOutcome {
  bool Produced = false;
  std::string Error;
  TLogRecord Record;
};

bool SameRecord(const TLogRecord& a, const TLogRecord& b) {
  return a.Version == b.Version && a.LogMode == b.LogMode && a.Server == b.Server && a.Source == b.Source &&
         std::memcmp(&a.Time, &b.Time, sizeof a.Time) == 0 && a.Class == b.Class &&
         a.Actions == b.Actions && a.Severity == b.Severity && a.FilteringPoint == b.FilteringPoint &&
         a.IP == b.IP && a.IPValue == b.IPValue && a.MessageID == b.MessageID && a.Sender == b.Sender &&
         a.Recipients == b.Recipients && a.HeloDomain == b.HeloDomain && a.Subject == b.Subject &&
         a.Message == b.Message && a.LineNr == b.LineNr;
}

[[noreturn]] void Mismatch(std::uint32_t viewSize, std::size_t call, const char* what) {
  std::fprintf(stderr, "view size %u changed the outcome of ReadRecord call %zu: %s\n", viewSize, call, what);
  std::abort();
}

// Reads the memory file to its end; with expected, checks every call against
// it, otherwise fills it.
void ReadAll(std::uint32_t viewSize, std::vector<TOutcome>& outcomes, bool compare) {
  TFastTextReaderOptions options;
  options.ViewSize = viewSize;
  TLogFileReader reader(options);
  std::string error;
  if (!reader.Open(std::string("fuzz.log"), error))
    Mismatch(viewSize, 0, "the memory file did not open");
  TOutcome outcome;
  std::size_t call = 0;
  for (; !reader.Eof(); ++call) {
    outcome.Produced = reader.ReadRecord(outcome.Record, outcome.Error);
    if (!compare) {
      outcomes.push_back(outcome);
      continue;
    }
    if (call >= outcomes.size())
      Mismatch(viewSize, call, "more lines");
    const TOutcome& expected = outcomes[call];
    if (outcome.Produced != expected.Produced || outcome.Error != expected.Error)
      Mismatch(viewSize, call, "result or error text");
    if (outcome.Produced && !SameRecord(outcome.Record, expected.Record))
      Mismatch(viewSize, call, "record");
  }
  if (compare && call != outcomes.size())
    Mismatch(viewSize, call, "fewer lines");
  reader.Close(error);
}

// The fields of a record that a reader wanting fields must fill as a full
// read does; the others may hold anything.
bool SameWantedFields(const TLogRecord& a, const TLogRecord& b, std::uint32_t fields) {
  const auto same = [fields](std::uint32_t bit, bool equal) { return !(fields & bit) || equal; };
  return a.LogMode == b.LogMode && a.Class == b.Class && a.Actions == b.Actions && a.Severity == b.Severity &&
         a.FilteringPoint == b.FilteringPoint && a.IPValue == b.IPValue && a.LineNr == b.LineNr &&
         same(LogFieldVersion, a.Version == b.Version) && same(LogFieldServer, a.Server == b.Server) &&
         same(LogFieldSource, a.Source == b.Source) &&
         same(LogFieldTime, std::memcmp(&a.Time, &b.Time, sizeof a.Time) == 0) && same(LogFieldIP, a.IP == b.IP) &&
         same(LogFieldMessageID, a.MessageID == b.MessageID) && same(LogFieldSender, a.Sender == b.Sender) &&
         same(LogFieldRecipients, a.Recipients == b.Recipients) && same(LogFieldSubject, a.Subject == b.Subject) &&
         same(LogFieldHeloDomain, a.HeloDomain == b.HeloDomain) && same(LogFieldMessage, a.Message == b.Message);
}

[[noreturn]] void OptionsMismatch(std::size_t event, const char* what) {
  std::fprintf(stderr, "read options changed event %zu of ReadRecord: %s\n", event, what);
  std::abort();
}

// A reader that wants some fields and a time window must give every error
// of the full read and exactly its records inside the window.
void ReadWithOptions(const TLogReadOptions& options, const std::vector<TOutcome>& full) {
  TLogFileReader reader;
  reader.SetReadOptions(options);
  std::string error;
  if (!reader.Open(std::string("fuzz.log"), error))
    OptionsMismatch(0, "the memory file did not open");
  std::size_t next = 0;
  const auto nextExpected = [&]() -> const TOutcome* {
    for (; next < full.size(); ++next) {
      const TOutcome& outcome = full[next];
      const std::int64_t seconds = SecondsFromAutomationDate(outcome.Record.Time);
      if (!outcome.Error.empty() || (outcome.Produced && seconds >= options.TimeFrom && seconds <= options.TimeTo))
        return &full[next++];
    }
    return nullptr;
  };
  TOutcome outcome;
  for (std::size_t event = 0; !reader.Eof();) {
    outcome.Produced = reader.ReadRecord(outcome.Record, outcome.Error);
    if (!outcome.Produced && outcome.Error.empty())
      continue;
    const TOutcome* expected = nextExpected();
    if (!expected)
      OptionsMismatch(event, "more records or errors");
    if (outcome.Produced != expected->Produced || outcome.Error != expected->Error)
      OptionsMismatch(event, "result or error text");
    if (outcome.Produced && !SameWantedFields(outcome.Record, expected->Record, options.Fields))
      OptionsMismatch(event, "record");
    ++event;
  }
  if (nextExpected())
    OptionsMismatch(next, "fewer records or errors");
  reader.Close(error);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = (SetLogDebugSink([](std::string_view) {}), true);
  (void)quiet;
  if (size < 1)
    return 0;
  const std::uint8_t control = data[0];
  const std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);

  for (std::size_t begin = 0; begin <= body.size();) {
    const std::size_t end = std::min(body.find('\n', begin), body.size());
    ConvertVocabulary(body.substr(begin, end - begin));
    begin = end + 1;
  }

  // The file in a heap block of its exact size, so that the sanitizer also
  // catches a read past its last byte.
  const std::string_view header = Headers[(control & 0x03) % std::size(Headers)];
  const std::size_t fileSize = header.size() + body.size();
  const auto file = std::make_unique<char[]>(std::max<std::size_t>(fileSize, 1));
  std::memcpy(file.get(), header.data(), header.size());
  std::memcpy(file.get() + header.size(), body.data(), body.size());
  SetMemoryFile(file.get(), fileSize);

  TLogFileReader::CheckFingerprint(std::string("fuzz.log"));
  static std::vector<TOutcome> outcomes;
  outcomes.clear();
  ReadAll(0, outcomes, false);
  ReadAll(1 + (control >> 2), outcomes, true);

  // Fields and a window around the first record's time, both from the input.
  TLogReadOptions options;
  options.Fields = static_cast<std::uint32_t>(size * 2654435761u) & LogFieldsAll;
  const auto first = std::find_if(outcomes.begin(), outcomes.end(), [](const TOutcome& o) { return o.Produced; });
  if (first != outcomes.end() && (control & 0x80)) {
    const std::int64_t center = SecondsFromAutomationDate(first->Record.Time);
    const std::int64_t reach = static_cast<std::int64_t>(size % 7) * 1800;
    options.TimeFrom = center - reach;
    options.TimeTo = center + (size % 3 == 0 ? 0 : reach);
  }
  ReadWithOptions(options, outcomes);

  SetMemoryFile(nullptr, 0);
  return 0;
}
