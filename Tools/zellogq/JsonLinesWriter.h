#pragma once
#include <vector>

#include "RowWriter.h"

// One JSON object per row, members in column order.
class TJsonLinesWriter final : public TOutputRowWriter {
public:
  using TOutputRowWriter::TOutputRowWriter;
  void Begin(std::span<const std::string> names) override;
  void Row(std::span<const TQueryCell> cells) override;

private:
  std::vector<std::string> MemberPrefixes;  // {"Name": and ,"Name":, quoted once
};
