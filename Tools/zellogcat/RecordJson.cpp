#include "RecordJson.h"

#include "CodePage.h"
#include "LogTimeText.h"

void WriteActions(TJsonWriter& writer, TLogActions actions) {
  writer.Raw('[');
  bool first = true;
  for (unsigned bit = 0; bit < 8; ++bit) {
    if ((actions.Bits & (1u << bit)) == 0) continue;
    if (!first) writer.Raw(',');
    first = false;
    WriteEnumName(writer, LogActionNames, bit);
  }
  writer.Raw(']');
}

void WriteRecordLine(TJsonWriter& writer, std::string_view fileJson, const TLogRecord& record,
                     const TCodePage& codePage) {
  writer.Raw("{\"file\":");
  writer.Raw(fileJson);
  writer.Raw(",\"Version\":");
  codePage.WriteString(writer, record.Version);
  writer.Raw(",\"LogMode\":");
  WriteEnumName(writer, LogModeNames, record.LogMode ? 1u : 0u);
  writer.Raw(",\"Server\":");
  codePage.WriteString(writer, record.Server);
  writer.Raw(",\"Source\":");
  codePage.WriteString(writer, record.Source);
  writer.Raw(",\"Time\":");
  char time[20];
  if (AutomationDateToIsoText(record.Time, time)) {
    writer.Raw('"');
    writer.Raw(std::string_view(time, 19));
    writer.Raw('"');
  } else {
    writer.Null();
  }
  writer.Raw(",\"Class\":");
  WriteEnumName(writer, LogEventClassNames, static_cast<unsigned>(record.Class));
  writer.Raw(",\"Actions\":");
  WriteActions(writer, record.Actions);
  writer.Raw(",\"Severity\":");
  WriteEnumName(writer, LogSeverityNames, static_cast<unsigned>(record.Severity));
  writer.Raw(",\"FilteringPoint\":");
  WriteEnumName(writer, FilteringPointNames, static_cast<unsigned>(record.FilteringPoint));
  writer.Raw(",\"IP\":");
  codePage.WriteString(writer, record.IP);
  writer.Raw(",\"IPValue\":");
  writer.UInt(record.IPValue);
  writer.Raw(",\"MessageID\":");
  codePage.WriteString(writer, record.MessageID);
  writer.Raw(",\"Sender\":");
  codePage.WriteString(writer, record.Sender);
  writer.Raw(",\"Recipients\":");
  codePage.WriteString(writer, record.Recipients);
  writer.Raw(",\"HeloDomain\":");
  codePage.WriteString(writer, record.HeloDomain);
  writer.Raw(",\"Subject\":");
  writer.StringUtf16(record.Subject);
  writer.Raw(",\"Message\":");
  codePage.WriteString(writer, record.Message);
  writer.Raw(",\"LineNr\":");
  writer.Int(record.LineNr);
  writer.Raw("}\n");
}

void WriteErrorLine(TJsonWriter& writer, std::string_view fileJson, std::string_view errorText,
                    const TCodePage& errorCodePage) {
  writer.Raw("{\"file\":");
  writer.Raw(fileJson);
  writer.Raw(",\"error\":");
  errorCodePage.WriteString(writer, errorText);
  writer.Raw("}\n");
}
