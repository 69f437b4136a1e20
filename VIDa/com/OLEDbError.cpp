#include "OLEDbError.h"

#include "CodePageText.h"

#include <oledberr.h>

#include <cstring>
#include <cwchar>

EOleError::EOleError(std::wstring message, HRESULT code, std::wstring source, std::wstring helpFile,
                     DWORD helpContext)
    : message_(std::move(message)),
      narrow_(Utf8FromWide(message_)),
      code_(code),
      source_(std::move(source)),
      helpFile_(std::move(helpFile)),
      helpContext_(helpContext) {}

void OleDbError(HRESULT code, const std::wstring& message, const std::wstring& source, const std::wstring& helpFile,
                DWORD helpContext) {
  if (code == S_OK) return;
  if (!message.empty()) throw EOleError(message, code, source, helpFile, helpContext);
  throw EOleDbException(code);
}

void OleDbCheck(HRESULT code) {
  if (FAILED(code)) throw EOleDbException(code);
}

void NotImplemented(const wchar_t* name) {
  throw EOleError(std::wstring(L"This operation is not implemented.\r") + name, E_FAIL);
}

void CheckAggregation(IUnknown* outer, REFIID riid) {
  if (outer && !IsEqualGUID(riid, IID_IUnknown)) throw EOleDbException(DB_E_NOAGGREGATION);
}

void* OleDbAlloc(size_t size) {
  void* p = CoTaskMemAlloc(size ? size : 1);
  if (!p) throw EOleDbException(E_OUTOFMEMORY);
  return p;
}

wchar_t* OleDbStrDup(const wchar_t* text) {
  if (!text) return nullptr;
  size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
  auto* copy = static_cast<wchar_t*>(OleDbAlloc(bytes));
  memcpy(copy, text, bytes);
  return copy;
}
