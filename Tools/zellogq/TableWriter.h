#pragma once
#include <vector>

#include "RowWriter.h"

// Columns as wide as their widest value among the first rows; later rows keep
// those widths, so long reads stream. Only texts are cut to the layout's
// limit: a cut number or date would mislead. Numbers align right.
class TTableWriter final : public TOutputRowWriter {
public:
  TTableWriter(TQueryOutput& output, const TTableLayout& layout) : TOutputRowWriter(output), Layout(layout) {}
  void Begin(std::span<const std::string> names) override;
  void Row(std::span<const TQueryCell> cells) override;
  void End(std::uint64_t rowCount) override;

  // A value as the table shows it.
  struct TPreviewCell {
    std::string Text;
    bool Number;
    bool Cuttable;
  };

private:
  void Measure(std::size_t column, std::string_view text, bool cuttable);
  void FixLayout();
  void WriteLine(std::span<const TPreviewCell> cells);
  void WriteCell(std::size_t column, const TPreviewCell& cell, bool last);

  const TTableLayout Layout;
  std::vector<std::string> Names;
  std::vector<std::size_t> Widths;
  std::vector<bool> NumberColumns;  // decided by the first value that is not NULL
  std::vector<bool> AlignmentKnown;
  std::vector<std::vector<TPreviewCell>> Preview;
  std::vector<TPreviewCell> Line;  // reused for every row once the layout is fixed
  bool LayoutFixed = false;
};
