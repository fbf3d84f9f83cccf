// The DSK stage: ranks and routes of the four DSKs over the two program outputs, levels, clean feeds.

#include "Driver/key/key.h"
#include "Driver/key/regs.h"
#include "tests/Driver/driver_test.h"

using namespace keyreg;
using namespace driver_test;

namespace {

constexpr int P1 = MX_DSK_PGM1, P2 = MX_DSK_PGM2;

using DskStageTest = testing_support::BoardTest;

TEST_F(DskStageTest, RanksAcrossTheTwoProgramOutputs) {
  // first..third: priority; out: program output of DSK 1..4; rank, route: DSK_RANK, DSK_ROUTE of DSK n;
  // top, index: DSK_OUT_TOP, DSK_OUT_INDEX of output o
  struct Case { const char* what; int first, second, third, out[4]; u32 rank[4], route[4], top[2], index[2]; }
  cases[] = {{"default priority, one output", MX_DSK4, MX_DSK3, MX_DSK2, {P1, P1, P1, P1},
       {0x1000, 0xC04, 0x808, 0x40C}, {0x100, 0x101, 0x102, 0x103}, {0x101, 0x1111}, {3, 4}},
      {"two on each output", MX_DSK4, MX_DSK3, MX_DSK2, {P1, P1, P2, P2},
       {0x1000, 0xC04, 0x1000, 0xC04}, {0x100, 0x101, 0x104, 0x107}, {0x909, 0x909}, {1, 3}},
      {"one against three", MX_DSK2, MX_DSK1, MX_DSK3, {P1, P2, P2, P2},
       {0x1000, 0x808, 0xC04, 0x1000}, {0x100, 0x106, 0x107, 0x104}, {0xD0D, 0x505}, {0, 1}},
      {"one DSK named twice", MX_DSK1, MX_DSK1, MX_DSK1, {P1, P2, P2, P2},
       {0x1000, 0x1000, 0x1000, 0x1000}, {0x100, 0x104, 0x104, 0x104}, {0xD0D, 0xD0D}, {0, 1}}};
  for (auto& c : cases) {
    SetUp();
    mxDskSetPriority(c.first, c.second, c.third);
    for (int n = 0; n < 4; ++n) mxDskSetOutput(MX_DSK1 + 2 * n, c.out[n]);
    mxDskWriteStage();
    for (u32 n = 0; n < 4; ++n) {
      EXPECT_EQ(peek(DSK_STRIDE * n, {DSK_RANK, DSK_ROUTE}), (Words{c.rank[n], c.route[n]})) << c.what << " " << n;
    }
    for (u32 o = 0; o < 2; ++o) {
      EXPECT_EQ(peek(DSK_OUT_STRIDE * o, {DSK_OUT_TOP, DSK_OUT_INDEX}), (Words{c.top[o], c.index[o]})) << c.what << o;
    }
  }
}

TEST_F(DskStageTest, LevelsCleanFeedsLayerFadeAndOutputSources) {
  mxKeySetLevel(MX_DSK1, 1.0f);
  mxKeySetLevel(MX_DSK2_F, 0.5f);
  mxKeySetLevel(MX_DSK2, -1.0f);
  mxDskSetFlags(0b1010);
  mxDskSetCleanSource(MX_DSK_CLN1, MX_DSK3);
  mxDskSetCleanSource(MX_DSK_CLN2, MX_DSK_CLEAN_POINT_1 + 1);
  mxKeySetLayerSource(0, MX_DSK2, 1);
  mxDskSetFadeLevel(0.5f);
  mxDskSetOutputOption(MX_DSK4, 0);
  mxDskSetOutputSource(MX_DSK_PGM1 + 1, MX_DSK_OUT_POINT_1);
  regPoke(DSK_FADE_MODE, 7);
  mxDskWriteStage();
  // Default ranks: DSK 4 0, DSK 3 1, DSK 2 2, DSK 1 3. DSK 4's route: option 0; no 4K levels outside 4K mode.
  expectRegs({{DSK_LEVEL, 1024}, {DSK_LEVEL + DSK_STRIDE, 512 | 1 << 16}, {DSK_LEVEL + 2 * DSK_STRIDE, 0},
              {DSK_LEVEL + 3 * DSK_STRIDE, 1 << 16}, {DSK_ROUTE + 3 * DSK_STRIDE, 3}, {DSK_CLEAN_RANK, 11},
              {DSK_CLEAN, 2}, {DSK_CLEAN_RANK + DSK_CLEAN_STRIDE, 15}, {DSK_CLEAN + DSK_CLEAN_STRIDE, 5},
              {DSK_LAYER_RANK, 13}, {DSK_LAYER, 1}, {DSK_LAYER_FLAG, 0x10000}, {DSK_FADE, 512}, {DSK_FADE_MODE, 0},
              {DSK_OUT_TOP, 1 | 0x1100}, {DSK_OUT_INDEX, 3 | 2 << 8}, {DSK_OUT_TOP + DSK_OUT_STRIDE, 17 | 17 << 8},
              {DSK_OUT_INDEX + DSK_OUT_STRIDE, 4}, {DSK_LEVELS_4K, 0}});
  EXPECT_EQ(mxXptImage()[xpt::LAYER_CONTEXT], 4);

  mxKeySetLayerSource(0, MX_DSK3, 0);
  EXPECT_THROW(mxDskSetOutputSource(P2, MX_DSK_CLEAN_POINT_1), assert::AssertException);
  mxDskWriteStage();
  // Output 4545 took the failed source: code 4.
  EXPECT_EQ(peek(0, {DSK_LAYER_FLAG, DSK_OUT_TOP, DSK_OUT_INDEX, DSK_ROUTE}), (Words{1, 1 | 1 << 8, 3 | 4 << 8, 0x100}));
}

TEST_F(DskStageTest, FourKModeWritesTheFirstTwoLevelsTogether) {
  startBoard(2);
  mxKeySetLevel(MX_DSK1, 0.25f);
  mxKeySetLevel(MX_DSK2, 1.0f);
  mxDskWriteStage();
  EXPECT_EQ(regPeek(DSK_LEVELS_4K), 256u | 1024u << 16);
}

}  // namespace
