#pragma once
#include <windows.h>
#include <oledb.h>

#include <algorithm>
#include <cstring>

// Length in bytes of a value stored in a slot of length bytes: text ends at
// its terminator but never beyond the slot, a BSTR slot holds the string.
inline DBLENGTH StoredLength(DBTYPE type, const void* data, DBLENGTH length) noexcept {
  switch (type) {
    case DBTYPE_STR: {
      const char* text = static_cast<const char*>(data);
      return static_cast<DBLENGTH>(std::find(text, text + length, '\0') - text);
    }
    case DBTYPE_WSTR: {
      const wchar_t* text = static_cast<const wchar_t*>(data);
      return static_cast<DBLENGTH>(std::find(text, text + length / sizeof(wchar_t), L'\0') - text) *
             sizeof(wchar_t);
    }
    case DBTYPE_BSTR: {
      BSTR text;
      std::memcpy(&text, data, sizeof(text));
      return SysStringByteLen(text);
    }
    default:
      return length;
  }
}
