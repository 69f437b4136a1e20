#include "TableWriter.h"

#include <algorithm>

#include "ValueText.h"

namespace {

constexpr std::string_view ColumnGap = "  ";

void ToDisplay(TTableWriter::TPreviewCell& shown, const TQueryCell& cell) {
  shown.Text.clear();
  AppendCellText(shown.Text, cell);
  if (cell.Truncated) shown.Text.append(CutMark);
  shown.Number = cell.IsNumber();
  shown.Cuttable = cell.Kind == TCellKind::Text || cell.Kind == TCellKind::Error;
}

}  // namespace

void TTableWriter::Begin(std::span<const std::string> names) {
  Names.assign(names.begin(), names.end());
  Widths.assign(names.size(), 0);
  NumberColumns.assign(names.size(), false);
  AlignmentKnown.assign(names.size(), false);
  Line.assign(names.size(), TPreviewCell{});
  for (std::size_t i = 0; i < names.size(); ++i) Measure(i, names[i], true);
}

void TTableWriter::Measure(std::size_t column, std::string_view text, bool cuttable) {
  std::size_t width = DisplayWidth(text);
  if (cuttable && Layout.MaxColumnWidth != 0 && width > Layout.MaxColumnWidth) width = Layout.MaxColumnWidth;
  if (width > Widths[column]) Widths[column] = width;
}

void TTableWriter::Row(std::span<const TQueryCell> cells) {
  if (LayoutFixed) {
    for (std::size_t i = 0; i < cells.size(); ++i) ToDisplay(Line[i], cells[i]);
    WriteLine(Line);
    return;
  }
  std::vector<TPreviewCell>& row = Preview.emplace_back(cells.size());
  for (std::size_t i = 0; i < cells.size(); ++i) {
    ToDisplay(row[i], cells[i]);
    Measure(i, row[i].Text, row[i].Cuttable);
    if (!AlignmentKnown[i] && cells[i].Kind != TCellKind::Null) {
      AlignmentKnown[i] = true;
      NumberColumns[i] = row[i].Number;
    }
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
  for (std::size_t i = 0; i < Names.size(); ++i) WriteCell(i, {Names[i], NumberColumns[i], true}, i + 1 == Names.size());
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
  for (std::size_t i = 0; i < cells.size(); ++i) WriteCell(i, cells[i], i + 1 == cells.size());
  Output.Text().push_back('\n');
  Output.Commit();
}

void TTableWriter::WriteCell(std::size_t column, const TPreviewCell& cell, bool last) {
  std::string& out = Output.Text();
  if (column) out.append(ColumnGap);
  const std::string_view text = cell.Text;
  const std::size_t width = Widths[column];
  // Without a width limit a later row may outgrow its column rather than lose text.
  const std::size_t limit = Layout.MaxColumnWidth != 0 && cell.Cuttable ? width : 0;
  if (cell.Number) {
    const std::size_t shown = std::min(DisplayWidth(text), width);
    out.append(width - shown, ' ');
    AppendTableText(out, text, limit);
    return;
  }
  const std::size_t shown = AppendTableText(out, text, limit);
  if (!last && shown < width) out.append(width - shown, ' ');
}
