#pragma once
// An opt-in trace of every published call to the debugger output, so a user
// can show us what their consumer did: set ZELLOGDB_TRACE=1 in the
// consumer's environment. Off, a call pays one test of OleDbTracing.
#include <windows.h>

#include <string_view>

#include "OLEDbTraceArgs.h"

class TComObject;

// Read from ZELLOGDB_TRACE (anything but empty or "0") when the module loads.
extern bool OleDbTracing;

// "zellogdb: <method>(<argument>) on <class>@<address> -> 0x<result>".
// method may be a compiler's function name (std::source_location); return
// type, parameter list and calling convention are trimmed off.
void OleDbTraceCall(std::string_view method, std::string_view argument, const wchar_t* className,
                    const void* address, HRESULT result) noexcept;
// The same for a call on self, named by its class.
void OleDbTraceCall(const TComObject& self, std::string_view method, std::string_view argument,
                    HRESULT result) noexcept;

// The arguments a guard was given, formatted only when a call is traced.
class TOleDbTraceFormat {
public:
  template <class A>
  explicit TOleDbTraceFormat(const A& args) noexcept
      : args_(&args), format_([](const void* a, TOleDbTraceArgs& out) { (*static_cast<const A*>(a))(out); }) {}
  void operator()(TOleDbTraceArgs& out) const { format_(args_, out); }

private:
  const void* args_;
  void (*format_)(const void*, TOleDbTraceArgs&);
};
void OleDbTraceCall(const TComObject& self, std::string_view method, const TOleDbTraceFormat& args,
                    HRESULT result) noexcept;
