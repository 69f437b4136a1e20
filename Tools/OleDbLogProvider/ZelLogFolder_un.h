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

// Table and column names compare without regard to letter case, as the file
// system compares file names.
bool SameName(std::wstring_view a, std::wstring_view b) noexcept;

// True when name stays inside the folder it is appended to: not absolute, no
// drive or UNC prefix, no stream or device colon, no ".." component.
bool IsTableNameInsideFolder(std::wstring_view name) noexcept;
// True when the last component of name is a device name of Windows (CON,
// NUL, COM1, LPT1, CONIN$ ...) in any letter case, with or without an
// extension and trailing dots or blanks: opening it opens the device.
bool IsDeviceName(std::wstring_view name) noexcept;
// A name that can name a table: inside the folder and no device.
bool IsPossibleTableName(std::wstring_view name) noexcept;
// DB_E_NOTABLE with an error object naming the table and why.
void RefuseTable(std::wstring_view name, std::wstring_view reason);
// Refuses (RefuseTable) a name that leaves the folder or names a device.
void CheckTableName(std::wstring_view name);
