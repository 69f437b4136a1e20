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
  writer.StringSingleByte(record.Version, codePage);
  writer.Raw(",\"LogMode\":");
  WriteEnumName(writer, LogModeNames, record.LogMode ? 1u : 0u);
  writer.Raw(",\"Server\":");
  writer.StringSingleByte(record.Server, codePage);
  writer.Raw(",\"Source\":");
  writer.StringSingleByte(record.Source, codePage);
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
  writer.StringSingleByte(record.IP, codePage);
  writer.Raw(",\"IPValue\":");
  writer.UInt(record.IPValue);
  writer.Raw(",\"MessageID\":");
  writer.StringSingleByte(record.MessageID, codePage);
  writer.Raw(",\"Sender\":");
  writer.StringSingleByte(record.Sender, codePage);
  writer.Raw(",\"Recipients\":");
  writer.StringSingleByte(record.Recipients, codePage);
  writer.Raw(",\"HeloDomain\":");
  writer.StringSingleByte(record.HeloDomain, codePage);
  writer.Raw(",\"Subject\":");
  writer.StringUtf16(record.Subject);
  writer.Raw(",\"Message\":");
  writer.StringSingleByte(record.Message, codePage);
  writer.Raw(",\"LineNr\":");
  writer.Int(record.LineNr);
  writer.Raw("}\n");
}

void WriteErrorLine(TJsonWriter& writer, std::string_view fileJson, std::string_view errorText,
                    const TCodePage& errorCodePage) {
  writer.Raw("{\"file\":");
  writer.Raw(fileJson);
  writer.Raw(",\"error\":");
  writer.StringSingleByte(errorText, errorCodePage);
  writer.Raw("}\n");
}
