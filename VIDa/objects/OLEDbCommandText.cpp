#include "OLEDbCommandText.h"

#include <utility>

void TOleDbCommandText::SetText(REFGUID, std::wstring text) { Text = std::move(text); }

void TOleDbCommandText::GetText(GUID& dialect, std::wstring& text, HRESULT& status) const {
  dialect = DBGUID_DEFAULT;
  text = Text;
  status = S_OK;
}
