// Colour correction units: immediate register writes checked in the register file and its trace.
#include "Driver/cc/cc.h"

#include "Driver/cc/regs.h"
#include "Main/framework/vsync.h"
#include "tests/Driver/driver_test.h"

namespace {

using namespace cc_regs;
using namespace driver_test;

constexpr u32 IN_25 = 0x84002000, OUT_13 = 0x84002200;  // units 0 and 8
constexpr u32 at(u32 unit, u32 word) { return unit + 4 * word; }

using CcTest = testing_support::BoardTest;

TEST_F(CcTest, TargetsMapToTheirUnitsAndOthersWriteNothing) {
  const struct { int boardMode, code, target; u32 unit; } cases[] = {
      {0, 0, MX_IN_29, 0x85002000}, {0, 0, MX_IN_32, 0x850020C0}, {0, 0, MX_OUT_16, 0x85002240},
      {1, 8, MX_IN_27, 0x85002000}, {1, 8, MX_OUT_14, 0x85002200},  // paired FPGAs: units 4 and 10
      {1, 8, MX_IN_30, 0x85002240}};                                 // unlisted: unit 11
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    useFormat(c.code, c.boardMode);
    mxColorCorrectSetMatrixMode(c.target, MX_CC_MATRIX_SD);
    EXPECT_EQ(writesTo(at(c.unit, MATRIX_MODE)), Words{2});
  }
  useFormat(0, 0);
  for (int target : {int{MX_IN_24}, int{MX_OUT_12}, MX_OUT_16 + 1}) {
    EXPECT_THROW(mxColorCorrectReset(target), assert::AssertException);
  }
  EXPECT_EQ(platform::traceWriteCount(), 0u);
}

TEST_F(CcTest, CurvesGoOutAsARingInsideADeferringStretch) {
  // Every write to the table port while the frames are not deferred counts.
  struct Probe : platform::RegisterDevice {
    int writes = 0, undeferred = 0;
    void write(u32, u32) override { ++writes, undeferred += vsyncGuard().busy == 0; }
  } probe;
  platform::attachDevice(at(OUT_13, TABLE_DATA), 4, &probe);
  float c0[CC_CURVE_ENTRIES] = {}, c1[CC_CURVE_ENTRIES], c2[CC_CURVE_ENTRIES] = {};
  c0[0] = 0.25f, c0[96] = 3.0f, c0[97] = -2.0f, c0[255] = 0.5f;
  for (float& v : c1) v = 0.5f;
  mxColorCorrectSetEnable(MX_OUT_13, 5);
  mxColorCorrectSetCurves(MX_OUT_13, c0, c1, c2);
  platform::detachDevice(&probe);
  EXPECT_EQ(std::make_tuple(probe.writes, probe.undeferred, vsyncGuard().busy), std::make_tuple(3 * 512, 0, 0));

  EXPECT_EQ(writesTo(at(OUT_13, TABLE_ADDRESS)), (Words{0, 512, 1024}));
  const Words data = writesTo(at(OUT_13, TABLE_DATA));
  ASSERT_EQ(data.size(), 3u * 512);
  // Position 0 holds entry 96: {10240, -16383}; entry 97 {0xE801, 6143}; entry 255 at position 159
  // {2048, 0}; entry 0 at 160 {1024, -1024}; entry 95 at 255 {0, 10240}; then curve 1.
  const struct { int index; u32 value; } words[] = {
      {0, 10240}, {1, w(-16383)}, {2, 0xFFFFE801}, {3, 6143}, {318, 2048}, {319, 0}, {320, 1024},
      {321, w(-1024)}, {510, 0}, {511, 10240}, {512, 2048}, {513, 0}, {1023, 0}};
  for (auto x : words) EXPECT_EQ(data[x.index], x.value) << x.index;
  EXPECT_EQ(regPeek(at(OUT_13, ENABLE)), 5u + 0x7000);
}

TEST_F(CcTest, GainsLevelsAndSectorMatrices) {
  const struct { int id; float value; u32 word, expected; } gains[] = {
      {13088, 0.5f, 2, w(-2048)}, {13089, 0.5f, 3, w(-2048)}, {13090, 2.0f, 4, 4095},
      {13091, -0.25f, 5, w(-1024)}, {13092, 0.5f, 6, 2048}, {13093, -3.0f, 7, 4095}};
  for (auto g : gains) {
    mxColorCorrectSetGain(MX_IN_25, g.id, g.value);
    EXPECT_EQ(regPeek(at(IN_25, g.word)), g.expected) << g.id;
  }
  const struct { float gain, pedestal; Words words; } levels[] = {
      {3.0f, -2.0f, {2047 * 16, w(-1023 * 16)}}, {-1.0f, 2.0f, {0, 1023 * 16}}, {1.0f, 0.0f, {876 * 16, 64 * 16}}};
  for (const auto& l : levels) {
    mxColorCorrectSetLevel(MX_IN_25, l.gain, l.pedestal);
    EXPECT_EQ(peekWords(IN_25, {LEVEL_GAIN, PEDESTAL}), l.words) << l.gain;
  }

  const float m[4] = {0.5f, -0.25f, 3.0f, 0.125f};  // 2048, -1024, 8191 (limited), 512
  const struct { int sector; u32 address; Words values; } sectors[] = {  // slot 1 writes its four twice
      {4, 1556, {w(-2048), 1024, 8191, 512, w(-2048), 1024, 8191, 512}}, {8, 1580, {2048, w(-1024), w(-8191), w(-512)}},
      {10, 1588, {w(-2048), 1024, w(-8191), w(-512), w(-2048), 1024, w(-8191), w(-512)}}};
  for (const auto& s : sectors) {
    platform::traceClear();
    mxColorCorrectSetHueMatrix(MX_IN_25, s.sector, m);
    EXPECT_EQ(writesTo(at(IN_25, TABLE_ADDRESS)), Words{s.address}) << s.sector;
    EXPECT_EQ(writesTo(at(IN_25, TABLE_DATA)), s.values) << s.sector;
  }
}

TEST_F(CcTest, EnableTimingFollowsTheFormatAndResetRestoresTheUnit) {
  const struct { int code; u32 a, b; } cases[] = {{5, 2021, 2555}, {2, 1931, 2275}};
  for (auto c : cases) {
    useFormat(c.code, 0);
    platform::regPoke(at(OUT_13, ZERO_A), 7);
    mxColorCorrectReset(MX_OUT_13);
    EXPECT_EQ(peekWords(OUT_13, {ENABLE, TIMING_A, ZERO_A, ZERO_B, TIMING_B, COEFF, COEFF + 5, LEVEL_GAIN, PEDESTAL}),
              (Words{1, c.a, 0, 0, c.b, 0, 0, 876 * 16, 64 * 16}))
        << c.code;
  }
  // Twelve identity matrices, the last (quadrant 3) with every sign turned.
  const Words data = writesTo(at(OUT_13, TABLE_DATA));
  ASSERT_EQ(data.size(), 64u);
  EXPECT_EQ(Words(data.begin(), data.begin() + 4), (Words{4096, 0, 0, 4096}));
  EXPECT_EQ(Words(data.end() - 4, data.end()), (Words{w(-4096), 0, 0, w(-4096)}));
}

}  // namespace
