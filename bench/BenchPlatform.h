#pragma once
// What the log benchmarks share: their options, the synthetic log they read
// and best-of-N timing; and what they need from the operating system: a raw
// scan of a file through memory mappings and the process's peak memory.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string_view>

// Options every log benchmark takes, as "--name value" pairs.
struct TBenchLogOptions {
  std::filesystem::path File; // --file: the log; generated there when missing or too small
  std::filesystem::path Dir;  // --dir: where the default log lives (default: the temporary directory)
  std::uint64_t Size = 256ull << 20; // --size N[M|G]: size of a generated log
  std::uint64_t Seed = 1;            // --seed: seed of a generated log
  int Repeat = 3;                    // --repeat: runs of each measurement, the best counts
};

// Reads the pairs of argv into options; a name they do not know goes to
// other (when given), which answers whether it took it. False on an unknown
// name, a bad value or a name without a value.
bool ParseBenchLogOptions(int argc, char** argv, TBenchLogOptions& options,
                          const std::function<bool(std::string_view name, const char* value)>& other = {});

// The log the options name, generated (and reported) when missing or smaller
// than options.Size; the default name carries size, seed and generator
// revision, so that benchmarks share a log and never read a stale one.
std::filesystem::path PrepareBenchLog(const TBenchLogOptions& options);

struct TBenchPass {
  double Seconds = 0;
  std::uint64_t Count = 0; // lines or rows the run saw
};

// The fastest of repeat passes that run returns, each with its Seconds.
template <class TRun>
auto FastestOf(int repeat, TRun&& run) {
  decltype(run()) best{};
  for (int i = 0; i < repeat; ++i) {
    auto pass = run();
    if (i == 0 || pass.Seconds < best.Seconds) best = pass;
  }
  return best;
}

// The fastest of repeat runs of run, which returns the lines or rows it saw.
TBenchPass MeasureBest(int repeat, const std::function<std::uint64_t()>& run);

struct TBenchRecords {
  std::uint64_t Lines = 0;   // ReadRecord calls
  std::uint64_t Records = 0; // lines that gave a record
  std::uint64_t Errors = 0;  // lines that could not be processed
};

// Reads the log at path to its end with TLogFileReader::ReadRecord, the
// reference the other passes are measured against. Throws std::runtime_error.
TBenchRecords ReadLogRecords(const std::filesystem::path& path);

// The frame of a benchmark's main: the usage on standard error and 2 when
// the options did not parse; otherwise what run returns, or 1 after
// "<name>: <message>" for anything it throws.
int BenchMain(const char* name, const char* usage, bool parsed, const std::function<int()>& run);

inline double MiB(std::uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

struct TRawScanResult {
  std::uint64_t Bytes = 0;
  std::uint64_t Lines = 0; // CR LF pairs, plus a last line without one
};

// Counts CR LF line ends over consecutive windows of one file; a CR at the
// end of one window pairs with an LF at the start of the next.
class TCrLfCounter {
public:
  void Scan(std::uint64_t offset, const char* begin, const char* end) noexcept {
    const char* p = begin;
    while ((p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) != nullptr) {
      if ((p > begin ? p[-1] : previous_) == '\r') {
        ++lines_;
        lastLineEnd_ = offset + static_cast<std::uint64_t>(p + 1 - begin);
      }
      ++p;
    }
    if (end > begin) previous_ = end[-1];
  }
  // The CR LF pairs, plus a last line without one.
  std::uint64_t Lines(std::uint64_t fileSize) const noexcept {
    return lines_ + (lastLineEnd_ != fileSize ? 1 : 0);
  }

private:
  char previous_ = 0;
  std::uint64_t lines_ = 0;
  std::uint64_t lastLineEnd_ = 0;
};

// Counts CR LF line ends with memchr over mapped windows of windowSize bytes
// (a multiple of the system's mapping granularity), unmapping each window
// before the next so that memory stays flat. Throws std::runtime_error.
TRawScanResult ScanCrLfMapped(const std::filesystem::path& path, std::uint32_t windowSize);

// Peak resident memory (working set) of this process so far, in bytes.
std::uint64_t PeakResidentBytes();
