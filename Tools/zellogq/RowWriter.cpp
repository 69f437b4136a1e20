#include "RowWriter.h"

#include "CsvWriter.h"
#include "JsonLinesWriter.h"
#include "TableWriter.h"

std::unique_ptr<TRowWriter> MakeRowWriter(TOutputFormat format, TQueryOutput& output, const TTableLayout& layout) {
  switch (format) {
    case TOutputFormat::Csv: return std::make_unique<TCsvWriter>(output);
    case TOutputFormat::JsonLines: return std::make_unique<TJsonLinesWriter>(output);
    case TOutputFormat::Table: break;
  }
  return std::make_unique<TTableWriter>(output, layout);
}
