#include "OLEDbExecParams.h"

#include <cwctype>

namespace {
constexpr std::wstring_view SelectAllFrom = L"SELECT * FROM ";

bool StartsWithSelectAllFrom(std::wstring_view text) noexcept {
  if (text.size() < SelectAllFrom.size()) return false;
  for (std::size_t i = 0; i < SelectAllFrom.size(); ++i)
    if (static_cast<wchar_t>(std::towupper(text[i])) != SelectAllFrom[i]) return false;
  return true;
}
}  // namespace

TOleDbExecParams::TOleDbExecParams(std::wstring_view name, std::wstring_view indexName)
    : Kind(TOleDbExecKind::Table), TableName(TableNameOf(name)), IndexName(indexName), Text(name) {}

TOleDbExecParams::TOleDbExecParams(std::wstring_view text)
    : Kind(TOleDbExecKind::Command), TableName(TableNameOf(text)), Text(text) {}

std::wstring TOleDbExecParams::TableNameOf(std::wstring_view text) {
  if (!StartsWithSelectAllFrom(text)) return std::wstring(text);
  std::wstring_view rest = text.substr(SelectAllFrom.size());
  if (rest.find(L',') != std::wstring_view::npos) return std::wstring(text);
  // A lone quote is not a quoted name.
  if (rest.size() >= 2 && rest.front() == L'"' && rest.back() == L'"') rest = rest.substr(1, rest.size() - 2);
  return std::wstring(rest);
}
