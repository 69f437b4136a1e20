#pragma once
// The output formats: an aligned text table for people, CSV and JSON Lines
// for tools. A writer sees the column names once, then every row.
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "QueryCell.h"
#include "QueryOutput.h"

enum class TOutputFormat { Table, Csv, JsonLines };

class TRowWriter {
public:
  virtual ~TRowWriter() = default;
  virtual void Begin(std::span<const std::string> names) = 0;
  virtual void Row(std::span<const TQueryCell> cells) = 0;
  // After the last row; only a format that holds rows back has work left.
  virtual void End(std::uint64_t /*rowCount*/) {}
  // True once the output cannot be written: reading on would be wasted.
  virtual bool Stopped() const noexcept { return false; }
};

// A format written to the query's output: it stops once the output fails.
class TOutputRowWriter : public TRowWriter {
public:
  explicit TOutputRowWriter(TQueryOutput& output) : Output(output) {}
  bool Stopped() const noexcept final { return Output.Failed(); }

protected:
  TQueryOutput& Output;
};

struct TTableLayout {
  std::size_t MaxColumnWidth = 40;  // 0: values are never cut
  std::size_t PreviewRows = 200;    // rows that decide the column widths
};

std::unique_ptr<TRowWriter> MakeRowWriter(TOutputFormat format, TQueryOutput& output, const TTableLayout& layout);
