#pragma once
// Floats to register integers: truncation toward zero that never leaves the int range (values no
// int holds saturate, NaN gives 0), so a value far out of range cannot make the conversion undefined.
#include <climits>

#include "Lib/Include/types.h"

inline int truncateToInt(double v) {
  constexpr double LIMIT = 2147483648.0;  // 2^31
  if (v != v) return 0;
  if (v >= LIMIT) return INT_MAX;
  if (v <= -LIMIT) return INT_MIN;
  return static_cast<int>(v);
}

// The same, as the 32-bit register word of the (possibly negative) integer.
inline u32 truncateToWord(double v) { return static_cast<u32>(truncateToInt(v)); }
