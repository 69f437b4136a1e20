#pragma once
// Opens a log table for the scenario tests: in process over the rowset data
// class, or through zellogdb.dll as a consumer does.
#include <windows.h>
#include <oledb.h>

#include <string>
#include <vector>

#include "ComPtr.h"
#include "LogFileReader_un.h"
#include "ProviderTestSupport.h"

// The rows TLogFileReader gives for a file, in the text form of a native
// binding (TTableReader).
std::vector<TRowText> ExpectedRows(const std::wstring& path);
