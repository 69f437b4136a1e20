#pragma once
// The calling thread's error object.
#include <windows.h>

#include <string>

// Installs a fresh error object for the calling thread (SetErrorInfo(0, ...));
// empty source and help file are left unset. Never raises.
void ComSetErrorInfo(REFGUID guid, const std::wstring& source, const std::wstring& description,
                     const std::wstring& helpFile = {}, DWORD helpContext = 0) noexcept;
