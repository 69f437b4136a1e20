#pragma once
// Turns a log file of the mail filtering service into records: checks the
// first line, follows the header directives as they come and parses each
// data line. Errors never escape: they come back as texts.
#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "FastTextReader_un.h"
#include "LocalTime_un.h"
#include "LogDefs_un.h"

// The accepted first lines of a log file (compared ASCII case-insensitively
// with the file's first bytes).
inline constexpr std::array<std::string_view, 3> LogFileFingerprints = {
    "#Software: Tarnvel Zelwick Corvane Edition", "#Software: Tarnvel ZEL Valtrix",
    "#Software: Tarnvel ZEL Corvane Edition"};

// One parsed data line. Text fields are single-byte as in the file, except the
// subject, which is decoded from percent-encoded UTF-8 into UTF-16.
class TLogRecord {
public:
  std::string Version;
  bool LogMode = false; // true = Verbose
  std::string Server;
  std::string Source;
  double Time = 0;      // automation date, local time of the reading machine for current-format logs
  TLogEventClass Class = TLogEventClass::System;
  TLogActions Actions;
  TLogSeverity Severity = TLogSeverity::Info;
  TFilteringPoint FilteringPoint = TFilteringPoint::NonFiltering;
  std::string IP;
  std::uint32_t IPValue = 0;
  std::string MessageID;
  std::string Sender;
  std::string Recipients;
  std::string HeloDomain;
  std::u16string Subject;
  std::string Message;
  std::int32_t LineNr = 0; // number of the record in its file, from 0
};

// The fields of a record that ReadRecord may leave untouched when a reader
// does not want them; the class, actions, severity, filtering point, log
// mode and line number are always filled, since every line is checked for
// them anyway.
enum TLogRecordField : std::uint32_t {
  LogFieldVersion = 1u << 0,
  LogFieldServer = 1u << 1,
  LogFieldSource = 1u << 2,
  LogFieldTime = 1u << 3,
  LogFieldIP = 1u << 4,
  LogFieldMessageID = 1u << 5,
  LogFieldSender = 1u << 6,
  LogFieldRecipients = 1u << 7,
  LogFieldSubject = 1u << 8,
  LogFieldHeloDomain = 1u << 9,
  LogFieldMessage = 1u << 10,
  LogFieldsAll = (1u << 11) - 1,
};

// What a reader wants of each line.
struct TLogReadOptions {
  // TLogRecordField bits: the fields copied or decoded into the record.
  std::uint32_t Fields = LogFieldsAll;
  // Local time window in whole seconds since 1899-12-30, both ends included:
  // a line outside it is checked as far as its line number and its errors
  // need, and gives no record.
  std::int64_t TimeFrom = std::numeric_limits<std::int64_t>::min();
  std::int64_t TimeTo = std::numeric_limits<std::int64_t>::max();
};

class TLogFileReader {
public:
  // Field numbers of the recognised "#Fields" names.
  static constexpr int FieldCount = 14;

  // What the header directives read so far say about the lines that follow.
  struct THeaderState {
    std::string Version;
    bool Verbose = true;
    std::int64_t TimeZoneOffsetSeconds = 0; // what "#Timezone" adds to a log time to get UTC
    std::string ServerName;
    bool LegacyFormat = true;
    std::array<std::int32_t, FieldCount + 1> FieldColumns{}; // indexed 1-14; -1 absent, 0 before "#Fields"
  };
  // Columns up to this one are addressable; it runs to the end of the line.
  static constexpr int LastColumn = 14;

  TLogFileReader();
  // Test hook: the view size of the underlying text reader.
  explicit TLogFileReader(const TFastTextReaderOptions& textReaderOptions);
  ~TLogFileReader();
  TLogFileReader(const TLogFileReader&) = delete;
  TLogFileReader& operator=(const TLogFileReader&) = delete;

  // True when the file begins with one of LogFileFingerprints. A file that
  // cannot be opened or read is reported to the debugger output
  // (LogDebugOutput) and gives false; only want of memory raises
  // (std::bad_alloc). Paths as for TFastTextReader.
  // notDiskFile, when given, tells whether the path named something other
  // than a file on a disk (a pipe, a device), which is closed unread.
  static bool CheckFingerprint(const std::string& path, bool* notDiskFile = nullptr);
  static bool CheckFingerprint(const std::u16string& path, bool* notDiskFile = nullptr);

  // Opens the file; on failure errorText becomes
  // "Could not process log file <path>. <class>/<message>". True when
  // errorText stayed empty. The caller passes an empty errorText. Want of
  // memory raises std::bad_alloc.
  bool Open(const std::string& path, std::string& errorText);
  bool Open(const std::u16string& path, std::string& errorText);

  enum class TCheckedOpen { Opened, NotLogFile, NotDiskFile, NotProcessed };
  // Opens the file once for both its check and its reading: checks its first
  // bytes on the handle, as CheckFingerprint does (and reports as it does),
  // then reads from that handle as after Open. A file that fails the check is
  // closed unread: NotDiskFile when the path named something other than a
  // file on a disk, NotLogFile otherwise. NotProcessed when it passed but
  // could not be prepared for reading, with errorText as Open sets it. Want
  // of memory raises std::bad_alloc.
  TCheckedOpen OpenChecked(const std::string& path, std::string& errorText);
  TCheckedOpen OpenChecked(const std::u16string& path, std::string& errorText);

  // Reading a large file in parts, each on its own reader: the lines from
  // `begin` (where a line starts) to `end` (where one ends, or the end of the
  // file), read as if the directives before `begin` had been read and gave
  // `header`. Records are numbered from 0 within the part.
  bool OpenPart(const std::string& path, const THeaderState& header, std::uint64_t begin, std::uint64_t end,
                std::string& errorText);
  bool OpenPart(const std::u16string& path, const THeaderState& header, std::uint64_t begin, std::uint64_t end,
                std::string& errorText);
  // Moves on to the first line that starts at or after `position`, following
  // the directives on the way and parsing nothing else; false at the end of
  // the file. Position() and HeaderState() then describe where a part may
  // begin. A line that cannot be read ends the skip early.
  bool SkipTo(std::uint64_t position);
  // For an open part before its first line is read: its directive lines
  // (those that start with "#") before `end`, in order, as views into the
  // reader's view, found without reading its lines, so that a part's header
  // state can be followed on before the part is read. False when those
  // bytes do not lie within one view; then nothing is found.
  bool DirectivesAhead(std::vector<std::string_view>& lines, std::uint64_t end = UINT64_MAX) const;
  // What FindLineStart finds for `position`, from the bytes of the current
  // view not read yet, so that a part opened a little past where it is to
  // end can be cut without reading the file again; false when no line
  // starts there within them.
  bool LineStartAhead(std::uint64_t position, std::uint64_t& lineStart) const noexcept;
  // Follows a directive line as reading it would; one that fails changes
  // what it changes when read (the reader reports it on its line).
  void FollowDirective(std::string_view line);
  void SetHeaderState(const THeaderState& header);
  // The start of the first line at or after `position` in the file at path,
  // found by reading only from just before it: where a part may begin
  // without reading the file up to it (the header state there is then the
  // caller's to establish). The file's size when no line starts there; false
  // when the file cannot be read there, which whoever reads on meets again.
  static bool FindLineStart(const std::string& path, std::uint64_t position, std::uint64_t& lineStart) noexcept;
  static bool FindLineStart(const std::u16string& path, std::uint64_t position, std::uint64_t& lineStart) noexcept;
  std::uint64_t Position() const noexcept;
  // The size of the open file (or of its part) when it was opened; 0 when none is.
  std::uint64_t Size() const noexcept;
  const THeaderState& HeaderState() const noexcept { return Header; }

  // Reads the next line into record, reusing its storage. True exactly when
  // the line gave a record; otherwise the record's content is unspecified.
  // Directive lines, data lines that fail a value conversion and lines
  // outside the time window give false with an empty errorText; a line that
  // cannot be read or processed gives false with errorText set, and the next
  // call reads the next line.
  bool ReadRecord(TLogRecord& record, std::string& errorText);
  // Applies to the lines read from here on.
  void SetReadOptions(const TLogReadOptions& options);

  // True when there is no more line to read (also before Open).
  bool Eof() const noexcept { return !TextReader || TextReader->Eof(); }

  // Releases the file; on failure errorText becomes
  // "Could not close log file <path>. <class>/<message>" and the result is false.
  bool Close(std::string& errorText);

  const std::string& FileName() const noexcept { return OpenedFileName; }
  std::int32_t RecordCount() const noexcept { return RecordsRead; }

private:
  template <typename TPath>
  bool OpenPath(const TPath& path, const std::string& displayName, const TFastTextReaderOptions& options,
                std::string& errorText);
  template <typename TPath>
  static bool FindLineStartPath(const TPath& path, std::uint64_t position, std::uint64_t& lineStart) noexcept;
  template <typename TPath>
  TCheckedOpen OpenCheckedPath(const TPath& path, const std::string& displayName, std::string& errorText);
  // Forgets the previous file; the next one is reported as displayName.
  void Restart(const std::string& displayName);
  void StartHeaderBlock();
  // True when the line gave a record; raises for a line that cannot be processed.
  bool ParseLine(std::string_view line, TLogRecord& record);
  void ApplyDirective(std::string_view line);
  void ApplyFields(std::string_view value);
  void PlanFieldCuts();
  std::string_view Field(int fieldNumber) const;

  TFastTextReaderOptions TextReaderOptions;
  std::unique_ptr<TFastTextReader> TextReader;
  std::int32_t RecordsRead = 0;
  THeaderState Header;
  std::string OpenedFileName;
  TLocalTimeConverter LocalTime;
  TLogSecondsReader LogSeconds;

  // Where a field is cut from a data line: between the bounds First and Last
  // of ColumnBounds. A field the list does not name runs from bound 0 to
  // AbsentBound, which is always empty; First is UnaddressableField for one
  // that cannot be read (column 0 or past LastColumn). Derived from
  // FieldColumns.
  static constexpr std::int8_t UnaddressableField = -2;
  // Index of the bound that stands for the end of the line.
  static constexpr std::int8_t LineEndBound = LastColumn;
  static constexpr std::int8_t AbsentBound = LastColumn + 1;
  struct TFieldCut {
    std::int8_t First = UnaddressableField;
    std::int8_t Last = 0;
  };

  std::array<TFieldCut, FieldCount + 1> FieldCuts{}; // indexed 1-14
  // The highest bound below LineEndBound that the cuts of the fields every
  // line is checked for use, and that of those and the wanted fields.
  int CheckBounds = 0;
  int WantedBounds = 0;
  // A field that cannot be cut makes the line an error; the address's own
  // check lies between the two.
  bool UnaddressableBeforeIP = false;
  bool UnaddressableAfterIP = false;
  TLogReadOptions Options;
  bool Windowed = false; // Options has a time window

  // Per-line scratch, kept to reuse its storage. Bound k (1-13) is one past the
  // k-th blank of the line, or the line's length + 1 when it has fewer blanks;
  // bound 0 is 0, LineEndBound the line's length + 1 and AbsentBound 1. A
  // field runs from its First bound to one before its Last bound.
  std::string_view Line;
  std::array<std::size_t, AbsentBound + 1> ColumnBounds{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
};
