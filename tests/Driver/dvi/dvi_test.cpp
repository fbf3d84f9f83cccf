// DVI inputs: receiver set-up over I2C, timing detector, scaler, sync offset and EDID memory.

#include "Driver/dvi/dvi.h"
#include "Driver/dvi/regs.h"
#include "tests/Driver/driver_test.h"

namespace {

using namespace dvi_regs;
using namespace driver_test;

constexpr u32 IN_1 = 0x84001100, IN_2 = 0x85001100;

// What the timing detector of an input reports: total pixels and lines, active pixels and lines, period.
using Signal = std::array<u32, 5>;
constexpr Signal P720 = {1650, 750, 1280, 720, 834166};  // 59.94 Hz
constexpr Signal P1080 = {2200, 1125, 1920, 1080, 834166};
constexpr Signal I1080 = {2200, INTERLACED | 563 | 562 << 16, 1920, 540 | 540 << 16, 1000000};  // 50 Hz
constexpr Signal NONE = {2200, 1125, 1920, 1080, 0};

void feed(u32 input, const Signal& s) {
  const u32 words[5] = {TOTAL_PIXELS, TOTAL_LINES, ACTIVE_PIXELS, ACTIVE_LINES, PERIOD};
  for (int k = 0; k < 5; ++k) regPoke(input + words[k], s[k]);
}

using DviTest = testing_support::BoardTest;

TEST_F(DviTest, ScalerRatiosPositionsAndFilters) {
  const u32 words[] = {H_MODE,     H_STEP,  H_PHASE,  H_TAP,       H_START, OUT_X,  OUT_WIDTH,
                       H_SOURCE_WIDTH, H_SOURCE_END, V_STEP, V_DOWN_STEP, V_PHASE, V_BASE, V_START,
                       OUT_Y,      OUT_HEIGHT, FIELD_MODE};
  const struct {
    int code, channel;
    Signal signal;
    float x, y, sx, sy;
    Words regs;                                 // in the order of words
    std::vector<std::pair<size_t, u32>> table;  // entries sent to the table port
  } cases[] = {
      // r = 1.5, q = 0.75
      {0, MX_DVI_IN_1, P720, 0, 0, 1, 1,
       {0, 21845, 10922, 7, 0, 0, 1920, 1300, 1280, 24576, 32768, 32768, 49152, 0, 1, 542, 0},
       {{16, 0}, {48, w(-963)}, {80, 8673}, {112, 8673}, {128 + 24 + 64, 16384}}},
      // interlaced, enlarged twice: r = 2, q = 2 counts as 1; x starts 240 pixels into the source
      {0, MX_DVI_IN_2, I1080, -0.25f, 0.25f, 2, 2,
       {2, 16384, 0, 10, 240, 0, 1920, 980, 1200, 32768, 16384, 32768, 32768, 0, 136, 542, 2}, {}},
      // 720-line output, interlaced input reduced: r = 2/3, q = 2/3 with the phase q / 2
      {2, MX_DVI_IN_2, I1080, 0, 0, 1, 0.5f,
       {3, 21845, 26214, 2, 0, 0, 1280, 1940, 1920, 21845, 32768, 43690, 32768, 0, 0, 362, 2}, {}},
      // an extreme enlargement: the first tap 5 r saturates at the largest int
      {0, MX_DVI_IN_1, P1080, 0, 0, 1e9f, 1,
       {0, 0, 93471, 0x7FFFFFFF, 0, 0, 1920, 20, 0, 16384, 32768, 32768, 49152, 0, 1, 542, 0}, {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.code << " " << c.sx);
    useFormat(c.code, 0);
    const u32 input = c.channel == MX_DVI_IN_1 ? IN_1 : IN_2;
    feed(input, c.signal);
    mxDviSetScaler(c.channel, c.x, c.y, c.sx, c.sy);
    Words regs;
    for (u32 word : words) regs.push_back(regPeek(input + word));
    EXPECT_EQ(std::make_tuple(regs, writesTo(input + APPLY)), std::make_tuple(c.regs, (Words{2, 0})));
    const Words table = writesTo(input + TABLE_DATA);
    for (auto [entry, value] : c.table) EXPECT_EQ(table.at(entry), value) << entry;
  }
  // Without a signal the scaler stays as it is; applying takes it.
  feed(IN_1, NONE);
  platform::traceClear();
  mxDviSetScaler(MX_DVI_IN_1, 0, 0, 1, 1);
  EXPECT_EQ(platform::traceWriteCount(), 0u);
  mxDviApplyScaler(MX_DVI_IN_1);
  EXPECT_EQ(writesTo(IN_1 + APPLY), (Words{1, 0}));
}

TEST_F(DviTest, SyncOffsetWrapsInsideTheTotals) {
  const struct { Signal signal; int h, v; Words regs; } cases[] = {
      {P720, 10, 5, {1634, 1264, 744 | 744 << 16, 714 | 714 << 16, 1}},
      {P720, 1700, -20, {1594, 1224, 19 | 19 << 16, 739 | 739 << 16, 1}},  // both wrap
      {I1080, 0, -3, {2194, 1914, 2 | 565 << 16, 542 | (1105u << 16), 1}}};
  for (const auto& c : cases) {
    feed(IN_1, c.signal);
    mxDviSetSyncOffset(MX_DVI_IN_1, c.h, c.v);
    EXPECT_EQ(peek(IN_1, {SYNC_H_START, SYNC_H_END, SYNC_V_START, SYNC_V_END, SYNC_ON}), c.regs) << c.h << " " << c.v;
  }
  // Off, and without a signal: only the switch.
  platform::traceClear();
  mxDviSetSyncOffset(MX_DVI_IN_1, 0, 0);
  feed(IN_1, NONE);
  mxDviSetSyncOffset(MX_DVI_IN_1, 10, 3);
  EXPECT_EQ(std::make_tuple(writesTo(IN_1 + SYNC_ON), platform::traceWriteCount()), std::make_tuple((Words{0, 0}), 2u));
}

TEST_F(DviTest, EdidIsWrittenThenVerifiedUpToTheFirstWrongByte) {
  u8 edid[DVI_EDID_BYTES];
  for (int i = 0; i < DVI_EDID_BYTES; ++i) edid[i] = static_cast<u8>(i ^ 0x5A);
  platform::I2cDevice& memory = platform::i2cDevice(0x85001020, 0x50);
  EXPECT_EQ(mxDviWriteEdid(MX_DVI_IN_2, edid), 0);
  EXPECT_EQ(memory.writes, 256u);

  memory.wrongReads = 3;  // the first three read-backs come back inverted
  EXPECT_EQ(mxDviWriteEdid(MX_DVI_IN_2, edid), 1);
  EXPECT_EQ(consoleCount("EDID: Verify ERROR adr:0 a5 must be 5a"), 1);
  EXPECT_EQ(consoleCount("EDID:"), 1);
  EXPECT_EQ(memory.wrongReads, 2);  // verification stopped at the first
  EXPECT_EQ(mxDviWriteEdid(MX_DVI_IN_2, nullptr), -1);
}

}  // namespace
