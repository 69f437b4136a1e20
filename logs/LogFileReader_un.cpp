#include "LogFileReader_un.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <new>

#include "ByteScan_un.h"
#include "CivilDate_un.h"
#include "LogDebugOutput_un.h"
#include "LogText_un.h"
#include "MappedFile_un.h"

namespace {

enum : int {
  FieldSource = 1,
  FieldDateTime,
  FieldClass,
  FieldSeverity,
  FieldFilteringPoint,
  FieldIP,
  FieldSender,
  FieldRecipients,
  FieldMessage,
  FieldServer,
  FieldMessageID,
  FieldAction,
  FieldSubject,
  FieldHeloDomain
};

struct TFieldName {
  std::string_view Name;
  int Field;
};

constexpr TFieldName FieldNames[] = {
    {"x-event-source", FieldSource},     {"x-event-datetime", FieldDateTime},
    {"x-event-class", FieldClass},       {"x-event-severity", FieldSeverity},
    {"x-filtering-point", FieldFilteringPoint}, {"x-ip", FieldIP},
    {"c-ip", FieldIP},                   {"x-sender", FieldSender},
    {"x-recipients", FieldRecipients},   {"x-event-msg", FieldMessage},
    {"x-server-name", FieldServer},      {"x-msg-id", FieldMessageID},
    {"x-event-action", FieldAction},     {"x-msg-subject", FieldSubject},
    {"x-helo-domain", FieldHeloDomain},
};

int FieldOfName(std::string_view name) noexcept {
  for (const TFieldName& entry : FieldNames)
    if (SameTextAscii(entry.Name, name))
      return entry.Field;
  return 0;
}

// The directive's offset in days to add to a log time to get UTC.
double TimeZoneOffsetOf(std::string_view value) {
  if (SameTextAscii(value, "UTC") || value.size() < 8 || !StartsWithTextAscii(value, "GMT"))
    return 0;
  const std::string_view sign = value.substr(3, 1);
  std::int32_t hours = -1, minutes = -1;
  if (!TryStrToInt(value.substr(4, 2), hours))
    hours = -1;
  if (!TryStrToInt(value.substr(6, 2), minutes))
    minutes = -1;
  if (hours < 0 || minutes < 0)
    return 0;
  if (hours > 23 || minutes > 59)
    throw EConvertError("Invalid argument to time encode");
  const double offset = (hours * 3600 + minutes * 60) / 86400.0;
  return sign == "+" ? -offset : offset;
}

bool IsLegacyVersion(std::string_view version) noexcept {
  if (version.empty() || version[0] != '1')
    return false;
  const int minor = version.size() >= 3 && version[2] >= '0' && version[2] <= '9' ? version[2] - '0' : 10;
  return minor < 5;
}

// Value of each byte as a hexadecimal digit, -1 for any other byte.
constexpr std::array<std::int8_t, 256> HexDigitValues = [] {
  std::array<std::int8_t, 256> values{};
  for (int c = 0; c < 256; ++c)
    values[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(
        c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1);
  return values;
}();

int HexDigit(char c) noexcept { return HexDigitValues[static_cast<unsigned char>(c)]; }

// Percent-encoded text read one decoded byte at a time: "+" is a blank, "%"
// and two hexadecimal digits are the byte they spell, anything else (a "%"
// without two digits included) is itself. Decoding never lengthens the text.
class TPercentDecodedBytes {
public:
  // readableEnd: where the memory that holds the text ends (at or after the
  // text's end), so that blocks may be read across the text's end.
  TPercentDecodedBytes(std::string_view text, const char* readableEnd) noexcept
      : At(text.data()), End(At + text.size()), ReadableEnd(readableEnd) {}

  bool AtEnd() const noexcept { return At == End; }
  std::size_t Remaining() const noexcept { return static_cast<std::size_t>(End - At); }
  std::size_t ReadableAhead() const noexcept { return static_cast<std::size_t>(ReadableEnd - At); }
  // The encoded text not yet taken, and a way past a part of it taken elsewhere.
  const char* Next() const noexcept { return At; }
  void Skip(std::size_t count) noexcept { At += count; }

  // Requires !AtEnd().
  unsigned char Take() noexcept {
    const char c = *At++;
    if (c == '%' && End - At >= 2) {
      const int high = HexDigit(At[0]);
      const int low = HexDigit(At[1]);
      if (high >= 0 && low >= 0) {
        At += 2;
        return static_cast<unsigned char>(high * 16 + low);
      }
    }
    return static_cast<unsigned char>(c == '+' ? ' ' : c);
  }

private:
  const char* At;
  const char* End;
  const char* ReadableEnd;
};

// A record is reused line after line; after a long line its texts give their
// storage back instead of keeping it for the rest of the file.
constexpr std::size_t RetainedTextCapacity = std::size_t{1} << 20;

template <typename TText>
void DropStorage(TText& text) {
  TText().swap(text);
}

template <typename TText>
void ReleaseLongText(TText& text, std::size_t needed) {
  if (text.capacity() > RetainedTextCapacity && needed < text.capacity() / 4) [[unlikely]]
    DropStorage(text);
}

// Of the 16 bytes at p, copies those before the first "%" or "+" to out and
// returns how many (16 when there is none); out must have room for 16.
std::size_t CopyPlainPercentText16(const char* p, char* out) noexcept {
  using namespace bytescan_detail;
  std::memcpy(out, p, 16);
  const std::uint32_t stops = Matches16(p, Pattern('%')) | Matches16(p, Pattern('+'));
  return stops == 0 ? 16 : static_cast<std::size_t>(std::countr_zero(stops));
}

// The byte "%XX" at p spells, or -1 when p holds no "%XX"; p has 3 bytes.
int EncodedByteAt(const char* p) noexcept {
  if (p[0] != '%')
    return -1;
  const int high = HexDigit(p[1]);
  const int low = HexDigit(p[2]);
  return (high | low) < 0 ? -1 : high * 16 + low;
}

// Characters of two or three UTF-8 bytes, each spelt "%XX", are how non-ASCII
// subjects are written: the character at p (of `remaining` bytes) when it is
// one of those and well-formed, 0 otherwise, which leaves it to the general
// decoding. Its encoded form takes 6 bytes below U+0800, 9 above.
char16_t EncodedCharacterAt(const char* p, std::size_t remaining) noexcept {
  if (remaining < 6)
    return 0;
  const int lead = EncodedByteAt(p);
  const int second = lead >= 0xC2 ? EncodedByteAt(p + 3) : -1;
  if (lead <= 0xDF)
    return second >= 0x80 && second <= 0xBF ? static_cast<char16_t>((lead & 0x1F) << 6 | (second & 0x3F)) : 0;
  if (lead > 0xEF || remaining < 9)
    return 0;
  // No overlong forms, no surrogates.
  const int low = lead == 0xE0 ? 0xA0 : 0x80;
  const int high = lead == 0xED ? 0x9F : 0xBF;
  const int third = EncodedByteAt(p + 6);
  if (second < low || second > high || third < 0x80 || third > 0xBF)
    return 0;
  return static_cast<char16_t>((lead & 0x0F) << 12 | (second & 0x3F) << 6 | (third & 0x3F));
}

// Blocks are read where 16 bytes from the next one are readable, even past the
// text's end, and only the bytes within the text are taken: the short end of a
// field, and the plain runs between encoded characters, would otherwise go a
// byte at a time. Out has room for a block past the decoded text.
constexpr std::size_t BlockRoom = 16;

void PercentDecode(std::string_view text, const char* readableEnd, std::string& bytes) {
  ReleaseLongText(bytes, text.size());
  if (text.empty()) {
    bytes.clear();
    return;
  }
  bytes.resize(text.size() + BlockRoom);
  char* out = bytes.data();
  for (TPercentDecodedBytes decoded(text, readableEnd); !decoded.AtEnd();) {
    if (*decoded.Next() != '%' && decoded.ReadableAhead() >= 16) {
      const std::size_t plain = std::min(CopyPlainPercentText16(decoded.Next(), out), decoded.Remaining());
      decoded.Skip(plain);
      out += plain;
      if (plain == 16 || decoded.AtEnd())
        continue;
    }
    *out++ = static_cast<char>(decoded.Take());
  }
  bytes.resize(static_cast<std::size_t>(out - bytes.data()));
}

// The percent-decoded bytes of text read as strict UTF-8, in one pass: overlong
// forms, encoded surrogates and values above U+10FFFF are ill-formed.
// Characters above U+FFFF become surrogate pairs. UTF-16 never takes more units
// than UTF-8 takes bytes, so the result is sized once and trimmed. On failure
// it is left unspecified. readableEnd as for TPercentDecodedBytes.
bool PercentDecodeUtf8(std::string_view text, const char* readableEnd, std::u16string& result) {
  ReleaseLongText(result, text.size());
  if (text.empty()) {
    result.clear();
    return true;
  }
  result.resize(text.size() + BlockRoom);
  char16_t* out = result.data();
  TPercentDecodedBytes bytes(text, readableEnd);
  while (!bytes.AtEnd()) {
    // Plain runs a block at a time. Encoded characters come in runs, where a
    // block would stop at once.
    if (*bytes.Next() != '%' && bytes.ReadableAhead() >= 16) {
      const std::size_t plain = std::min(WidenPlainPercentText16(bytes.Next(), out), bytes.Remaining());
      bytes.Skip(plain);
      out += plain;
      if (plain == 16 || bytes.AtEnd())
        continue;
    }
    if (const char16_t c = EncodedCharacterAt(bytes.Next(), bytes.Remaining())) {
      *out++ = c;
      bytes.Skip(c < 0x800 ? 6 : 9);
      continue;
    }
    const unsigned char lead = bytes.Take();
    if (lead < 0x80) {
      *out++ = static_cast<char16_t>(lead);
      continue;
    }
    int continuations = 0;
    char32_t c = 0;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the first continuation byte
    if (lead >= 0xC2 && lead <= 0xDF) {
      continuations = 1;
      c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      continuations = 2;
      c = lead & 0x0F;
      if (lead == 0xE0)
        low = 0xA0;
      else if (lead == 0xED)
        high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      continuations = 3;
      c = lead & 0x07;
      if (lead == 0xF0)
        low = 0x90;
      else if (lead == 0xF4)
        high = 0x8F;
    } else {
      return false;
    }
    for (int k = 0; k < continuations; ++k) {
      if (bytes.AtEnd())
        return false;
      const unsigned char next = bytes.Take();
      if (k == 0 ? (next < low || next > high) : (next < 0x80 || next > 0xBF))
        return false;
      c = (c << 6) | (next & 0x3F);
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      *out++ = static_cast<char16_t>(0xD800 + (c >> 10));
      *out++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      *out++ = static_cast<char16_t>(c);
    }
  }
  result.resize(static_cast<std::size_t>(out - result.data()));
  return true;
}

// The blanks of the last, short block of a line, which must not be read past.
// Unless the whole line is short, they are taken from its last 64 bytes in one
// go: collecting a short block piecewise costs several times as much.
std::uint64_t LineTailBlanks(std::string_view line, std::size_t chunk) noexcept {
  const std::size_t rest = line.size() - chunk;
  if (line.size() >= 64)
    return ByteMask64(line.data() + line.size() - 64, 64, ' ') >> (64 - rest);
  return ByteMask64(line.data() + chunk, rest, ' ');
}

// Stores one past each of the first `wanted` blanks of the line from `from`
// on and returns how many it found. Only the blanks that bound a listed column are wanted, so
// the scan stops before a free-text last column. Blanks are dense and
// irregular: a search per blank or a branch per byte costs more than
// collecting the blanks of 64 bytes in one mask.
int FindColumnStarts(const char* lineData, std::size_t lineSize, std::size_t from, int wanted, std::size_t* starts) noexcept {
  const std::string_view line(lineData, lineSize);
  int found = 0;
  for (std::size_t chunk = from; found < wanted && chunk < line.size(); chunk += 64) {
    const std::size_t rest = line.size() - chunk;
    std::uint64_t blanks = rest >= 64 ? ByteMask64(line.data() + chunk, 64, ' ') : LineTailBlanks(line, chunk);
    for (; blanks != 0; blanks &= blanks - 1) {
      starts[found++] = chunk + static_cast<std::size_t>(std::countr_zero(blanks)) + 1;
      if (found == wanted)
        return found;
    }
  }
  return found;
}

// Kept out of line so that the field cut, which runs for every field of every
// line, stays small enough to be inlined.
[[noreturn]] void RaiseRangeError() { throw ERangeError(); }

// Kept out of the hot path where it is the rare case.
#if defined(_MSC_VER)
#define ZELLOG_NOINLINE __declspec(noinline)
#else
#define ZELLOG_NOINLINE __attribute__((noinline))
#endif

// Appending to a cleared string is leaner than a general assignment, which must
// allow for text inside the string itself (never the case here).
void AppendToCleared(std::string& target, std::string_view text) {
  ReleaseLongText(target, text.size());
  target.clear();
  target.append(text.data(), text.size());
}

#if defined(_WIN32)
// Copies count bytes inline (any count; the pieces may overlap each other).
inline void CopyBytes(char* to, const char* from, std::size_t count) noexcept {
  if (count >= 16) {
    for (std::size_t at = 0; at + 16 < count; at += 16)
      std::memcpy(to + at, from + at, 16);
    std::memcpy(to + count - 16, from + count - 16, 16);
  } else if (count >= 8) {
    std::memcpy(to, from, 8);
    std::memcpy(to + count - 8, from + count - 8, 8);
  } else if (count >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + count - 4, from + count - 4, 4);
  } else if (count != 0) {
    to[0] = from[0];
    to[count / 2] = from[count / 2];
    to[count - 1] = from[count - 1];
  }
}

// Where the runtime sits in another DLL, each call is an indirect jump into a
// copy that dispatches on the size first: for fields of 5 to 100 bytes that
// costs more than copying them inline. A text that fits the target's storage
// is copied here; the string itself only sets its length (and fills what it
// grows by, which the copy then overwrites).
ZELLOG_NOINLINE void AssignTextRarely(std::string& target, std::string_view text) { AppendToCleared(target, text); }

inline void AssignText(std::string& target, std::string_view text) {
  const std::size_t count = text.size();
  if (count > target.capacity() || target.capacity() > RetainedTextCapacity) [[unlikely]] {
    AssignTextRarely(target, text);
    return;
  }
  target.resize(count);
  CopyBytes(target.data(), text.data(), count);
}
#else
// Elsewhere the runtime's copy, one call that branches on the length once,
// measured faster than an inline copy.
inline void AssignText(std::string& target, std::string_view text) { AppendToCleared(target, text); }
#endif

// Runs action; anything it raises becomes "<prefix><class>/<message>" in
// errorText. The prefix is only built on failure, to keep reading free of
// allocations. Want of memory while reading is the line's error like any
// other; where the caller can still report it as such (opening), it is
// raised instead, so that it is not taken for a fault of the file.
template <bool RaiseOutOfMemory = false, typename TPrefix, typename TAction>
bool Guarded(const TPrefix& prefix, std::string& errorText, TAction&& action) {
  std::string_view className;
  std::string message;
  try {
    action();
    return true;
  } catch (const ELogError& error) {
    className = error.ClassName();
    message = error.what();
  } catch (const std::bad_alloc&) {
    if constexpr (RaiseOutOfMemory)
      throw;
    className = "EOutOfMemory";
    message = "Out of memory";
  } catch (const std::exception& error) {
    className = "Exception";
    message = error.what();
  }
  errorText = prefix();
  errorText.append(className);
  errorText += '/';
  errorText.append(message);
  return false;
}

auto ErrorPrefix(std::string_view text, const std::string& fileName) {
  return [text, &fileName] { return std::string(text) + fileName + ". "; };
}

// The file at path, open, when its first bytes are one of LogFileFingerprints;
// otherwise nullptr, after a file that could not be opened or read was
// reported to the debugger output.
template <typename TPath>
std::unique_ptr<TMappedFile> OpenFingerprinted(const TPath& path, const std::string& displayName,
                                               bool* notDiskFile) {
  constexpr std::size_t MaxFingerprintLength =
      std::max({LogFileFingerprints[0].size(), LogFileFingerprints[1].size(), LogFileFingerprints[2].size()});
  if (notDiskFile)
    *notDiskFile = false;
  std::string error;
  try {
    auto file = std::make_unique<TMappedFile>();
    if (const std::uint32_t code = file->Open(NativePath(path), TFileSharing::ReadWrite)) {
      if (notDiskFile && code == NotRegularFileErrorCode)
        *notDiskFile = true;
      throw EOSError(FormatSystemError("open file", code), code);
    }
    char head[MaxFingerprintLength];
    std::uint32_t length = 0;
    if (const std::uint32_t code = file->Read(head, MaxFingerprintLength, length))
      throw EOSError(FormatSystemError("read file", code), code);
    const std::string_view text(head, length);
    if (std::any_of(LogFileFingerprints.begin(), LogFileFingerprints.end(),
                    [&](std::string_view fingerprint) { return StartsWithTextAscii(text, fingerprint); }))
      return file;
    return nullptr;
  } catch (const std::bad_alloc&) {
    // Want of memory says nothing about the file: the caller reports it
    // instead of taking the file for one of another kind.
    throw;
  } catch (const ELogError& failure) {
    error = std::string(failure.ClassName()) + '/' + failure.what();
  } catch (const std::exception& failure) {
    error = std::string("Exception/") + failure.what();
  }
  LogDebugOutput("Could not verify fingerprint of file \"" + displayName + "\": " + error);
  return nullptr;
}

} // namespace

TLogFileReader::TLogFileReader() = default;

TLogFileReader::TLogFileReader(const TFastTextReaderOptions& textReaderOptions)
    : TextReaderOptions(textReaderOptions) {}

TLogFileReader::~TLogFileReader() = default;

bool TLogFileReader::CheckFingerprint(const std::string& path, bool* notDiskFile) {
  return OpenFingerprinted(path, path, notDiskFile) != nullptr;
}

bool TLogFileReader::CheckFingerprint(const std::u16string& path, bool* notDiskFile) {
  return OpenFingerprinted(path, NarrowFileName(path), notDiskFile) != nullptr;
}

bool TLogFileReader::Open(const std::string& path, std::string& errorText) {
  return OpenPath(path, path, TextReaderOptions, errorText);
}

bool TLogFileReader::Open(const std::u16string& path, std::string& errorText) {
  return OpenPath(path, NarrowFileName(path), TextReaderOptions, errorText);
}

namespace {

TFastTextReaderOptions PartOptions(TFastTextReaderOptions options, std::uint64_t begin, std::uint64_t end) {
  options.Begin = begin;
  options.End = end;
  return options;
}

} // namespace

bool TLogFileReader::OpenPart(const std::string& path, const THeaderState& header, std::uint64_t begin,
                              std::uint64_t end, std::string& errorText) {
  const bool opened = OpenPath(path, path, PartOptions(TextReaderOptions, begin, end), errorText);
  SetHeaderState(header);
  return opened;
}

bool TLogFileReader::OpenPart(const std::u16string& path, const THeaderState& header, std::uint64_t begin,
                              std::uint64_t end, std::string& errorText) {
  const bool opened = OpenPath(path, NarrowFileName(path), PartOptions(TextReaderOptions, begin, end), errorText);
  SetHeaderState(header);
  return opened;
}

void TLogFileReader::Restart(const std::string& displayName) {
  TextReader.reset();
  RecordsRead = 0;
  Header.FieldColumns.fill(0);
  PlanFieldCuts();
  LocalTime.Reset();
  StartHeaderBlock();
  Header.Verbose = true;
  OpenedFileName = displayName;
}

template <typename TPath>
bool TLogFileReader::OpenPath(const TPath& path, const std::string& displayName,
                              const TFastTextReaderOptions& options, std::string& errorText) {
  Restart(displayName);
  return Guarded<true>(ErrorPrefix("Could not process log file ", OpenedFileName), errorText, [&] {
    TextReader = std::make_unique<TFastTextReader>(path, fmShareDenyNone, options);
  });
}

template <typename TPath>
TLogFileReader::TCheckedOpen TLogFileReader::OpenCheckedPath(const TPath& path, const std::string& displayName,
                                                            std::string& errorText) {
  Restart(displayName);
  bool notDiskFile = false;
  std::unique_ptr<TMappedFile> file = OpenFingerprinted(path, displayName, &notDiskFile);
  if (!file)
    return notDiskFile ? TCheckedOpen::NotDiskFile : TCheckedOpen::NotLogFile;
  const bool opened = Guarded<true>(ErrorPrefix("Could not process log file ", OpenedFileName), errorText, [&] {
    TextReader = std::make_unique<TFastTextReader>(std::move(file), TextReaderOptions);
  });
  return opened ? TCheckedOpen::Opened : TCheckedOpen::NotProcessed;
}

TLogFileReader::TCheckedOpen TLogFileReader::OpenChecked(const std::string& path, std::string& errorText) {
  return OpenCheckedPath(path, path, errorText);
}

TLogFileReader::TCheckedOpen TLogFileReader::OpenChecked(const std::u16string& path, std::string& errorText) {
  return OpenCheckedPath(path, NarrowFileName(path), errorText);
}

std::uint64_t TLogFileReader::Position() const noexcept { return TextReader ? TextReader->Position() : 0; }

std::uint64_t TLogFileReader::Size() const noexcept { return TextReader ? TextReader->FileSize() : 0; }

bool TLogFileReader::SkipTo(std::uint64_t position) {
  try {
    while (!Eof() && TextReader->Position() < position) {
      const std::string_view line = TextReader->ReadLineView();
      if (!line.empty() && line[0] == '#')
        FollowDirective(line);
    }
  } catch (const std::exception&) {
    // Whoever reads this part meets the same line and reports it.
  }
  return !Eof();
}

void TLogFileReader::FollowDirective(std::string_view line) {
  try {
    ApplyDirective(line);
  } catch (const std::exception&) {
    // Reported by whoever reads the line.
  }
}

void TLogFileReader::SetHeaderState(const THeaderState& header) {
  Header = header;
  PlanFieldCuts();
}

bool TLogFileReader::DirectivesAhead(std::vector<std::string_view>& lines, std::uint64_t end) const {
  lines.clear();
  if (!TextReader)
    return true;
  const std::uint64_t position = TextReader->Position();
  const std::uint64_t stop = std::max(position, std::min(end, TextReader->FileSize()));
  const std::string_view bytes = TextReader->Unread();
  if (position + bytes.size() < stop)
    return false;
  const char* const last = bytes.data() + (stop - position);
  for (const char* line = FindLineStartingWith(bytes.data(), last, '#'); line != last;) {
    const char* const lineEnd = FindLineEnd(line, last);
    lines.emplace_back(line, static_cast<std::size_t>(lineEnd - line));
    line = lineEnd == last ? last : FindLineStartingWith(lineEnd + 2, last, '#');
  }
  return true;
}

bool TLogFileReader::LineStartAhead(std::uint64_t position, std::uint64_t& lineStart) const noexcept {
  if (!TextReader)
    return false;
  if (position == 0) {
    lineStart = 0;
    return true;
  }
  // As FindLineStart reads it: from the CR before position, if it is one.
  const std::uint64_t from = position - std::min<std::uint64_t>(position, 2);
  const std::string_view bytes = TextReader->Unread();
  if (from < TextReader->Position() || from - TextReader->Position() >= bytes.size())
    return false;
  const char* const end = bytes.data() + bytes.size();
  const char* const start = bytes.data() + (from - TextReader->Position());
  const char* const lineEnd = FindLineEnd(start, end);
  if (lineEnd == end)
    return false;
  lineStart = from + static_cast<std::uint64_t>(lineEnd - start) + 2;
  return true;
}

// A few lines around the cut; a longer line is followed into further views.
constexpr std::uint32_t LineStartProbeViewSize = 4u << 10;

template <typename TPath>
bool TLogFileReader::FindLineStartPath(const TPath& path, std::uint64_t position, std::uint64_t& lineStart) noexcept {
  try {
    // Lines end with CR LF: the line that holds the byte before `position`
    // ends at the first LF at or after that byte with a CR before it. The
    // reader looks back at no byte before where it starts, so it starts one
    // further back, at the CR.
    TFastTextReaderOptions options;
    options.ViewSize = LineStartProbeViewSize;
    options.Begin = position - std::min<std::uint64_t>(position, 2);
    TFastTextReader text(path, fmShareDenyNone, options);
    if (position > 0 && !text.Eof())
      text.ReadLineView();
    lineStart = text.Position();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool TLogFileReader::FindLineStart(const std::string& path, std::uint64_t position, std::uint64_t& lineStart) noexcept {
  return FindLineStartPath(path, position, lineStart);
}

bool TLogFileReader::FindLineStart(const std::u16string& path, std::uint64_t position,
                                   std::uint64_t& lineStart) noexcept {
  return FindLineStartPath(path, position, lineStart);
}

bool TLogFileReader::ReadRecord(TLogRecord& record, std::string& errorText) {
  errorText.clear();
  if (Eof())
    return false;
  bool produced = false;
  if (!Guarded(ErrorPrefix("Could not process log file ", OpenedFileName), errorText,
               [&] { produced = ParseLine(TextReader->ReadLineView(), record); }))
    return false;
  return produced;
}

bool TLogFileReader::Close(std::string& errorText) {
  if (!TextReader)
    return true;
  const bool closed = Guarded(ErrorPrefix("Could not close log file ", OpenedFileName), errorText,
                              [&] { TextReader->Close(); });
  TextReader.reset();
  return closed;
}

void TLogFileReader::StartHeaderBlock() {
  Header.Version.clear();
  Header.LegacyFormat = true;
  Header.TimeZoneOffsetSeconds = 0;
  Header.ServerName.clear();
}

void TLogFileReader::ApplyDirective(std::string_view line) {
  const std::size_t separator = line.find(": ");
  if (separator == std::string_view::npos)
    return;
  const std::string_view name = line.substr(0, separator);
  const std::string_view value = TrimText(line.substr(separator + 2));
  if (SameTextAscii(name, "#Software")) {
    StartHeaderBlock();
  } else if (SameTextAscii(name, "#Version")) {
    Header.Version.assign(value);
    Header.LegacyFormat = IsLegacyVersion(value);
  } else if (SameTextAscii(name, "#LogMode")) {
    Header.Verbose = SameTextAscii(value, "verbose");
  } else if (SameTextAscii(name, "#Fields")) {
    ApplyFields(value);
  } else if (SameTextAscii(name, "#Timezone")) {
    Header.TimeZoneOffsetSeconds = std::llround(TimeZoneOffsetOf(value) * 86400.0);
  } else if (SameTextAscii(name, "#Server")) {
    Header.ServerName.assign(value);
  }
}

void TLogFileReader::ApplyFields(std::string_view value) {
  Header.FieldColumns.fill(-1);
  if (!value.empty() && value.back() == ' ')
    value.remove_suffix(1);
  std::int64_t column = 1;
  for (;;) {
    const std::size_t blank = value.find(' ');
    if (const int field = FieldOfName(value.substr(0, blank)))
      Header.FieldColumns[static_cast<std::size_t>(field)] =
          static_cast<std::int32_t>(std::min<std::int64_t>(column, std::numeric_limits<std::int32_t>::max()));
    if (blank == std::string_view::npos)
      break;
    value.remove_prefix(blank + 1);
    ++column;
  }
  PlanFieldCuts();
}

void TLogFileReader::SetReadOptions(const TLogReadOptions& options) {
  Options = options;
  Windowed = options.TimeFrom != std::numeric_limits<std::int64_t>::min() ||
             options.TimeTo != std::numeric_limits<std::int64_t>::max();
  PlanFieldCuts();
}

namespace {

// The fields of the record bits that come from a field of the line.
constexpr std::pair<std::uint32_t, int> FieldOfRecordField[] = {
    {LogFieldServer, FieldServer},         {LogFieldSource, FieldSource},       {LogFieldIP, FieldIP},
    {LogFieldMessageID, FieldMessageID},   {LogFieldSender, FieldSender},       {LogFieldRecipients, FieldRecipients},
    {LogFieldSubject, FieldSubject},       {LogFieldHeloDomain, FieldHeloDomain}, {LogFieldMessage, FieldMessage}};

// The fields copied into the record as they stand.
struct TCopiedField {
  std::uint32_t Bit;
  int Field;
  std::string TLogRecord::*Text;
};
constexpr TCopiedField CopiedFields[] = {{LogFieldSource, FieldSource, &TLogRecord::Source},
                                         {LogFieldMessageID, FieldMessageID, &TLogRecord::MessageID},
                                         {LogFieldSender, FieldSender, &TLogRecord::Sender},
                                         {LogFieldRecipients, FieldRecipients, &TLogRecord::Recipients},
                                         {LogFieldMessage, FieldMessage, &TLogRecord::Message}};

} // namespace

void TLogFileReader::PlanFieldCuts() {
  for (int field = 1; field <= FieldCount; ++field) {
    const std::int32_t column = Header.FieldColumns[static_cast<std::size_t>(field)];
    TFieldCut& cut = FieldCuts[static_cast<std::size_t>(field)];
    if (column == -1) {
      cut.First = 0;
      cut.Last = AbsentBound;
    } else if (column < 1 || column > LastColumn) {
      cut.First = UnaddressableField;
    } else {
      cut.First = static_cast<std::int8_t>(column - 1);
      // The message and the last column run to the end of the line.
      cut.Last = field == FieldMessage || column == LastColumn ? LineEndBound : static_cast<std::int8_t>(column);
    }
  }
  const auto boundsOf = [&](int field) {
    const TFieldCut cut = FieldCuts[static_cast<std::size_t>(field)];
    return cut.First < 0 || cut.Last == AbsentBound ? 0 : cut.Last == LineEndBound ? cut.First : cut.Last;
  };
  const auto unaddressable = [&](std::initializer_list<int> fields) {
    return std::any_of(fields.begin(), fields.end(),
                       [&](int field) { return FieldCuts[static_cast<std::size_t>(field)].First == UnaddressableField; });
  };
  CheckBounds = 0;
  for (int field : {FieldDateTime, FieldClass, FieldAction, FieldFilteringPoint, FieldSeverity, FieldIP})
    CheckBounds = std::max(CheckBounds, boundsOf(field));
  WantedBounds = CheckBounds;
  for (const auto& [bit, field] : FieldOfRecordField)
    if (Options.Fields & bit)
      WantedBounds = std::max(WantedBounds, boundsOf(field));
  UnaddressableBeforeIP = unaddressable({FieldServer, FieldSource, FieldIP});
  UnaddressableAfterIP =
      unaddressable({FieldMessageID, FieldSender, FieldRecipients, FieldSubject, FieldHeloDomain, FieldMessage});
}

inline std::string_view TLogFileReader::Field(int fieldNumber) const {
  const TFieldCut cut = FieldCuts[static_cast<std::size_t>(fieldNumber)];
  if (cut.First < 0) // a field that cannot be cut is the line's error
    RaiseRangeError();
  const std::size_t begin = ColumnBounds[static_cast<std::size_t>(cut.First)];
  const std::size_t end = ColumnBounds[static_cast<std::size_t>(cut.Last)] - 1;
  if (begin >= end) // empty, or the line has fewer columns
    return {};
  const std::string_view text(Line.data() + begin, end - begin);
  if (static_cast<unsigned char>(text.front()) <= ' ' || static_cast<unsigned char>(text.back()) <= ' ')
    return TrimmedFieldText(text);
  return text.size() == 1 && text[0] == '-' ? std::string_view() : text;
}

bool TLogFileReader::ParseLine(std::string_view line, TLogRecord& record) {
  if (line.empty())
    throw ERangeError();
  if (line[0] == '#') {
    ApplyDirective(line);
    return false;
  }

  Line = line;
  const std::size_t beyondLine = line.size() + 1;
  // Without a time window nearly every line gives a record: the blanks of the
  // wanted fields are then found in the same pass as those of the checked ones.
  const int scannedBounds = Windowed ? CheckBounds : WantedBounds;
  int found = FindColumnStarts(line.data(), line.size(), 0, scannedBounds, ColumnBounds.data() + 1);
  std::fill(ColumnBounds.begin() + 1 + found, ColumnBounds.begin() + 1 + scannedBounds, beyondLine);
  ColumnBounds[LineEndBound] = beyondLine;

  std::int64_t time = 0;
  if (!LogSeconds.Read(Field(FieldDateTime), time))
    return false;
  if (Header.FieldColumns[FieldAction] != -1) {
    if (!StrToEventClass(Field(FieldClass), record.Class) || !StrToActions(Field(FieldAction), record.Actions))
      return false;
  } else if (!StrToLegacyEventClass(Field(FieldClass), record.Class, record.Actions)) {
    return false;
  }
  if (!StrToFilteringPoint(Field(FieldFilteringPoint), record.FilteringPoint) ||
      !StrToSeverity(Field(FieldSeverity), record.Severity))
    return false;
  if (Header.LegacyFormat)
    record.FilteringPoint = TFilteringPoint::BeforeArrival;

  // Whatever is wanted, a line is an error when a field cannot be cut or its
  // address is bad, in the order the fields are read.
  if (UnaddressableBeforeIP)
    RaiseRangeError();
  const std::string_view ip = Field(FieldIP);
  record.IPValue = 0;
  StrToIPv4Value(ip, line.data() + line.size(), record.IPValue);
  if (UnaddressableAfterIP)
    RaiseRangeError();
  record.LineNr = RecordsRead++;
  record.LogMode = Header.Verbose;

  if (Windowed || (Options.Fields & LogFieldTime)) {
    // The log's zone gives the UTC instant; the local zone's rules at that
    // instant give its local time.
    const std::int64_t local =
        Header.LegacyFormat ? time : LocalTime.UtcSecondsToLocalSeconds(time + Header.TimeZoneOffsetSeconds);
    if (local < Options.TimeFrom || local > Options.TimeTo)
      return false;
    record.Time = AutomationDateFromSeconds(local);
  }

  if (WantedBounds > scannedBounds) {
    // Past the blanks already found, unless the line had fewer.
    if (found == scannedBounds)
      found += FindColumnStarts(line.data(), line.size(), ColumnBounds[static_cast<std::size_t>(scannedBounds)],
                                WantedBounds - scannedBounds, ColumnBounds.data() + 1 + scannedBounds);
    std::fill(ColumnBounds.begin() + 1 + found, ColumnBounds.begin() + 1 + WantedBounds, beyondLine);
  }
  const std::uint32_t wanted = Options.Fields;
  if (wanted & LogFieldVersion)
    AssignText(record.Version, Header.Version);
  if (wanted & LogFieldServer) {
    if (Header.FieldColumns[FieldServer] != -1)
      AssignText(record.Server, Field(FieldServer));
    else
      AssignText(record.Server, Header.ServerName);
  }
  if (wanted & LogFieldIP)
    AssignText(record.IP, ip);
  // A field that cannot be cut has made the line an error by now, so these
  // may be cut in any order.
  for (const TCopiedField& copied : CopiedFields)
    if (wanted & copied.Bit)
      AssignText(record.*copied.Text, Field(copied.Field));
  const char* const lineEnd = line.data() + line.size();
  if ((wanted & LogFieldSubject) && !PercentDecodeUtf8(Field(FieldSubject), lineEnd, record.Subject))
    record.Subject.clear();
  if (wanted & LogFieldHeloDomain)
    PercentDecode(Field(FieldHeloDomain), lineEnd, record.HeloDomain);
  return true;
}
