#include "JsonLinesWriter.h"

#include "ValueText.h"

void TJsonLinesWriter::Begin(std::span<const std::string> names) {
  MemberPrefixes.clear();
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::string prefix(i ? "," : "{");
    AppendJsonString(prefix, names[i]);
    prefix.push_back(':');
    MemberPrefixes.push_back(std::move(prefix));
  }
}

void TJsonLinesWriter::Row(std::span<const TQueryCell> cells) {
  std::string& text = Output.Text();
  if (cells.empty()) text.push_back('{');
  for (std::size_t i = 0; i < cells.size(); ++i) {
    text.append(MemberPrefixes[i]);
    AppendJsonValue(text, cells[i]);
  }
  text.append("}\n");
  Output.Commit();
}
