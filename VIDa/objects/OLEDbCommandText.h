#pragma once
// The text of a command, held as the consumer gave it (UTF-16): a table name
// outside the ANSI code page reaches the rowset unchanged.
#include <windows.h>
#include <oledb.h>

#include <string>

class TOleDbCommandText {
public:
  virtual ~TOleDbCommandText() = default;

  // The dialect is not looked at.
  virtual void SetText(REFGUID dialect, std::wstring text);
  // DBGUID_DEFAULT, the text and S_OK.
  virtual void GetText(GUID& dialect, std::wstring& text, HRESULT& status) const;

  std::wstring Text;
};
