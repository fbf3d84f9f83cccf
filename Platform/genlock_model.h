#pragma once
// Board model of the genlock reference at the detector of the ME1 FPGA. While a reference is present
// it fits the format the detector is set up for: the pulse count (0x82000930) answers the sample
// count written to 0x82000928, the period (0x82000910) the sync period that the detector's count
// (0x82000920 + 1) stands for, and the phase samples (0x82000938, by the index at 0x82000934) the
// reference phase as counts and eighths. The phase, in quarter counts, drifts at every read of the
// pulse count (one lock step) by (oscillator value - lock value) / 3200, the oscillator value being
// the word at 0x8200080C; aligning the detector (1 at 0x82000900) moves it to 1.0. The level
// histogram (0x82000A0C, by the bin at 0x82000A08) has the sync-tip and blanking peaks of a black
// burst (bins 16 and 64). Host only.
#include <array>

#include "Platform/board.h"

namespace platform {

class GenlockReference : public RegisterDevice {
 public:
  static constexpr u32 BASE = 0x82000900, SIZE = 0x110;
  static constexpr u32 DEFAULT_LOCK = 0x82EE0;
  using Histogram = std::array<u32, 256>;

  // A reference present at phase 0, lock value DEFAULT_LOCK, drifting, the black-burst histogram.
  void reset();
  void setPresent(bool on);
  void setHistogram(const Histogram& bins);
  void flattenHistogram();  // one level only, as a signal without sync levels
  void setLockValue(u32 dac) { lock_ = dac; }
  void setPhase(double phase) { phase_ = phase; }
  double phase() const { return phase_; }
  void hold(bool on) { held_ = on; }  // the phase stays where it is

  bool read(u32 adr, u32& value) override;
  void write(u32 adr, u32 value) override;

 private:
  u32 sample(u32 index) const;
  bool present_ = true;
  bool held_ = false;
  double phase_ = 0.0;
  u32 lock_ = DEFAULT_LOCK;
  Histogram bins_{};
};

// The reference, attached to the register file on first use.
GenlockReference& genlockReference();

}  // namespace platform
