#pragma once
// The one guard every published method runs in, and the one translation of
// the exception in flight into what a consumer sees; the class factory uses
// the same translation.
#include <windows.h>

#include <string>
#include <type_traits>

#include "ComObj.h"
#include "OLEDbError.h"

// What the exception in flight means for a consumer (call only inside a
// catch block): EOleDbException gives its code and nothing to describe;
// std::bad_alloc gives E_OUTOFMEMORY; anything else is described (the
// message of an EOleError or std::exception) and gives the OLE error's
// negative code or E_UNEXPECTED.
struct TOleDbFailure {
  HRESULT Result = E_UNEXPECTED;
  bool Described = false;
  std::wstring Message;
  DWORD HelpContext = 0;
};
TOleDbFailure OleDbCurrentFailure() noexcept;

// The failure's result; a described failure installs an error object
// (source = the object's ProgID, description = the message).
HRESULT OleDbHandleException(const TComObject& self) noexcept;

template <class F>
HRESULT OleDbGuard(const TComObject& self, F&& body) noexcept {
  try {
    if constexpr (std::is_void_v<std::invoke_result_t<F&>>) {
      body();
      return S_OK;
    } else {
      return body();
    }
  } catch (...) {
    return OleDbHandleException(self);
  }
}
