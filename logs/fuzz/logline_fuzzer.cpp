// Feeds arbitrary lines to the log reader behind one of a few headers, through
// a file and small views so that view boundaries fall anywhere, and runs the
// vocabulary conversions over each input line.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <cstdio>
#include <string>
#include <string_view>

#include <unistd.h>

#include "LogDebugOutput_un.h"
#include "LogFileReader_un.h"

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

// On tmpfs where there is one: the file is rewritten for every input.
const std::string& FuzzFileName() {
  static const std::string name = [] {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/logline_fuzzer_" + std::to_string(getpid()) + ".log";
  }();
  return name;
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

  const std::string_view header = Headers[(control & 0x03) % std::size(Headers)];
  if (std::FILE* file = std::fopen(FuzzFileName().c_str(), "wb")) {
    std::fwrite(header.data(), 1, header.size(), file);
    std::fwrite(body.data(), 1, body.size(), file);
    std::fclose(file);
  } else {
    return 0;
  }

  TFastTextReaderOptions options;
  // 0 keeps the production size; squares keep tiny views rare enough that
  // mapping does not eat the run.
  const std::uint32_t viewRoot = control >> 2;
  options.ViewSize = viewRoot * viewRoot;
  TLogFileReader::CheckFingerprint(FuzzFileName());
  TLogFileReader reader(options);
  std::string error;
  if (reader.Open(FuzzFileName(), error)) {
    TLogRecord record;
    while (!reader.Eof())
      reader.ReadRecord(record, error);
    reader.Close(error);
  }
  unlink(FuzzFileName().c_str());
  return 0;
}
