#pragma once
#include <vector>

#include "RowWriter.h"

// One JSON object per row, members in column order.
class TJsonLinesWriter final : public TRowWriter {
public:
  explicit TJsonLinesWriter(TQueryOutput& output) : Output(output) {}
  void Begin(std::span<const std::string> names) override;
  void Row(std::span<const TQueryCell> cells) override;
  void End(std::uint64_t) override {}
  bool Stopped() const noexcept override { return Output.Failed(); }

private:
  TQueryOutput& Output;
  std::vector<std::string> MemberPrefixes;  // {"Name": and ,"Name":, quoted once
};
