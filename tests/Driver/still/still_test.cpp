// Still players and the capture path against the register file and the shared window.
#include "Driver/still/still.h"

#include "Common/shared.h"
#include "Driver/still/regs.h"
#include "tests/Driver/driver_test.h"

namespace {

using namespace still_regs;
using namespace driver_test;

u32 valid(int still) { return SharedMemory::instance().readWord(static_cast<int>(SMEM_STILL_VALID) + 4 * still); }
Words capture() { return {regPeek(CAPTURE_CONTROL), regPeek(CAPTURE_STORE), regPeek(CAPTURE_STORE_2)}; }

using StillTest = testing_support::BoardTest;

TEST_F(StillTest, CaptureCountsDownThenStoresAndMarksTheStillValid) {
  // valid0, valid1: after a request for still 2 while still 1's capture runs
  struct Case { int code, boardMode, mode, frames; u32 control, runningStore2, idleStore, idleStore2, valid0, valid1; }
  const cases[] = {{0, 0, 0, 4, 0, 4116, 35348, 2580, 0, 1},  // 1080 lines, display off: four frames; a restart
      {2, 0, 0, 3, 0, 4116, 35336, 2568, 0, 1},  // 720 lines: three
      // paired FPGAs: the second request is dropped whole
      {8, 1, 3, 4, 1, 4116 | 0x8000, 35336, 2568 | 0x8000, 1, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    useFormat(c.code, c.boardMode);
    mxFrameClearStills();
    mxFrameCapture(0, 1);  // nothing
    mxFrameUpdate();
    EXPECT_EQ(capture(), (Words{1, c.idleStore, c.idleStore2}));
    mxFrameCapture(MX_STILL_3, c.mode);
    for (int frame = 1; frame < c.frames; ++frame) {
      mxFrameUpdate();
      EXPECT_EQ(capture(), (Words{c.control, 4116 | 0x8000, c.runningStore2}));
      EXPECT_EQ(valid(2), 0u);
    }
    mxFrameUpdate();
    EXPECT_EQ(capture(), (Words{c.control, 4116, 4116}));
    EXPECT_EQ(valid(0) + valid(1) + 2 * valid(2) + valid(3), 2u);
    mxFrameUpdate();
    EXPECT_EQ(capture(), (Words{1, c.idleStore, c.idleStore2}));

    mxFrameCapture(MX_STILL_1, 0);
    mxFrameUpdate();
    mxFrameCapture(MX_STILL_2, 0);
    for (int frame = 0; frame < 4; ++frame) mxFrameUpdate();
    EXPECT_EQ(valid(0) * 10 + valid(1), c.valid0 * 10 + c.valid1);
  }
}

TEST_F(StillTest, PlayersShowTheirStoreOrTheEnabledWord) {
  struct Case { int code, boardMode; Words players; } const cases[] = {
      // still 1 valid; still 2 empty; still 3 valid in field mode; still 4 enabled
      {0, 0, {3092 + 0x8000, 3604, (4116 + 0x8000) & ~0xCu, 0x8A14}},
      {2, 0, {3092 + 0x8000, 3604, 4116 + 0x8000, 0x8A08}},
      // paired: still 1 and still 2 (enabled), each on two words
      {8, 1, {3092 + 0x8000, 3092 + 0x8000, 0x8A08, 0x8A08}}};
  for (const auto& c : cases) {
    useFormat(c.code, c.boardMode);
    for (int still = 0; still < 4; ++still) {
      SharedMemory::instance().writeWord(static_cast<int>(SMEM_STILL_VALID) + 4 * still, still == 1 ? 0 : 1);
    }
    mxFrameSetMode(MX_STILL_3, 1);
    mxFrameSetEnable(c.boardMode != 0 ? MX_STILL_2 : MX_STILL_4, 1);
    mxFrameUpdate();
    EXPECT_EQ((Words{regPeek(PLAYER[0]), regPeek(PLAYER[1]), regPeek(PLAYER[2]), regPeek(PLAYER[3])}), c.players)
        << c.code;
  }
  // The capture still shows its bare store word while the capture runs; a format change clears the
  // players' settings (still 2 no longer enabled).
  mxFrameCapture(MX_STILL_1, 0);
  mxFrameUpdate();
  EXPECT_EQ(regPeek(PLAYER[0]), 3092u);
  mxInitialize(8, 1.0f);
  mxFrameUpdate();
  EXPECT_EQ(regPeek(PLAYER[2]), 3604u);
}

}  // namespace
