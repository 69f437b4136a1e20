#include "OLEDbGuard.h"

#include <exception>
#include <new>

#include "CodePageText.h"
#include "ComErrorInfo.h"
#include "ComServer.h"

TOleDbFailure OleDbCurrentFailure() noexcept {
  try {
    try {
      throw;
    } catch (const EOleDbException& e) {
      return {e.ErrorCode, false, {}};
    } catch (const std::bad_alloc&) {
      return {E_OUTOFMEMORY, false, {}};
    } catch (const EOleError& e) {
      return {e.ErrorCode() < 0 ? e.ErrorCode() : E_UNEXPECTED, true, e.Message(), e.HelpContext()};
    } catch (const std::exception& e) {
      return {E_UNEXPECTED, true, WideFromUtf8(e.what())};
    } catch (...) {
      return {E_UNEXPECTED, true, {}};
    }
  } catch (...) {
    // Copying the message failed (out of memory).
    return {};
  }
}

HRESULT OleDbHandleException(const TComObject& self) noexcept {
  TOleDbFailure failure = OleDbCurrentFailure();
  if (failure.Described) {
    try {
      ComSetErrorInfo(self.ErrorIID(), self.ProgID(), failure.Message, ComServer().HelpFileName(),
                      failure.HelpContext);
    } catch (...) {
      return E_UNEXPECTED;
    }
  }
  return failure.Result;
}
