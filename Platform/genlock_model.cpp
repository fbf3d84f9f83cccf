#include "Platform/genlock_model.h"

#include <cmath>

namespace platform {
namespace {

constexpr u32 CONTROL = 0x82000900, PERIOD = 0x82000910, COUNT = 0x82000920, SAMPLES = 0x82000928;
constexpr u32 PULSES = 0x82000930, SAMPLE_INDEX = 0x82000934, SAMPLE = 0x82000938;
constexpr u32 BIN = 0x82000A08, BIN_COUNT = 0x82000A0C;
constexpr u32 DAC = 0x8200080C;
constexpr u32 ALIGN = 1;
constexpr double DRIFT_DIVISOR = 3200.0, ALIGNED_PHASE = 1.0;

// The sync period the detector expects for its count: black burst (66000, 6864: 59.94 Hz family;
// 6912, 9504: 50 Hz family), then tri-level.
u32 periodFor(u32 count) {
  struct Entry {
    u32 count, period;
  };
  static const Entry table[] = {{66000, 3178}, {6864, 3178}, {6912, 3200}, {9504, 3200}, {4400, 1481},
                                {5280, 1778},  {3300, 1111}, {3960, 1333}, {5500, 1852}};
  for (const Entry& e : table) {
    if (e.count == count) return e.period;
  }
  return 0;
}

}  // namespace

void GenlockReference::reset() {
  present_ = true;
  held_ = false;
  phase_ = 0.0;
  lock_ = DEFAULT_LOCK;
  bins_ = {};
  bins_[15] = bins_[17] = 200;
  bins_[16] = 1000;
  bins_[63] = bins_[65] = 600;
  bins_[64] = 3000;
}

void GenlockReference::setPresent(bool on) { present_ = on; }
void GenlockReference::setHistogram(const Histogram& bins) { bins_ = bins; }

void GenlockReference::flattenHistogram() {
  bins_ = {};
  bins_[40] = 5600;
}

// Sample i of N: 32 x phase + i / N, as eighths, split into a count (negative ones wrapped by P) and
// a fraction; their mean is the phase to 1 / 32N.
u32 GenlockReference::sample(u32 index) const {
  const s64 p = static_cast<s64>(regPeek(COUNT)) + 1;
  const double n = static_cast<double>(regPeek(SAMPLES));
  if (p <= 0 || n <= 0) return 0;
  const double quarter = static_cast<double>(p) / 4.0;
  const double phase = phase_ - quarter * std::floor(phase_ / quarter + 0.5);
  const s64 eighths = static_cast<s64>(std::floor(32.0 * phase + index / n));
  const s64 count = static_cast<s64>(std::floor(static_cast<double>(eighths) / 8.0));
  const s64 fraction = eighths - 8 * count;
  return static_cast<u32>((count < 0 ? count + p : count) << 8 | fraction);
}

bool GenlockReference::read(u32 adr, u32& value) {
  switch (adr) {
    case PULSES:
      if (present_ && !held_) phase_ += (static_cast<double>(regPeek(DAC)) - lock_) / DRIFT_DIVISOR;
      value = present_ ? regPeek(SAMPLES) : 0;
      return true;
    case PERIOD:
      value = present_ ? periodFor(regPeek(COUNT) + 1) : 0;
      return true;
    case SAMPLE:
      value = present_ ? sample(regPeek(SAMPLE_INDEX)) : 0;
      return true;
    case BIN_COUNT:
      value = present_ ? bins_[regPeek(BIN) & 0xFF] : 0;
      return true;
    default:
      return false;
  }
}

void GenlockReference::write(u32 adr, u32 value) {
  if (adr == CONTROL && value == ALIGN && !held_) phase_ = ALIGNED_PHASE;
}

GenlockReference& genlockReference() {
  static GenlockReference* reference = [] {
    static GenlockReference r;
    r.reset();
    attachDevice(GenlockReference::BASE, GenlockReference::SIZE, &r);
    return &r;
  }();
  return *reference;
}

}  // namespace platform
