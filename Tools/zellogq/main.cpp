// zellogq: an OLE DB data source on the command line.
#include <algorithm>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include "RowsetReader.h"
#include "CodePageText.h"
#include "Zellogq.h"

namespace {

TQuerySink FileSink(std::FILE* file) {
  return [file](std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
  };
}

// A console takes text as UTF-16: bytes written to it are shown one by one
// in some consoles, which breaks every character beyond ASCII. A character
// cut between two pieces of output waits for its remaining bytes.
TQuerySink ConsoleSink(HANDLE console) {
  return [console, pending = std::string()](std::string_view text) mutable {
    pending.append(text);
    std::size_t complete = pending.size();
    for (std::size_t back = 1; back <= 3 && back <= pending.size(); ++back) {
      const auto c = static_cast<unsigned char>(pending[pending.size() - back]);
      if ((c & 0xC0) == 0x80) continue;
      const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
      if (length > back) complete = pending.size() - back;
      break;
    }
    const std::wstring wide = WideFromUtf8(std::string_view(pending).substr(0, complete));
    pending.erase(0, complete);
    for (std::size_t written = 0; written < wide.size();) {
      DWORD count = 0;
      const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(wide.size() - written, 8192));
      if (!WriteConsoleW(console, wide.data() + written, piece, &count, nullptr) || count == 0) return false;
      written += count;
    }
    return true;
  };
}

HANDLE ConsoleOf(std::FILE* file) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) ? handle : nullptr;
}

TQuerySink OutputSink(std::FILE* file) {
  const HANDLE console = ConsoleOf(file);
  return console ? ConsoleSink(console) : FileSink(file);
}

std::vector<std::string> CommandLineArguments() {
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!argv) return arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Utf8FromWide(argv[i]));
  LocalFree(argv);
  return arguments;
}

bool IsConsole(std::FILE* file) { return ConsoleOf(file) != nullptr; }

// A running row count on standard error, once a read has taken a second.
class TConsoleProgress final : public TReadProgress {
public:
  void Rows(std::uint64_t count) override {
    const ULONGLONG now = GetTickCount64();
    if (now - Started < 1000 || now - LastShown < 250) return;
    LastShown = now;
    Shown = true;
    std::fprintf(stderr, "\rzellogq: %llu rows read", static_cast<unsigned long long>(count));
    std::fflush(stderr);
  }
  void Done() override {
    if (Shown) std::fprintf(stderr, "\r%40s\r", "");
    Shown = false;
  }

private:
  const ULONGLONG Started = GetTickCount64();
  ULONGLONG LastShown = 0;
  bool Shown = false;
};

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    std::fputs("zellogq: cannot initialise COM\n", stderr);
    return QueryExitFailure;
  }
  int status = QueryExitFailure;
  {
    TConsoleProgress progress;
    status = RunZellogq(CommandLineArguments(), OutputSink(stdout), OutputSink(stderr),
                        IsConsole(stderr) ? &progress : nullptr, IsConsole(stdout));
  }
  CoUninitialize();
  return status;
}
