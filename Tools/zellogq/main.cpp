// zellogq: an OLE DB data source on the command line.
#include <cstdio>

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

std::vector<std::string> CommandLineArguments() {
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!argv) return arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Utf8FromWide(argv[i]));
  LocalFree(argv);
  return arguments;
}

bool IsConsole(std::FILE* file) {
  DWORD mode = 0;
  return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), &mode) != 0;
}

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
  if (IsConsole(stdout)) SetConsoleOutputCP(CP_UTF8);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    std::fputs("zellogq: cannot initialise COM\n", stderr);
    return QueryExitFailure;
  }
  int status = QueryExitFailure;
  {
    TConsoleProgress progress;
    status = RunZellogq(CommandLineArguments(), FileSink(stdout), FileSink(stderr),
                        IsConsole(stderr) ? &progress : nullptr);
  }
  CoUninitialize();
  return status;
}
