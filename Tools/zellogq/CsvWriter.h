#pragma once
#include "RowWriter.h"

// RFC 4180: a header line of column names, CR LF line ends, UTF-8.
class TCsvWriter final : public TRowWriter {
public:
  explicit TCsvWriter(TQueryOutput& output) : Output(output) {}
  void Begin(std::span<const std::string> names) override;
  void Row(std::span<const TQueryCell> cells) override;
  void End(std::uint64_t) override {}
  bool Stopped() const noexcept override { return Output.Failed(); }

private:
  TQueryOutput& Output;
  std::string Field;
};
