#include "Main/system/testpattern.h"

#include <algorithm>

#include "Driver/filter/filter.h"
#include "Driver/key/key.h"
#include "Driver/transition/transition.h"

namespace category {

namespace {

constexpr int KEYS[] = {MX_KEY1, MX_KEY2, MX_KEY3, MX_KEY4};

// value / 100 within low..high.
float hundredths(s16 value, float low, float high) { return std::clamp(value / 100.0f, low, high); }

int on(s16 value) { return value != 0 ? 1 : 0; }

// Entries: 1 pattern halvings n, 2 dust gain, 3 dust, 4 bus gain (x 100; 0 off), 5..9 soft mask
// left, top, width, height, softness (x 100), 10 and 11 the A and B bus filters (0 off, else on
// with mode value AND 1).
void multiPattern(const s16* v) {
  const int n = std::clamp<int>(v[1], 0, 3);
  const float size = 1.0f / static_cast<float>(1 << n);
  const float dustGain = hundredths(v[2], 0.0f, 1.0f), busGain = hundredths(v[4], 0.0f, 1.0f);
  const int dust = std::clamp<int>(v[3], 0, 15);
  float mask[5];
  for (int i = 0; i < 5; ++i) mask[i] = hundredths(v[5 + i], 0.0f, 1.0f);
  for (int me = 0; me < N_ME; ++me) {
    mxSetContext(MX_CONTEXT_ME1 + me);
    mxTransSetPatternSize(MX_BKGD, size, size, n, n);
    for (int key : KEYS) mxTransSetPatternSize(key, size, size, n, n);
    for (int target : {static_cast<int>(MX_BKGD), static_cast<int>(MX_KEY1)}) {
      mxFilterSetDust(target, on(v[2]), dustGain, dust);
    }
    for (int bus : {MX_ABUS, MX_BBUS}) mxFilterSetBusGain(bus, on(v[4]), busGain);
    for (int key : KEYS) mxKeySetSoftMask(key, mask[0], mask[1], mask[2], mask[3], mask[4]);
    mxFilterSetBusMode(MX_ABUS, on(v[10]), v[10] & 1);
    mxFilterSetBusMode(MX_BBUS, on(v[11]), v[11] & 1);
  }
}

// Entries, X then Y: 1, 2 amplitude (x 100), 3, 4 frequency, 5, 6 pattern (0 sine, else delta),
// 7, 8 phase (x 100).
void wipeModulation(const s16* v) {
  struct Direction {
    int dir, pattern;
    float amp, freq, phase;
  };
  Direction axes[2];
  for (int a = 0; a < 2; ++a) {
    axes[a] = {MX_TRANS_MOD_X + a, v[5 + a] != 0 ? MX_TRANS_MOD_DELTA : MX_TRANS_MOD_SINE,
               hundredths(v[1 + a], 0.0f, 0.5f), std::clamp(static_cast<float>(v[3 + a]), 0.0f, 100.0f),
               hundredths(v[7 + a], 0.0f, 1.0f)};
  }
  for (int me = 0; me < N_ME; ++me) {
    mxSetContext(MX_CONTEXT_ME1 + me);
    for (int target : {MX_KEY1, MX_KEY2, MX_KEY3, MX_KEY4, MX_BKGD}) {
      for (const Direction& a : axes) mxTransSetModulationPattern(target, a.dir, a.pattern);
      for (const Direction& a : axes) mxTransSetModulation(target, a.dir, a.amp, a.freq, a.phase);
    }
  }
}

}  // namespace

CategoryTest* CategoryTest::instance() {
  static CategoryTest objects[N_ME];
  return objects;
}

void CategoryTest::initData() {
  for (int ch = 0; ch < N_CHANNELS; ++ch) {
    MxifTest& r = record(ch);
    r = MxifTest{};
    r.channel = static_cast<u16>(ch);
    setMe(r);
  }
}

void CategoryTest::receive(RequestReceiver& rx) {
  MxifTest in{};
  if (!readBody(rx, in)) return;
  rx.clearHeader();
  if (in.me >= N_ME || in.channel >= N_CHANNELS) return;
  static_cast<CategoryTest*>(CategoryRegistry::instance().get(TYPE_INDEX, in.me))->assign(in, in.channel);
}

void CategoryTest::update() {
  mxSetContext(MX_CONTEXT_ME1 + me);
  if (me != 1) return;
  const s16* v = record(0).values;
  if (v[0] == MxifTest::MULTI_PATTERN) {
    multiPattern(v);
  } else if (v[0] == MxifTest::WIPE_MODULATION) {
    wipeModulation(v);
  }
}

}  // namespace category
