#pragma once
#include <cstdint>
#include <string>

#include "ConsumerDriver.h"

// The scripted session with every every-th allocation failing in turn (1:
// all of them; only: that one alone), of task memory, of the provider's heap
// or of both (allocators: "task", "heap", "both"); 0 when every run ended as
// documented.
int RunAllocationFailures(const TProviderModule& dll, std::uint64_t every, std::uint64_t only,
                          const std::string& allocators);
