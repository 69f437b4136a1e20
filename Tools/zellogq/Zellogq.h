#pragma once
// The zellogq program without its platform entry: arguments (UTF-8) in,
// output and messages out through sinks, exit status back. COM must be
// initialised on the calling thread. outputIsTerminal lets the summary draw
// its bars with block characters instead of plain ASCII.
#include <string>
#include <vector>

#include "QueryOutput.h"

class TReadProgress;

inline constexpr int QueryExitSuccess = 0;
inline constexpr int QueryExitFailure = 1;
inline constexpr int QueryExitUsage = 2;
inline constexpr int QueryExitUnreadableRows = 3;

int RunZellogq(const std::vector<std::string>& arguments, const TQuerySink& out, const TQuerySink& err,
               TReadProgress* progress = nullptr, bool outputIsTerminal = false);
