#include "TableWriter.h"

#include <algorithm>

#include "ValueText.h"

namespace {

constexpr std::string_view ColumnGap = "  ";

void CellDisplayText(std::string& text, const TQueryCell& cell) {
  text.clear();
  AppendCellText(text, cell);
  if (cell.Truncated) text.append(CutMark);
}

}  // namespace

void TTableWriter::Begin(std::span<const std::string> names) {
  Names.assign(names.begin(), names.end());
  Widths.assign(names.size(), 0);
  Line.assign(names.size(), TPreviewCell{});
  for (std::size_t i = 0; i < names.size(); ++i) Measure(i, names[i]);
}

void TTableWriter::Measure(std::size_t column, std::string_view text) {
  std::size_t width = DisplayWidth(text);
  if (Layout.MaxColumnWidth != 0 && width > Layout.MaxColumnWidth) width = Layout.MaxColumnWidth;
  if (width > Widths[column]) Widths[column] = width;
}

void TTableWriter::Row(std::span<const TQueryCell> cells) {
  if (LayoutFixed) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
      CellDisplayText(Line[i].Text, cells[i]);
      Line[i].Number = cells[i].IsNumber();
    }
    WriteLine(Line);
    return;
  }
  std::vector<TPreviewCell>& row = Preview.emplace_back(cells.size());
  for (std::size_t i = 0; i < cells.size(); ++i) {
    CellDisplayText(row[i].Text, cells[i]);
    row[i].Number = cells[i].IsNumber();
    Measure(i, row[i].Text);
  }
  if (Preview.size() >= Layout.PreviewRows) FixLayout();
}

void TTableWriter::End(std::uint64_t rowCount) {
  if (!LayoutFixed) FixLayout();
  std::string& text = Output.Text();
  text.push_back('(');
  text.append(std::to_string(rowCount));
  text.append(rowCount == 1 ? " row)\n" : " rows)\n");
  Output.Commit();
}

void TTableWriter::FixLayout() {
  LayoutFixed = true;
  for (std::size_t i = 0; i < Names.size(); ++i) WriteCell(i, Names[i], false, i + 1 == Names.size());
  Output.Text().push_back('\n');
  for (std::size_t i = 0; i < Names.size(); ++i) {
    if (i) Output.Text().append(ColumnGap);
    Output.Text().append(Widths[i], '-');
  }
  Output.Text().push_back('\n');
  for (const auto& row : Preview) WriteLine(row);
  Preview.clear();
  Preview.shrink_to_fit();
}

void TTableWriter::WriteLine(std::span<const TPreviewCell> cells) {
  for (std::size_t i = 0; i < cells.size(); ++i) WriteCell(i, cells[i].Text, cells[i].Number, i + 1 == cells.size());
  Output.Text().push_back('\n');
  Output.Commit();
}

void TTableWriter::WriteCell(std::size_t column, std::string_view text, bool number, bool last) {
  std::string& out = Output.Text();
  if (column) out.append(ColumnGap);
  const std::size_t width = Widths[column];
  // Without a width limit a later row may outgrow its column rather than lose text.
  const std::size_t limit = Layout.MaxColumnWidth != 0 ? width : 0;
  if (number) {
    const std::size_t shown = std::min(DisplayWidth(text), width);
    out.append(width - shown, ' ');
    AppendTableText(out, text, limit);
    return;
  }
  const std::size_t shown = AppendTableText(out, text, limit);
  if (!last && shown < width) out.append(width - shown, ' ');
}
