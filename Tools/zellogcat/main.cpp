// zellogcat: log files of the mail filtering service as JSON Lines.
#include <cstdio>

#include "ZellogCat.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include "CodePageText.h"
#endif

namespace {

TCatSink FileSink(std::FILE* file) {
  return [file](std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
  };
}

#ifdef _WIN32
// Arguments as UTF-16, so that file names outside the ANSI code page work.
std::vector<TCatArgument> CommandLineArguments() {
  std::vector<TCatArgument> arguments;
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!argv) return arguments;
  for (int i = 1; i < count; ++i) {
    const std::wstring wide(argv[i]);
    arguments.push_back({Utf8FromWide(argv[i]), std::u16string(wide.begin(), wide.end())});
  }
  LocalFree(argv);
  return arguments;
}
#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
  const std::vector<TCatArgument> arguments = CommandLineArguments();
#else
  std::vector<TCatArgument> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back({argv[i], argv[i]});
#endif
  return RunZellogcat(arguments, FileSink(stdout), FileSink(stderr));
}
