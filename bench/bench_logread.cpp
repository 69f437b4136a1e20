// bench_logread: how fast the log layer reads a large log, against a raw scan
// of the same mapped file for CR LF line ends.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "BenchPlatform.h"
#include "FastTextReader_un.h"

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
    "  --repeat N    runs of each measurement, the best counts (default 3)\n"
    "  --passes record  only ReadRecord (and the file's warm-up scan): for profiling it\n";

constexpr std::uint32_t RawScanWindow = 1u << 20;

void PrintPass(const char* name, const TBenchPass& pass, std::uint64_t bytes, const TBenchPass& raw) {
  const double megabytes = static_cast<double>(bytes) / 1e6;
  const double share = raw.Seconds / pass.Seconds;
  std::printf("%-32s %8.3f s %9.1f MB/s %8.2f Mlines/s   %6.3f of raw (1/%.1f)   peak RSS %.1f MiB\n", name,
              pass.Seconds, megabytes / pass.Seconds, static_cast<double>(pass.Count) / pass.Seconds / 1e6, share,
              1.0 / share, MiB(PeakResidentBytes()));
}

}  // namespace

int main(int argc, char** argv) {
  TBenchLogOptions options;
  bool recordOnly = false;
  const bool parsed = ParseBenchLogOptions(argc, argv, options, [&](std::string_view name, const char* value) {
    recordOnly = name == "--passes" && std::string_view(value) == "record";
    return recordOnly || (name == "--passes" && std::string_view(value) == "all");
  });
  return BenchMain("bench_logread", Usage, parsed, [&] {
    const fs::path path = PrepareBenchLog(options);
    const std::u16string readerPath = path.u16string();
    std::printf("peak RSS after preparing the log: %.1f MiB\n", MiB(PeakResidentBytes()));

    // Brings the file into the page cache so that no pass pays for the disk.
    const TRawScanResult warm = ScanCrLfMapped(path, RawScanWindow);
    std::printf("%llu bytes, %llu lines; best of %d runs each\n\n", static_cast<unsigned long long>(warm.Bytes),
                static_cast<unsigned long long>(warm.Lines), options.Repeat);

    TBenchPass raw{};
    if (recordOnly) {
      raw = {1.0, warm.Lines};
    } else {
      raw = MeasureBest(options.Repeat, [&] { return ScanCrLfMapped(path, RawScanWindow).Lines; });
      PrintPass("raw CR LF scan (mapped, memchr)", raw, warm.Bytes, raw);
    }

    const TBenchPass readLine = recordOnly ? TBenchPass{1.0, warm.Lines} : MeasureBest(options.Repeat, [&] {
      TFastTextReader reader(readerPath, fmShareDenyNone);
      std::string line;
      std::uint64_t lines = 0;
      while (!reader.Eof()) {
        reader.ReadLine(line);
        ++lines;
      }
      return lines;
    });
    if (!recordOnly) {
      PrintPass("TFastTextReader::ReadLine", readLine, warm.Bytes, raw);
      const TBenchPass readLineView = MeasureBest(options.Repeat, [&] {
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
    }

    TBenchRecords counts;
    const TBenchPass readRecord = MeasureBest(options.Repeat, [&] {
      counts = ReadLogRecords(path);
      return counts.Lines;
    });
    PrintPass("TLogFileReader::ReadRecord", readRecord, warm.Bytes, raw);

    std::printf("\nrecords: %llu, processing errors: %llu\n", static_cast<unsigned long long>(counts.Records),
                static_cast<unsigned long long>(counts.Errors));
    if (readLine.Count != warm.Lines || readRecord.Count != warm.Lines)
      std::printf("warning: the readers saw %llu and %llu lines, the raw scan %llu\n",
                  static_cast<unsigned long long>(readLine.Count), static_cast<unsigned long long>(readRecord.Count),
                  static_cast<unsigned long long>(warm.Lines));
    return 0;
  });
}
