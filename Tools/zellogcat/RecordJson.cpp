#include "RecordJson.h"

#include <charconv>

#include "CodePage.h"
#include "LogTimeText.h"

namespace {

template <std::size_t N>
char* WriteName(char* out, const std::array<std::string_view, N>& names, unsigned value) {
  if (value >= N) return std::to_chars(out, out + 12, value).ptr;
  *out++ = '"';
  out = WriteRaw(out, names[value]);
  *out++ = '"';
  return out;
}

// Room for the names, brackets and separators of the actions.
constexpr std::size_t ActionsBound = 8 * 24 + 2;

char* WriteActionList(char* out, TLogActions actions) {
  *out++ = '[';
  bool first = true;
  for (unsigned bit = 0; bit < 8; ++bit) {
    if ((actions.Bits & (1u << bit)) == 0) continue;
    if (!first) *out++ = ',';
    first = false;
    out = WriteName(out, LogActionNames, bit);
  }
  *out++ = ']';
  return out;
}

char* WriteText(char* out, std::string_view name, std::string_view text, const TCodePage& codePage) {
  out = WriteRaw(out, name);
  *out++ = '"';
  out = codePage.WriteEscaped(out, text);
  *out++ = '"';
  return out;
}

}  // namespace

void WriteActions(TJsonWriter& writer, TLogActions actions) {
  writer.Commit(WriteActionList(writer.Reserve(ActionsBound), actions));
}

void TRecordJson::WriteUpToLineNr(TJsonWriter& writer, std::string_view fileJson, const TLogRecord& record,
                                  const TCodePage& codePage) {
  if (record.Time != CachedTime) {
    CachedTime = record.Time;
    CachedTimeValid = TimeWriter.Split(record.Time, CachedTimeOfDay);
  }
  const std::size_t texts = record.Version.size() + record.Server.size() + record.Source.size() + record.IP.size() +
                            record.MessageID.size() + record.Sender.size() + record.Recipients.size() +
                            record.HeloDomain.size() + record.Subject.size() + record.Message.size();
  // Names, punctuation, enumerations and numbers take well below 1 KiB.
  char* out = writer.Reserve(fileJson.size() + JsonEscapedBound(texts) + 1024);
  out = WriteRaw(out, "{\"file\":");
  out = WriteRaw(out, fileJson);
  out = WriteText(out, ",\"Version\":", record.Version, codePage);
  out = WriteRaw(out, ",\"LogMode\":");
  out = WriteName(out, LogModeNames, record.LogMode ? 1u : 0u);
  out = WriteText(out, ",\"Server\":", record.Server, codePage);
  out = WriteText(out, ",\"Source\":", record.Source, codePage);
  out = WriteRaw(out, ",\"Time\":");
  if (CachedTimeValid) {
    *out++ = '"';
    std::memcpy(out, TimeWriter.DateText(), 11);
    std::memcpy(out + 11, &CachedTimeOfDay, 8);
    out += 19;
    *out++ = '"';
  } else {
    out = WriteRaw(out, "null");
  }
  out = WriteRaw(out, ",\"Class\":");
  out = WriteName(out, LogEventClassNames, static_cast<unsigned>(record.Class));
  out = WriteRaw(out, ",\"Actions\":");
  out = WriteActionList(out, record.Actions);
  out = WriteRaw(out, ",\"Severity\":");
  out = WriteName(out, LogSeverityNames, static_cast<unsigned>(record.Severity));
  out = WriteRaw(out, ",\"FilteringPoint\":");
  out = WriteName(out, FilteringPointNames, static_cast<unsigned>(record.FilteringPoint));
  out = WriteText(out, ",\"IP\":", record.IP, codePage);
  out = WriteRaw(out, ",\"IPValue\":");
  out = std::to_chars(out, out + 12, record.IPValue).ptr;
  out = WriteText(out, ",\"MessageID\":", record.MessageID, codePage);
  out = WriteText(out, ",\"Sender\":", record.Sender, codePage);
  out = WriteText(out, ",\"Recipients\":", record.Recipients, codePage);
  out = WriteText(out, ",\"HeloDomain\":", record.HeloDomain, codePage);
  out = WriteRaw(out, ",\"Subject\":\"");
  out = WriteJsonEscapedUtf16(out, record.Subject);
  out = WriteText(out, "\",\"Message\":", record.Message, codePage);
  out = WriteRaw(out, ",\"LineNr\":");
  writer.Commit(out);
}

void TRecordJson::WriteLine(TJsonWriter& writer, std::string_view fileJson, const TLogRecord& record,
                            const TCodePage& codePage) {
  WriteUpToLineNr(writer, fileJson, record, codePage);
  char* out = writer.Reserve(16);
  out = std::to_chars(out, out + 12, record.LineNr).ptr;
  writer.Commit(WriteRaw(out, "}\n"));
}

void WriteRecordLine(TJsonWriter& writer, std::string_view fileJson, const TLogRecord& record,
                     const TCodePage& codePage) {
  TRecordJson().WriteLine(writer, fileJson, record, codePage);
}

void WriteErrorLine(TJsonWriter& writer, std::string_view fileJson, std::string_view errorText,
                    const TCodePage& errorCodePage) {
  writer.Raw("{\"file\":");
  writer.Raw(fileJson);
  writer.Raw(",\"error\":");
  errorCodePage.String(writer, errorText);
  writer.Raw("}\n");
}
