// Downstream key mixer state and the DSK stage codes of its outputs.
#include "Driver/xpt/dskmix.h"

#include <cmath>

#include "Common/reg.h"
#include "Driver/calllog.h"
#include "Driver/core/core.h"
#include "Driver/key/key.h"
#include "Driver/key/regs.h"
#include "Driver/xpt/xpt.h"
#include "Lib/Include/check.h"

namespace {

constexpr int CLEAN_ALT_FIRST = MX_DSK_CLEAN_POINT_1, CLEAN_ALT_LAST = MX_DSK_CLEAN_POINT_4;
constexpr int N_DSK = 4;
constexpr int OUTPUT_4545 = MX_DSK_PGM1 + 1, OUTPUT_4547 = MX_DSK_PGM2 + 1;

// Ranks of the DSKs across the two program outputs: each DSK's rank from the priority, raised by the
// number of DSKs on the other output ranked below it (counted on the ranks before any raise).
void dskRanks(const MxDskMixer& m, int rank[N_DSK]) {
  int base[N_DSK];
  mxStackRanks(m.priority, base);
  for (int n = 0; n < N_DSK; ++n) {
    int r = base[n];
    for (int j = 0; j < N_DSK; ++j) r += m.output[j] != m.output[n] && base[j] > base[n] ? 1 : 0;
    rank[n] = r < 3 ? r : 3;  // a repeated DSK in the priority could raise past the bottom
  }
}

}  // namespace

MxDskMixer& mxDskMixer() {
  static MxDskMixer mixer;
  return mixer;
}

void mxDskSetPriority(int d1, int d2, int d3) {
  MX_NOTE_CALL(0, static_cast<float>(d1), static_cast<float>(d2), static_cast<float>(d3));
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
  MX_NOTE_CALL(dsk, static_cast<float>(output));
  MX_CHECK(MX_DSK_PGM1 <= output && output <= MX_DSK_PGM2);
  mxDskMixer().output[dskIndex(dsk)] = output != MX_DSK_PGM1 ? 1 : 0;
}

void mxDskSetCleanSource(int target, int source) {
  MX_NOTE_CALL(target, static_cast<float>(source));
  MX_CHECK(MX_DSK_CLN1 <= target && target <= MX_DSK_CLN4);
  u32 code = CLEAN_ALT_FIRST <= source && source <= CLEAN_ALT_LAST ? static_cast<u32>(4 + source - CLEAN_ALT_FIRST)
                                                                    : static_cast<u32>(dskIndex(source));
  mxDskMixer().cleanSource[target - MX_DSK_CLN1] = code;
}

void mxDskSetFadeLevel(float x) {
  float v = std::trunc(x * 1023.0f + 0.5f);
  mxDskMixer().fadeLevel = v >= 1023.0f ? 1023u : v > 0.0f ? static_cast<u32>(v) : 0u;  // NaN: 0
}

void mxDskSetFlags(int mask) {
  MX_NOTE_CALL(0, static_cast<float>(mask));
  for (int n = 0; n < N_DSK; ++n) mxDskMixer().flag[n] = static_cast<u32>(mask >> n) & 1;
}

void mxDskSetOutputOption(int dsk, int value) {
  MX_NOTE_CALL(dsk, static_cast<float>(value));
  int n = dskIndex(dsk);
  MX_CHECK(value == 0 || value == 1);
  mxDskMixer().option[n] = static_cast<u32>(value);
}

void mxDskSetOutputSource(int output, int source) {
  MX_NOTE_CALL(output, static_cast<float>(source));
  u32 code = CLEAN_ALT_FIRST <= source && source <= CLEAN_ALT_LAST ? static_cast<u32>(4 + source - CLEAN_ALT_FIRST)
             : source == MX_DSK_OUT_POINT_1 || source == MX_DSK_OUT_POINT_2
                 ? static_cast<u32>(2 + source - MX_DSK_OUT_POINT_1)
                 : 0u;
  mxDskMixer().outputSource[output == OUTPUT_4547 ? 1 : 0] = code;
  if (output != OUTPUT_4545 && output != OUTPUT_4547) MX_FAIL("NeverReachHere");
}

void mxDskWriteStage() {
  using namespace keyreg;
  const MxDskMixer& m = mxDskMixer();
  for (u32 n = 0; n < N_DSK; ++n) mxWriteReg(DSK_LEVEL + DSK_STRIDE * n, m.level[n] | m.flag[n] << 16);
  if (mx4kMode()) mxWriteReg(DSK_LEVELS_4K, m.level[0] | m.level[1] << 16);

  int rank[N_DSK];
  dskRanks(m, rank);
  for (int n = 0; n < N_DSK; ++n) {
    u32 off = DSK_STRIDE * static_cast<u32>(n);
    mxWriteReg(DSK_RANK + off, static_cast<u32>(3 - rank[n]) * 4 | static_cast<u32>(rank[n] + 1) << DSK_RANK_SHIFT);
    mxWriteReg(DSK_ROUTE + off, m.output[n] << DSK_OUTPUT_SHIFT | m.option[n] << DSK_OPTION_SHIFT |
                                    mxStackSource(rank, n, m.output));
  }
  for (u32 o = 0; o < 2; ++o) {
    int top = -1;
    for (int n = 0; n < N_DSK; ++n) {
      if (m.output[n] == o && (top < 0 || rank[n] < rank[top])) top = n;
    }
    u32 code = top < 0 ? DSK_OUT_NONE : static_cast<u32>(rank[top]) * 4 + 1;
    u32 source = m.outputSource[o];
    u32 topWord = source == 2 || source == 3 ? code | DSK_OUT_OWN_SOURCE : code | code << 8;
    mxWriteReg(DSK_OUT_TOP + DSK_OUT_STRIDE * o, topWord);
    mxWriteReg(DSK_OUT_INDEX + DSK_OUT_STRIDE * o, static_cast<u32>(top < 0 ? N_DSK : top) | source << 8);
  }
  for (u32 n = 0; n < N_DSK; ++n) {
    mxWriteReg(DSK_CLEAN_RANK + DSK_CLEAN_STRIDE * n, static_cast<u32>(rank[m.cleanSource[n] & 3]) * 4 + 7);
    mxWriteReg(DSK_CLEAN + DSK_CLEAN_STRIDE * n, m.cleanSource[n]);
  }
  mxWriteReg(DSK_LAYER_RANK, static_cast<u32>(rank[m.layerSource & 3]) * 4 + 5);
  mxWriteReg(DSK_LAYER, m.layerSource);
  mxWriteReg(DSK_LAYER_FLAG, m.layerFlag);
  mxWriteReg(DSK_FADE, m.fadeLevel);
  mxWriteReg(DSK_FADE_MODE, 0);
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
