#pragma once
#include <cstdint>

#include "ConsumerDriver.h"

// The scripted session with every every-th allocation failing in turn (1:
// all of them; only: that one alone); 0 when every run ended as documented.
int RunAllocationFailures(const TProviderModule& dll, std::uint64_t every, std::uint64_t only);
