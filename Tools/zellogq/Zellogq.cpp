#include "Zellogq.h"

#include <map>

#include <oledberr.h>

#include "LogSummary.h"
#include "QueryConnection.h"
#include "QueryFailure.h"
#include "QueryOptions.h"
#include "RowsetReader.h"
#include "CodePageText.h"

namespace {

// Collects rows instead of printing them, for the schema cross-check.
class TCollectingWriter final : public TRowWriter {
public:
  void Begin(std::span<const std::string>) override {}
  void Row(std::span<const TQueryCell> cells) override { Rows.emplace_back(cells.begin(), cells.end()); }
  std::vector<std::vector<TQueryCell>> Rows;
};

std::string FlagsText(DBCOLUMNFLAGS flags) {
  static constexpr std::pair<DBCOLUMNFLAGS, const char*> Names[] = {
      {DBCOLUMNFLAGS_ISFIXEDLENGTH, "fixed"}, {DBCOLUMNFLAGS_ISNULLABLE, "nullable"},
      {DBCOLUMNFLAGS_MAYBENULL, "maybenull"}, {DBCOLUMNFLAGS_ISLONG, "long"},
      {DBCOLUMNFLAGS_WRITE, "write"},         {DBCOLUMNFLAGS_WRITEUNKNOWN, "writeunknown"},
      {DBCOLUMNFLAGS_ISROWID, "rowid"},       {DBCOLUMNFLAGS_ISROWVER, "rowver"},
  };
  std::string text;
  for (const auto& [flag, name] : Names) {
    if (!(flags & flag)) continue;
    if (!text.empty()) text.push_back(' ');
    text.append(name);
  }
  return text;
}

class TQueryRun {
public:
  TQueryRun(const TQueryOptions& options, const TQuerySink& out, const TQuerySink& err, TReadProgress* progress,
            bool outputIsTerminal)
      : Options(options), Output(out), Err(err), Progress(progress), OutputIsTerminal(outputIsTerminal),
        Writer(MakeRowWriter(options.Format, Output, options.Layout)) {}

  int Run() {
    TQueryConnection connection(Options.ConnectionString);
    switch (Options.Action) {
      case TQueryAction::Info: return Info(connection);
      case TQueryAction::Tables: return Tables(connection);
      case TQueryAction::Columns: return Columns(connection);
      case TQueryAction::Rows:
        return Rows(Options.CommandText.empty() ? connection.OpenTable(Options.Table)
                                                : connection.Execute(Options.CommandText));
      case TQueryAction::Summary: return Summary(connection);
      case TQueryAction::Help: break;
    }
    return QueryExitUsage;
  }

  bool FlushOutput() { return Output.Flush(); }

private:
  int Info(TQueryConnection& connection) {
    const auto properties = connection.DataSourceInfo();
    static const std::string Names[] = {"PROPERTY", "VALUE"};
    Writer->Begin(Names);
    std::vector<TQueryCell> cells(2);
    cells[0].Kind = TCellKind::Text;
    for (const auto& [name, value] : properties) {
      cells[0].Text = name;
      cells[1] = value;
      Writer->Row(cells);
    }
    Writer->End(properties.size());
    CountOnStandardError(properties.size(), "properties");
    return QueryExitSuccess;
  }

  int Tables(TQueryConnection& connection) {
    TComPtr<IRowset> rowset = connection.Schema(DBSCHEMA_TABLES, {});
    if (!rowset) throw EQueryFailure("the provider lists no tables (no TABLES schema rowset)", E_NOINTERFACE, {});
    static const std::vector<std::string> TableColumns = {"TABLE_NAME", "TABLE_TYPE"};
    return Show(TRowsetReader(std::move(rowset), Options.Columns.empty() ? TableColumns : Options.Columns),
                "tables");
  }

  int Columns(TQueryConnection& connection) {
    const std::vector<TColumnDescription> columns = DescribeColumns(*connection.OpenTable(Options.Table));
    static const std::string Names[] = {"#", "NAME", "TYPE", "SIZE", "FLAGS"};
    Writer->Begin(Names);
    std::vector<TQueryCell> cells(5);
    for (const TColumnDescription& column : columns) {
      cells[0].Kind = TCellKind::Unsigned;
      cells[0].Unsigned = column.Ordinal;
      cells[1].Kind = TCellKind::Text;
      cells[1].Text = column.Name;
      cells[2].Kind = TCellKind::Text;
      cells[2].Text = TypeName(column.Type);
      cells[3].Kind = column.Size == static_cast<DBLENGTH>(~0) ? TCellKind::Null : TCellKind::Unsigned;
      cells[3].Unsigned = column.Size;
      cells[4].Kind = TCellKind::Text;
      cells[4].Text = FlagsText(column.Flags);
      Writer->Row(cells);
    }
    Writer->End(columns.size());
    CountOnStandardError(columns.size(), "columns");
    CompareWithColumnsSchema(connection, columns);
    return QueryExitSuccess;
  }

  // Consumers that plan queries read the COLUMNS schema rowset, not the
  // rowset itself: say where the two disagree.
  void CompareWithColumnsSchema(TQueryConnection& connection, const std::vector<TColumnDescription>& columns) {
    VARIANT restrictions[3];
    for (VARIANT& v : restrictions) VariantInit(&v);
    restrictions[2].vt = VT_BSTR;
    restrictions[2].bstrVal = SysAllocString(WideFromUtf8(Options.Table).c_str());
    TComPtr<IRowset> rowset;
    try {
      rowset = connection.Schema(DBSCHEMA_COLUMNS, restrictions);
    } catch (...) {
      VariantClear(&restrictions[2]);
      throw;
    }
    VariantClear(&restrictions[2]);
    if (!rowset) return;
    TCollectingWriter collected;
    TRowsetReader(std::move(rowset), {"COLUMN_NAME", "DATA_TYPE"}).Read(collected, UINT64_MAX, IgnoreRow(), nullptr);
    std::map<std::string, std::int64_t> schemaTypes;
    for (const auto& row : collected.Rows)
      schemaTypes[row[0].Text] = row[1].Kind == TCellKind::Null ? -1 : Number(row[1]);
    for (const TColumnDescription& column : columns) {
      const auto found = schemaTypes.find(column.Name);
      if (found == schemaTypes.end()) {
        Warn("the COLUMNS schema rowset does not list column \"" + column.Name + "\"");
      } else if (found->second != column.Type) {
        Warn("the COLUMNS schema rowset gives column \"" + column.Name + "\" the type " +
             (found->second < 0 ? std::string("NULL") : TypeName(static_cast<DBTYPE>(found->second))));
      }
    }
    if (collected.Rows.size() > columns.size())
      Warn("the COLUMNS schema rowset lists " + std::to_string(collected.Rows.size()) + " columns, the table has " +
           std::to_string(columns.size()));
  }

  static std::int64_t Number(const TQueryCell& cell) {
    return cell.Kind == TCellKind::Unsigned ? static_cast<std::int64_t>(cell.Unsigned) : cell.Integer;
  }

  static TRowFailureSink IgnoreRow() {
    return [](std::uint64_t, const EQueryFailure&) {};
  }

  // A command that asks for the summary's columns only, so that the provider
  // reads no other field; a name no command text can hold is opened whole.
  TComPtr<IRowset> SummaryRows(TQueryConnection& connection) {
    const std::string& table = Options.Table;
    std::string name;
    if (!table.empty() && table.find_first_of(" \t\r\n") == std::string::npos && table[0] != '[' && table[0] != '"')
      name = table;
    else if (table.find(']') == std::string::npos)
      name = "[" + table + "]";
    else if (table.find('"') == std::string::npos)
      name = "\"" + table + "\"";
    else
      return connection.OpenTable(table);
    std::string text = "SELECT ";
    for (const std::string& column : SummaryColumns) text.append(column).append(", ");
    text.resize(text.size() - 2);
    return connection.Execute(text + " FROM " + name);
  }

  int Summary(TQueryConnection& connection) {
    TSummaryCollector collector;
    std::uint64_t failures = 0;
    // Only the first failure in full: a damaged log may have thousands.
    const TReadResult result = TRowsetReader(SummaryRows(connection), SummaryColumns)
                                   .Read(collector, UINT64_MAX,
                                         [&](std::uint64_t, const EQueryFailure& failure) {
                                           if (failures++ == 0) Err(FormatFailure(failure.Action, failure.Code, failure.Records));
                                         },
                                         Progress);
    collector.CountUnreadable(result.RowsUnreadable);
    const TLogSummary summary = collector.Summary();
    Output.Text().append(Options.Format == TOutputFormat::JsonLines
                             ? SummaryJsonLines(Options.Table, summary)
                             : SummaryText(Options.Table, summary, OutputIsTerminal));
    Output.Commit();
    if (summary.Unreadable == 0) return QueryExitSuccess;
    Output.Flush();
    Err("zellogq: " + std::to_string(summary.Unreadable) + (summary.Unreadable == 1 ? " row" : " rows") +
        " could not be read\n");
    return QueryExitUnreadableRows;
  }

  int Rows(TComPtr<IRowset> rowset) { return Show(TRowsetReader(std::move(rowset), Options.Columns), "rows"); }

  int Show(TRowsetReader&& reader, const char* what) {
    const TReadResult result = reader.Read(
        *Writer, Options.Limit,
        [this](std::uint64_t, const EQueryFailure& failure) {
          Output.Flush();
          Err(FormatFailure(failure.Action, failure.Code, failure.Records));
        },
        Progress);
    CountOnStandardError(result.RowsShown, what);
    for (const std::string& column : result.CutColumns)
      Warn("values of column \"" + column + "\" were too long and were cut");
    if (result.RowsUnreadable == 0) return QueryExitSuccess;
    Output.Flush();
    Err("zellogq: " + std::to_string(result.RowsUnreadable) + (result.RowsUnreadable == 1 ? " row" : " rows") +
        " could not be read\n");
    return QueryExitUnreadableRows;
  }

  // The table shows its count itself; CSV and JSON Lines keep standard output for data.
  void CountOnStandardError(std::uint64_t count, const char* what) {
    if (Options.Format == TOutputFormat::Table) return;
    Output.Flush();
    Err("zellogq: " + std::to_string(count) + " " + what + "\n");
  }

  void Warn(const std::string& text) {
    Output.Flush();
    Err("zellogq: warning: " + text + "\n");
  }

  const TQueryOptions& Options;
  TQueryOutput Output;
  const TQuerySink& Err;
  TReadProgress* Progress;
  const bool OutputIsTerminal;
  std::unique_ptr<TRowWriter> Writer;
};

}  // namespace

int RunZellogq(const std::vector<std::string>& arguments, const TQuerySink& out, const TQuerySink& err,
               TReadProgress* progress, bool outputIsTerminal) {
  TQueryOptions options;
  const std::string problem = ParseQueryOptions(arguments, options);
  if (!problem.empty()) {
    err("zellogq: " + problem + "\nTry 'zellogq --help'.\n");
    return QueryExitUsage;
  }
  if (options.Action == TQueryAction::Help) return out(QueryUsage) ? QueryExitSuccess : QueryExitFailure;

  TQueryRun run(options, out, err, progress, outputIsTerminal);
  int status = QueryExitSuccess;
  try {
    status = run.Run();
  } catch (const EQueryFailure& failure) {
    run.FlushOutput();
    err(FormatFailure(failure.Action, failure.Code, failure.Records));
    return QueryExitFailure;
  } catch (const std::exception& failure) {
    run.FlushOutput();
    err(std::string("zellogq: ") + failure.what() + "\n");
    return QueryExitFailure;
  }
  if (!run.FlushOutput()) {
    err("zellogq: cannot write the output\n");
    return QueryExitFailure;
  }
  return status;
}
