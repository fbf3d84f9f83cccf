// SD down-converters: geometry, filters, modes and the transmitter re-lock, on the register file.
#include "Driver/outconv/outconv.h"

#include "Driver/outconv/regs.h"
#include "tests/Driver/driver_test.h"

namespace {

using namespace outconv_regs;
using namespace driver_test;

constexpr u32 CONV_14 = MX_SDI1_BASE + CONVERTER, CONV_16 = MX_SDI2_BASE + CONVERTER;
constexpr u32 TX_14 = MX_SDI1_BASE + TRANSMITTER;

// The three filter tables of the last load, in the order sent: first and second horizontal, vertical.
std::vector<Words> tables(u32 conv) {
  Words data = writesTo(conv + TABLE_DATA);
  EXPECT_EQ(writesTo(conv + TABLE_SELECT), (Words{SELECT_HORIZONTAL_1, SELECT_HORIZONTAL_2, SELECT_VERTICAL}));
  EXPECT_EQ(data.size(), 3u * 2048);
  data.resize(3 * 2048);
  return {Words(data.begin(), data.begin() + 2048), Words(data.begin() + 2048, data.begin() + 4096),
          Words(data.begin() + 4096, data.end())};
}

using OutConvTest = testing_support::BoardTest;

TEST_F(OutConvTest, KernelsAndFilterTablesSumToUnityAtEveryLevel) {
  const float* a = mxOutConvLowPass();
  const float* b = mxOutConvDetail();
  EXPECT_NEAR(a[3328], 0.60793, 1e-5);   // x = 0.5
  EXPECT_NEAR(b[3584], -0.30396, 1e-5);  // x = 1

  mxOutConvStart();  // h = 0.375, v = 0.45
  std::vector<std::vector<Words>> byLevel;
  for (int level = 0; level <= 6; ++level) {
    platform::traceClear();
    mxOutConvSetFilterLevel(MX_OUT_14, level);
    byLevel.push_back(tables(CONV_14));
    // Each row of taps (entries row + 64 k) sums to 16384 within rounding.
    for (size_t t = 0; t < 3; ++t) {
      const int taps = t == 2 ? 16 : 32;
      for (int row = 0; row < (t == 2 ? 128 : 64); ++row) {
        const int base = row % 64 + 1024 * (row / 64);
        int sum = 0;
        for (int k = 0; k < taps; ++k) sum += static_cast<int>(byLevel.back()[t][base + 64 * k]);
        EXPECT_NEAR(sum, 16384, taps / 2) << "level " << level << " table " << t << " row " << row;
      }
    }
  }
  EXPECT_TRUE(byLevel[0] == byLevel[1] && byLevel[6] == byLevel[1]);  // levels 0 and 6 act as 1
  EXPECT_NE(byLevel[5], byLevel[1]);
  // Worked taps at level 1 (h = 0.375): phase 0 at t = 0 and -1, phase 32 at t = 1; an outer tap
  // whose sample lies before the table's start is 0.
  const Words& h1 = byLevel[1][0];
  EXPECT_EQ((Words{h1[0 + 64 * 15], h1[0 + 64 * 14], h1[32 + 64 * 16], h1[63]}), (Words{6162, 4709, 5988, 0}));
  EXPECT_EQ(byLevel[1][1][16 + 64 * 14], 0u);  // second table: taps of the other parity are 0
}

TEST_F(OutConvTest, AspectGeometryByFormatAndMode) {
  const struct { int code, mode; Words conv; u32 first, last, txTiming; } cases[] = {
      {0, MX_OUTCONV_SQUEEZE, {0, 12288, 1926, 14751, 547, w(-1), 0, 32768, 5898}, 0, 245, 42},
      {0, MX_OUTCONV_SIDE_CROP, {0, 16384, 1926, 14751, 547, 239, 0, 0, 5898}, 0, 245, 42},
      {0, MX_OUTCONV_LETTERBOX, {0, 12288, 1926, 11044, 547, w(-1), w(-1), 32768, w(-16384)}, 31, 213, 42},  // y -1.5
      {2, MX_OUTCONV_SIDE_CROP, {1, 24576, 1286, 11063, 727, 159, 0, 0, 3932}, 0, 244, 40},
      {3, MX_OUTCONV_LETTERBOX, {1, 18432, 1286, 9830, 727, w(-1), 0, 32768, 0}, 36, 253, 40},
      {3, 13080, {1, 18432, 1286, 13107, 727, w(-1), 0, 32768, 0}, 0, 290, 42}};  // acts as squeeze
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.code << " " << c.mode);
    useFormat(c.code, 0);
    mxOutConvSetAspectMode(MX_OUT_16, c.mode);
    EXPECT_EQ(peek(CONV_16, {PROGRESSIVE, H_RATIO, LINE_END, V_RATIO, LINES, H_CROP, V_OFFSET, H_PHASE, V_PHASE}),
              c.conv);
    EXPECT_EQ(peek(MX_SDI2_BASE, {COEFFS + V_WINDOW_FIRST, COEFFS + V_WINDOW_LAST, SD_TX_TIMING}),
              (Words{c.first, c.last, c.txTiming}));
    EXPECT_EQ(writesTo(CONV_16 + TABLE_DATA).size(), 3u * 2048);
  }
  useFormat(4, 0);  // the 480/576-line formats have no down-conversion
  mxOutConvSetAspectMode(MX_OUT_16, MX_OUTCONV_SQUEEZE);
  EXPECT_EQ(platform::traceWriteCount(), 0u);
}

TEST_F(OutConvTest, PhaseAndScaleModes) {
  useFormat(3, 0);  // the phase pair of the format and mode reaches the converter
  mxOutConvSetPhaseMode(MX_OUT_14, MX_OUTCONV_PHASE_2);
  EXPECT_EQ(peek(CONV_14, {PHASE_MODE, PHASE_A, PHASE_B}), (Words{1, 620, 748}));
  const struct { int on; float ratio; u32 mode; } scales[] = {
      {1, 4259 / 4096.0f, 3}, {1, 4423 / 4096.0f, 5}, {1, 1.0f, 1}, {0, 4259 / 4096.0f, 7}};
  for (auto s : scales) {
    mxOutConvSetScaleMode(MX_OUT_16, s.on, s.ratio);
    EXPECT_EQ(regPeek(CONV_16 + SCALE_MODE), s.mode) << s.ratio;
  }
}

TEST_F(OutConvTest, EnableRelocksTheTransmitter) {
  // resetSteps: transmitter re-lock writes; lines: the console line
  const struct { int code, boardMode, on; u32 convLock, txLock; size_t resetSteps; int lines; } cases[] = {
      {0, 0, 1, 0, 0, 25, 1},  // never locks: five tries
      {0, 0, 1, 7, 0, 5, 0},
      {0, 0, 0, 1, 3, 5, 0},   // converter bit 0 with the transmitter's two bits
      {0, 0, 1, 3, 1, 25, 1},  // bit 2 missing
      {10, 2, 1, 0, 0, 0, 0}};  // 4K: no re-lock
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.convLock << " " << c.txLock << " " << c.boardMode);
    useFormat(c.code, c.boardMode);
    regPoke(CONV_14 + LOCK, c.convLock);
    regPoke(TX_14 + TX_LOCK, c.txLock);
    mxOutConvSetEnable(MX_OUT_14, c.on);
    EXPECT_EQ(regPeek(TX_14 + TX_ENABLE), static_cast<u32>(c.on));
    EXPECT_EQ(regPeek(TX_14 + TX_MODE), c.on != 0 ? 21u : 85u);
    const Words steps = writesTo(TX_14 + TX_RESET);
    EXPECT_EQ(steps.size(), c.resetSteps);
    if (!steps.empty()) {
      EXPECT_EQ(Words(steps.begin(), steps.begin() + 5), (Words{15, 7, 3, 1, 0}));
    }
    EXPECT_EQ(consoleCount("after change D/C mode, SDI_TX is not locked"), c.lines);
  }
}

TEST_F(OutConvTest, TenthFrameStartsBothConvertersSqueezed) {
  mxInitialize(0, 1.0f);
  EXPECT_EQ(regPeek(MX_SDI1_BASE + SD_FORMAT), 4u);
  EXPECT_EQ(regPeek(MX_SDI2_BASE + SD_FRAME + 28), 245u);
  for (int frame = 0; frame < 10; ++frame) mxUpdate();
  EXPECT_EQ(regPeek(CONV_14 + H_RATIO), 0u);
  mxUpdate();
  for (u32 conv : {CONV_14, CONV_16}) {
    EXPECT_EQ(regPeek(conv + H_RATIO), 12288u);  // 720 / 1920
    EXPECT_EQ(regPeek(conv + TABLE_SELECT), SELECT_VERTICAL);  // the last of the three tables
  }
}

}  // namespace
