#pragma once
// Result codes by their published names, for messages people read.
#include <string>

#include <windows.h>

// The published name of a COM or OLE DB result code; null when unknown.
const char* HResultName(HRESULT code) noexcept;

// "E_UNEXPECTED (0x8000FFFF)", or just the hexadecimal form for an unknown code.
std::string DescribeHResult(HRESULT code);
