#pragma once
// The zellogcat program without its platform entry: arguments in, JSON Lines
// and messages out through sinks, exit status back.
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
using TCatPath = std::u16string;
#else
using TCatPath = std::string;
#endif

struct TCatArgument {
  std::string Text; // UTF-8, for options, messages and the "file" field
  TCatPath Path;    // what the log reader opens
};

// Takes output; false when it could not be written.
using TCatSink = std::function<bool(std::string_view)>;
// Takes output in pieces, in order, without their being copied together
// first; false when it could not be written.
using TCatGatherSink = std::function<bool(std::span<const std::string_view>)>;

inline constexpr int CatExitSuccess = 0;
inline constexpr int CatExitUnreadable = 1; // a file could not be read, or the output not written
inline constexpr int CatExitUsage = 2;

extern const char* const CatUsage;

// gather, when given, takes the same output as out, in pieces where that
// saves copying them together.
int RunZellogcat(const std::vector<TCatArgument>& arguments, const TCatSink& out, const TCatSink& err,
                 const TCatGatherSink& gather = {});
