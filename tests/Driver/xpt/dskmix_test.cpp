#include <gtest/gtest.h>

#include "Driver/core/core.h"
#include "Driver/key/key.h"
#include "Driver/xpt/dskmix.h"
#include "Driver/xpt/xpt.h"
#include "Lib/Include/check.h"
#include "tests/support/board_fixture.h"

using namespace platform;
using testing_support::BoardTest;
using testing_support::consoleCount;

namespace {

constexpr int P1 = MX_DSK_PGM1, P2 = MX_DSK_PGM2;

class DskStageTest : public BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    mxCoreReset();
    mxXptReset();
    mxDskReset();
    mxKeyReset();
  }
  static u32 reg(u32 adr) { return regPeek(adr); }
};

TEST_F(DskStageTest, RanksAcrossTheTwoProgramOutputs) {
  struct Case {
    const char* what;
    int first, second, third;   // priority
    int out[4];                 // program output of DSK 1..4
    u32 rank[4];                // 0x83002040 + 16 n
    u32 route[4];               // 0x83002044 + 16 n
    u32 top[2], index[2];       // 0x83002090 + 8 o, 0x83002094 + 8 o
  } cases[] = {
      {"default priority, one output", MX_DSK4, MX_DSK3, MX_DSK2, {P1, P1, P1, P1},
       {0x1000, 0xC04, 0x808, 0x40C}, {0x100, 0x101, 0x102, 0x103}, {0x101, 0x1111}, {3, 4}},
      {"two on each output", MX_DSK4, MX_DSK3, MX_DSK2, {P1, P1, P2, P2},
       {0x1000, 0xC04, 0x1000, 0xC04}, {0x100, 0x101, 0x104, 0x107}, {0x909, 0x909}, {1, 3}},
      {"one against three", MX_DSK2, MX_DSK1, MX_DSK3, {P1, P2, P2, P2},
       {0x1000, 0x808, 0xC04, 0x1000}, {0x100, 0x106, 0x107, 0x104}, {0xD0D, 0x505}, {0, 1}},
      {"one DSK named twice", MX_DSK1, MX_DSK1, MX_DSK1, {P1, P2, P2, P2},
       {0x1000, 0x1000, 0x1000, 0x1000}, {0x100, 0x104, 0x104, 0x104}, {0xD0D, 0xD0D}, {0, 1}},
  };
  for (auto& c : cases) {
    SetUp();
    mxDskSetPriority(c.first, c.second, c.third);
    for (int n = 0; n < 4; ++n) mxDskSetOutput(MX_DSK1 + 2 * n, c.out[n]);
    mxDskWriteStage();
    for (u32 n = 0; n < 4; ++n) {
      EXPECT_EQ(reg(0x83002040 + 16 * n), c.rank[n]) << c.what << " DSK " << n + 1;
      EXPECT_EQ(reg(0x83002044 + 16 * n), c.route[n]) << c.what << " DSK " << n + 1;
    }
    for (u32 o = 0; o < 2; ++o) {
      EXPECT_EQ(reg(0x83002090 + 8 * o), c.top[o]) << c.what << " output " << o;
      EXPECT_EQ(reg(0x83002094 + 8 * o), c.index[o]) << c.what << " output " << o;
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
  regPoke(0x83002024, 7);
  mxDskWriteStage();
  // Default ranks: DSK 4 0, DSK 3 1, DSK 2 2, DSK 1 3.
  const struct {
    u32 adr, value;
  } regs[] = {
      {0x83002048, 1024}, {0x83002058, 512 | 1 << 16}, {0x83002068, 0}, {0x83002078, 1 << 16},
      {0x83002074, 3},  // option 0
      {0x830020A0, 11}, {0x830020A4, 2}, {0x830020A8, 15}, {0x830020AC, 5},
      {0x83002080, 13}, {0x83002084, 1}, {0x83002088, 0x10000},
      {0x83002020, 512}, {0x83002024, 0},
      {0x83002090, 1 | 0x1100}, {0x83002094, 3 | 2 << 8}, {0x83002098, 17 | 17 << 8}, {0x8300209C, 4},
  };
  for (auto r : regs) EXPECT_EQ(reg(r.adr), r.value) << std::hex << r.adr;
  EXPECT_EQ(mxXptImage()[xpt::LAYER_CONTEXT], 4);
  EXPECT_EQ(reg(0x83003020), 0u);  // 4K mode only

  mxKeySetLayerSource(0, MX_DSK3, 0);
  EXPECT_THROW(mxDskSetOutputSource(P2, MX_DSK_CLEAN_POINT_1), assert::AssertException);
  EXPECT_EQ(consoleCount("NeverReachHere"), 1);
  EXPECT_THROW(mxDskSetOutputOption(MX_DSK1, 2), assert::AssertException);
  mxDskWriteStage();
  EXPECT_EQ(reg(0x83002088), 1u);
  EXPECT_EQ(reg(0x83002090), 1u | 1 << 8);  // output 4545 took the failed source: code 4
  EXPECT_EQ(reg(0x83002094), 3u | 4 << 8);
  EXPECT_EQ(reg(0x83002044), 0x100u);
}

TEST_F(DskStageTest, FourKModeWritesTheFirstTwoLevelsTogether) {
  writeMem32(0x81800000 + 0x14028, 0x54AA1234);
  writeMem32(0x81800000 + 0x1402C, 2);
  mxBoardInit();
  mxKeySetLevel(MX_DSK1, 0.25f);
  mxKeySetLevel(MX_DSK2, 1.0f);
  mxDskWriteStage();
  EXPECT_EQ(reg(0x83003020), 256u | 1024u << 16);
}

}  // namespace
