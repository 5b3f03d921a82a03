#pragma once

#include <cstdint>

// Milliseconds since an arbitrary fixed point, from a monotonic clock, as an unsigned 32-bit
// value that wraps around after about 49.7 days. Compare two readings by unsigned subtraction
// (now - then), which stays correct across the wrap.
uint32_t GetTickCount();
