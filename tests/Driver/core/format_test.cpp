// Format timing, clock PLLs and board monitoring, against the board's device models.

#include "Platform/watchdog.h"
#include "tests/Driver/driver_test.h"

using namespace driver_test;

namespace {

using FormatTest = FreshBoardTest;

// Temperature ports: glue, ME1, ME2, SDI1, SDI2.
constexpr u32 PORTS[5] = {GLUE_XADC, MX_ME1_BASE + FPGA_XADC, MX_ME2_BASE + FPGA_XADC, MX_SDI1_BASE + FPGA_XADC,
                          MX_SDI2_BASE + FPGA_XADC};
constexpr u32 ME2_PLL = MX_ME2_BASE + FPGA_PLL, SDI1_PLL = MX_SDI1_BASE + FPGA_PLL, SDI2_PLL = MX_SDI2_BASE + FPGA_PLL;

TEST_F(FormatTest, AlarmWordFromTemperaturesPowerStatusAndUnits) {
  mxSetTemperatureAlarm(PORTS[0], 90);
  for (int i = 1; i < 5; ++i) mxSetTemperatureAlarm(PORTS[i], 100);
  // code(102), code(90) of ME2; code(92) of the glue.
  EXPECT_EQ((Words{xadcRegister(PORTS[2], XADC_UPPER_THRESHOLD), xadcRegister(PORTS[2], XADC_LOWER_THRESHOLD),
                   xadcRegister(PORTS[0], XADC_UPPER_THRESHOLD)}), (Words{48783, 47223, 47483}));
  struct Step { int fpga; double celsius; u32 word; } const steps[] = {
      {2, 101.9, 0}, {2, 102.0, (1u << 9) | 0x20},                        // ME2 over its upper threshold
      {0, 92.0, (1u << 7) | (1u << 9) | 0x20}, {2, 95.0, (1u << 7) | (1u << 9) | 0x20},  // held until below
      {2, 89.9, (1u << 7) | 0x20}, {0, 70.0, 0}, {3, 105.0, (1u << 10) | 0x20}};          // the lower one
  for (const auto& s : steps) {
    setFpgaTemperature(PORTS[s.fpga], s.celsius);
    EXPECT_EQ(mxGetAlarmStatus(), s.word) << s.celsius;
  }
  setFpgaTemperature(PORTS[3], 70.0);
  struct Case { u32 status, board, word; } const cases[] = {
      {0x01, 0x60, 0x41}, {0x7F, 0x60, 0},     // unit faults without units count for nothing
      {0x47, 0x40, 0x02}, {0x6F, 0x40, 0x08},  // unit A: bit 5 clear, bit 3 set
      {0x77, 0x40, 0},    {0x77, 0x00, 0x10}, {0x27, 0x00, 0x04}};  // unit B's bit 4 only when fitted; its bit 6
  for (const auto& c : cases) {
    regPoke(BOARD_POWER_STATUS, c.status);
    regPoke(BOARD_STRAPS, c.board);
    EXPECT_EQ(mxGetAlarmStatus(), c.word) << c.status << " " << c.board;
  }
  int a = -1, b = -1;
  regPoke(BOARD_STRAPS, 0x12340020);
  EXPECT_EQ(mxReadPowerUnitFlags(&a, &b), 0x12340020u);
  EXPECT_EQ(a * 10 + b, 1);
}

struct Restarted { EndReason reason; };

TEST_F(FormatTest, PowerDownRestartsTheBoard) {
  setEndHandler([](EndReason reason, u32) { throw Restarted{reason}; });
  watchdogAttach();  // the armed watchdog ends the halt
  regPoke(BOARD_POWER_STATUS, 0x66);
  traceClear();
  EndReason reason = EndReason::Halt;
  try {
    mxGetAlarmStatus();
  } catch (const Restarted& r) {
    reason = r.reason;
  }
  watchdogDetach();
  setEndHandler(nullptr);
  EXPECT_EQ(reason, EndReason::Restart);
  EXPECT_EQ(consoleCount("[ERR] Detecting power down"), 1);
  EXPECT_EQ(writesTo(GLUE_WDT_CONTROL), Words{0x5AF1});  // watchdog armed with 1 s
}

TEST_F(FormatTest, PllRowsKeepTheirMaskByFormat) {
  // value, valueSd: expected after, in other formats / in the 480- and 576-line ones.
  struct Row { u32 base; int port; u8 reg; u16 before, value, valueSd; } const rows[] = {
      {ME1_PLL, 1, 0x28, 0x1234, 0xFFFF, 0xFFFF},  // keep mask 0: all bits written
      {ME1_PLL, 1, 0x08, 0xFFFF, 0x1208, 0x1596},  // keep 0x1000
      {ME1_PLL, 1, 0x08, 0x0000, 0x0208, 0x0596},  {ME1_PLL, 2, 0x18, 0xFFFF, 0xFD90, 0xFCFA},
      {GLUE_PLL, 0, 0x0A, 0x0000, 0x0082, 0x0208}, {SDI2_PLL, 0, 0x1A, 0x8000, 0xFFE9, 0xFFE9}};
  for (int format : {0, 2, 4, 5, 7}) {
    useFormat(format, 0);
    for (const auto& r : rows) {
      resetBoardDevices();
      pll(r.base, r.port).drp[r.reg] = r.before;
      EXPECT_EQ(mxPllInitialize(r.base, r.port), 0);
      EXPECT_EQ(pll(r.base, r.port).drp[r.reg], format == 4 || format == 5 ? r.valueSd : r.value)
          << format << " " << int{r.reg};
    }
  }
  // A port without rows only restarts; the other ports' reset bits survive (port 3 held in reset).
  pll(ME1_PLL, 0).drp[0x28] = 0x1111;
  EXPECT_EQ(mxPllInitialize(ME1_PLL, 0), 0);
  EXPECT_EQ(pll(ME1_PLL, 0).drp[0x28], 0x1111);
  mxWriteReg(ME1_PLL, 1u << 3);
  traceClear();
  EXPECT_EQ(mxPllInitialize(ME1_PLL, 1), 0);
  EXPECT_EQ(writesTo(ME1_PLL), (Words{0xA, 0x8}));
}

TEST_F(FormatTest, PllThatDoesNotLockIsRetriedThenLeftAndStuckPortsFailTheCheck) {
  pll(ME2_PLL, 0).failLocks = 2;
  EXPECT_EQ(mxPllInitialize(ME2_PLL, 0), 0);
  pll(ME1_PLL, 3).failLocks = -1;
  EXPECT_EQ(mxPllInitialize(ME1_PLL, 3), -1);
  EXPECT_EQ(consoleCounts({"[WARN] Retry(1): PLL(83000400:0) Initialize", "PLL(83000400", "Retry(4): PLL(82000400:3)",
                           "[ERR] PLL(82000400:3) Initialize"}), (std::vector<int>{1, 2, 1, 1}));
  EXPECT_EQ(pll(ME1_PLL, 3).releases, 5);

  xadcSetStuck(PORTS[3], true);
  EXPECT_THROW(mxSetTemperatureAlarm(PORTS[3], 100), assert::AssertException);
  pllSetStuck(SDI1_PLL, true);
  EXPECT_THROW(mxPllInitialize(SDI1_PLL, 0), assert::AssertException);
  EXPECT_EQ(consoleCount("cnt < 100"), 2);
}

TEST_F(FormatTest, WindowTimingAndStillWindows) {
  struct Case { int code, boardMode; u32 width, height, stillWidth, stillHeight; } const cases[] = {
      {0, 0, 1920, 540, 1919, 546}, {4, 0, 720, 244, 767, 258}, {5, 0, 720, 288, 767, 290},
      {3, 0, 1280, 720, 1279, 722}, {9, 1, 1920, 540, 1919, 546}};
  auto source = [](u32 window, u32 k) { return window + WINDOW_SOURCES + 4 * k; };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    useFormat(c.code, c.boardMode);
    regReset();
    mxInitWindowTiming();
    mxStillInitialize();
    const bool paired = c.boardMode == 1;
    const u32 h = c.height, me2 = paired ? MX_ME2_PAIRED_BASE : MX_ME2_BASE, w1 = me2 + ME_MIXER_WINDOW_1;
    const u32 player4 = ME1_PLAYER_WINDOWS[3], still = ME1_STILL_WINDOWS[1];
    expectRegs({{source(w1, 0), 0x8C00}, {w1 + WINDOW_LAST_PIXEL, c.width - 1}, {me2 + ME_FIELD_BOTTOM, h + 2},
                {(paired ? MX_ME1_BASE : MX_ME1_PAIRED_BASE) + ME_MIXER_WINDOW_1, 0},
                {player4 + WINDOW_TOPS[0], 1}, {player4 + WINDOW_BOTTOMS[3], h + 1},  // line offset -1
                {source(ME2_OUTPUT_WINDOW_2, 2), paired ? 0xB000u : 0xB400u}, {source(ME2_OUTPUT_WINDOW_3, 0), 0xA201},
                {still + STILL_STRIDE, 2048}, {still + STILL_LAST_PIXEL, c.stillWidth},
                {still + STILL_BOTTOM, c.stillHeight}});
  }
}

TEST_F(FormatTest, FormatTimingPresetsAndTheDefault) {
  // A row of each line class, flag and an out-of-range preset; preset -1: the default timing of the
  // format, which also clears the timing mode.
  struct Case { int format, preset, flag; Words timing; } const cases[] = {
      {2, 0, 1, {4, 824, 479, 0, 91}}, {2, 9, 1, {0, 236, 479, 0, 91}}, {0, 3, 1, {6, 520, 493, 0, 90}},
      {4, 0, 1, {4, 928, 479, 80, 91}}, {5, -1, 0, {0, 336, 479, 16, 91}}, {7, -1, 0, {0, 149, 509, 0, 91}}};
  for (const auto& c : cases) {
    useFormat(c.format, 0);
    mxWriteReg(GLUE_TIMING_MODE, 9);
    if (c.preset < 0) mxSetDefaultFormatTiming();
    else mxSetFormatTiming(c.preset, c.flag);
    Words timing = peek(GLUE_TIMING_VALUES, {0, 4, 8, 12});
    timing.insert(timing.begin(), regPeek(GLUE_TIMING_MODE));
    EXPECT_EQ(timing, c.timing) << c.format << " " << c.preset << " " << c.flag;
  }
  EXPECT_EQ(regPeek(GLUE_TIMING_CONTROL), 0x3E000440u);
}

}  // namespace
