#include "ZellogCat.h"

#include <cstdint>

#include "CodePage.h"
#include "JsonWriter.h"
#include "LogDebugOutput_un.h"
#include "LogFileReader_un.h"
#include "RecordJson.h"

#ifdef _WIN32
#include <windows.h>
#endif

const char* const CatUsage =
    "Usage: zellogcat [--codepage N] LOGFILE...\n"
    "\n"
    "Reads log files of the mail filtering service and writes every record as one\n"
    "JSON object per line (JSON Lines) to standard output, file after file, in file\n"
    "order. A record object holds \"file\" and the record's fields: Version, LogMode,\n"
    "Server, Source, Time, Class, Actions, Severity, FilteringPoint, IP, IPValue,\n"
    "MessageID, Sender, Recipients, HeloDomain, Subject, Message and LineNr.\n"
    "Enumerations appear by their identifiers (\"Blacklist\", [\"Reject\",\"TagSubject\"]),\n"
    "Time as local ISO 8601 text (2010-04-01T10:15:30). A line the log reader cannot\n"
    "process gives {\"file\": ..., \"error\": ...}; directive lines and data lines whose\n"
    "values do not convert give nothing.\n"
    "\n"
    "A file that is not a log of the service (unknown first line) or cannot be\n"
    "opened is reported on standard error and skipped; the exit status is then 1.\n"
    "\n"
    "  --codepage N   code page of the log's single-byte text: 1252 (Windows-1252,\n"
    "                 the default), 28591 (ISO-8859-1) or 65001 (UTF-8)"
#ifdef _WIN32
    ", or any\n"
    "                 other code page this system has"
#endif
    "\n"
    "  --help         this text\n";

namespace {

constexpr std::size_t FlushThreshold = 1u << 20;

// The narrow encoding of the log layer's error texts (paths and system
// messages).
TCodePage SystemCodePage() {
  TCodePage codePage;
#ifdef _WIN32
  if (!codePage.Select(GetACP())) codePage.Select(TCodePage::Windows1252);
#else
  codePage.Select(TCodePage::Utf8);
#endif
  return codePage;
}

bool ParseCodePage(std::string_view text, unsigned& id) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  id = value;
  return true;
}

// Catches what the fingerprint check sends to the debugger output, so that
// the reason a file was refused reaches the user once, on standard error.
class TDebugOutputCapture {
public:
  TDebugOutputCapture()
      : Previous(SetLogDebugSink([this](std::string_view line) { Captured.assign(line); })) {}
  ~TDebugOutputCapture() { SetLogDebugSink(std::move(Previous)); }
  TDebugOutputCapture(const TDebugOutputCapture&) = delete;
  TDebugOutputCapture& operator=(const TDebugOutputCapture&) = delete;

  std::string Captured;

private:
  TLogDebugSink Previous;
};

class TCatRun {
public:
  TCatRun(const TCatSink& out, const TCatSink& err) : Out(out), Err(err) { Output.Text().reserve(2 * FlushThreshold); }

  TCodePage TextCodePage;

  // False when the output could not be written.
  bool CatFile(const TCatArgument& file, bool& readable) {
    FileJson.Clear();
    FileJson.StringUtf8(file.Text);

    Capture.Captured.clear();
    if (!TLogFileReader::CheckFingerprint(file.Path)) {
      readable = false;
      return Report(Capture.Captured.empty() ? file.Text + ": not a log file of the mail filtering service"
                                             : Capture.Captured);
    }

    TLogFileReader reader;
    ErrorText.clear();
    if (!reader.Open(file.Path, ErrorText)) {
      readable = false;
      return Report(ErrorText);
    }
    while (!reader.Eof()) {
      ErrorText.clear();
      if (reader.ReadRecord(Record, ErrorText))
        WriteRecordLine(Output, FileJson.Text(), Record, TextCodePage);
      else if (!ErrorText.empty())
        WriteErrorLine(Output, FileJson.Text(), ErrorText, ErrorCodePage);
      if (Output.Text().size() >= FlushThreshold && !Flush()) return false;
    }
    ErrorText.clear();
    if (!reader.Close(ErrorText)) {
      readable = false;
      return Report(ErrorText);
    }
    return true;
  }

  bool Flush() {
    if (Output.Text().empty()) return true;
    const bool written = Out(Output.Text());
    Output.Clear();
    return written;
  }

  // A message on standard error, after whatever output came before it.
  bool Report(const std::string& message) {
    const bool flushed = Flush();
    Err("zellogcat: " + message + "\n");
    return flushed;
  }

private:
  const TCatSink& Out;
  const TCatSink& Err;
  const TCodePage ErrorCodePage = SystemCodePage();
  TDebugOutputCapture Capture;
  TJsonWriter Output;
  TJsonWriter FileJson;
  TLogRecord Record;
  std::string ErrorText;
};

}  // namespace

int RunZellogcat(const std::vector<TCatArgument>& arguments, const TCatSink& out, const TCatSink& err) {
  const auto usageError = [&](const std::string& message) {
    err("zellogcat: " + message + "\nTry 'zellogcat --help'.\n");
    return CatExitUsage;
  };

  unsigned codePageId = TCodePage::Windows1252;
  std::vector<const TCatArgument*> files;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view arg = arguments[i].Text;
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      files.push_back(&arguments[i]);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      return out(CatUsage) ? CatExitSuccess : CatExitUnreadable;
    } else if (arg == "--codepage" || arg.starts_with("--codepage=")) {
      std::string_view value;
      if (arg.size() > 10) {
        value = arg.substr(11);
      } else if (i + 1 < arguments.size()) {
        value = arguments[++i].Text;
      } else {
        return usageError("--codepage needs a value");
      }
      if (!ParseCodePage(value, codePageId)) return usageError("bad code page '" + std::string(value) + "'");
    } else {
      return usageError("unknown option '" + std::string(arg) + "'");
    }
  }
  if (files.empty()) return usageError("no log file given");

  TCatRun run(out, err);
  if (!run.TextCodePage.Select(codePageId))
    return usageError("code page " + std::to_string(codePageId) + " is not available");

  bool allReadable = true;
  for (const TCatArgument* file : files) {
    if (!run.CatFile(*file, allReadable)) {
      err("zellogcat: cannot write the output\n");
      return CatExitUnreadable;
    }
  }
  if (!run.Flush()) {
    err("zellogcat: cannot write the output\n");
    return CatExitUnreadable;
  }
  return allReadable ? CatExitSuccess : CatExitUnreadable;
}
