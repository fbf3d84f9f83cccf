// Downstream key mixer state and the DSK stage codes of its outputs.
#include "Driver/xpt/dskmix.h"

#include <cmath>

#include "Driver/core/core.h"
#include "Driver/xpt/xpt.h"
#include "Lib/Include/check.h"

namespace {

constexpr int CLEAN_ALT_FIRST = 5136, CLEAN_ALT_LAST = 5139;

int dskIndex(int dsk) {
  MX_CHECK(MX_DSK1_F <= dsk && dsk <= MX_DSK4_S);
  return (dsk - MX_DSK1_F) / 2;
}

}  // namespace

MxDskMixer& mxDskMixer() {
  static MxDskMixer mixer;
  return mixer;
}

void mxDskSetPriority(int d1, int d2, int d3) {
  int first = dskIndex(d1);
  int second = dskIndex(d2);
  int third = dskIndex(d3);
  MxDskMixer& m = mxDskMixer();
  m.priority[0] = static_cast<u8>(first);
  m.priority[1] = static_cast<u8>(second);
  m.priority[2] = static_cast<u8>(third);
  mxSetDsk1First(MX_DSK1 + 2 * first);
}

void mxDskSetOutput(int dsk, int output) {
  MX_CHECK(MX_DSK_PGM1 <= output && output <= MX_DSK_PGM2);
  mxDskMixer().output[dskIndex(dsk)] = output != MX_DSK_PGM1 ? 1 : 0;
}

void mxDskSetCleanSource(int target, int source) {
  MX_CHECK(MX_DSK_CLN1 <= target && target <= MX_DSK_CLN4);
  u32 code = CLEAN_ALT_FIRST <= source && source <= CLEAN_ALT_LAST ? static_cast<u32>(4 + source - CLEAN_ALT_FIRST)
                                                                    : static_cast<u32>(dskIndex(source));
  mxDskMixer().cleanSource[target - MX_DSK_CLN1] = code;
}

void mxDskSetFadeLevel(float x) {
  float v = std::trunc(x * 1023.0f + 0.5f);
  mxDskMixer().fadeLevel = v >= 1023.0f ? 1023u : v > 0.0f ? static_cast<u32>(v) : 0u;  // NaN: 0
}

int dskStageCode(int output, int e0, int e1) {
  const MxDskMixer& m = mxDskMixer();
  u32 a1 = m.output[0];
  u32 a2 = m.output[1];
  int f = m.priority[0];
  if (output == MX_DSK_PGM1 || output >= MX_DSK_CLN3) {
    if (e0 == 0) return 0;
    int b = a1 != 0 ? 2 : f != 0 ? 6 : 10;
    int x = a2 != 0 ? 0 : f == 1 ? 8 : 4;
    return b + x;
  }
  if (output == MX_DSK_PGM2) {
    if (e1 == 0) return 0;
    int b = a1 == 1 ? (f != 0 ? 6 : 10) : 2;
    int x = a2 != 1 ? 0 : f == 1 ? 8 : 4;
    return b + x;
  }
  if (output == MX_DSK_CLN1) {
    if (m.cleanSource[0] > 3 || (a1 == 0 ? e0 : e1) == 0) return 0;
    return a2 == a1 && f == 0 ? 6 : 2;
  }
  if (output == MX_DSK_CLN2) {
    if (m.cleanSource[1] > 3 || (a2 == 0 ? e0 : e1) == 0) return 0;
    return a1 == a2 && f == 1 ? 6 : 2;
  }
  return 0;  // 4545, 4547 and ids below 4544
}

void mxDskReset() { mxDskMixer() = MxDskMixer{}; }
