#pragma once
// The one guard every published method runs in, and the one translation of
// the exception in flight into what a consumer sees; the class factory uses
// the same translation.
#include <windows.h>

#include <source_location>
#include <string>
#include <type_traits>

#include "ComObject.h"
#include "OLEDbError.h"
#include "OLEDbTrace.h"

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

// Runs body and gives its result or the failure it raised. With the trace on,
// args names the arguments that matter (see TOleDbTraceArgs) and where names
// the published method.
template <class F, class A = TOleDbNoTraceArgs>
HRESULT OleDbGuard(const TComObject& self, F&& body, const A& args = {},
                   std::source_location where = std::source_location::current()) noexcept {
  HRESULT result = S_OK;
  try {
    if constexpr (std::is_void_v<std::invoke_result_t<F&>>)
      body();
    else
      result = body();
  } catch (...) {
    result = OleDbHandleException(self);
  }
  if (OleDbTracing) [[unlikely]]
    OleDbTraceCall(self, where.function_name(), TOleDbTraceFormat(args), result);
  return result;
}
