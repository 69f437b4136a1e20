// zellogcat: log files of the mail filtering service as JSON Lines.
#include "ZellogCat.h"

#ifdef _WIN32
#include <algorithm>

#include <windows.h>
#include <shellapi.h>

#include "CodePageText.h"
#else
#include <cerrno>
#include <cstdio>

#include <sys/uio.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
// Straight to the handle, in as few calls as the text allows: the C runtime
// writes to a character device (NUL, the console) unbuffered, and what a
// block leaves over a byte per call.
TCatSink HandleSink(DWORD standardHandle) {
  return [handle = GetStdHandle(standardHandle)](std::string_view text) {
    while (!text.empty()) {
      const auto chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1u << 30));
      DWORD written = 0;
      if (!WriteFile(handle, text.data(), chunk, &written, nullptr) || written == 0) return false;
      text.remove_prefix(written);
    }
    return true;
  };
}
#else
TCatSink FileSink(std::FILE* file) {
  return [file](std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
  };
}


// Pieces of output in one system call per batch, straight from where they
// lie, after what the file's own buffer holds.
TCatGatherSink GatherSink(std::FILE* file) {
  return [file](std::span<const std::string_view> pieces) {
    if (std::fflush(file) != 0) return false;
    constexpr std::size_t Batch = 512; // within every system's IOV_MAX
    iovec vectors[Batch];
    while (!pieces.empty()) {
      std::size_t count = 0;
      std::size_t taken = 0;
      for (; taken < pieces.size() && count < Batch; ++taken) {
        if (pieces[taken].empty()) continue;
        vectors[count++] = {const_cast<char*>(pieces[taken].data()), pieces[taken].size()};
      }
      pieces = pieces.subspan(taken);
      for (iovec* next = vectors; count > 0;) {
        const ssize_t written = writev(fileno(file), next, static_cast<int>(count));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        // A write may stop short (a signal, a full device): on from there.
        auto left = static_cast<std::size_t>(written);
        while (count > 0 && left >= next->iov_len) {
          left -= next->iov_len;
          ++next;
          --count;
        }
        if (count > 0) {
          next->iov_base = static_cast<char*>(next->iov_base) + left;
          next->iov_len -= left;
        }
      }
    }
    return true;
  };
}
#endif

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
  const std::vector<TCatArgument> arguments = CommandLineArguments();
#else
  std::vector<TCatArgument> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back({argv[i], argv[i]});
#endif
#ifdef _WIN32
  return RunZellogcat(arguments, HandleSink(STD_OUTPUT_HANDLE), HandleSink(STD_ERROR_HANDLE));
#else
  return RunZellogcat(arguments, FileSink(stdout), FileSink(stderr), GatherSink(stdout));
#endif
}
