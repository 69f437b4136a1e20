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
// True when the last component of name holds a wildcard (* or ?): the name
// of one table over every log file it matches. No file can have such a
// name, as Windows forbids both characters in file names.
bool IsTablePattern(std::wstring_view name) noexcept;
// True when name matches the file name pattern: * stands for any run of
// characters, ? for exactly one; letter case is ignored. Only the long
// name is matched, so "*.log" never matches "x.log1" through a short name.
bool MatchesPattern(std::wstring_view name, std::wstring_view pattern) noexcept;
// The folder part of a table name (relative to the data source folder,
// ending with a path delimiter, or empty), and its file name.
std::wstring_view FolderPart(std::wstring_view name) noexcept;
std::wstring_view FilePart(std::wstring_view name) noexcept;
// True when a folder component of name holds a wildcard: such a name
// matches neither a file nor a pattern.
bool HasFolderWildcard(std::wstring_view name) noexcept;
// A name that can name a table: inside the folder, no device and no
// wildcard in a folder component.
bool IsPossibleTableName(std::wstring_view name) noexcept;
// DB_E_NOTABLE with an error object naming the table and why (the text
// TableRefusal gives).
std::wstring TableRefusal(std::wstring_view name, std::wstring_view reason);
void RefuseTable(std::wstring_view name, std::wstring_view reason);
// Refuses (RefuseTable) a name that leaves the folder, names a device or
// has a wildcard in a folder component.
void CheckTableName(std::wstring_view name);
