#pragma once
#include <cstdint>
#include <string>

#include "ConsumerDriver.h"

struct TFuzzOptions {
  double Seconds = 60;
  std::uint64_t Seed = 0;  // 0: from the clock
  int Threads = 1;
  bool Spy = true;         // off: the platform's allocator unobserved, for timing the threads as they run in use
  std::string Replay;      // a saved sequence to run again
};

// Seeded random call sequences; 0 when none crashed, hung, leaked or gave a
// result its method may not return.
int RunConsumerFuzzer(const TProviderModule& dll, const TFuzzOptions& options);
