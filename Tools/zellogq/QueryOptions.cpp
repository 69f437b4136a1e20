#include "QueryOptions.h"

#include <charconv>

const char* const QueryUsage =
    "Usage: zellogq CONNECTION [OPTIONS] info\n"
    "       zellogq CONNECTION [OPTIONS] tables\n"
    "       zellogq CONNECTION [OPTIONS] columns TABLE\n"
    "       zellogq CONNECTION [OPTIONS] summary TABLE\n"
    "       zellogq CONNECTION [OPTIONS] TABLE\n"
    "       zellogq CONNECTION [OPTIONS] --command TEXT\n"
    "\n"
    "Queries an OLE DB data source through the platform's service components and\n"
    "prints what it holds. Works with any OLE DB provider; made for zellogdb, which\n"
    "shows each log file of a folder as a table.\n"
    "\n"
    "Connection (one of):\n"
    "  -c, --connect STRING  an OLE DB connection string, for example\n"
    "                        \"Provider=zellogdb.provider;Data Source=C:\\logs\"\n"
    "  --folder DIR          short for \"Provider=zellogdb.provider;Data Source=DIR\"\n"
    "\n"
    "What to show:\n"
    "  info                  the data source's information properties, among them\n"
    "                        the provider's file name and version: the version ends\n"
    "                        with (32-bit) or (64-bit) for zellogdb\n"
    "  tables                the tables (TABLES schema rowset): TABLE_NAME, TABLE_TYPE\n"
    "  columns TABLE         the columns of TABLE with their types (IColumnsInfo);\n"
    "                        where the provider has a COLUMNS schema rowset, columns\n"
    "                        it does not list alike are reported\n"
    "  summary TABLE         a zellogdb log table at a glance: events by class, by\n"
    "                        severity and per hour (per day over more than three\n"
    "                        days) as bar charts, and the ten senders and IP\n"
    "                        addresses most often rejected (Action_Reject set);\n"
    "                        TABLE may be a pattern such as mail1-201004*.log.\n"
    "                        Rows that cannot be read are counted, not dropped.\n"
    "                        --format jsonl gives the same figures to scripts\n"
    "  TABLE                 the rows of TABLE, opened by name (IOpenRowset);\n"
    "                        for zellogdb a table is a log file name, e.g. mail.log,\n"
    "                        or a pattern over many, e.g. \"mail-201004*.log\"\n"
    "  --command TEXT        the rows a command text gives (ICommandText); zellogdb\n"
    "                        takes \"mail.log\", \"SELECT * FROM mail.log\", or a\n"
    "                        column list and conditions: \"SELECT Time, Sender FROM\n"
    "                        mail-*.log WHERE Class = 'Blacklist' AND Time >=\n"
    "                        '2010-04-01'\"\n"
    "\n"
    "Output:\n"
    "  --format FORMAT       table (default): aligned columns for people;\n"
    "                        csv: RFC 4180, a header line, UTF-8;\n"
    "                        jsonl: one JSON object per row (JSON Lines)\n"
    "  --columns A,B,...     only these columns, in this order\n"
    "  --limit N             at most N rows\n"
    "  --max-width N         table: cut longer values to N columns, marked with\n"
    "                        \"\xE2\x80\xA6\" (default 40; 0 cuts nothing)\n"
    "  -h, --help            this text\n"
    "\n"
    "Values are typed: booleans as true/false, dates as ISO 8601\n"
    "(2010-04-01T10:15:30.003), numbers as numbers, NULL as nothing in a table or\n"
    "CSV and as null in JSON. The table ends with its row count; for csv and jsonl\n"
    "the count goes to standard error. Long reads to a terminal show progress on\n"
    "standard error.\n"
    "\n"
    "Every OLE DB failure is reported on standard error with the provider's error\n"
    "description and source and the result code by name (E_UNEXPECTED 0x8000FFFF).\n"
    "\n"
    "Exit status: 0 success; 1 a connection, table, command or output failed;\n"
    "2 bad arguments; 3 every row was shown but some could not be read (each is\n"
    "reported with its row number and the provider's message).\n";

namespace {

bool ParseCount(std::string_view text, std::uint64_t& value) {
  if (text.empty()) return false;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

std::vector<std::string> SplitNames(std::string_view list) {
  std::vector<std::string> names;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = list.find(',', start);
    const std::string_view name = list.substr(start, comma == std::string_view::npos ? comma : comma - start);
    if (!name.empty()) names.emplace_back(name);
    if (comma == std::string_view::npos) return names;
    start = comma + 1;
  }
}

}  // namespace

std::string ParseQueryOptions(const std::vector<std::string>& arguments, TQueryOptions& options) {
  std::vector<std::string> words;
  bool help = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& arg = arguments[i];
    if (arg.size() < 2 || arg[0] != '-') {
      words.push_back(arg);
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      help = true;
      continue;
    }
    if (i + 1 >= arguments.size()) return arg + " needs a value";
    const std::string& value = arguments[++i];
    if (arg == "-c" || arg == "--connect") {
      options.ConnectionString = value;
    } else if (arg == "--folder") {
      options.ConnectionString = FolderConnectionString(value);
    } else if (arg == "--command") {
      if (value.empty()) return "--command needs a text";
      options.CommandText = value;
    } else if (arg == "--format") {
      if (value == "table") options.Format = TOutputFormat::Table;
      else if (value == "csv") options.Format = TOutputFormat::Csv;
      else if (value == "jsonl") options.Format = TOutputFormat::JsonLines;
      else return "unknown format '" + value + "' (table, csv or jsonl)";
    } else if (arg == "--columns") {
      options.Columns = SplitNames(value);
      if (options.Columns.empty()) return "--columns needs column names";
    } else if (arg == "--limit") {
      if (!ParseCount(value, options.Limit)) return "bad row count '" + value + "'";
    } else if (arg == "--max-width") {
      std::uint64_t width = 0;
      if (!ParseCount(value, width) || width > 100000) return "bad width '" + value + "'";
      options.Layout.MaxColumnWidth = static_cast<std::size_t>(width);
    } else {
      return "unknown option '" + arg + "'";
    }
  }
  if (help) {
    options.Action = TQueryAction::Help;
    return {};
  }
  if (options.ConnectionString.empty()) return "no connection: give -c STRING or --folder DIR";

  if (!options.CommandText.empty()) {
    if (!words.empty()) return "--command and '" + words.front() + "' both say what to show";
    options.Action = TQueryAction::Rows;
    return {};
  }
  if (words.empty()) return "nothing to show: give info, tables, columns TABLE, summary TABLE, a TABLE or --command TEXT";
  if (words[0] == "info") {
    if (words.size() > 1) return "info takes no table name";
    options.Action = TQueryAction::Info;
  } else if (words[0] == "tables") {
    if (words.size() > 1) return "tables takes no table name";
    options.Action = TQueryAction::Tables;
  } else if (words[0] == "columns") {
    if (words.size() != 2) return "columns takes one table name";
    options.Action = TQueryAction::Columns;
    options.Table = words[1];
  } else if (words[0] == "summary") {
    if (words.size() != 2) return "summary takes one table name";
    if (options.Format == TOutputFormat::Csv) return "summary gives a table or jsonl, not csv";
    if (!options.Columns.empty()) return "summary chooses its own columns: --columns does not apply";
    if (options.Limit != UINT64_MAX) return "summary counts every row: --limit does not apply";
    options.Action = TQueryAction::Summary;
    options.Table = words[1];
  } else {
    if (words.size() > 1) return "one table at a time ('" + words[1] + "' is one too many)";
    options.Action = TQueryAction::Rows;
    options.Table = words[0];
  }
  return {};
}

std::string FolderConnectionString(std::string_view folder) {
  std::string result = "Provider=zellogdb.provider;Data Source=";
  const bool plain = !folder.empty() && folder.find_first_of(";\"'") == std::string_view::npos &&
                     folder.front() != ' ' && folder.back() != ' ';
  if (plain) {
    result.append(folder);
    return result;
  }
  result.push_back('"');
  for (const char c : folder) {
    if (c == '"') result.push_back('"');
    result.push_back(c);
  }
  result.push_back('"');
  return result;
}
