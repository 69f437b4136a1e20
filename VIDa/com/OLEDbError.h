#pragma once
// Result codes travel inside the toolkit as exceptions and leave every
// published method as HRESULTs (see the guard in OLEDbBase.h).
#include <windows.h>

#include <exception>
#include <string>

// Carries a result code and nothing else; it never sets an error object.
class EOleDbException : public std::exception {
public:
  explicit EOleDbException(HRESULT code) noexcept : ErrorCode(code) {}
  const char* what() const noexcept override { return ""; }
  HRESULT ErrorCode;
};

// An error with a message for the consumer: the guard installs an error
// object with this description and returns the code when it is a failure.
class EOleError : public std::exception {
public:
  EOleError(std::wstring message, HRESULT code, std::wstring source = {}, std::wstring helpFile = {},
            DWORD helpContext = 0);
  const char* what() const noexcept override { return narrow_.c_str(); }
  const std::wstring& Message() const noexcept { return message_; }
  HRESULT ErrorCode() const noexcept { return code_; }
  const std::wstring& Source() const noexcept { return source_; }
  const std::wstring& HelpFile() const noexcept { return helpFile_; }
  DWORD HelpContext() const noexcept { return helpContext_; }

private:
  std::wstring message_;
  std::string narrow_;
  HRESULT code_;
  std::wstring source_;
  std::wstring helpFile_;
  DWORD helpContext_;
};

// Raises code (warnings included) unless it is S_OK, as the bare code. Every
// published method passes its result through here, so the usual S_OK costs
// one comparison and builds no message.
inline void OleDbError(HRESULT code) {
  if (code != S_OK) throw EOleDbException(code);
}
// The same with a message: the consumer gets an error object (an empty
// message gives the bare code).
void OleDbError(HRESULT code, const std::wstring& message, const std::wstring& source = {},
                const std::wstring& helpFile = {}, DWORD helpContext = 0);
// Raises only failure codes.
void OleDbCheck(HRESULT code);
// For hooks a concrete provider must supply: E_FAIL with "This operation is
// not implemented.\r<name>".
[[noreturn]] void NotImplemented(const wchar_t* name);
// DB_E_NOAGGREGATION when an outer object asks for anything but IUnknown.
void CheckAggregation(IUnknown* outer, REFIID riid);
// COM task memory for consumers; raises E_OUTOFMEMORY when none is left.
void* OleDbAlloc(size_t size);
// A task-memory copy of a wide string (null for null).
wchar_t* OleDbStrDup(const wchar_t* text);
