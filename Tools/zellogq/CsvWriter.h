#pragma once
#include "RowWriter.h"

// RFC 4180: a header line of column names, CR LF line ends, UTF-8.
class TCsvWriter final : public TOutputRowWriter {
public:
  using TOutputRowWriter::TOutputRowWriter;
  void Begin(std::span<const std::string> names) override;
  void Row(std::span<const TQueryCell> cells) override;

private:
  std::string Field;
};
