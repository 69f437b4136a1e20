#pragma once
// Registry entries under HKEY_CLASSES_ROOT, as class registration writes them.
#include <windows.h>

#include <string>

// Writing raises "Error creating system registry entry" with the system's
// code (E_FAIL when there is none); deleting ignores failures.
void ComRegisterValue(const std::wstring& key, const std::wstring& valueName, const std::wstring& value);
void ComRegisterDWord(const std::wstring& key, const std::wstring& valueName, DWORD value);
void ComDeleteRegKey(const std::wstring& key) noexcept;
[[noreturn]] void ComRaiseRegistryError(LONG status);
