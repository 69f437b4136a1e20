#include "ComRegistry.h"

#include "OLEDbError.h"

[[noreturn]] void ComRaiseRegistryError(LONG status) {
  throw EOleError(L"Error creating system registry entry",
                  status != ERROR_SUCCESS ? HRESULT_FROM_WIN32(static_cast<DWORD>(status)) : E_FAIL);
}

namespace {

void SetRegistryValue(const std::wstring& key, const std::wstring& valueName, DWORD type, const BYTE* data,
                      DWORD size) {
  HKEY handle = nullptr;
  LONG status = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                                &handle, nullptr);
  if (status != ERROR_SUCCESS) ComRaiseRegistryError(status);
  status = RegSetValueExW(handle, valueName.empty() ? nullptr : valueName.c_str(), 0, type, data, size);
  RegCloseKey(handle);
  if (status != ERROR_SUCCESS) ComRaiseRegistryError(status);
}
}  // namespace

void ComRegisterValue(const std::wstring& key, const std::wstring& valueName, const std::wstring& value) {
  SetRegistryValue(key, valueName, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void ComRegisterDWord(const std::wstring& key, const std::wstring& valueName, DWORD value) {
  SetRegistryValue(key, valueName, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void ComDeleteRegKey(const std::wstring& key) noexcept { RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str()); }
