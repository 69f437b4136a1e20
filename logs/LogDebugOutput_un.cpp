#include "LogDebugOutput_un.h"

#include <mutex>
#include <string>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdio>
#endif

namespace {

std::mutex SinkLock;
TLogDebugSink Sink;

void SystemDebugOutput(std::string_view line) {
#ifdef _WIN32
  const std::string text(line);
  OutputDebugStringA(text.c_str());
#else
  std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
#endif
}

} // namespace

void LogDebugOutput(std::string_view line) {
  TLogDebugSink sink;
  {
    std::lock_guard<std::mutex> guard(SinkLock);
    sink = Sink;
  }
  if (sink)
    sink(line);
  else
    SystemDebugOutput(line);
}

TLogDebugSink SetLogDebugSink(TLogDebugSink sink) {
  std::lock_guard<std::mutex> guard(SinkLock);
  return std::exchange(Sink, std::move(sink));
}
