#pragma once
// The log layer's one diagnostics channel: the debugger output of the process
// (OutputDebugStringA on Windows, stderr elsewhere), replaceable for tests or
// to route it into a host's own sink.
#include <functional>
#include <string_view>

void LogDebugOutput(std::string_view line);

// Installs sink (an empty function restores the default) and returns the
// previous one.
using TLogDebugSink = std::function<void(std::string_view)>;
TLogDebugSink SetLogDebugSink(TLogDebugSink sink);
