// zellog-loggen: writes a deterministic synthetic log file.
#include "LogGenerator.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

namespace {

constexpr const char* Usage =
    "Usage: zellog-loggen [options] OUTPUT.log\n"
    "Writes a synthetic mail filter log (CR LF line ends, current and legacy\n"
    "header blocks). The same options always give the same file.\n"
    "\n"
    "  --size N[K|M|G]     approximate size in bytes (default 16M)\n"
    "  --seed N            random seed (default 1)\n"
    "  --legacy PERCENT    share of legacy header blocks (default 25)\n"
    "  --malformed N       malformed data lines per thousand (default 0)\n"
    "  --help              this text\n";

bool ParseUnsigned(std::string_view text, std::uint64_t& value) {
  if (text.empty()) return false;
  std::uint64_t result = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    if (result > (UINT64_MAX - 9) / 10) return false;
    result = result * 10 + static_cast<unsigned>(c - '0');
  }
  value = result;
  return true;
}

bool ParseSize(std::string_view text, std::uint64_t& value) {
  std::uint64_t scale = 1;
  if (!text.empty()) {
    switch (text.back()) {
      case 'K': case 'k': scale = 1ull << 10; break;
      case 'M': case 'm': scale = 1ull << 20; break;
      case 'G': case 'g': scale = 1ull << 30; break;
      default: break;
    }
    if (scale != 1) text.remove_suffix(1);
  }
  std::uint64_t number = 0;
  if (!ParseUnsigned(text, number) || number > UINT64_MAX / scale) return false;
  value = number * scale;
  return true;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "zellog-loggen: %s\n%s", message.c_str(), Usage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  TLogGenOptions options;
  options.TargetBytes = 16ull << 20;
  std::string output;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(Usage, stdout);
      return 0;
    }
    const bool takesValue = arg == "--size" || arg == "--seed" || arg == "--legacy" || arg == "--malformed";
    if (takesValue) {
      if (i + 1 >= argc) return Fail("missing value for " + std::string(arg));
      const std::string_view value = argv[++i];
      std::uint64_t number = 0;
      const bool ok = arg == "--size" ? ParseSize(value, number) : ParseUnsigned(value, number);
      if (!ok) return Fail("bad value for " + std::string(arg) + ": " + std::string(value));
      if (arg == "--size") options.TargetBytes = number;
      else if (arg == "--seed") options.Seed = number;
      else if (number > (arg == "--legacy" ? 100u : 1000u)) return Fail("value out of range for " + std::string(arg));
      else if (arg == "--legacy") options.LegacyBlockPercent = static_cast<unsigned>(number);
      else options.MalformedPerMille = static_cast<unsigned>(number);
    } else if (!arg.empty() && arg[0] == '-') {
      return Fail("unknown option " + std::string(arg));
    } else if (output.empty()) {
      output = arg;
    } else {
      return Fail("only one output file");
    }
  }
  if (output.empty()) return Fail("no output file");

  try {
    const auto start = std::chrono::steady_clock::now();
    const TLogGenStats stats = WriteLogFile(output, options);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s: %llu bytes, %llu lines (%llu records, %llu directives in %llu header blocks, %llu legacy; "
                "%llu malformed lines skipped, %llu reported) in %.2f s\n",
                output.c_str(), static_cast<unsigned long long>(stats.Bytes),
                static_cast<unsigned long long>(stats.Lines), static_cast<unsigned long long>(stats.DataLines),
                static_cast<unsigned long long>(stats.DirectiveLines),
                static_cast<unsigned long long>(stats.HeaderBlocks),
                static_cast<unsigned long long>(stats.LegacyBlocks),
                static_cast<unsigned long long>(stats.SkippedLines),
                static_cast<unsigned long long>(stats.ErrorLines), seconds);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zellog-loggen: %s\n", e.what());
    return 1;
  }
  return 0;
}
