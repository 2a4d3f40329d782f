// Every benchmark program counts the heap allocations of its process (every
// global operator new), so a benchmark can show how many its operation
// makes: read the count before and after.
#pragma once

#include <cstdint>

namespace tq::bench {

uint64_t Allocations();

}  // namespace tq::bench
