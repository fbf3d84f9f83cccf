// I2C channels and the board device bring-up, against the board's device models.
#include "Driver/i2c/i2c.h"

#include "Driver/i2c/regs.h"
#include "tests/Driver/driver_test.h"

using namespace driver_test;

namespace {

constexpr u32 SDI1_I2C = MX_SDI1_BASE + SDI_I2C, SDI2_I2C = MX_SDI2_BASE + SDI_I2C;
constexpr u32 FPGAS[4] = {MX_ME1_BASE, MX_ME2_BASE, MX_SDI1_BASE, MX_SDI2_BASE};
constexpr u32 PLLS[4] = {MX_ME2_BASE + FPGA_PLL, GLUE_PLL, MX_SDI1_BASE + FPGA_PLL, MX_SDI2_BASE + FPGA_PLL};
// Word k of an FPGA's first and second sync timing runs.
constexpr u32 sync(u32 fpga, u32 k) { return fpga + FPGA_SYNC_TIMING + 4 * k; }
constexpr u32 sync2(u32 fpga, u32 k) { return fpga + FPGA_SYNC_TIMING_2 + 4 * k; }

using BoardDevicesTest = FreshBoardTest;

TEST_F(BoardDevicesTest, ChannelsOpenTheirControllerAndAddressTheirDevice) {
  struct Case { int channel; u32 controller, command; u8 address; } const cases[] = {
      {1, SDI1_I2C, SDI1_I2C + I2C_COMMAND_1, 0x34}, {2, SDI1_I2C, SDI1_I2C + I2C_COMMAND_0, 0x50},
      {3, SDI2_I2C, SDI2_I2C + I2C_COMMAND_1, 0x4C}, {7, SDI2_I2C, SDI2_I2C + I2C_COMMAND_2, 0x7F},
      {8, GLUE_I2C, GLUE_I2C + I2C_COMMAND_0, 0x69}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.channel);
    traceClear();
    I2cChannel ch = i2cOpen(c.channel);
    EXPECT_EQ(writesTo(c.controller), Words{125});
    ASSERT_TRUE(i2cWrite(ch, 0x12, 0xA5));
    const u32 start = 0x100u | (c.address << 1);
    EXPECT_EQ(writesTo(c.command), (Words{start, 0x112, 0x3A5}));
    EXPECT_EQ(i2cDevice(c.command, c.address).regs[0x12], 0xA5);
    i2cDevice(c.command, c.address).regs[0x40] = 0x5C;
    traceClear();
    EXPECT_EQ(i2cRead(ch, 0x40), 0x5C);
    EXPECT_EQ(writesTo(c.command), (Words{start, 0x540, start | 1, 0x3FF}));
  }
  // Channels sharing a command register reach only their own device.
  i2cDevice(SDI1_I2C + I2C_COMMAND_1, 0x4C).regs[0x41] = 7;
  EXPECT_EQ(i2cRead(i2cOpen(1), 0x41), 0);
}

TEST_F(BoardDevicesTest, VerifyRetriesUntilTheDeviceReadsBack) {
  // retryLines, writes, reads: log lines, write and read transfers.
  struct Case { int wrongReads; bool noAck, verified; u8 value, mask; int retryLines, writes, reads; } const cases[] = {
      {10, false, true, 0x5A, 0, 0, 1, 0},       // mask 0: written once, never read
      {2, false, true, 0x5A, 0x0F, 1, 2, 3},     // one failed round, written again
      {10, false, false, 0x5A, 0x0F, 5, 6, 10},  // five failed rounds
      {0, false, true, 0x00, 0xFF, 0, 1, 1},     // a read of 0 is a value like any other
      {0, true, false, 0x5A, 0x0F, 5, 6, 10}};   // no acknowledge: reads give 0xFF
  I2cChannel ch = i2cOpen(3);
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.wrongReads << " " << int{c.value} << " " << int{c.mask});
    resetBoardDevices();
    testing_support::consoleClear();
    i2cDevice(SDI2_I2C + I2C_COMMAND_1, 0x4C).wrongReads = c.wrongReads;
    i2cDevice(SDI2_I2C + I2C_COMMAND_1, 0x4C).noAck = c.noAck;
    traceClear();
    EXPECT_EQ(i2cWriteVerify(ch, 0x07, c.value, c.mask), c.verified);
    EXPECT_EQ(consoleCount("I2C(3) write error retry("), c.retryLines);
    int writes = 0, reads = 0;
    for (u32 w : writesTo(SDI2_I2C + I2C_COMMAND_1)) writes += w == (0x300u | c.value), reads += w == 0x3FF;
    EXPECT_EQ(writes * 100 + reads, c.writes * 100 + c.reads);
  }
  // The log line gives round, register, the read value and the value under the mask (the last case's
  // 0xFF against 0x5A); 0xC3 read inverted is 0x3C, under the mask 0x30 against 0xC0.
  EXPECT_EQ(consoleCount("[ERR] I2C(3) write error retry(4): adr:07 data:0f must be 0a"), 1);
  i2cDevice(GLUE_I2C + I2C_COMMAND_0, 0x69).wrongReads = 2;
  EXPECT_TRUE(i2cWriteVerify(i2cOpen(8), 0x31, 0xC3, 0xF0));
  EXPECT_EQ(consoleCount("I2C(8) write error retry(0): adr:31 data:30 must be c0"), 1);
}

TEST_F(BoardDevicesTest, FormatCodeAndModeFlagsReachEveryFpgaAndEveryPllStartsOnce) {
  struct Case { int code, boardMode, format; bool paired; u32 glueMode; } const cases[] = {
      {5, 0, 5, false, 0}, {9, 1, 1, true, 1}, {12, 2, 6, false, 2}, {10, 2, 0, true, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    useFormat(c.code, c.boardMode);
    EXPECT_EQ(initDevices(), 1000);
    EXPECT_EQ(mxReadReg(GLUE_FORMAT), static_cast<u32>(c.format));
    for (u32 base : FPGAS) {
      EXPECT_EQ(mxReadReg(base + FPGA_FORMAT), static_cast<u32>(c.format));
      EXPECT_EQ(mxReadReg(base + FPGA_MODE), c.paired ? 1u : 0u);
      EXPECT_EQ(regPeek(base + XCVR_TX_CONTROL), 15u);
    }
    EXPECT_EQ(mxReadReg(GLUE_MODE), c.glueMode);
  }
  for (int port = 0; port < 4; ++port) EXPECT_EQ(pll(ME1_PLL, port).releases, 1) << port;
  for (u32 base : PLLS) EXPECT_EQ(pll(base, 0).releases, 1);
  EXPECT_EQ(std::make_tuple(pll(PLLS[0], 1).releases, gs4915().starts), std::make_tuple(0, 1));
}

// A part that does not start is tried five times with a line each; one that never starts is
// reported, and the bring-up goes on without it (the clock part) or stops (ispClock).
TEST_F(BoardDevicesTest, PartsThatFailToStartAreRetried) {
  // sdi: brought up by initSdiTransceivers, else by initDevices.
  struct Case { std::function<void()> fault; bool sdi; const char* retry; int retries; const char* error; } const cases[] = {
      {[] { gs4915().failStarts = 2; }, false, "GS4915 Initialize retry", 2, nullptr},
      {[] { gs4915().failStarts = -1; }, false, "GS4915 Initialize retry", 5, "[ERR] ERROR: GS4915 Initialize"},
      {[] { ispClock().failStarts = -1; }, true, "ispClock Initialize retry", 5, "[ERR] ERROR: ispClock Initialize"},
      {[] { sdiTransceiver(3).lockB50 = 0; }, true, "[WARN] Retry(4) : SDI RX/TX Initialize 17ffff7", 1,
       "[ERR] ERROR : SDI RX/TX Initialize 17ffff7"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.retry);
    useFormat(0, 0);
    c.fault();
    if (c.sdi) initSdiTransceivers();
    else EXPECT_EQ(initDevices(), c.error ? -1 : 1000);
    EXPECT_EQ(consoleCounts({c.retry, "[ERR]", c.error ? c.error : "[ERR]"}),
              (std::vector<int>{c.retries, c.error ? 1 : 0, c.error ? 1 : 0}))
        << consoleText();
  }
  EXPECT_EQ(sdiTries(), 5);
  useFormat(0, 0);
  gs4915().failStarts = 2;
  initDevices();
  EXPECT_EQ(writesTo(GLUE_WDT_KICK), (Words{0xA5F0, 0xA5F0}));  // each retry kicks the watchdog
  EXPECT_EQ(writesTo(GS4915 + CLOCK_PART_CONTROL), (Words{1, 3, 1, 3, 1, 3}));
  useFormat(0, 0);
  regReset();
  ispClock().failStarts = -1;  // the transceivers are not touched
  initSdiTransceivers();
  EXPECT_EQ(std::make_tuple(sdiTries(), mxReadReg(MX_ME2_BASE + XCVR_DELAY)), std::make_tuple(0, 0u));
}

TEST_F(BoardDevicesTest, SyncTimingFollowsLineCountAndFourKFlag) {
  // Word 1 of ME2 and of the SDI FPGAs (line count and offset), then the words of ME1, ME2 and the
  // SDI FPGAs that the 4K flag sets.
  struct Case { int code, boardMode; u32 me2Lines, sdiLines, me1_1, me1_2, me2_2, me2_3, sdi_2, sdi_3; } const cases[] = {
      {0, 0, 454 + 675 + 512, 454 + 675 + 553, 455, 212, 479, 236, 418, 175},
      {4, 0, 458 + 512, 458 + 553, 455, 212, 479, 236, 418, 175},
      {13, 2, 454 + 1005 + 512, 454 + 1005 + 553, 450, 854, 474, 878, 443, 847}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    useFormat(c.code, c.boardMode);
    initSyncTiming();
    expectRegs({{sync(MX_ME1_BASE, 1), c.me1_1}, {sync(MX_ME1_BASE, 2), c.me1_2}, {sync(MX_ME2_BASE, 1), c.me2Lines},
                {sync(MX_ME2_BASE, 2), c.me2_2}, {sync(MX_ME2_BASE, 3), c.me2_3}});
    for (u32 b : {MX_SDI1_BASE, MX_SDI2_BASE}) {
      expectRegs({{sync(b, 1), c.sdiLines}, {sync(b, 2), c.sdi_2}, {sync(b, 3), c.sdi_3}});
    }
  }
}

TEST_F(BoardDevicesTest, BringUpLocksAndSetsTheDelays) {
  // mode and clock of every FPGA, link words 1 to 3 of the ME FPGAs, delays of ME2 and the SDI FPGAs.
  struct Case { int code, boardMode; u32 mode, clock, link1, link2, link3, me2Delay, sdiDelay; } const cases[] = {
      {0, 0, 3, 0x16, 0x23C000A, 0x1204A8A, 0x41000000, 675 + 41, 675 + 10},
      {9, 1, 7, 0x70016, 0x23C000A, 0x120498A, 0x41000000, 939 + 41, 939 + 10},
      {10, 2, 7, 0x70016, 0x204A8A, 0x01010101, 0x41414141, 674 + 41, 674 + 51},
      {13, 2, 3, 0x16, 0x20498A, 0x01010101, 0x41414141, 1004 + 41, 1004 + 51}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    useFormat(c.code, c.boardMode);
    initSdiTransceivers();
    EXPECT_EQ(sdiStatus(), 0x77FFFF7u);  // every receiver and transmitter of the four FPGAs locked
    EXPECT_EQ(consoleCount("SDI RX/TX"), 0);
    for (u32 b : FPGAS) expectRegs({{b + XCVR_MODE, c.mode}, {b + XCVR_ENABLE, 0xFFFF}, {b + XCVR_CLOCK, c.clock}});
    for (u32 b : {MX_ME1_BASE, MX_ME2_BASE}) {
      EXPECT_EQ(peek(b + XCVR_LINK_WORDS, {4, 8, 12}), (Words{c.link1, c.link2, c.link3}));
    }
    expectRegs({{MX_SDI1_BASE + XCVR_TX_SETUP, 85}, {MX_ME2_BASE + XCVR_DELAY, c.me2Delay},
                {MX_SDI1_BASE + XCVR_DELAY, c.sdiDelay}, {MX_SDI2_BASE + XCVR_DELAY, c.sdiDelay}});
  }
  // One try: receivers 15, 13, 8, 0; transmitters 15, 7, 3, 1, 0.
  EXPECT_EQ(writesTo(MX_SDI2_BASE + XCVR_RX_CONTROL), (Words{15, 13, 8, 0}));
  EXPECT_EQ(writesTo(MX_SDI2_BASE + XCVR_TX_CONTROL), (Words{15, 7, 3, 1, 0}));
}

TEST_F(BoardDevicesTest, FormatInitialisationAndTenthFrameRunTheBringUp) {
  mxInitialize(5, 1.0f);
  // Devices, sync timing 1 and 2, window timing, still windows, default format timing and table.
  expectRegs({{GLUE_FORMAT, 5}, {sync(MX_ME2_BASE, 1), 458 + 512}, {sync2(MX_ME1_BASE, 0), 13},
              {MX_ME2_BASE + ME_FIELD_BOTTOM, 288 + 2}, {ME1_STILL_WINDOWS[0] + STILL_BOTTOM, 290},
              {GLUE_TIMING_VALUES, 336}});
  EXPECT_EQ(writesTo(GLUE_FORMAT_TABLE_DATA).size(), 256u);
  EXPECT_EQ(pll(PLLS[3], 0).releases, 1);
  // The frame counter starts at 0: its event at 10 comes in the eleventh update.
  for (int count = 0; count <= 10; ++count) {
    mxUpdate();
    EXPECT_EQ(ispClock().starts, count < 10 ? 0 : 1) << count;
  }
  EXPECT_EQ(sdiStatus(), static_cast<u32>(SDI_STATUS_OK));
  expectRegs({{MX_ME2_BASE + XCVR_DELAY, 41}, {MX_SDI1_BASE + XCVR_DELAY, 10}});
  EXPECT_EQ(consoleCount("retry") + consoleCount("PLL(") + consoleCount("SDI RX/TX"), 0);
}

}  // namespace
