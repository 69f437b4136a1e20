#pragma once
// What a log table must hold, read by the log layer itself: the second
// reader the provider's rows are checked against.
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
