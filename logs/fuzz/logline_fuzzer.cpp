// Feeds arbitrary lines to the log reader behind one of a few headers, from
// memory through the file seam, and runs the vocabulary conversions over each
// input line. Every input is read twice, with the production view size and
// with a small one, and both reads must give the same records and errors: a
// view boundary that changes the output is a fault even when nothing crashes.
//
// The first input byte selects the header (bits 0-1) and the small view size
// (bits 2-7, 1 to 64 bytes).
#include <algorithm>
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

void ConvertVocabulary(std::string_view text) {
  double time = 0;
  StrToLogDateTime(text, time);
  try {
    std::uint32_t ip = 0;
    StrToIPv4Value(text, ip);
  } catch (const ELogError&) {
  }
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

  SetMemoryFile(nullptr, 0);
  return 0;
}
