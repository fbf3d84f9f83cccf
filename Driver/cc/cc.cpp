// Colour correction units: target to unit mapping and the immediate register writes.
#include "Driver/cc/cc.h"

#include <algorithm>

#include "Common/reg.h"
#include "Driver/calllog.h"
#include "Driver/cc/regs.h"
#include "Driver/core/format.h"
#include "Lib/Include/check.h"
#include "Lib/Include/fixedpoint.h"
#include "Common/vsyncguard.h"

namespace {

using namespace cc_regs;

constexpr int N_UNITS = 16;  // 12..15 have no register block

struct Unit {
  u32 enable = 0;  // last enable value
  u32 base = 0;
};

struct Units {
  Unit unit[N_UNITS];
};

Units fresh() {
  Units u;
  for (u32 k = 0; k < 4; ++k) {
    u.unit[k].base = INPUT_UNITS[0] + UNIT_STRIDE * k;
    u.unit[4 + k].base = INPUT_UNITS[1] + UNIT_STRIDE * k;
  }
  for (u32 k = 0; k < 2; ++k) {
    u.unit[8 + k].base = OUTPUT_UNITS[0] + UNIT_STRIDE * k;
    u.unit[10 + k].base = OUTPUT_UNITS[1] + UNIT_STRIDE * k;
  }
  return u;
}

Units& units() {
  static Units u = fresh();
  return u;
}

// Inputs 25..32 are units 0..7 and outputs 13..16 units 8..11. With paired FPGAs only some units
// serve, and every other target lands on unit 11.
Unit& unitOf(int target) {
  MX_CHECK((MX_IN_25 <= target && target <= MX_IN_32) || (MX_OUT_13 <= target && target <= MX_OUT_16));
  int unit = target >= MX_OUT_13 ? 8 + target - MX_OUT_13 : target - MX_IN_25;
  if (mxPairedFpga()) {
    switch (target) {
      case MX_IN_25: unit = 0; break;
      case MX_IN_26: unit = 1; break;
      case MX_IN_27: unit = 4; break;
      case MX_IN_28: unit = 5; break;
      case MX_OUT_13: unit = 8; break;
      case MX_OUT_14: unit = 10; break;
      default: unit = 11;
    }
  }
  return units().unit[unit];
}

void write(const Unit& u, u32 word, u32 value) { mxWriteReg(u.base + 4 * word, value); }
u32 word(int v) { return static_cast<u32>(v); }

// A curve value as a 16-bit register code (x 4096, limited to the codes of 2.5 and -1.5).
s16 curveCode(float v) {
  if (v >= 2.5f) return static_cast<s16>(CURVE_TOP);
  if (v < -1.5f) return static_cast<s16>(CURVE_BOTTOM);
  return static_cast<s16>(truncateToInt(v * 4096.0f + 0.5f));
}

// Entry i is the pair {code(i), code(i + 1) - code(i)} ({code(255), 0} last) at ring position
// (i + CURVE_ROTATION) mod 256; the ring goes out from position 0, each half sign-extended.
void loadCurve(const Unit& u, u32 curve, const float* v) {
  u32 ring[2 * CC_CURVE_ENTRIES];
  for (int i = 0; i < CC_CURVE_ENTRIES; ++i) {
    const s16 code = curveCode(v[i]);
    const s16 step = i + 1 < CC_CURVE_ENTRIES ? static_cast<s16>(curveCode(v[i + 1]) - code) : 0;
    const int pos = (i + CURVE_ROTATION) % CC_CURVE_ENTRIES;
    ring[2 * pos] = word(code);
    ring[2 * pos + 1] = word(step);
  }
  write(u, TABLE_ADDRESS, curve << CURVE_SHIFT);
  mxWriteRegFifo(u.base + 4 * TABLE_DATA, ring, 2 * CC_CURVE_ENTRIES);
}

// The setters' work; the reset calls these so that the call log notes only what callers ask.
void setEnable(Unit& u, int value) {
  const bool sd = mxIsSdLine(mxVideoFormat());
  u.enable = word(value);
  write(u, ENABLE, u.enable);
  write(u, TIMING_A, sd ? TIMING_A_SD : TIMING_A_HD);
  write(u, ZERO_A, 0);
  write(u, ZERO_B, 0);
  write(u, TIMING_B, sd ? TIMING_B_SD : TIMING_B_HD);
}

void setGain(const Unit& u, int id, float value) {
  MX_CHECK(MX_CC_COEFF_1 <= id && id <= MX_CC_COEFF_6);
  int v = std::clamp(truncateToInt(value * 4096.0f), -4095, 4095);
  if (id == MX_CC_COEFF_1 || id == MX_CC_COEFF_1 + 1 || id == MX_CC_COEFF_6) v = -v;
  write(u, COEFF + static_cast<u32>(id - MX_CC_COEFF_1), word(v));
}

void setHueMatrix(const Unit& u, int sector, const float* m) {
  MX_CHECK(0 <= sector && sector < CC_SECTORS);
  MX_CHECK(m != nullptr);
  constexpr u32 SLOTS[3] = {0, 1, 3};
  const int q = sector / 3;
  const u32 slot = SLOTS[sector % 3];
  u32 values[4];
  for (int k = 0; k < 4; ++k) {
    int v = std::clamp(truncateToInt(m[k] * 4096.0f), -8191, 8191);
    // Odd quadrants negate the first row, the lower two the second.
    if ((k < 2 && q % 2 == 1) || (k >= 2 && q >= 2)) v = -v;
    values[k] = word(v);
  }
  write(u, TABLE_ADDRESS, (slot + (static_cast<u32>(q) + SECTOR_BASE) * 4) * 4);
  mxWriteRegFifo(u.base + 4 * TABLE_DATA, values, 4);
  if (slot == 1) mxWriteRegFifo(u.base + 4 * TABLE_DATA, values, 4);
}

void setLevel(const Unit& u, float gain, float pedestal) {
  write(u, LEVEL_GAIN, word(std::clamp(truncateToInt(gain * 876.0f), 0, 2047) * LEVEL_SCALE));
  write(u, PEDESTAL, word(std::clamp(truncateToInt(64.0f + pedestal * 876.0f), -1023, 1023) * LEVEL_SCALE));
}

}  // namespace

void mxColorCorrectSetEnable(int target, int value) {
  MX_NOTE_CALL(target, static_cast<float>(value));
  setEnable(unitOf(target), value);
}

void mxColorCorrectSetCurves(int target, const float* c0, const float* c1, const float* c2) {
  MX_NOTE_CALL(target);
  const Unit& u = unitOf(target);
  MX_CHECK(c0 != nullptr && c1 != nullptr && c2 != nullptr);
  // A frame arriving during a load would move the table port under it.
  beginVsyncDefer();
  loadCurve(u, 0, c0);
  loadCurve(u, 1, c1);
  loadCurve(u, 2, c2);
  write(u, ENABLE, u.enable + CURVE_LOAD);
  endVsyncDefer();
}

void mxColorCorrectSetGain(int target, int id, float value) {
  MX_NOTE_CALL(target, static_cast<float>(id), value);
  setGain(unitOf(target), id, value);
}

void mxColorCorrectSetHueMatrix(int target, int sector, const float* m) {
  if (calllog::active()) {
    calllog::Call* call = calllog::begin(__func__, target);
    calllog::add(call, static_cast<float>(sector));
    calllog::add(call, m, 4);
  }
  setHueMatrix(unitOf(target), sector, m);
}

void mxColorCorrectSetLevel(int target, float gain, float pedestal) {
  MX_NOTE_CALL(target, gain, pedestal);
  setLevel(unitOf(target), gain, pedestal);
}

void mxColorCorrectSetMatrixMode(int target, int mode) {
  MX_NOTE_CALL(target, static_cast<float>(mode));
  const Unit& u = unitOf(target);
  MX_CHECK(MX_CC_MATRIX_NORMAL <= mode && mode <= MX_CC_MATRIX_SD);
  write(u, MATRIX_MODE, word(mode - MX_CC_MATRIX_NORMAL));
}

void mxColorCorrectReset(int target) {
  MX_NOTE_CALL(target);
  constexpr float IDENTITY[4] = {1.0f, 0.0f, 0.0f, 1.0f};
  Unit& u = unitOf(target);
  setEnable(u, 1);
  for (int id = MX_CC_COEFF_1; id <= MX_CC_COEFF_6; ++id) setGain(u, id, 0.0f);
  for (int sector = 0; sector < CC_SECTORS; ++sector) setHueMatrix(u, sector, IDENTITY);
  setLevel(u, 1.0f, 0.0f);
}

void mxCcReset() { units() = fresh(); }
