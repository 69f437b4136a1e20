#include "OLEDbTrace.h"

#include <cstdio>
#include <string>

#include "CodePageText.h"
#include "ComObject.h"
#include "Diagnostics.h"

namespace {
bool TraceRequested() noexcept {
  char value[8] = {};
  const DWORD length = GetEnvironmentVariableA("ZELLOGDB_TRACE", value, sizeof value);
  return length > 0 && !(length == 1 && value[0] == '0');
}

// "virtual HRESULT TComImpl<A, B>::Method(int)" -> "TComImpl<A, B>::Method".
std::string_view QualifiedName(std::string_view function) noexcept {
  const std::size_t open = function.find('(');
  if (open != std::string_view::npos) function = function.substr(0, open);
  int depth = 0;
  for (std::size_t i = function.size(); i-- > 0;) {
    const char c = function[i];
    if (c == '>') ++depth;
    else if (c == '<') --depth;
    else if (c == ' ' && depth == 0) return function.substr(i + 1);
  }
  return function;
}
}  // namespace

bool OleDbTracing = TraceRequested();

void OleDbTraceCall(std::string_view method, std::string_view argument, const wchar_t* className,
                    const void* address, HRESULT result) noexcept {
  try {
    char tail[64];
    std::snprintf(tail, sizeof tail, "@%p -> 0x%08lX", address, static_cast<unsigned long>(result));
    std::string line = "zellogdb: ";
    line.append(QualifiedName(method));
    line += '(';
    line.append(argument);
    line += ") on ";
    line += className ? Utf8FromWide(className) : std::string("?");
    line += tail;
    OleDbDebugOutput(line);
  } catch (...) {
  }
}

void OleDbTraceCall(const TComObject& self, std::string_view method, std::string_view argument,
                    HRESULT result) noexcept {
  const TComClass* cls = self.ComClass();
  OleDbTraceCall(method, argument, cls ? cls->Name : nullptr, &self, result);
}

void OleDbTraceCall(const TComObject& self, std::string_view method, const TOleDbTraceFormat& args,
                    HRESULT result) noexcept {
  try {
    TOleDbTraceArgs formatted;
    args(formatted);
    OleDbTraceCall(self, method, formatted.Text(), result);
  } catch (...) {
    OleDbTraceCall(self, method, "?", result);
  }
}
