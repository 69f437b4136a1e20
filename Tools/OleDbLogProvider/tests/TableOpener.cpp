#include "TableOpener.h"

#include <cmath>

#include "ZelLogDbRecord_un.h"

namespace {
std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}
}  // namespace

std::vector<TRowText> ExpectedRows(const std::wstring& path) {
  std::vector<TRowText> rows;
  TLogFileReader reader;
  std::string error;
  reader.Open(std::u16string(path.begin(), path.end()), error);
  TLogRecord record;
  while (!reader.Eof()) {
    error.clear();
    if (reader.ReadRecord(record, error)) {
      TRowText row = {Wide(record.Version),
                      BoolText(record.LogMode),
                      Wide(std::string(EventClassToDisplayText(record.Class))),
                      Wide(record.Server),
                      Wide(record.Source),
                      DateText((std::nearbyint(record.Time * 86400) + 0.003) / 86400)};
      for (int action = 0; action < 7; ++action)
        row.push_back(BoolText(record.Actions.Contains(static_cast<TLogAction>(action))));
      row.insert(row.end(), {Wide(std::string(SeverityToDisplayText(record.Severity))),
                             Wide(std::string(FilteringPointToDisplayText(record.FilteringPoint))), Wide(record.IP),
                             Wide(record.MessageID), Wide(record.Sender), Wide(record.Recipients),
                             Wide(record.HeloDomain), std::wstring(record.Subject.begin(), record.Subject.end()),
                             Wide(record.Message), std::to_wstring(record.LineNr)});
      rows.push_back(std::move(row));
    } else if (!error.empty()) {
      rows.push_back({L"!GetData"});
    }
  }
  return rows;
}
