#pragma once
// The data source folder and the table names that lead into it.
#include <string>
#include <string_view>

class TOleDbBase;

// Leading and trailing blanks and control characters removed.
std::wstring TrimFolderName(std::wstring_view name);
// The text of DBPROP_INIT_DATASOURCE of the data source above object (or of
// object itself when it is the data source), trimmed; empty when unset.
std::wstring DataSourceFolderName(const TOleDbBase& object);
// The folder name with a path delimiter at its end.
std::wstring FolderPrefix(std::wstring folder);

// True when name stays inside the folder it is appended to: not absolute, no
// drive or UNC prefix, no stream or device colon, no ".." component.
bool IsTableNameInsideFolder(std::wstring_view name) noexcept;
// DB_E_NOTABLE with an error object naming the table unless the name stays
// inside the folder.
void CheckTableName(std::wstring_view name);
