#pragma once
// Diagnostics go to the debugger output only; tests install a capture.
#include <functional>
#include <string_view>

void OleDbDebugOutput(std::string_view line);

// Replaces the sink (an empty function restores the debugger output) and
// returns the previous one.
using TDebugSink = std::function<void(std::string_view)>;
TDebugSink SetDebugSink(TDebugSink sink);
