// Multiview outputs: row layouts, window limits, source codes and the paired-FPGA mirror.
#include "Driver/multiview/multiview.h"

#include "tests/Driver/driver_test.h"

using namespace driver_test;

namespace {

// Window block, row control block and limit register of output 0 row 0, output 1 row 1, and the
// GUI composition's row 1.
constexpr u32 R0 = 0x83001880, K0 = 0x83001600, L0 = 0x83001580;
constexpr u32 R1 = 0x830019A0, K1 = 0x83001650, L1 = 0x83001584;
constexpr u32 RG = 0x83001EA0, KG = 0x83001D50;

const int INPUTS[8] = {4352, 4353, 4354, 4355, 4356, 4357, 4358, 4359};
const int XS[5] = {0, 384, 768, 1152, 1536};

class MvTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    mxInitialize(0, 1.0f);
    passBlank();
  }
  // The genlock's set-up in the format initialisation blanks the outputs for four frames.
  static void passBlank() {
    for (int frame = 0; frame < 4; ++frame) mxMvUpdate();
  }
  static void row(int target, int r, int size, int count, const int* sources) {
    mxMvSetRow(target, r, size, 100, count, XS, sources);
  }
};

TEST_F(MvTest, ResetLaysOutTwoByTwoBlackAndLeavesTheOutputOff) {
  mxMvUpdate();
  traceClear();
  mxMvUpdate();
  // 15 units of 128 pixels at width 1920; row 1 from line 270.
  EXPECT_EQ(peek(0, {K0 + 8, R0, K1 + 4, K1 + 12, R0 + 0x40}), (Words{0x07800800, 0x101, 269, 272u << 16, 0}));
  EXPECT_EQ(peek(R0 + 16, {0, 4, 8, 12}), (Words{147u << 16, 480 | 147u << 16, 0, 0}));
  // Rows 0..3: top and bottom line of each, rows 2 and 3 empty.
  EXPECT_EQ(writesTo(L1), (Words{0x4, 0x10114, 0x20112, 0x30222, 0x403FF, 0x503FF, 0x603FF, 0x703FF}));
  EXPECT_TRUE(writesTo(K0).empty());  // no enable before a layout
}

TEST_F(MvTest, WindowSizeLayoutAndLimitsBySizeCode) {
  struct Case { int format, size, count; u32 lines, layout, bottom; } cases[] = {
      {0, 8512, 3, 270, 0x201, 0x30176}, {0, 8515, 3, 108, 0x207, 0x300D4}, {0, 8516, 3, 240, 0x209, 0x30158},
      {0, 8517, 3, 154, 0x20B, 0x30102},
      {0, 8518, 5, 108, 0x415, 0x300D4}, {0, 8523, 3, 90, 0x217, 0x300C2},  {2, 8513, 3, 240, 0x203, 0x30158},
      {0, 8512, 0, 270, 0, 0x303FF}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    mxInitialize(c.format, 1.0f);
    row(MX_MULTI2, 1, c.size, c.count, INPUTS);
    traceClear();
    mxMvUpdate();
    EXPECT_EQ(peek(0, {K1 + 12, K1 + 4, R1}), (Words{c.lines << 16, 99, c.layout}));
    const Words limits = writesTo(L1);  // rows 0..3, two each
    ASSERT_EQ(limits.size(), 8u);
    EXPECT_EQ((Words{limits[2], limits[3]}), (Words{c.count == 0 ? 0x203FFu : 0x20068u, c.bottom}));
  }
  // The five windows of the last row set with five: x / 2 and the source code, the fifth below R.
  row(MX_MULTI2, 1, 8518, 5, INPUTS);
  mxMvUpdate();
  EXPECT_EQ(peek(R1 + 16, {0, 4, 8, 12}), (Words{0, 192 | 1u << 16, 384 | 2u << 16, 576 | 3u << 16}));
  EXPECT_EQ(regPeek(R1 - 36), 768 | 4u << 16);
}

TEST_F(MvTest, EnableFollowsTheLayoutByAFrameAndABlankHoldsItOffForFourFrames) {
  row(MX_MULTI1, 0, 8512, 2, INPUTS);
  Words control;
  auto frames = [&](int n) {
    for (int k = 0; k < n; ++k) {
      traceClear();
      mxMvUpdate();
      const Words w = writesTo(K0);
      control.push_back(w.empty() ? 0 : w.back());
    }
  };
  frames(3);
  EXPECT_EQ(control, (Words{0x3001, 0xB001, 0xB001}));
  control.clear();
  traceClear();
  mxMvBlank();
  EXPECT_EQ(writesTo(K0), Words{0x3001});
  frames(5);
  EXPECT_EQ(control, (Words{0, 0, 0, 0, 0xB001}));
}

TEST_F(MvTest, EightWindowGuiRowWaitsEightCallsAfterAReset) {
  for (int call = 0; call < 8; ++call) mxMvSetRow(MX_MULTI_GUI, 1, 8512, 0, 8, nullptr, INPUTS);
  mxMvUpdate();
  EXPECT_EQ(regPeek(RG), 0x101u);  // still the reset layout
  mxMvSetRow(MX_MULTI_GUI, 1, 8512, 0, 8, nullptr, INPUTS);
  mxMvUpdate();
  // Size code 8, eight windows, from line 136.
  EXPECT_EQ(peek(0, {RG, KG + 4, KG + 12}), (Words{0x711, 135, 135u << 16}));
  EXPECT_EQ(peek(RG + 16, {0, 4, 8, 12}), (Words{0, 120 | 1u << 16, 240 | 2u << 16, 360 | 3u << 16}));
  EXPECT_EQ(peek(RG - 64 - 16, {0, 4, 8, 12}), (Words{480 | 4u << 16, 600 | 5u << 16, 720 | 6u << 16, 840 | 7u << 16}));
}

TEST_F(MvTest, SourceCodes) {
  struct Case { int id; u32 code; } cases[] = {
      {4352, 0}, {4499, 147}, {4512, 148}, {4555, 191}, {4556, 192}, {4640, 193}, {4646, 196}, {4670, 208}};
  for (const Case& c : cases) {
    mxMvSetRow(MX_MULTI3, 0, 8512, 0, 1, XS, &c.id);
    mxMvUpdate();
    EXPECT_EQ(regPeek(0x83001A90) >> 16, c.code) << c.id;
  }
}

TEST_F(MvTest, PairedModeMirrorsOutputsZeroAndOneAndBlacksWhatTheSecondFpgaLacks) {
  startBoard(1);
  passBlank();
  row(MX_MULTI1, 0, 8512, 2, INPUTS);
  const int sources[4] = {4370, 4367, 4484, 4555};  // input 19, input 16, still 3, multiview 4
  mxMvSetRow(MX_MULTI3, 0, 8516, 300, 4, XS, sources);
  mxMvUpdate();
  mxMvUpdate();
  EXPECT_EQ(regPeek(K0), 0xB001u);
  // Output 2's control block holds output 0's mirror, the control word with 1024; none of its own.
  EXPECT_EQ(peek(K0 + 0x80, {0, 4, 8, 12}), (Words{0xB401, 99, 0x07800800, 270u << 16}));
  EXPECT_EQ(peek(0x83001A90, {0, 4, 8, 12}), (Words{147u << 16, 192 | 15u << 16, 384 | 147u << 16, 576 | 147u << 16}));

  startBoard(2);  // 4K: input 4n + 1 is input n + 1, the others black
  const int quad[2] = {4356, 4354};
  row(MX_MULTI1, 0, 8512, 2, quad);
  mxMvUpdate();
  EXPECT_EQ(peek(R0 + 16, {0, 4}), (Words{1u << 16, 192 | 147u << 16}));
}

}  // namespace
