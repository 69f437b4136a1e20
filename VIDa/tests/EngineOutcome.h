#pragma once
// The result code an engine call leaves with, as the rowset's guard sees it;
// a returned code is kept, and a message error's text is handed back.
#include <string>
#include <type_traits>

#include "OLEDbError.h"

template <class F>
HRESULT Outcome(F&& call, std::wstring* message = nullptr) {
  try {
    if constexpr (std::is_void_v<std::invoke_result_t<F&>>)
      call();
    else
      return call();
    return S_OK;
  } catch (const EOleDbException& e) {
    return e.ErrorCode;
  } catch (const EOleError& e) {
    if (message) *message = e.Message();
    return e.ErrorCode();
  }
}
