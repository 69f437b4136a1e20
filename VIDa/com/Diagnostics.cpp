#include "Diagnostics.h"

#include <windows.h>

#include <string>
#include <utility>

namespace {
TDebugSink& Sink() {
  static TDebugSink sink;
  return sink;
}
}  // namespace

void OleDbDebugOutput(std::string_view line) {
  if (auto& sink = Sink()) {
    sink(line);
    return;
  }
  std::string text(line);
  OutputDebugStringA(text.c_str());
}

TDebugSink SetDebugSink(TDebugSink sink) { return std::exchange(Sink(), std::move(sink)); }
