#pragma once

// The clock of the run's time accounting. The supervision takes its clock as a parameter
// so that tests can drive it; the front ends pass this one.

#include <cstdint>

namespace quaderix {

// Milliseconds of the steady clock, truncated to 32 bits; differences are taken modulo
// 2^32.
uint32_t TickCount();

}  // namespace quaderix
