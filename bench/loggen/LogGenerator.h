#pragma once
// Deterministic synthetic mail filter logs for tests and benchmarks.
//
// The output mixes current header blocks (#Version 2.0 with x-event-action and
// friends) and legacy ones (#Version 1.4, one class word per event), with
// percent-encoded UTF-8 subjects, Windows-1252 bytes in free text, IPv4 and
// IPv6 addresses and CR LF line ends. The same options always give the same
// bytes on every platform. Memory stays flat for any size: lines are produced
// one at a time and handed to a sink in fixed-size chunks.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

struct TLogGenOptions {
  std::uint64_t Seed = 1;
  // Generation stops after the first line that makes the output reach this size.
  std::uint64_t TargetBytes = 1u << 20;
  // Share of header blocks written in the legacy format.
  unsigned LegacyBlockPercent = 25;
  // Data lines per header block, chosen uniformly in this range.
  std::uint32_t MinBlockLines = 200;
  std::uint32_t MaxBlockLines = 4000;
  // Malformed data lines per thousand: some the reader skips silently (bad
  // date, class, action, filtering point or severity), some make it report an
  // error (empty line, IP address it cannot convert).
  unsigned MalformedPerMille = 0;
  // Date of the first event.
  int StartYear = 2010;
  int StartMonth = 4;
  int StartDay = 1;
};

struct TLogGenStats {
  std::uint64_t Bytes = 0;
  std::uint64_t Lines = 0;
  std::uint64_t DirectiveLines = 0;
  std::uint64_t HeaderBlocks = 0;
  std::uint64_t LegacyBlocks = 0;
  // Well-formed data lines: each must become exactly one record.
  std::uint64_t DataLines = 0;
  // Malformed lines the reader must skip without an error.
  std::uint64_t SkippedLines = 0;
  // Malformed lines the reader must report as an error.
  std::uint64_t ErrorLines = 0;
};

class TLogGenerator {
public:
  explicit TLogGenerator(const TLogGenOptions& options);
  ~TLogGenerator();
  TLogGenerator(const TLogGenerator&) = delete;
  TLogGenerator& operator=(const TLogGenerator&) = delete;

  // Appends the next line, CR LF included, to `out`. Returns false, appending
  // nothing, once the target size has been reached.
  bool NextLine(std::string& out);

  const TLogGenStats& Stats() const;

private:
  struct TState;
  std::unique_ptr<TState> State;
};

using TLogSink = std::function<void(const char* data, std::size_t size)>;

// Streams a whole log to `sink`.
TLogGenStats GenerateLog(const TLogGenOptions& options, const TLogSink& sink);

// A whole log in memory; meant for small logs in tests.
std::string GenerateLogText(const TLogGenOptions& options, TLogGenStats* stats = nullptr);

// Writes a whole log to a file; throws std::runtime_error when the file
// cannot be written.
TLogGenStats WriteLogFile(const std::filesystem::path& path, const TLogGenOptions& options);
