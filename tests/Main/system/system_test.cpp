#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "Common/storage.h"
#include "Main/system/system.h"
#include "tests/Main/category_fixture.h"

namespace {


TEST(SystemFormats, DriverCodesAndLineLengths) {
  struct Case {
    int format, code, codeMode2, lineLength;
  } cases[] = {
      {0, 0, 10, 2200}, {1, 1, 11, 2640}, {2, 7, 13, 2750}, {3, 6, 12, 2750},
      {4, 2, 10, 1650}, {5, 3, 11, 1980}, {6, 4, 10, 858},  {7, 5, 11, 864},
      {8, 0, 14, 2200}, {9, 1, 15, 2640}, {10, 8, 10, 2200}, {11, 9, 11, 2640},
      {12, -1, -1, -1}, {-1, -1, -1, -1},
  };
  for (auto c : cases) {
    EXPECT_EQ(libmx::systemDriverFormatCode(c.format, 0), c.code) << c.format;
    EXPECT_EQ(libmx::systemDriverFormatCode(c.format, 1), c.code) << c.format;
    EXPECT_EQ(libmx::systemDriverFormatCode(c.format, 2), c.codeMode2) << c.format;
    EXPECT_EQ(libmx::systemLineLength(c.format), c.lineLength) << c.format;
  }
}

TEST(SystemFormats, AspectScale) {
  struct Case {
    int format, flag;
    float scale;
  } cases[] = {{6, 1, 0.84f}, {7, 1, 0.76f}, {6, 0, 1.0f}, {7, 0, 1.0f}, {0, 1, 1.0f}, {6, 2, 1.0f}};
  for (auto c : cases) EXPECT_FLOAT_EQ(libmx::sdAspectScale(c.format, c.flag), c.scale) << c.format;
}

using category::CategoryRegistry;

struct TestSystem : category::CategorySystem {};

// Stands in for the bus category of one ME: counts refresh requests.
struct FakeBus : test_categories::StubCategory, category::BusRefreshTarget {
  FakeBus() : StubCategory(category::TYPE_BUS, "MxifBus") {}
  int refreshRequests = 0;
  void requestRefresh() override { ++refreshRequests; }
};

class SystemCategoryTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    CategoryRegistry::instance().reset();
    AcknowledgeSender::instance().reset();
    sys = std::make_unique<TestSystem>();
    sys->bindStorage(&stored);
    sys->initialize();
  }
  void TearDown() override {
    CategoryRegistry::instance().reset();
    vsyncReset();
  }

  // A VSYNC through the frame callback, with the field bit given and no frame work.
  static void setField(u8 bit) {
    vsyncSetFrameWork([] {});
    onVsyncFrame(vsyncGuard(), bit);
    vsyncSetFrameWork(nullptr);
    EXPECT_EQ(category::CategorySystem::fieldFlag(), bit);
  }

  MxifSystem stored{};
  std::unique_ptr<TestSystem> sys;
};

TEST_F(SystemCategoryTest, ModeChangeWritesTheStorageWordsOnceARepeatWritesNone) {
  Storage& storage = Storage::instance();
  struct Step {
    int mode;
    bool written;
  } steps[] = {{2, true}, {2, false}, {0, true}, {0, false}, {7, true}};
  for (auto step : steps) {
    storage.writeWord(STORAGE_BOARD_MODE_MARKER, 0);
    storage.writeWord(STORAGE_BOARD_MODE, 0);
    MxifSystem req{};
    req.videoMask = MxifSystem::MODE;
    req.mode = static_cast<u8>(step.mode);
    sys->assign(req, 0);
    EXPECT_EQ(storage.readWord(STORAGE_BOARD_MODE_MARKER), step.written ? BOARD_MODE_MARKER : 0u) << step.mode;
    EXPECT_EQ(storage.readWord(STORAGE_BOARD_MODE), step.written ? step.mode + 256u : 0u) << step.mode;
    EXPECT_EQ(stored.mode, step.mode);
  }
  EXPECT_EQ(storage.boardMode(), 7);
}

TEST_F(SystemCategoryTest, AppliedAndPreviousFormat) {
  struct Step {
    int format;
    s8 applied, previous;
  } steps[] = {{4, 4, 0}, {8, 8, 0}, {12, 8, 0}, {6, 6, 0}};
  for (auto step : steps) {
    MxifSystem req{};
    req.videoMask = MxifSystem::FORMAT;
    req.format = static_cast<u8>(step.format);
    req.phaseMask = MxifSystem::VERTICAL_OFFSET;
    req.verticalOffset = 1;
    sys->assign(req, 0);
    EXPECT_EQ(sys->appliedFormat(), step.applied) << step.format;
    EXPECT_EQ(sys->previousFormat(), step.previous) << step.format;
    EXPECT_EQ(stored.format, step.applied) << step.format;
    EXPECT_EQ(stored.verticalOffset, 1);  // the other fields still land
  }
  EXPECT_EQ(sys->formatChanged(), 1);
}

TEST_F(SystemCategoryTest, BusRefreshReachesEveryMe) {
  FakeBus me0, me1;  // MEs 2 and 3 have no instance: the ME 0 one stands in
  struct Case {
    int value;
    int me0, me1;
  } cases[] = {{0, 0, 0}, {1, 3, 1}, {2, 0, 0}};
  for (auto c : cases) {
    me0.refreshRequests = me1.refreshRequests = 0;
    MxifSystem req{};
    req.mask = MxifSystem::BUS_REFRESH;
    req.busRefresh = static_cast<u8>(c.value);
    sys->assign(req, 0);
    EXPECT_EQ(me0.refreshRequests, c.me0) << c.value;
    EXPECT_EQ(me1.refreshRequests, c.me1) << c.value;
  }
}

TEST_F(SystemCategoryTest, ResumeRemembersTheLiveFormatOnlyWhenAsked) {
  MxifSystem saved{};
  saved.format = 9;
  sys->resume(&saved, 0);
  EXPECT_EQ(sys->appliedFormat(), -1);
  sys->resume(&saved, 1);
  EXPECT_EQ(sys->appliedFormat(), 9);
}

// Predicates and the switching gate over every format, recall phase mode and field flag of the VSYNC.
TEST_F(SystemCategoryTest, PhasePredicatesAndGate) {
  enum Group { SEGMENTED, P720, OTHER };
  struct Row {
    Group group;
    int mode;  // -1: every mode
    u8 flag;
    bool field1, field0, clip, recall, gate;
  } rows[] = {
      {SEGMENTED, -1, 0, false, true, false, true, true}, {SEGMENTED, -1, 1, true, false, true, false, false},
      {P720, -1, 0, true, true, true, false, true},       {P720, -1, 1, true, true, true, false, true},
      {OTHER, 0, 0, true, true, false, false, true},      {OTHER, 0, 1, true, true, true, false, true},
      {OTHER, 1, 0, true, true, false, true, true},       {OTHER, 1, 1, true, true, true, false, false},
      {OTHER, 2, 0, true, true, false, false, false},     {OTHER, 2, 1, true, true, true, true, true},
      {OTHER, 3, 0, true, true, false, false, false},     {OTHER, 3, 1, true, true, true, false, true},
  };
  const Group groups[12] = {OTHER, OTHER, SEGMENTED, SEGMENTED, P720, P720,
                            OTHER, OTHER, SEGMENTED, SEGMENTED, OTHER, OTHER};
  for (int format = 0; format < 12; ++format)
    for (const Row& r : rows)
      for (int mode = 0; mode < 4; ++mode) {
        if (r.group != groups[format] || (r.mode >= 0 && r.mode != mode)) continue;
        SCOPED_TRACE(testing::Message() << "format " << format << " mode " << mode << " flag " << int(r.flag));
        stored.format = static_cast<u8>(format);
        stored.recallPhaseMode = static_cast<u8>(mode);
        setField(r.flag);
        EXPECT_EQ(std::vector<bool>({sys->isFieldPhase(1), sys->isFieldPhase(0), sys->isFieldPhase(7), sys->isClipPhase(),
                                     sys->isRecallPhase(), category::isSwitchingGateOpen()}),
                  std::vector<bool>({r.field1, r.field0, r.field0, r.clip, r.recall, r.gate}));
      }
}

}  // namespace
