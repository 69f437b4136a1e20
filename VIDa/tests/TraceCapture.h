#pragma once
// The debugger output of a test, captured line by line, with the call trace
// switched on for the capture's lifetime when asked.
#include <string>
#include <string_view>
#include <vector>

#include "Diagnostics.h"
#include "OLEDbTrace.h"

class TTraceCapture {
public:
  explicit TTraceCapture(bool tracing) {
    previous_ = SetDebugSink([this](std::string_view line) { Lines.emplace_back(line); });
    OleDbTracing = tracing;
  }
  ~TTraceCapture() {
    OleDbTracing = false;
    SetDebugSink(previous_);
  }
  TTraceCapture(const TTraceCapture&) = delete;
  TTraceCapture& operator=(const TTraceCapture&) = delete;

  // The last line that names method ("::GetNextRows("), or "" when none does.
  std::string LastOf(std::string_view method) const {
    for (auto line = Lines.rbegin(); line != Lines.rend(); ++line)
      if (line->find(method) != std::string::npos) return *line;
    return {};
  }

  std::vector<std::string> Lines;

private:
  TDebugSink previous_;
};
