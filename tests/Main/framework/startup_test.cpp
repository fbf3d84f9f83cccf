#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "Driver/calllog.h"
#include "Driver/core/core.h"
#include "Common/reg.h"
#include "Main/framework/bp.h"
#include "Main/framework/startup.h"
#include "Main/system/system.h"
#include "Main/framework/vsync.h"
#include "tests/support/board_fixture.h"
#include "Lib/Include/check.h"
#include "Platform/dma_engine.h"
#include "tests/Main/test_categories.h"
#include "Platform/vsync.h"
#include "Platform/watchdog.h"

using namespace platform;
using testing_support::consoleCount;
using testing_support::consoleText;
using test_categories::Rec;
using test_categories::TestCategory;

namespace {

constexpr u32 LOCK95 = 0x33000600 + 8 * 95;
constexpr u32 WARM_FLAG = 0xFFFFFFF8;
constexpr u32 HANDOFF = 0xFFFFFFF0;

struct RunEnded { EndReason reason; u32 arg; };

// How f ended the run, or nothing if it returned.
std::optional<RunEnded> endOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const RunEnded& e) {
    return e;
  }
  return std::nullopt;
}

// What the frame work saw, frame by frame.
struct FrameLog {
  std::vector<u32> frameCount;  // driver frame counter when the frame work ran
  std::vector<u32> lockWord;    // start-up lock word at that time
  int failAt = -1;              // frame work number that fails a check
  u64 stretchUs = 0;            // time the frame work takes
};
FrameLog frames;

void recordFrame() {
  int n = static_cast<int>(frames.frameCount.size());
  frames.frameCount.push_back(mxFrameCount());
  frames.lockWord.push_back(readMem32(LOCK95));
  clockAdvance(frames.stretchUs * TICKS_PER_US);
  MX_CHECK(n != frames.failAt);
}

class StartupTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    category::CategoryRegistry::instance().reset(), bpReset();
    frames = FrameLog{};
    vsyncSetFrameWork(recordFrame), dmaEngine().reset(), vsyncAttach(), watchdogAttach();
    setEndHandler([](EndReason reason, u32 arg) { throw RunEnded{reason, arg}; });
  }
  void TearDown() override {
    shutdownInterrupts(), vsyncDetach(), watchdogDetach(), dmaEngine().detach(), setEndHandler(nullptr);
    BoardTest::TearDown();
  }
};

// The cold path clears 0x8000000 bytes of the shared window and the work area behind it, and holds
// the start-up lock until the driver's frame 12; the warm path clears 0x6000000 bytes (a lock left
// by the previous run lies in them), resets the link rings and does not wait.
TEST_F(StartupTest, ColdAndWarmPathsClearTheirSizesAndLogInOrder) {
  struct Word { u32 adr, before, after; };
  struct Case { bool warm; std::vector<Word> words; std::vector<std::string> order; } cases[] = {
      {false,
       {{0x3DFFFFFC, 0xAA, 0}, {0x3F000000, 0xBB, 0xBB}, {0x3AFFFFFC, 0xCC, 0}, {0x81800004, 146, 146},
        {0x81814008, 0, 146}, {LOCK95, 0, 0}, {WARM_FLAG, 0, 1}, {0xFFFFFFE0, 0, 1}},
       {"start power on sequence", "time : ", "Board version 2", "mxInitialize: ", "Start ORVEX-21 Backend Process",
        "mxInitialize to mxUpdate", "Start Timer task"}},
      {true,
       {{0x38FFFFFC, 0xAA, 0}, {0x39000000, 0xBB, 0xBB}, {LOCK95, 64, 0}, {0x3FFA0000, 40, 0}, {WARM_FLAG, 1, 1}},
       {"Start ORVEX-21 Backend Process", "Start Timer task"}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.warm ? "warm" : "cold");
    TearDown();
    SetUp();
    for (auto w : c.words) writeMem32(w.adr, w.before);
    bpStart();
    for (auto w : c.words) EXPECT_EQ(readMem32(w.adr), w.after) << std::hex << w.adr;
    const std::string text = consoleText();
    size_t last = 0;
    for (auto& line : c.order) {
      last = text.find(line, last);
      ASSERT_NE(last, std::string::npos) << line;
    }
    for (size_t i = 0; i < frames.frameCount.size(); ++i) {
      EXPECT_EQ(frames.lockWord[i], !c.warm && frames.frameCount[i] <= 12 ? 64u : 0u) << i;
    }
    EXPECT_TRUE(!c.warm || frames.frameCount.empty() || frames.frameCount.back() < 12);
    // Cold: semaphore 2 given back, and the board start switches the watchdog off without boot mode bit 24.
    if (!c.warm) {
      EXPECT_EQ(std::tuple(consoleCount("time : "), frames.frameCount.size() >= 13, regPeek(0x40001908), watchdogArmed()),
                std::tuple(6, true, 0u, false));
    }
  }
}

TEST_F(StartupTest, WrongBoardHaltsUntilTheWatchdogRestarts) {
  regPoke(0x4000001C, 1);
  regPoke(0x81000020, 0);
  auto end = endOf(bpStart);
  ASSERT_TRUE(end.has_value());
  EXPECT_EQ(std::tuple(end->reason, consoleCount("halt on not ORV21"), consoleCount("Start ORVEX-21"),
                       regPeek(0x40001908)), std::tuple(EndReason::Restart, 1, 0, 0u));
}

class VsyncTest : public StartupTest {
 protected:
  void SetUp() override {
    StartupTest::SetUp();
    vsyncSetAuto(false), mxBoardInit(), setupInterrupts(onVsync), traceClear();
  }
  void vsync(u32 afterUs) { clockAdvance(static_cast<u64>(afterUs) * TICKS_PER_US), vsyncPost(IRQ_VSYNC); }
  static int traced(u32 adr, u32 value, int stage = -1) {
    int n = 0;
    for (const auto& e : traceRecent()) n += e.adr == adr && (stage < 0 ? e.value == value : e.stage == stage);
    return n;
  }
};

TEST_F(VsyncTest, EarlyInterruptRunsOnlyTheEarlyUpdate) {
  u32 before = mxFrameCount();
  vsyncPost(IRQ_EARLY);  // acknowledged, interrupts on again; only a full VSYNC clears bits 1 and 2 at its end
  EXPECT_EQ(std::tuple(frames.frameCount.size(), mxFrameCount(), mxReadReg(0x40000010) & 7u, regPeek(0x40000018),
                       traced(0x40000010, 6)), std::tuple(size_t{0}, before, 0u, 7u, 0));
  EXPECT_GE(traced(0x4000033C, 0, MX_TRACE_EARLY), 1);

  vsyncPost(IRQ_VSYNC | IRQ_FIELD);
  EXPECT_EQ(std::tuple(frames.frameCount.size(), vsyncFieldBit(), category::CategorySystem::fieldFlag()),
            std::tuple(size_t{1}, 1, 1));
  traceClear();
  vsyncPost(IRQ_VSYNC);  // acknowledged with 2, then bits 1 and 2 cleared with 6
  EXPECT_EQ(std::tuple(traced(0x40000010, 2), traced(0x40000010, 6), category::CategorySystem::fieldFlag()),
            std::tuple(1, 1, 0));
}

// Each step: VSYNCs after a gap, with frame work of stretchUs and the statistics word as given; then
// the "Lost VSYNC", "executes for" and "executes time" (every 120 VSYNCs) lines so far.
TEST_F(VsyncTest, PeriodRunTimeAndStatisticsChecks) {
  const u32 P = 16666;
  struct Step { u32 gapUs; u64 stretchUs; int vsyncs; u32 statistics; int lost, late, stats; } steps[] = {
      {30000, 0, 1, 0, 0, 0, 0},  // first VSYNC: no period check
      {P, 0, 1, 0, 0, 0, 0},      {P + 2000, 0, 1, 0, 1, 0, 0}, {P - 1500, 0, 1, 0, 2, 0, 0},
      {P, 17000, 1, 0, 2, 1, 0},  // a late frame
      {5000, 0, 1, 0, 2, 1, 0},   // check skipped after it
      {P + 3000, 0, 1, 0, 3, 1, 0}, {P, 0, 3, 0, 3, 1, 0},
      {P, 0, 1, 0, 3, 2, 0},  // the driver's frame 12, which loads the pattern tables, runs late too
      {P, 0, 126, 0, 3, 2, 0}, {P, 0, 119, 1, 3, 2, 0}, {P, 0, 1, 1, 3, 2, 1}, {P, 0, 120, 1, 3, 2, 2}};
  for (auto& s : steps) {
    frames.stretchUs = s.stretchUs;
    writeMem32(0xFFFF0004, s.statistics);
    for (int i = 0; i < s.vsyncs; ++i) vsync(s.gapUs);
    EXPECT_EQ(std::tuple(consoleCount("Lost VSYNC "), consoleCount("VSYNC handler executes for "), consoleCount("executes time ")),
              std::tuple(s.lost, s.late, s.stats)) << s.gapUs << " " << s.vsyncs;
  }
  EXPECT_EQ(consoleCount("Lost VSYNC 18.6"), 1);
}

// A period is lost when it differs from P by more than 1000 us: exactly 1000 either way is not.
// The handler's own time between two VSYNC time stamps is learned first from a logged period.
TEST_F(VsyncTest, LostVsyncToleranceIsExactlyOneMillisecond) {
  const int P = 16666;
  for (int i = 0; i < 14; ++i) vsync(P);  // past the driver's frame-counter events
  auto loggedPeriod = [] {
    const std::string key = "Lost VSYNC ", text = consoleText();
    size_t at = text.rfind(key);
    return at == std::string::npos ? -1 : static_cast<int>(std::lround(std::atof(text.c_str() + at + key.size()) * 1000));
  };
  testing_support::consoleClear();
  vsync(P + 5000);
  ASSERT_GT(loggedPeriod(), P + 5000);
  const int own = loggedPeriod() - (P + 5000);
  for (int offsetUs : {1000, 1001, -1000, -1001}) {
    testing_support::consoleClear();
    vsync(static_cast<u32>(P + offsetUs - own));
    EXPECT_EQ(loggedPeriod(), std::abs(offsetUs) > 1000 ? P + offsetUs : -1) << offsetUs;
  }
}

TEST_F(VsyncTest, DeferredFrameRunsOnceAtEndEvenWhenItFails) {
  beginVsyncDefer();
  for (int i = 0; i < 3; ++i) vsync(16666);
  // The driver update still runs every frame.
  EXPECT_EQ(std::tuple(frames.frameCount.size(), mxFrameCount(), vsyncGuard().pending), std::tuple(size_t{0}, 3u, 1));
  endVsyncDefer();
  EXPECT_EQ(frames.frameCount.size(), 1u);
  endVsyncDefer();
  EXPECT_EQ(frames.frameCount.size(), 1u);

  beginVsyncDefer(), beginVsyncDefer(), vsync(16666);  // nested stretches: the frame runs at the outermost end only
  endVsyncDefer();
  EXPECT_EQ(frames.frameCount.size(), 1u);
  endVsyncDefer();
  EXPECT_EQ(frames.frameCount.size(), 2u);

  frames.failAt = 3;
  vsync(16666);
  beginVsyncDefer();
  vsync(16666);
  EXPECT_NO_THROW(endVsyncDefer());
  EXPECT_EQ(std::tuple(consoleCount("Assertion failed"), vsyncGuard().pending, vsyncGuard().busy), std::tuple(1, 0, 0));
  frames.failAt = 5;  // a failing frame outside a stretch: swallowed, interrupts stay on, the next runs
  for (int i = 0; i < 3; ++i) vsync(16666);
  EXPECT_EQ(std::tuple(frames.frameCount.size(), consoleCount("Assertion failed"), regPeek(0x40000018), mxMainLoop()),
            std::tuple(size_t{7}, 2, 7u, 0));
}

TEST_F(StartupTest, HandOffBounds) {
  for (u32 address : {0x3FF00000u, 0x3FFFFFFCu, 0x3FFFFFFFu, 0x3FEFFFFCu, 0x3FEFFFFFu, 0x40000000u, 0u}) {
    const bool taken = address >= 0x3FF00000 && address < 0x40000000;
    bpReset(), setupInterrupts(onVsync), writeMem32(HANDOFF, address), regPoke(0x40004200, 0);
    auto end = endOf(checkHandOff);
    EXPECT_EQ(std::tuple(end && end->reason == EndReason::HandOff && end->arg == address, regPeek(0x40004200),
                         irqIsEnabled(VSYNC_IRQ)),
              std::tuple(taken, taken ? 0x3E00u : 0u, !taken)) << std::hex << address;
  }
  EXPECT_EQ(consoleCount("return 3ff00000"), 1);
}

TEST_F(StartupTest, HaltWithoutWatchdogEndsTheRun) {
  mxWatchdogEnable(0, 1);
  auto halt = endOf(mxHalt);
  EXPECT_TRUE(halt && halt->reason == EndReason::Halt);
  const u64 start = clockNow();
  auto end = endOf(mxRestart);  // arms 1 s and spins
  EXPECT_TRUE(end && end->reason == EndReason::Restart && end->arg == 1u);
  EXPECT_GE(clockNow() - start, 1000000u * TICKS_PER_US);
}

// Fails its check on the refresh passes from failFrom to failTo.
template <int TYPE>
struct FailingRefresh : TestCategory<Rec<TYPE>> {
  int passes = 0, failFrom = 1, failTo = 2;
  void refresh() override { MX_CHECK(++passes < failFrom || passes > failTo); }
};

// The main loop refreshes every category once a pass, and the frames in its wait (300 ms in ten
// passes, at 16.666 ms a frame) run their updates; a failed check in a refresh ends only that pass;
// a hand-off address ends the loop.
TEST_F(StartupTest, MainLoopRefreshesAndRunsFramesInItsWait) {
  writeMem32(WARM_FLAG, 1);
  vsyncSetFrameWork(nullptr);  // the registry's process
  test_categories::calls().clear();
  FailingRefresh<category::TYPE_PLUGIN_STORAGE> first;
  FailingRefresh<category::TYPE_GPI_IN_STATUS> second;
  first.failFrom = 2, first.failTo = 3, second.failFrom = 100;
  bpStart();
  const auto& calls = test_categories::calls();
  const auto updates = [&] { return std::count(calls.begin(), calls.end(), "update 61/0"); };
  const auto before = updates();
  for (int pass = 0; pass < 10; ++pass) {
    ASSERT_NO_THROW(bpMainLoopPass()) << pass;
    EXPECT_EQ(mxMainLoop(), 0);
  }
  // The second is not reached in the two passes that failed before it.
  EXPECT_EQ(std::tuple(first.passes, second.passes,
                       consoleCount("refresh stopped at tests/Main/framework/startup_test.cpp")), std::tuple(10, 8, 2));
  EXPECT_TRUE(updates() - before >= 17 && updates() - before <= 19) << updates() - before;
  writeMem32(HANDOFF, 0x3FF00040);
  EXPECT_THROW(bpMainLoopPass(), RunEnded);
}

// A restart keeps on-chip and shared memory, a power cycle not: either resumes the backup image
// that the frames copied to the window. The board start initialises for code 0; a start whose image
// holds format 1 initialises again in its first frame, for format 1; a restart also clears the
// stills and resets the clips once. A new board has nothing to apply.
TEST_F(StartupTest, RestartAndPowerOnResumeTheImageAndApplyItsFormatInTheFirstFrame) {
  writeMem32(0x81800000, 0);  // no image in the window yet
  vsyncSetFrameWork(nullptr);  // the registry's process with its backup copy
  calllog::enable(true);
  auto calls = [](const char* setter) {
    int n = 0;
    for (size_t i = 0; i < calllog::size(); ++i) n += std::string(calllog::at(i).function) == setter ? 1 : 0;
    return n;
  };
  for (int start : {0, 1, 2}) {
    SCOPED_TRACE(start == 0 ? "new board" : start == 1 ? "restart" : "power-on");
    if (start == 1) {
      MxifSystem format1{};
      format1.videoMask = MxifSystem::FORMAT, format1.format = 1;
      category::CategorySystem::instance().assign(format1, 0);
      for (int pass = 0; pass < 3; ++pass) bpMainLoopPass();  // applied, and copied to the window
      EXPECT_EQ(readMem32(0x81800000), 0x08765421u);
    }
    if (start > 0) bpReset();
    if (start == 2) boardClearVolatile();
    testing_support::consoleClear();
    calllog::clear();
    bpStart();
    for (int pass = 0; pass < 2; ++pass) bpMainLoopPass();
    EXPECT_EQ(std::tuple(consoleCount("start power on sequence"), consoleCount("backup data resume"),
                         consoleCount("mxInitialize: "), regPeek(0x40000014), calls("mxFrameClearStills"),
                         calls("mxClipStop")),
              std::tuple(start != 1, start > 0, start > 0 ? 2 : 1, start > 0 ? 950000u : 783300u, start == 1, start == 1 ? 4 : 0));
  }
  calllog::enable(false);
}

}  // namespace
