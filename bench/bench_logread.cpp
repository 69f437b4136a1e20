// bench_logread: how fast the log layer reads a large log, against a raw scan
// of the same mapped file for CR LF line ends.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>

#include "BenchPlatform.h"
#include "FastTextReader_un.h"
#include "LogFileReader_un.h"
#include "LogGenerator.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* Usage =
    "Usage: bench_logread [--file PATH | --dir DIR] [--size N[M|G]] [--seed N] [--repeat N]\n"
    "Reads one synthetic log (generated when missing) three ways and prints MB/s\n"
    "and lines/s of each: a raw CR LF scan of the mapped file, TFastTextReader::ReadLine\n"
    "and TLogFileReader::ReadRecord, with their share of the raw scan's speed.\n"
    "  --file PATH   the log to read; generated there when missing or too small\n"
    "  --dir DIR     where the default log lives (default: the temporary directory)\n"
    "  --size N      size of a generated log (default 256M)\n"
    "  --seed N      seed of a generated log (default 1)\n"
    "  --repeat N    runs of each measurement, the best counts (default 3)\n";

// Raised when the generator's output changes, so that stale logs are not reused.
constexpr int GeneratorRevision = 1;
constexpr std::uint32_t RawScanWindow = 1u << 20;

struct TOptions {
  fs::path File;
  fs::path Dir;
  std::uint64_t Size = 256ull << 20;
  std::uint64_t Seed = 1;
  int Repeat = 3;
};

bool ParseNumber(std::string_view text, std::uint64_t& value) {
  std::uint64_t scale = 1;
  if (!text.empty() && (text.back() == 'M' || text.back() == 'm')) scale = 1ull << 20;
  if (!text.empty() && (text.back() == 'G' || text.back() == 'g')) scale = 1ull << 30;
  if (scale != 1) text.remove_suffix(1);
  if (text.empty() || text.size() > 12) return false;
  std::uint64_t number = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<unsigned>(c - '0');
  }
  value = number * scale;
  return true;
}

bool ParseOptions(int argc, char** argv, TOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    std::uint64_t number = 0;
    if (arg == "--file") {
      options.File = fs::path(value);
    } else if (arg == "--dir") {
      options.Dir = fs::path(value);
    } else if (arg == "--size" && ParseNumber(value, number) && number > 0) {
      options.Size = number;
    } else if (arg == "--seed" && ParseNumber(value, number)) {
      options.Seed = number;
    } else if (arg == "--repeat" && ParseNumber(value, number) && number > 0 && number < 100) {
      options.Repeat = static_cast<int>(number);
    } else {
      return false;
    }
  }
  return true;
}

#ifdef _WIN32
std::u16string ReaderPath(const fs::path& path) { return path.u16string(); }
#else
std::string ReaderPath(const fs::path& path) { return path.string(); }
#endif

double MiB(std::uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

struct TPass {
  double Seconds = 0;
  std::uint64_t Lines = 0;
};

// The best of `repeat` runs of `run`, which returns the lines it saw.
TPass Measure(int repeat, const std::function<std::uint64_t()>& run) {
  TPass best;
  for (int i = 0; i < repeat; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const std::uint64_t lines = run();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (i == 0 || seconds < best.Seconds) best = {seconds, lines};
  }
  return best;
}

void PrintPass(const char* name, const TPass& pass, std::uint64_t bytes, const TPass& raw) {
  const double megabytes = static_cast<double>(bytes) / 1e6;
  const double share = raw.Seconds / pass.Seconds;
  std::printf("%-32s %8.3f s %9.1f MB/s %8.2f Mlines/s   %6.3f of raw (1/%.1f)   peak RSS %.1f MiB\n", name,
              pass.Seconds, megabytes / pass.Seconds, static_cast<double>(pass.Lines) / pass.Seconds / 1e6, share,
              1.0 / share, MiB(PeakResidentBytes()));
}

fs::path PrepareLog(const TOptions& options) {
  fs::path path = options.File;
  if (path.empty()) {
    const fs::path dir = options.Dir.empty() ? fs::temp_directory_path() : options.Dir;
    fs::create_directories(dir);
    path = dir / ("zellog-bench-" + std::to_string(options.Size >> 20) + "M-seed" + std::to_string(options.Seed) +
                  "-g" + std::to_string(GeneratorRevision) + ".log");
  }
  std::error_code error;
  const std::uintmax_t existing = fs::file_size(path, error);
  if (!error && existing >= options.Size) {
    std::printf("log: %s (%.1f MiB, reused)\n", path.string().c_str(), MiB(existing));
    return path;
  }
  TLogGenOptions generator;
  generator.Seed = options.Seed;
  generator.TargetBytes = options.Size;
  fs::path partial = path;
  partial += ".partial";
  const auto start = std::chrono::steady_clock::now();
  const TLogGenStats stats = WriteLogFile(partial, generator);
  fs::rename(partial, path);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("log: %s (%.1f MiB, %llu lines, generated in %.2f s at %.0f MB/s)\n", path.string().c_str(),
              MiB(stats.Bytes), static_cast<unsigned long long>(stats.Lines), seconds,
              static_cast<double>(stats.Bytes) / 1e6 / seconds);
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions options;
  if (!ParseOptions(argc, argv, options)) {
    std::fputs(Usage, stderr);
    return 2;
  }
  try {
    const fs::path path = PrepareLog(options);
    const auto readerPath = ReaderPath(path);
    std::printf("peak RSS after preparing the log: %.1f MiB\n", MiB(PeakResidentBytes()));

    // Brings the file into the page cache so that no pass pays for the disk.
    const TRawScanResult warm = ScanCrLfMapped(path, RawScanWindow);
    std::printf("%llu bytes, %llu lines; best of %d runs each\n\n", static_cast<unsigned long long>(warm.Bytes),
                static_cast<unsigned long long>(warm.Lines), options.Repeat);

    const TPass raw = Measure(options.Repeat, [&] { return ScanCrLfMapped(path, RawScanWindow).Lines; });
    PrintPass("raw CR LF scan (mapped, memchr)", raw, warm.Bytes, raw);

    const TPass readLine = Measure(options.Repeat, [&] {
      TFastTextReader reader(readerPath, fmShareDenyNone);
      std::string line;
      std::uint64_t lines = 0;
      while (!reader.Eof()) {
        reader.ReadLine(line);
        ++lines;
      }
      return lines;
    });
    PrintPass("TFastTextReader::ReadLine", readLine, warm.Bytes, raw);

    const TPass readLineView = Measure(options.Repeat, [&] {
      TFastTextReader reader(readerPath, fmShareDenyNone);
      std::uint64_t lines = 0;
      std::size_t bytes = 0;
      while (!reader.Eof()) {
        bytes += reader.ReadLineView().size();
        ++lines;
      }
      return bytes != 0 ? lines : 0;
    });
    PrintPass("TFastTextReader::ReadLineView", readLineView, warm.Bytes, raw);

    std::uint64_t records = 0;
    std::uint64_t errors = 0;
    const TPass readRecord = Measure(options.Repeat, [&] {
      TLogFileReader reader;
      std::string errorText;
      if (!reader.Open(readerPath, errorText)) throw std::runtime_error(errorText);
      TLogRecord record;
      std::uint64_t lines = 0;
      records = errors = 0;
      while (!reader.Eof()) {
        errorText.clear();
        if (reader.ReadRecord(record, errorText))
          ++records;
        else if (!errorText.empty())
          ++errors;
        ++lines;
      }
      reader.Close(errorText);
      return lines;
    });
    PrintPass("TLogFileReader::ReadRecord", readRecord, warm.Bytes, raw);

    std::printf("\nrecords: %llu, processing errors: %llu\n", static_cast<unsigned long long>(records),
                static_cast<unsigned long long>(errors));
    if (readLine.Lines != warm.Lines || readRecord.Lines != warm.Lines)
      std::printf("warning: the readers saw %llu and %llu lines, the raw scan %llu\n",
                  static_cast<unsigned long long>(readLine.Lines), static_cast<unsigned long long>(readRecord.Lines),
                  static_cast<unsigned long long>(warm.Lines));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_logread: %s\n", e.what());
    return 1;
  }
  return 0;
}
