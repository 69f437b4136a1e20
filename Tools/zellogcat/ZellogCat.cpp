#include "ZellogCat.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <span>
#include <thread>

#include "CodePage.h"
#include "JsonWriter.h"
#include "LogDebugOutput_un.h"
#include "LogFileReader_un.h"
#include "RecordJson.h"

#ifdef _WIN32
#include <windows.h>
#endif

const char* const CatUsage =
    "Usage: zellogcat [--codepage N] [-j N] LOGFILE...\n"
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
    "  -j, --jobs N   threads that read and format (default: one per processor);\n"
    "                 large files are read in parts. The output is the same for\n"
    "                 any number.\n"
    "  --help         this text\n";

namespace {

constexpr std::size_t FlushThreshold = 1u << 20;
// Parts up to this length are read in one view.
constexpr std::uint64_t MaxPartView = 16u << 20;
// Each part opens its file and reads it: on POSIX a read into a buffer,
// where larger parts cost more in page faults than their opening saves; on
// Windows an opening, a mapping and a view, each a call into the system
// that costs several times a read (and under wine a round trip to its
// server), so parts there are larger.
#ifdef _WIN32
constexpr std::uint64_t MaxPartSize = 2u << 20;
#else
constexpr std::uint64_t MaxPartSize = 512u << 10;
#endif
// How far past its cut a part is read to find the end of the line there.
constexpr std::uint64_t CutReach = 4u << 10;

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

// A decimal number of at most maxDigits digits.
bool ParseDecimal(std::string_view text, std::size_t maxDigits, unsigned& number) {
  if (text.empty() || text.size() > maxDigits) return false;
  unsigned value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  number = value;
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

// What one run shares between its files: the output buffer, the sinks and the
// code pages.
class TCatOutput {
public:
  TCatOutput(const TCatSink& out, const TCatSink& err, const TCatGatherSink& gather)
      : Out(out), Err(err), Gather(gather) {}

  TCodePage TextCodePage;
  const TCodePage ErrorCodePage = SystemCodePage();
  TJsonWriter Output;

  // False when the output could not be written.
  bool FlushIfFull() { return Output.Text().size() < FlushThreshold || Flush(); }

  bool Flush() {
    if (Output.Text().empty()) return true;
    const bool written = Out(Output.Text());
    Output.Clear();
    return written;
  }

  // Text too large to be worth copying into the buffer, after what is there.
  bool WriteThrough(std::string_view text) { return Flush() && (text.empty() || Out(text)); }

  // The pieces in order, then rest: where the output takes pieces as they
  // lie, straight from them; otherwise copied into the buffer, rest passed
  // through.
  bool WritePieces(std::span<const std::string_view> pieces, std::string_view rest) {
    if (!Gather) {
      for (const std::string_view piece : pieces) Output.Raw(piece);
      return WriteThrough(rest);
    }
    if (!Flush()) return false;
    Pieces.assign(pieces.begin(), pieces.end());
    if (!rest.empty()) Pieces.push_back(rest);
    return Gather(Pieces);
  }

  // A message on standard error, after whatever output came before it.
  bool Report(const std::string& message) {
    const bool flushed = Flush();
    Err("zellogcat: " + message + "\n");
    return flushed;
  }

  // The file's name as the JSON string that starts its lines; empty when the
  // file is no log of the service or cannot be opened, which has been
  // reported. reader is then open.
  std::string OpenFile(const TCatArgument& file, TLogFileReader& reader, std::string& message) {
    Capture.Captured.clear();
    std::string errorText;
    switch (reader.OpenChecked(file.Path, errorText)) {
    case TLogFileReader::TCheckedOpen::Opened:
      break;
    case TLogFileReader::TCheckedOpen::NotProcessed:
      message = errorText;
      return {};
    case TLogFileReader::TCheckedOpen::NotLogFile:
    case TLogFileReader::TCheckedOpen::NotDiskFile:
      message = Capture.Captured.empty() ? file.Text + ": not a log file of the mail filtering service"
                                         : Capture.Captured;
      return {};
    }
    TJsonWriter name;
    name.StringUtf8(file.Text);
    return std::string(name.Text());
  }

private:
  const TCatSink& Out;
  const TCatSink& Err;
  const TCatGatherSink& Gather;
  std::vector<std::string_view> Pieces;
  TDebugOutputCapture Capture;
};

// One thread, file after file.
class TSerialCat {
public:
  explicit TSerialCat(TCatOutput& output) : Output(output) {}

  // False when the output could not be written.
  bool CatFile(const TCatArgument& file, bool& readable) {
    TLogFileReader reader;
    std::string message;
    const std::string fileJson = Output.OpenFile(file, reader, message);
    if (fileJson.empty()) {
      readable = false;
      return Output.Report(message);
    }
    while (!reader.Eof()) {
      ErrorText.clear();
      if (reader.ReadRecord(Record, ErrorText))
        RecordJson.WriteLine(Output.Output, fileJson, Record, Output.TextCodePage);
      else if (!ErrorText.empty())
        WriteErrorLine(Output.Output, fileJson, ErrorText, Output.ErrorCodePage);
      if (!Output.FlushIfFull()) return false;
    }
    ErrorText.clear();
    if (!reader.Close(ErrorText)) {
      readable = false;
      return Output.Report(ErrorText);
    }
    return true;
  }

private:
  TCatOutput& Output;
  TRecordJson RecordJson;
  TLogRecord Record;
  std::string ErrorText;
};

// Several threads. Files are cut into parts at line boundaries; threads read
// and format parts in any order, and whichever thread finishes the part whose
// turn has come writes it and those ready after it, so that no thread waits
// just to write. The cutter opens each part's reader with the header state in
// force at its start and hands it over: the part lies in one view of the
// reader, which reaches a little past the part to find its cut, so that the
// cutter follows its directives with a search for "#" over bytes the reader
// then parses, and each byte of a file is read from it once, but for those
// few past each cut. A part numbers its records from 0 and learns how many records of its
// file come before it when the parts before it are read: from then on it
// writes final numbers, and the lines it wrote before get theirs on the way
// out.
class TParallelCat {
public:
  TParallelCat(TCatOutput& output, const std::vector<const TCatArgument*>& files, unsigned jobs)
      : Output(output), Files(files), Jobs(jobs), Window(2 * jobs + 1) {}

  // False when the output could not be written; raises what stopped a thread
  // (want of memory, a thread that could not start).
  bool Run(bool& readable) {
    std::vector<std::thread> threads;
    try {
      for (unsigned i = 1; i < Jobs; ++i) threads.emplace_back([this] { Work(); });
    } catch (const std::exception&) {
      Fail(std::current_exception());
    }
    Work(); // the calling thread is one of the workers
    for (std::thread& thread : threads) thread.join();
    if (Failure) std::rethrow_exception(Failure);
    if (!AllReadable) readable = false;
    return !OutputFailed;
  }

private:
  struct TPart {
    std::size_t Sequence = 0;
    std::size_t File = 0;
    std::string FileJson; // the file's name as the JSON string its lines start with
    std::uint64_t Begin = 0;
    std::uint64_t End = UINT64_MAX;
    std::unique_ptr<TLogFileReader> Reader; // open on the part, unless Message says why not
    bool LastOfFile = false;
    std::string Message; // for standard error after the part's output
    bool Unreadable = false;
    TJsonWriter Json;
    std::vector<std::pair<std::size_t, std::int32_t>> LineNrs; // where Json leaves a LineNr out, and its number within the part
    // The offset as soon as it is known, published to the part's thread
    // while it reads, so that the lines it writes from then on need no number
    // put in later.
    std::shared_ptr<std::atomic<std::int64_t>> KnownOffset = std::make_shared<std::atomic<std::int64_t>>(-1);
    std::int32_t Records = 0;
    bool Done = false;
    std::int64_t Offset = 0; // the records of the file before the part, once known
  };

  // Parts of MaxPartSize, fewer on a small file but at least four per thread
  // where it allows: enough to even out the threads, and small enough that a
  // part's bytes and output stay in the caches and the parts on their way
  // hold little memory.
  std::uint64_t PartSizeFor(std::uint64_t fileSize) const {
    return std::clamp<std::uint64_t>(fileSize / (4 * Jobs), 256u << 10, MaxPartSize);
  }

  // The next part in file order, or none at the end or when stopped. One
  // thread cuts at a time, without holding up the others.
  std::unique_ptr<TPart> CutNextPart() {
    const std::lock_guard cutting(CutLock);
    {
      std::unique_lock lock(Lock);
      Room.wait(lock, [this] { return Stopped || AllCut || NextSequence < Written + Window; });
      if (Stopped || AllCut) return nullptr;
    }
    auto part = std::make_unique<TPart>();
    while (CutterFileJson.empty() && !part->Done) {
      part->File = NextFile++;
      TLogFileReader reader;
      CutterFileJson = Output.OpenFile(*Files[part->File], reader, part->Message);
      if (CutterFileJson.empty()) {
        part->Unreadable = true;
        part->LastOfFile = true;
        part->Done = true;
      } else {
        CutterFile = part->File;
        CutterSize = reader.Size();
        CutterPartSize = PartSizeFor(CutterSize);
        CutterNext = 0;
        Follower.SetHeaderState(reader.HeaderState());
      }
    }
    if (!part->Done) {
      part->File = CutterFile;
      part->FileJson = CutterFileJson;
      part->Begin = CutterNext;
      part->End = CutterSize;
      const TCatPath& path = Files[CutterFile]->Path;
      if (CutterSize - part->Begin > CutterPartSize) {
        // The cut is found in what the part's reader reads anyway, a little
        // past it; a line longer than that is followed from the cut. Where
        // the file cannot be read, reading the part reports it.
        const std::uint64_t cut = part->Begin + CutterPartSize;
        const std::uint64_t reach = std::min(CutterSize, cut + CutReach);
        if (OpenPart(*part, path, reach) && !part->Reader->LineStartAhead(cut, part->End) && reach < CutterSize) {
          if (!TLogFileReader::FindLineStart(path, cut, part->End)) part->End = CutterSize;
          OpenPart(*part, path, part->End);
        }
      } else {
        OpenPart(*part, path, part->End);
      }
      if (part->End < CutterSize) {
        CutterNext = part->End;
      } else {
        part->LastOfFile = true;
        CutterFileJson.clear();
      }
      if (part->Reader) FollowDirectives(*part, path);
    }
    const std::lock_guard lock(Lock);
    part->Sequence = NextSequence++;
    AllCut = CutterFileJson.empty() && NextFile == Files.size();
    return part;
  }

  // The part's reader on its bytes up to readTo, in one view when they are
  // not too many for one; false, with the reason in Message, when the file
  // cannot be read.
  bool OpenPart(TPart& part, const TCatPath& path, std::uint64_t readTo) {
    const std::uint64_t length = readTo - part.Begin;
    TFastTextReaderOptions options;
    options.ViewSize = length <= MaxPartView ? static_cast<std::uint32_t>(length) : 0;
    part.Reader = std::make_unique<TLogFileReader>(options);
    std::string errorText;
    if (part.Reader->OpenPart(path, Follower.HeaderState(), part.Begin, readTo, errorText)) return true;
    part.Reader.reset();
    part.Message = errorText;
    return false;
  }

  // The header state the part leaves in force, for the part after it.
  void FollowDirectives(TPart& part, const TCatPath& path) {
    if (part.Reader->DirectivesAhead(Directives, part.End)) {
      for (const std::string_view line : Directives) Follower.FollowDirective(line);
      return;
    }
    // A line longer than a view: the directives are found line by line.
    TLogFileReader skimmer;
    std::string errorText;
    if (skimmer.OpenPart(path, Follower.HeaderState(), part.Begin, part.End, errorText)) {
      skimmer.SkipTo(part.End);
      Follower.SetHeaderState(skimmer.HeaderState());
    }
  }

  // A thread's scratch, kept from part to part.
  struct TWorkerState {
    TCodePage TextCodePage; // a code page keeps scratch storage
    TCodePage ErrorCodePage;
    TRecordJson RecordJson;
    TLogRecord Record;
    std::string ErrorText;
  };

  void Work() {
    try {
      TWorkerState state{Output.TextCodePage, Output.ErrorCodePage, {}, {}, {}};
      while (std::unique_ptr<TPart> part = CutNextPart()) {
        if (!part->Done) ReadPart(*part, state);
        Finish(std::move(part));
      }
    } catch (const std::exception&) {
      Fail(std::current_exception());
    }
  }

  void ReadPart(TPart& part, TWorkerState& state) {
    {
      const std::lock_guard lock(Lock);
      part.Json = TakeBuffer();
      if (part.Begin == 0) part.KnownOffset->store(0, std::memory_order_relaxed);
      if (part.Sequence == NextOffsetSequence) part.KnownOffset->store(NextOffset, std::memory_order_relaxed);
      Reading.emplace(part.Sequence, part.KnownOffset);
    }
    // Room for the part's output at the start, rather than copies of it as
    // it grows: JSON takes about twice the bytes of a log line.
    part.Json.Reserve(2 * (part.End - part.Begin) + (64u << 10));
    if (TLogFileReader* const reader = part.Reader.get()) {
      const std::atomic<std::int64_t>& knownOffset = *part.KnownOffset;
      // The reader may reach past the part, to where its cut was found.
      while (!reader->Eof() && reader->Position() < part.End) {
        if (reader->ReadRecord(state.Record, state.ErrorText)) {
          const std::int64_t offset = knownOffset.load(std::memory_order_relaxed);
          state.RecordJson.WriteUpToLineNr(part.Json, part.FileJson, state.Record, state.TextCodePage);
          if (offset >= 0) {
            char* out = part.Json.Reserve(24);
            out = std::to_chars(out, out + 20, offset + state.Record.LineNr).ptr;
            part.Json.Commit(WriteRaw(out, "}\n"));
          } else {
            part.LineNrs.emplace_back(part.Json.Text().size(), state.Record.LineNr);
            part.Json.Raw("}\n");
          }
        } else if (!state.ErrorText.empty()) {
          WriteErrorLine(part.Json, part.FileJson, state.ErrorText, state.ErrorCodePage);
        }
      }
      part.Records = reader->RecordCount();
      state.ErrorText.clear();
      if (!reader->Close(state.ErrorText)) part.Message = state.ErrorText;
      part.Reader.reset();
    }
    if (!part.Message.empty()) part.Unreadable = true;
  }

  void Finish(std::unique_ptr<TPart> part) {
    std::unique_lock lock(Lock);
    Reading.erase(part->Sequence);
    part->Done = true;
    Parts.emplace(part->Sequence, std::move(part));
    AdvanceOffsets();
    if (Writing) return; // the writing thread takes it when its turn comes
    Writing = true;
    WriteReady(lock);
    Writing = false;
  }

  // Called under Lock, as the one writing thread: writes the parts whose
  // turn has come, in order, without holding Lock while writing. Returns
  // under Lock when the next part is not ready.
  void WriteReady(std::unique_lock<std::mutex>& lock) {
    for (auto found = Parts.find(Written); !Stopped && found != Parts.end() && Written < NextOffsetSequence;
         found = Parts.find(Written)) {
      std::unique_ptr<TPart> part = std::move(found->second);
      Parts.erase(found);
      lock.unlock();
      bool written = WritePart(*part);
      if (part->Unreadable) AllReadable = false;
      if (written) written = part->Message.empty() ? Output.FlushIfFull() : Output.Report(part->Message);
      lock.lock();
      part->Json.Clear();
      FreeBuffers.push_back(std::move(part->Json));
      ++Written;
      if (!written) {
        OutputFailed = true;
        Stopped = true;
      }
      Room.notify_all();
    }
  }

  // The part's text with the numbers its first lines lack put in on the way.
  bool WritePart(const TPart& part) {
    const std::string_view text = part.Json.Text();
    if (part.LineNrs.empty()) return Output.WriteThrough(text);
    NumberTexts.resize(std::max(NumberTexts.size(), 20 * part.LineNrs.size()));
    Pieces.clear();
    char* number = NumberTexts.data();
    std::size_t from = 0;
    for (const auto& [at, lineNr] : part.LineNrs) {
      Pieces.push_back(text.substr(from, at - from));
      char* const end = std::to_chars(number, number + 20, part.Offset + lineNr).ptr;
      Pieces.emplace_back(number, static_cast<std::size_t>(end - number));
      number = end;
      from = at;
    }
    return Output.WritePieces(Pieces, text.substr(from));
  }

  // Called under Lock.
  void TakeOffset(TPart& part) {
    part.Offset = NextOffset;
    NextOffset = part.LastOfFile ? 0 : NextOffset + part.Records;
    ++NextOffsetSequence;
    if (const auto reading = Reading.find(NextOffsetSequence); reading != Reading.end())
      reading->second->store(NextOffset, std::memory_order_relaxed);
  }

  // Called under Lock after a part was added: the parts that follow parsed
  // parts get their offsets.
  void AdvanceOffsets() {
    for (auto found = Parts.find(NextOffsetSequence); found != Parts.end(); found = Parts.find(NextOffsetSequence))
      TakeOffset(*found->second);
  }

  // Stops every thread; Run raises the first failure.
  void Fail(std::exception_ptr failure) {
    {
      const std::lock_guard lock(Lock);
      if (!Failure) Failure = std::move(failure);
      Stopped = true;
    }
    Room.notify_all();
  }

  // Called under Lock.
  TJsonWriter TakeBuffer() {
    if (FreeBuffers.empty()) return {};
    TJsonWriter buffer = std::move(FreeBuffers.back());
    FreeBuffers.pop_back();
    return buffer;
  }

  TCatOutput& Output;
  const std::vector<const TCatArgument*>& Files;
  const unsigned Jobs;
  const std::size_t Window; // parts cut but not yet written, at most

  // The cutter's, under CutLock.
  std::mutex CutLock;
  std::size_t NextFile = 0;
  std::size_t CutterFile = 0;
  std::string CutterFileJson; // empty between files
  std::uint64_t CutterSize = 0;
  std::uint64_t CutterPartSize = 0;
  std::uint64_t CutterNext = 0; // where the next part begins
  TLogFileReader Follower;      // holds the header state in force there
  std::vector<std::string_view> Directives;

  // The writing thread's (Writing set).
  bool AllReadable = true;
  bool OutputFailed = false;
  std::string NumberTexts;
  std::vector<std::string_view> Pieces;

  // Everyone's, under Lock.
  std::mutex Lock;
  std::condition_variable Room; // Written moved on, or Stopped
  bool Stopped = false;
  bool Writing = false; // a thread is writing parts out
  std::exception_ptr Failure;
  bool AllCut = false;
  std::size_t NextSequence = 0;
  std::size_t Written = 0;
  std::size_t NextOffsetSequence = 0; // the first part without its offset
  std::int64_t NextOffset = 0;
  std::map<std::size_t, std::shared_ptr<std::atomic<std::int64_t>>> Reading; // parts being read, by sequence
  std::map<std::size_t, std::unique_ptr<TPart>> Parts; // done, waiting for their turn
  std::vector<TJsonWriter> FreeBuffers;
};

bool ParseJobs(std::string_view text, unsigned& jobs) {
  unsigned value = 0;
  if (!ParseDecimal(text, 3, value) || value == 0 || value > 256) return false;
  jobs = value;
  return true;
}

int RunCat(const std::vector<TCatArgument>& arguments, const TCatSink& out, const TCatSink& err,
           const TCatGatherSink& gather) {
  const auto usageError = [&](const std::string& message) {
    err("zellogcat: " + message + "\nTry 'zellogcat --help'.\n");
    return CatExitUsage;
  };

  unsigned codePageId = TCodePage::Windows1252;
  unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
  std::vector<const TCatArgument*> files;
  bool optionsEnded = false;
  // The value of an option given as "--name=value", "-jvalue" or "--name value".
  const auto optionValue = [&](std::size_t& i, std::size_t prefix, std::string_view& value) {
    const std::string_view arg = arguments[i].Text;
    if (arg.size() > prefix) {
      value = arg.substr(prefix + (arg[prefix] == '=' ? 1 : 0));
      return true;
    }
    if (i + 1 >= arguments.size()) return false;
    value = arguments[++i].Text;
    return true;
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view arg = arguments[i].Text;
    std::string_view value;
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      files.push_back(&arguments[i]);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      return out(CatUsage) ? CatExitSuccess : CatExitUnreadable;
    } else if (arg == "--codepage" || arg.starts_with("--codepage=")) {
      if (!optionValue(i, 10, value)) return usageError("--codepage needs a value");
      if (!ParseDecimal(value, 5, codePageId)) return usageError("bad code page '" + std::string(value) + "'");
    } else if (arg.starts_with("-j") || arg == "--jobs" || arg.starts_with("--jobs=")) {
      if (!optionValue(i, arg.starts_with("-j") ? 2 : 6, value)) return usageError(std::string(arg) + " needs a value");
      if (!ParseJobs(value, jobs)) return usageError("bad number of jobs '" + std::string(value) + "'");
    } else {
      return usageError("unknown option '" + std::string(arg) + "'");
    }
  }
  if (files.empty()) return usageError("no log file given");

  TCatOutput output(out, err, gather);
  if (!output.TextCodePage.Select(codePageId))
    return usageError("code page " + std::to_string(codePageId) + " is not available");

  bool allReadable = true;
  bool written = true;
  if (jobs == 1) {
    TSerialCat serial(output);
    for (const TCatArgument* file : files)
      if (!(written = serial.CatFile(*file, allReadable))) break;
  } else {
    written = TParallelCat(output, files, jobs).Run(allReadable);
  }
  if (!written || !output.Flush()) {
    err("zellogcat: cannot write the output\n");
    return CatExitUnreadable;
  }
  return allReadable ? CatExitSuccess : CatExitUnreadable;
}

}  // namespace

int RunZellogcat(const std::vector<TCatArgument>& arguments, const TCatSink& out, const TCatSink& err,
                 const TCatGatherSink& gather) {
  try {
    return RunCat(arguments, out, err, gather);
  } catch (const std::bad_alloc&) {
    err("zellogcat: out of memory\n");
  } catch (const std::exception& error) { // a thread that could not start
    err(std::string("zellogcat: ") + error.what() + "\n");
  }
  return CatExitUnreadable;
}
