#include "CsvWriter.h"

#include "ValueText.h"

void TCsvWriter::Begin(std::span<const std::string> names) {
  std::string& text = Output.Text();
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i) text.push_back(',');
    AppendCsvField(text, names[i]);
  }
  text.append("\r\n");
  Output.Commit();
}

void TCsvWriter::Row(std::span<const TQueryCell> cells) {
  std::string& text = Output.Text();
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i) text.push_back(',');
    Field.clear();
    AppendCellText(Field, cells[i]);
    AppendCsvField(text, Field);
  }
  text.append("\r\n");
  Output.Commit();
}
