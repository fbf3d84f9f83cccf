#pragma once
// The Lanczos kernel and the normalised taps of the polyphase filter tables (down-conversion, DVI
// scaler): taps divided by their sum and scaled by 16384.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "Lib/Include/types.h"

// L(a, x) = sinc(x) sinc(x / a) for |x| < a, else 0; 1 near x = 0.
inline double lanczos(double a, double x) {
  if (std::fabs(x) < 0.001) return 1.0;
  if (std::fabs(x) >= a) return 0.0;
  const double px = std::numbers::pi * x;
  return std::sin(px) / px * std::sin(px / a) / (px / a);
}

// Stores the n taps divided by their sum, x 16384, rounded to the nearest integer (or truncated) at
// out[0], out[stride], ...; taps that sum to 0 are stored as 0.
inline void storeNormalisedTaps(const double* taps, int n, bool round, u32* out, int stride) {
  double sum = 0.0;
  for (int k = 0; k < n; ++k) sum += taps[k];
  for (int k = 0; k < n; ++k) {
    const double c = std::clamp(sum != 0.0 ? taps[k] / sum * 16384.0 : 0.0, -1e9, 1e9);
    out[k * stride] = static_cast<u32>(static_cast<int>(round ? std::round(c) : std::trunc(c)));
  }
}
