#pragma once
// The open request a session or command hands to a new rowset, which passes
// it on to its rowset data's Open.
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

class TOleDbParameters;
class TOleDbPropertySets;

enum class TOleDbExecKind : std::uint8_t {
  Table = 0,    // IOpenRowset::OpenRowset on a table
  Command = 1,  // ICommand::Execute
};

class TOleDbExecParams {
public:
  TOleDbExecParams() = default;
  // A table opened through IOpenRowset: the table-name rule applied to name.
  TOleDbExecParams(std::wstring_view name, std::wstring_view indexName);
  // A command execution: the table-name rule applied to the text.
  explicit TOleDbExecParams(std::wstring_view text);

  // The text, or for "SELECT * FROM x" (the first 14 characters in any case,
  // no comma after them) x without one pair of enclosing double quotes.
  // Nothing is trimmed.
  static std::wstring TableNameOf(std::wstring_view text);

  TOleDbExecKind Kind = TOleDbExecKind::Table;
  // The table to open, after the table-name rule.
  std::wstring TableName;
  // The index name given to OpenRowset; empty for commands.
  std::wstring IndexName;
  // The name or command text the request was made with, unchanged.
  std::wstring Text;
  // Set by whoever executes; reported by ICommand::Execute.
  LONG RowsAffected = 0;
  // The executing command's parameters, when executed with values; not owned.
  TOleDbParameters* Parameters = nullptr;
  // The executing command's property sets; null for OpenRowset; not owned.
  TOleDbPropertySets* PropertySets = nullptr;
};
