#pragma once
// zellogq's command line: what to connect to, what to show, and how.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "RowWriter.h"

enum class TQueryAction { Help, Info, Tables, Columns, Rows, Summary };

struct TQueryOptions {
  std::string ConnectionString;  // all texts UTF-8
  TQueryAction Action = TQueryAction::Help;
  std::string Table;        // Columns, Summary, and Rows without a command
  std::string CommandText;  // Rows through ICommandText when not empty
  TOutputFormat Format = TOutputFormat::Table;
  std::uint64_t Limit = UINT64_MAX;
  std::vector<std::string> Columns;  // empty: every column
  TTableLayout Layout;
};

extern const char* const QueryUsage;

// Empty on success, else what is wrong with the arguments.
std::string ParseQueryOptions(const std::vector<std::string>& arguments, TQueryOptions& options);

// Connection string for a folder of logs through this project's provider;
// the folder is quoted when it would otherwise end or break the value.
std::string FolderConnectionString(std::string_view folder);
