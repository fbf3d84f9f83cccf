#include <gtest/gtest.h>

#include <vector>

#include "Driver/reg.h"
#include "board_fixture.h"
#include "vsync.h"
#include "watchdog.h"

using namespace platform;
using testing_support::BoardTest;

namespace {

struct Seen {
  u64 tick;
  u32 status;
};
std::vector<Seen> seen;

// Takes every pending status bit, as the system's handler does.
void handler(void*) {
  u32 s = mxReadReg(IRQ_STATUS);
  seen.push_back({clockNow(), s});
  mxWriteReg(IRQ_STATUS, s & 7);
}

struct RunEnded {
  EndReason reason;
};

class InterruptModelTest : public BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    seen.clear();
    vsyncAttach();
    watchdogAttach();
    irqConnect(VSYNC_IRQ, handler, nullptr);
    irqEnable(VSYNC_IRQ);
    setEndHandler([](EndReason reason, u32) { throw RunEnded{reason}; });
  }
  void TearDown() override {
    irqDisable(VSYNC_IRQ);
    irqDisconnect(VSYNC_IRQ);
    vsyncDetach();
    watchdogDetach();
    setEndHandler(nullptr);
  }
};

TEST_F(InterruptModelTest, EarlyThenVsyncAtTheFramePeriodWithAlternatingField) {
  mxWriteReg(IRQ_PERIOD, 50 * 20000 - 50000);  // 50 Hz
  mxWriteReg(IRQ_ENABLE, 7);
  vsyncSetAuto(false);
  vsyncSetAuto(true);  // the next VSYNC one period from now
  u64 start = clockNow();
  mxWaitUs(3 * 20000 + 10);
  ASSERT_EQ(seen.size(), 6u);
  for (size_t i = 0; i < seen.size(); i += 2) {
    u64 frameEnd = start + (i / 2 + 1) * 20000ull * TICKS_PER_US;
    EXPECT_EQ(seen[i].status, IRQ_EARLY);
    EXPECT_LT(seen[i].tick, frameEnd);
    EXPECT_GE(seen[i].tick + EARLY_LEAD_US * TICKS_PER_US, frameEnd);
    EXPECT_EQ(seen[i + 1].status & IRQ_VSYNC, IRQ_VSYNC);
    EXPECT_GE(seen[i + 1].tick, frameEnd);
  }
  EXPECT_NE(seen[1].status & IRQ_FIELD, seen[3].status & IRQ_FIELD);
  EXPECT_EQ(seen[1].status & IRQ_FIELD, seen[5].status & IRQ_FIELD);
  EXPECT_EQ(vsyncPeriodUs(), 20000u);
}

TEST_F(InterruptModelTest, StatusIsWriteOneToClearAndWaitsForTheEnable) {
  vsyncSetAuto(false);
  mxWriteReg(IRQ_ENABLE, 0);
  vsyncPost(IRQ_VSYNC | IRQ_FIELD);
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(mxReadReg(IRQ_STATUS), IRQ_VSYNC | IRQ_FIELD);
  mxWriteReg(IRQ_STATUS, IRQ_FIELD);
  EXPECT_EQ(mxReadReg(IRQ_STATUS), IRQ_VSYNC);
  mxWriteReg(IRQ_ENABLE, 7);
  mxGetTicks();  // delivered from the next timer read
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].status, IRQ_VSYNC);
  EXPECT_EQ(mxReadReg(IRQ_STATUS), 0u);
}

TEST_F(InterruptModelTest, WatchdogRestartsWhenNotKicked) {
  vsyncSetAuto(false);
  mxWriteReg(WDT_CONTROL, 0x5AF0 + 2);
  EXPECT_TRUE(watchdogArmed());
  clockAdvance(1500000ull * TICKS_PER_US);
  mxWriteReg(WDT_KICK, 0xA5F0);
  clockAdvance(1500000ull * TICKS_PER_US);  // 1.5 s since the kick
  EXPECT_THROW(clockAdvance(600000ull * TICKS_PER_US), RunEnded);
  EXPECT_THROW(mxGetTicks(), RunEnded);  // it stays expired
  watchdogAttach();
  mxWriteReg(WDT_CONTROL, 0x5AF0);  // disarmed: nothing happens
  EXPECT_FALSE(watchdogArmed());
  EXPECT_NO_THROW(clockAdvance(20000000ull * TICKS_PER_US));
}

}  // namespace
