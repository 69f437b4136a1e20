#include "BenchPlatform.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <system_error>

#include "LogFileReader_un.h"
#include "LogGenerator.h"

namespace fs = std::filesystem;

namespace {

// Raised when the generator's output changes, so that stale logs are not reused.
constexpr int GeneratorRevision = 1;

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

}  // namespace

bool ParseBenchLogOptions(int argc, char** argv, TBenchLogOptions& options,
                          const std::function<bool(std::string_view name, const char* value)>& other) {
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
    } else if (!other || !other(arg, value)) {
      return false;
    }
  }
  return true;
}

fs::path PrepareBenchLog(const TBenchLogOptions& options) {
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

TBenchPass MeasureBest(int repeat, const std::function<std::uint64_t()>& run) {
  return FastestOf(repeat, [&] {
    const auto start = std::chrono::steady_clock::now();
    const std::uint64_t count = run();
    return TBenchPass{std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), count};
  });
}

TBenchRecords ReadLogRecords(const fs::path& path) {
  TLogFileReader reader;
  std::string errorText;
  if (!reader.Open(path.u16string(), errorText)) throw std::runtime_error(errorText);
  TLogRecord record;
  TBenchRecords counts;
  while (!reader.Eof()) {
    errorText.clear();
    if (reader.ReadRecord(record, errorText))
      ++counts.Records;
    else if (!errorText.empty())
      ++counts.Errors;
    ++counts.Lines;
  }
  reader.Close(errorText);
  return counts;
}

int BenchMain(const char* name, const char* usage, bool parsed, const std::function<int()>& run) {
  if (!parsed) {
    std::fputs(usage, stderr);
    return 2;
  }
  try {
    return run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", name, e.what());
    return 1;
  }
}
