// The driver core: formats, board modes, the frame counter's events and the update's stage budgets.

#include "Driver/genlock/genlock.h"
#include "Platform/watchdog.h"
#include "tests/Driver/driver_test.h"

using namespace driver_test;

namespace {

constexpr u32 NV_MARKER = NON_VOLATILE_BASE + STORAGE_BOARD_MODE_MARKER;
constexpr u32 NV_MODE = NON_VOLATILE_BASE + STORAGE_BOARD_MODE;
constexpr u32 LOCK95 = SHARED_WINDOW_BASE + SMEM_LOCK_SLOTS + 8 * LOCK_STARTUP;
constexpr u32 STILL_2_VALID = SHARED_WINDOW_BASE + SMEM_STILL_VALID + 4;
constexpr u32 UPDATE_DMA_CONTROL = MX_DMA_REGS + MX_DMA_REG_STRIDE * MX_DMA_UPDATE + MX_DMA_CONTROL;

// Makes the update's first register read (the ME1 field bit, right after its start) take time, so
// chosen stages overrun.
struct SlowFieldRead : RegisterDevice {
  u32 delayUs = 0;
  bool read(u32, u32&) override {
    clockAdvance(static_cast<u64>(delayUs) * TICKS_PER_US);
    return false;
  }
};

class CoreTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    writeMem32(NV_MARKER, 0);  // the non-volatile window outlives a test
    writeMem32(NV_MODE, 0);
    attachDevice(MX_ME1_BASE + FPGA_FIELD, 4, &slow);
  }
  void TearDown() override {
    detachDevice(&slow);
    BoardTest::TearDown();
  }
  void boardMode(int mode) {
    writeMem32(NV_MARKER, BOARD_MODE_MARKER);
    writeMem32(NV_MODE, static_cast<u32>(mode));
  }
  SlowFieldRead slow;
};

TEST_F(CoreTest, FormatFoldingFollowsTheBoardMode) {
  // boardMode -1: no marker; refused: a paired or 4K code on a normal board, a normal code on a paired board,
  // a code below 10 in 4K mode
  struct Case { int boardMode, code; bool refused; int format; bool paired; } cases[] = {
      {-1, 9, true, 0, false}, {-1, 10, true, 0, false}, {-1, 7, false, 7, false}, {1, 9, false, 1, true},
      {1, 3, true, 0, true},    {2, 11, false, 1, true},  {2, 12, false, 6, false}, {2, 14, false, 0, false},
      {2, 9, true, 0, true}};
  for (auto c : cases) {
    SetUp();
    if (c.boardMode >= 0) boardMode(c.boardMode);
    mxBoardInit();
    testing_support::consoleClear();
    mxInitialize(c.code, 1.0f);
    SCOPED_TRACE("mode " + std::to_string(c.boardMode) + " code " + std::to_string(c.code));
    EXPECT_EQ(std::make_tuple(consoleCount("Invalid Video format"), consoleCount("mxInitialize: "), mxVideoFormat(),
                              mxPairedFpga()),
              std::make_tuple(c.refused ? 1 : 0, c.refused ? 0 : 1, c.format, c.paired));
    EXPECT_EQ(consoleCount("Invalid Video format 9 in 0 mode"), c.boardMode < 0 && c.code == 9 ? 1 : 0);
    TearDown();
  }
  SetUp();
}

TEST_F(CoreTest, BoardInitReadsTheStoredModeOnlyBehindTheMarker) {
  writeMem32(NV_MODE, 2);  // no marker: ignored
  writeMem32(STILL_2_VALID, 7);
  mxBoardInit();
  EXPECT_FALSE(mx4kMode() || mxPairedFpga());
  EXPECT_EQ(regPeek(ME1_GENLOCK_DAC), 0x80000u);
  EXPECT_EQ(regPeek(GLUE_WDT_CONTROL), 0x5AF0u);  // watchdog off without boot mode bit 24
  EXPECT_EQ(readMem32(STILL_2_VALID), 0u);  // still-valid words cleared
  EXPECT_EQ(consoleCount("Board version 2"), 1);

  SetUp();
  boardMode(0x102);  // only the low byte counts
  writeMem32(OCM_BOOT_MODE, BOOT_MODE_KEEP_WATCHDOG | BOOT_MODE_BOARD_V1);
  mxWatchdogEnable(1, 10);
  mxBoardInit();
  EXPECT_TRUE(mx4kMode() && mxPairedFpga());
  EXPECT_EQ(regPeek(GLUE_WDT_CONTROL), 0x5AF0u + 10);  // kept with bit 24
  EXPECT_EQ(consoleCount("Board version 1"), 1);
  EXPECT_TRUE(mxMeBase(0) == MX_ME1_PAIRED_BASE && mxMeBase(1) == MX_ME2_PAIRED_BASE);
}

TEST_F(CoreTest, BoardTypeFromTheIdAndStrapRegisters) {
  struct Case { u32 id, straps; int type; } cases[] = {
      {0, 0xFFFFFFFF, 0}, {1, 3u << 17, 1}, {1, (3u << 17) | (1u << 13), 1},
               {1, (3u << 17) | (3u << 13), 3}, {1, 1u << 17, 3}, {1, 0, 3}};
  for (auto c : cases) {
    regPoke(GLUE_BOARD_ID, c.id);
    regPoke(BOARD_STRAPS, c.straps);
    EXPECT_EQ(mxGetBoardType(), c.type) << std::hex << c.id << " " << c.straps;
  }
}

TEST_F(CoreTest, FrameCounterEventsAndStartupLockRelease) {
  writeMem32(LOCK95, 0);
  mxAcquireStartupLock();
  EXPECT_EQ(readMem32(LOCK95), 64u);
  mxBoardInit();
  for (int frame = 0; frame < 70; ++frame) {
    slow.delayUs = (frame == 10 || frame == 11) ? 7000 : 0;  // they overrun; the lock still goes at 12
    traceClear();
    mxUpdateEntry();
    int kicks = 0;
    for (const auto& e : traceRecent()) kicks += (e.adr == GLUE_WDT_KICK && e.value == 0xA5F0) ? 1 : 0;
    // The first update and frame 12 kick the watchdog; no frame after 12 does.
    EXPECT_TRUE((frame == 0 || frame == 12) ? kicks >= 1 : (frame < 12 || kicks == 0)) << frame;
    ASSERT_EQ(readMem32(LOCK95), frame >= 12 ? 0u : 64u) << frame;
    ASSERT_EQ(readMem32(OCM_STARTUP_DONE), frame >= 12 ? 1u : 0u) << frame;
    ASSERT_EQ(mxBoardDevicesDone(), frame >= 10) << frame;
  }
  EXPECT_EQ(mxFrameCount(), 60u);
  EXPECT_TRUE(mxStartupLockReleased());
  EXPECT_EQ(consoleCount("mxInitialize to mxUpdate : "), 1);
  EXPECT_EQ(consoleCount("update time(4)"), 1);  // 7000 us over the 6000 us of stage 5, once

  // A new format restarts the counter; the lock is not taken again.
  writeMem32(OCM_STARTUP_DONE, 0);
  mxInitialize(1, 1.0f);
  EXPECT_EQ(mxFrameCount(), 0u);
  for (int frame = 0; frame < 13; ++frame) mxUpdate();
  EXPECT_EQ(consoleCount("mxInitialize to mxUpdate : "), 2);
  EXPECT_EQ(readMem32(OCM_STARTUP_DONE), 0u);
}

TEST_F(CoreTest, UpdateDmaStagesAndFieldBits) {
  mxBoardInit();
  // DMA channel 1 control word: opened before the stages, closed in stage 4; the early update
  // opens and closes it in its own stage.
  writeMem32(OCM_SERDES_LINK, 3);
  writeMem32(OCM_SERDES_REQUEST, 9);
  traceClear();
  mxUpdate();
  mxUpdateEarly();
  std::vector<std::pair<int, u32>> control;
  for (const auto& e : traceRecent()) if (e.adr == UPDATE_DMA_CONTROL) control.emplace_back(e.stage, e.value);
  EXPECT_EQ(control, (std::vector<std::pair<int, u32>>{{0, 1}, {4, 0}, {MX_TRACE_EARLY, 1}, {MX_TRACE_EARLY, 0}}));
  EXPECT_EQ(readMem32(OCM_SERDES_REQUEST), 0u);  // serdes request taken

  regPoke(GLUE_FIELD, 2);
  mxUpdate();
  EXPECT_EQ(mxGlueFieldBit(), 0);  // bit 0 for 1080-line codes
  mxInitialize(2, 1.0f);
  mxUpdate();
  EXPECT_EQ(mxGlueFieldBit(), 1);  // bit 1 for 720-line codes
  // The genlock runs in the frames of field 1 only (internal mode: each run sets the oscillator word).
  mxGenlockSetMode(MX_GENLOCK_INTERNAL, MX_GENLOCK_BBST, MX_GENLOCK_NO_SETUP);
  for (u32 field : {0u, 1u}) {
    regPoke(ME1_GENLOCK_DAC, 0);
    regPoke(GLUE_FIELD, 2 * field);
    mxUpdate();
    EXPECT_EQ(regPeek(ME1_GENLOCK_DAC) != 0, field == 1) << field;
  }
}

}  // namespace
