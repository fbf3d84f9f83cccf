#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "Common/reg.h"
#include "tests/support/board_fixture.h"
#include "Platform/vsync.h"
#include "Platform/watchdog.h"

using namespace platform;

namespace {

std::vector<std::pair<u64, u32>> seen;  // tick and status of each handler call
struct RunEnded {};

// Takes every pending status bit, as the system's handler does.
void handler(void*) {
  u32 s = mxReadReg(IRQ_STATUS);
  seen.emplace_back(clockNow(), s);
  mxWriteReg(IRQ_STATUS, s & 7);
}

class InterruptModelTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    seen.clear();
    vsyncAttach();
    watchdogAttach();
    irqConnect(VSYNC_IRQ, handler, nullptr);
    irqEnable(VSYNC_IRQ);
    setEndHandler([](EndReason, u32) { throw RunEnded{}; });
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
    EXPECT_TRUE(seen[i].second == IRQ_EARLY && seen[i].first < frameEnd &&
                seen[i].first + EARLY_LEAD_US * TICKS_PER_US >= frameEnd) << i;
    EXPECT_TRUE((seen[i + 1].second & IRQ_VSYNC) && seen[i + 1].first >= frameEnd) << i;
  }
  EXPECT_NE(seen[1].second & IRQ_FIELD, seen[3].second & IRQ_FIELD);
  EXPECT_EQ(seen[1].second & IRQ_FIELD, seen[5].second & IRQ_FIELD);
  EXPECT_EQ(vsyncPeriodUs(), 20000u);
}

TEST_F(InterruptModelTest, StatusIsWriteOneToClearAndWaitsForTheEnable) {
  vsyncSetAuto(false);
  mxWriteReg(IRQ_ENABLE, 0);
  vsyncPost(IRQ_VSYNC | IRQ_FIELD);
  EXPECT_TRUE(seen.empty());
  mxWriteReg(IRQ_STATUS, IRQ_FIELD);
  EXPECT_EQ(mxReadReg(IRQ_STATUS), IRQ_VSYNC);
  mxWriteReg(IRQ_ENABLE, 7);
  mxGetTicks();  // delivered from the next timer read
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].second, IRQ_VSYNC);
  EXPECT_EQ(mxReadReg(IRQ_STATUS), 0u);
}

TEST_F(InterruptModelTest, WatchdogRestartsWhenNotKicked) {
  vsyncSetAuto(false);
  mxWriteReg(WDT_CONTROL, 0x5AF0 + 2);
  clockAdvance(1500000ull * TICKS_PER_US);
  mxWriteReg(WDT_KICK, 0xA5F0);
  clockAdvance(1500000ull * TICKS_PER_US);  // 1.5 s since the kick
  EXPECT_THROW(clockAdvance(600000ull * TICKS_PER_US), RunEnded);
  EXPECT_THROW(mxGetTicks(), RunEnded);  // it stays expired
  watchdogAttach();
  mxWriteReg(WDT_CONTROL, 0x5AF0);  // disarmed: nothing happens
  EXPECT_NO_THROW(clockAdvance(20000000ull * TICKS_PER_US));
}

}  // namespace
