// Genlock: reference set-up, output phase, the lock loop, the level detector and the stored value.
#include "Driver/genlock/genlock.h"

#include "Platform/genlock_model.h"
#include "tests/Driver/driver_test.h"

using namespace driver_test;

namespace {

constexpr u32 NV = 0x81800000;
constexpr u32 NV_MAGIC = NV + 0x14010, NV_START = NV + 0x14014, NV_AVERAGE = NV + 0x14018;
constexpr u32 DAC = 0x8200080C, PHASE = 0x82000914;

class GenlockTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    for (u32 adr : {NV_MAGIC, NV_START, NV_AVERAGE}) writeMem32(adr, 0);  // they outlive a test
    mxInitialize(0, 1.0f);
  }
  // Lock steps until the console shows text; false after max steps.
  static bool stepUntil(const std::string& text, int max = 400) {
    for (int n = 0; n < max; ++n) {
      if (consoleCount(text) > 0) return true;
      mxGenlockUpdate(1);
    }
    return consoleCount(text) > 0;
  }
  static void steps(int n) {
    for (int k = 0; k < n; ++k) mxGenlockUpdate(1);
  }
};

TEST_F(GenlockTest, FormatClockAndReferenceOutput) {
  // out: 0x82000E00, E04, E08.
  struct Case { int format, setup; u32 clock, clock24; Words out; } cases[] = {
      {0, MX_GENLOCK_SETUP, 897497, 0, {0, 1, 0}}, {1, MX_GENLOCK_SETUP, 2098, 0, {1, 0, 0}},
      {5, MX_GENLOCK_NO_SETUP, 5628, 0, {1, 0, 0}}, {6, MX_GENLOCK_NO_SETUP, 1123159, 1, {0, 0, 1}},
      {7, MX_GENLOCK_SETUP, 1, 0, {1, 0, 0}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    mxInitialize(c.format, 1.0f);
    traceClear();
    mxGenlockSetFormatClock();
    mxGenlockSetMode(MX_GENLOCK_EXTERNAL, MX_GENLOCK_BBST, c.setup);
    EXPECT_EQ(std::make_tuple(peek(0x82000E14, {0, 4}), writesTo(0x82000E10), peek(0x82000E00, {0, 4, 8})),
              std::make_tuple((Words{c.clock, c.clock24}), (Words{0, 1}), c.out));
  }
}

TEST_F(GenlockTest, DetectorSetUpByReferenceAndFormat) {
  struct Case { int format, mode, sync; u32 n, w, count, select, modeWord; } cases[] = {
      {6, MX_GENLOCK_EXTERNAL, MX_GENLOCK_BBST, 63, 20, 65999, 6, 18},
      {5, MX_GENLOCK_EXTERNAL, MX_GENLOCK_BBST, 87, 28, 6911, 0, 0},
      {7, MX_GENLOCK_EXTERNAL, MX_GENLOCK_TRI, 63, 20, 5499, 0, 0},
      {6, MX_GENLOCK_INTERNAL, MX_GENLOCK_BBST, 63, 20, 0xFFFFFFFF, 0, 17}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    mxGenlockResetDriver();
    mxInitialize(c.format, 1.0f);
    mxGenlockSetMode(c.mode, c.sync, MX_GENLOCK_NO_SETUP);
    EXPECT_EQ(peek(0x82000900, {0x28, 0x2C, 0x20, 0x24, 4}), (Words{c.n, c.w, c.count, c.select, c.modeWord}));
    EXPECT_EQ(regPeek(0x81000030), c.mode == MX_GENLOCK_INTERNAL ? 1u : 0u);
    EXPECT_EQ(mxGenlockIsLocked(), c.mode == MX_GENLOCK_INTERNAL ? 1 : 0);
  }
  // Between the two black-burst kinds only the phase is applied again: no new set-up.
  mxInitialize(0, 1.0f);
  mxGenlockSetMode(MX_GENLOCK_EXTERNAL, MX_GENLOCK_BBST, MX_GENLOCK_NO_SETUP);
  mxGenlockUpdate(1);
  traceClear();
  mxGenlockSetMode(MX_GENLOCK_EXTERNAL, MX_GENLOCK_BBST2, MX_GENLOCK_NO_SETUP);
  EXPECT_TRUE(writesTo(0x82000900).empty());
  mxGenlockUpdate(1);
  EXPECT_EQ(writesTo(PHASE), Words{4420807});
}

TEST_F(GenlockTest, OutputPhaseByFormatReferenceAndDelay) {
  struct Case { int format, sync, h, v; u32 word; } cases[] = {
      {0, 0, 0, 0, 4949331},  // internal: 6 - 675 into 0 .. F-1
      {0, MX_GENLOCK_BBST, 100, 2, 4825807}, {4, MX_GENLOCK_TRI, 0, 0, 877621}, {6, MX_GENLOCK_TRI, -3, 0, 6135843},
      // The second black-burst reference: 180 lines earlier in formats 0 and 5, 150 in format 1.
      {0, MX_GENLOCK_BBST2, 0, 0, 4420807}, {1, MX_GENLOCK_BBST2, 0, 0, 5464825}, {5, MX_GENLOCK_BBST2, 0, 0, 906245}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    mxInitialize(c.format, 1.0f);
    if (c.sync == 0) mxGenlockSetMode(MX_GENLOCK_INTERNAL, MX_GENLOCK_BBST, MX_GENLOCK_NO_SETUP);
    else mxGenlockSetMode(MX_GENLOCK_EXTERNAL, c.sync, MX_GENLOCK_NO_SETUP);
    mxGenlockSetPhase(c.h, c.v);
    traceClear();
    mxGenlockUpdate(1);
    mxGenlockUpdate(1);
    EXPECT_EQ(writesTo(PHASE), Words{c.word});
  }
  // In 4K mode the input delay moves the phase two samples earlier per step.
  startBoard(2);
  mxGenlockSetMode(MX_GENLOCK_EXTERNAL, MX_GENLOCK_BBST, MX_GENLOCK_NO_SETUP);
  mxGenlockSetPhase(0, 0);
  mxGenlockUpdate(1);
  EXPECT_EQ(regPeek(PHASE), 4816807u);
  mxSdiSetDelay(1);
  mxGenlockSetPhase(0, 0);
  mxGenlockUpdate(1);
  EXPECT_EQ(regPeek(PHASE), 4816805u);
}

// Sync: the pulses counted and the period within 9 of 3178 (black burst, 59.94 Hz); the level
// detector's capture word shows that the step went on.
TEST_F(GenlockTest, SyncIsAPeriodWithinNineOfTheExpectedOne) {
  detachDevice(&genlockReference());
  const struct { u32 period; size_t captures; } cases[] = {{3187, 1}, {3169, 1}, {3188, 0}, {0x80000C6A, 0}};
  for (auto c : cases) {
    mxGenlockReset();
    regPoke(0x82000930, 63);
    regPoke(0x82000910, c.period);
    traceClear();
    mxGenlockUpdate(1);
    EXPECT_EQ(writesTo(0x82000A30).size(), c.captures) << c.period;
  }
  attachDevice(GenlockReference::BASE, GenlockReference::SIZE, &genlockReference());
}

TEST_F(GenlockTest, BlackBurstLocksFromCoarseToFineAndReportsTheLossOfTheReference) {
  EXPECT_TRUE(stepUntil("Goto fine tuning: ") && mxGenlockIsLocked() == 0);
  EXPECT_TRUE(stepUntil("[INFO] Locked: ") && mxGenlockIsLocked() == 1);
  EXPECT_EQ(regPeek(0x82000A24), 93u);  // slice level between the sync tip (16) and blanking (64)
  EXPECT_NEAR(static_cast<double>(regPeek(DAC)), GenlockReference::DEFAULT_LOCK, 16);

  genlockReference().setPresent(false);
  steps(5);
  EXPECT_EQ(std::make_tuple(consoleCount("[INFO] Unlocked: no sync"), mxGenlockIsLocked()), std::make_tuple(1, 0));
}

TEST_F(GenlockTest, OscillatorValueStaysInRange) {
  genlockReference().setLockValue(0x180000);  // beyond what the oscillator reaches
  traceClear();
  steps(200);
  const Words dacs = writesTo(DAC);
  for (u32 dac : dacs) ASSERT_LE(dac, 0xFFC00u);
  EXPECT_EQ(dacs.back(), 0xFFC00u);
}

TEST_F(GenlockTest, LockedValueIsAveragedIntoStorageAndStartsTheNextRun) {
  ASSERT_TRUE(stepUntil("[INFO] Locked: "));
  steps(63);
  EXPECT_EQ(readMem32(NV_MAGIC), 0u);
  mxGenlockUpdate(1);
  EXPECT_EQ(readMem32(NV_MAGIC), 0x2A551234u);
  const u32 average = readMem32(NV_AVERAGE);
  EXPECT_NEAR(static_cast<double>(average), 0x82EE0, 50);
  EXPECT_EQ(readMem32(NV_START), average);
  writeMem32(NV_START, 0x81000);  // only the first average becomes the start value
  steps(64);
  EXPECT_EQ(readMem32(NV_START), 0x81000u);

  // A restart starts from the start value, in internal mode every frame; without the magic from the centre.
  for (u32 magic : {0x2A551234u, 0u}) {
    writeMem32(NV_MAGIC, magic);
    mxResetAllBlocks();
    mxInitialize(0, 1.0f);
    const u32 want = magic != 0 ? 0x81000 : 0x80000;
    EXPECT_EQ(regPeek(DAC), want);
    mxGenlockSetMode(MX_GENLOCK_INTERNAL, MX_GENLOCK_BBST, MX_GENLOCK_NO_SETUP);
    regPoke(DAC, 0);
    mxGenlockUpdate(1);
    EXPECT_EQ(regPeek(DAC), want);
  }
}

TEST_F(GenlockTest, LevelHistogramSetsTheSliceOrRunsFree) {
  // level: 0 when not written.
  struct Case { std::vector<std::pair<int, u32>> bins; u32 level; } cases[] = {
      {{{16, 1000}, {64, 3000}, {100, 3000}}, 93},   // the higher later peak, ties to the earlier
      {{{16, 1000}, {40, 500}, {200, 2000}}, 253},   // limited
      {{{16, 1000}, {64, 3}}, 0},                     // 64 is below 1/200 of the total: one peak
      {{{100, 1000}, {104, 1000}}, 107},              // four bins apart: two peaks
      {{{100, 1000}, {103, 1000}}, 0}};               // three apart: flat, the clock runs free
  for (const Case& c : cases) {
    GenlockReference::Histogram h{};
    for (auto [bin, count] : c.bins) h[static_cast<size_t>(bin)] = count;
    genlockReference().setHistogram(h);
    regPoke(0x82000A24, 0);
    steps(5);
    EXPECT_EQ(regPeek(0x82000A24), c.level) << c.bins.size();
  }
  EXPECT_EQ(consoleCount("[INFO] Free run"), 1);
  mxGenlockReset();
  genlockReference().flattenHistogram();
  steps(10);
  EXPECT_EQ(consoleCount("[INFO] Free run"), 2);
  genlockReference().reset();
  steps(45);
  EXPECT_EQ(consoleCount("[INFO] Lock to B.B."), 0);
  steps(5);
  EXPECT_EQ(consoleCount("[INFO] Lock to B.B."), 1);
}

}  // namespace
