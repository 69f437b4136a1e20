#pragma once
#include <vector>

#include "RowWriter.h"

// Columns as wide as their widest value among the first rows (never wider
// than the layout allows); later rows keep those widths, so long reads stream.
// Numbers align right, everything else left.
class TTableWriter final : public TRowWriter {
public:
  TTableWriter(TQueryOutput& output, const TTableLayout& layout) : Output(output), Layout(layout) {}
  void Begin(std::span<const std::string> names) override;
  void Row(std::span<const TQueryCell> cells) override;
  void End(std::uint64_t rowCount) override;

private:
  struct TPreviewCell {
    std::string Text;
    bool Number;
  };

  void Measure(std::size_t column, std::string_view text);
  void FixLayout();
  void WriteLine(std::span<const TPreviewCell> cells);
  void WriteCell(std::size_t column, std::string_view text, bool number, bool last);

  TQueryOutput& Output;
  const TTableLayout Layout;
  std::vector<std::string> Names;
  std::vector<std::size_t> Widths;
  std::vector<std::vector<TPreviewCell>> Preview;
  std::vector<TPreviewCell> Line;  // reused for every row once the layout is fixed
  bool LayoutFixed = false;
};
