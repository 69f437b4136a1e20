// zellogdb_consumer_fuzz DLL inject [--every N] [--only K] [--allocator task|heap|both]
// zellogdb_consumer_fuzz DLL fuzz [--seconds S] [--seed N] [--threads T] [--spy on|off] [--replay FILE]
//
// Drives the test build of zellogdb.dll (its heap hook exported) through its
// class factory and the published interfaces only.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "AllocationFailures.h"
#include "ConsumerFuzzer.h"

namespace {
int Usage() {
  std::fprintf(stderr,
               "usage: zellogdb_consumer_fuzz DLL inject [--every N] [--only K] [--allocator task|heap|both]\n"
               "       zellogdb_consumer_fuzz DLL fuzz [--seconds S] [--seed N] [--threads T] [--spy on|off] [--replay FILE]\n");
  return 2;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string dllPath = argv[1], mode = argv[2];
  std::uint64_t every = 1, only = 0;
  std::string allocators = "both";
  TFuzzOptions fuzz;
  for (int i = 3; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const char* value = argv[i + 1];
    if (name == "--every") every = std::strtoull(value, nullptr, 10);
    else if (name == "--only") only = std::strtoull(value, nullptr, 10);
    else if (name == "--allocator") allocators = value;
    else if (name == "--seconds") fuzz.Seconds = std::strtod(value, nullptr);
    else if (name == "--seed") fuzz.Seed = std::strtoull(value, nullptr, 10);
    else if (name == "--threads") fuzz.Threads = std::atoi(value);
    else if (name == "--replay") fuzz.Replay = value;
    else if (name == "--spy") fuzz.Spy = std::strcmp(value, "off") != 0;
    else return Usage();
  }
  if (every == 0 || (allocators != "task" && allocators != "heap" && allocators != "both")) return Usage();
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  try {
    const TProviderModule dll(std::wstring(dllPath.begin(), dllPath.end()));
    if (mode == "inject") return RunAllocationFailures(dll, every, only, allocators);
    if (mode == "fuzz") return RunConsumerFuzzer(dll, fuzz);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zellogdb_consumer_fuzz: %s\n", e.what());
    return 1;
  }
  return Usage();
}
