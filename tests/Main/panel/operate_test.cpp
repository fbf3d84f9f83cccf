#include <gtest/gtest.h>

#include <vector>

#include "Driver/xpt/dskmix.h"
#include "Driver/xpt/xpt.h"
#include "Main/fader/faderevent.h"
#include "Main/panel/operate.h"
#include "Main/system/system.h"
#include "tests/Main/category_fixture.h"

namespace {

using Record = MxifOperate;
using category::CategoryFaderEvent;
using category::CategoryOperate;
using testing_support::consoleCount;

TEST(OperateAccessors, BusStatusValuesAndSlots) {
  struct {
    int code, slot, mode, value;
  } values[] = {{5, 2, 1, 255}, {9, 0, 1, 12}, {14, 1, 0, 1}, {6, 0, 1, 0}, {19, 0, 0, 255},
                {1, 0, 1, 3},   {1, 0, 0, 2},  {18, 3, 1, 109}, {0, 1, 0, 255}, {-1, 0, 0, 255}};
  for (auto v : values) EXPECT_EQ(CategoryOperate::busStatusValue(v.code, v.slot, v.mode), v.value) << v.code;
  const int slots[][2] = {{0, 2}, {1, 3}, {2, 0}, {3, 1}, {4, 0}, {-1, 0}};
  for (auto s : slots) EXPECT_EQ(CategoryOperate::busStatusSlot(s[0]), s[1]) << s[0];
}

class OperateTest : public test_categories::SystemCategoriesTest {
 protected:
  CategoryOperate& op = CategoryOperate::instance();
  CategoryFaderEvent& faders = CategoryFaderEvent::instance();
  Record& live() { return op.record(0); }
  void ownAll(int owner) {
    for (int k = 0; k < CategoryFaderEvent::N_SLOTS; ++k) faders.fader(k).ownerFader = owner;
  }
  // The trackers that no lever owns.
  std::vector<int> released() {
    std::vector<int> out;
    for (int k = 0; k < CategoryFaderEvent::N_SLOTS; ++k) if (faders.fader(k).ownerFader == -1) out.push_back(k);
    return out;
  }
  static Record fade(int target, int rate) {
    Record r{};
    r.ftb.mask = Record::FadeToBlack::TARGET | Record::FadeToBlack::RATE;
    r.ftb.target = static_cast<u8>(target), r.ftb.rate = static_cast<s16>(rate);
    return r;
  }
};

TEST_F(OperateTest, KeyFaderKindChangeFreesTheKeyTransitions) {
  ownAll(1);
  Record req{};
  req.mask = Record::KEY_FADER_KIND, req.keyFaderKind = 1;
  op.assign(req, 0);
  EXPECT_EQ(released(), std::vector<int>({1, 2, 3, 4, 6, 7, 8, 9, 11, 12, 13, 14, 16, 17, 18, 19, 20, 21, 22, 23}));
  ownAll(1);
  op.assign(req, 0);  // unchanged
  EXPECT_TRUE(released().empty());
  EXPECT_EQ(live().keyFaderKind, 1);
}

TEST_F(OperateTest, MainRowTakingAnotherMeFreesBothMesForSixteenFrames) {
  ownAll(1);
  Record req{};
  req.meChangeMain = {1, {1}};
  op.assign(req, 0);
  EXPECT_EQ(released(), std::vector<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(std::vector<int>({faders.meChangeCountdown(0, 1), faders.meChangeCountdown(0, 0), faders.meChangeCountdown(1, 0)}),
            std::vector<int>({16, 16, 0}));
  runFrame(1);
  EXPECT_EQ(faders.meChangeCountdown(0, 1), 15);
  EXPECT_EQ(std::vector<u8>(live().meChangeMain.value, live().meChangeMain.value + 4), std::vector<u8>({1, 0, 2, 3}));
  for (int f = 0; f < 15; ++f) runFrame(f & 1);
  EXPECT_EQ(faders.meChangeCountdown(0, 0), 0);
}

TEST_F(OperateTest, MeMapsAreRepairedIntoPermutations) {
  struct { const char* what; Record::Bytes4 stored; int panel; std::vector<u8> map; u32 mask; const char* log; } cases[] = {
      {"row 0 requested on four rows of ME 0", {1, {0, 0, 0, 0}}, 0, {0, 1, 2, 3}, 0xF, nullptr},
      {"rows 0 and 1 both requesting ME 1", {3, {1, 1, 2, 3}}, 1, {0, 1, 2, 3}, 0xF, "[ERR] ME Change conflict"},
      {"rows 0 and 1 swapped", {3, {1, 0, 2, 3}}, 2, {1, 0, 2, 3}, 3, nullptr},
      {"row 0 requested, row 1 on its ME", {1, {1, 1, 2, 3}}, 0, {1, 0, 2, 3}, 3, nullptr},
      {"row 1 on ME 3 in a quiet map", {0, {0, 3, 2, 1}}, 2, {0, 1, 2, 3}, 0xA, "[ERR] ME Change Sub2 range over 1 3"},
      {"no row requested", {0, {0, 0, 2, 3}}, 1, {0, 0, 2, 3}, 0, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing_support::consoleClear();
    Record::Bytes4& map = live().meChange(c.panel);
    map = c.stored;
    op.checkMeChangeRange();
    EXPECT_EQ(std::tuple(std::vector<u8>(map.value, map.value + 4), map.mask, consoleCount("[ERR]"), c.log ? consoleCount(c.log) : 0),
              std::tuple(c.map, c.mask, c.log ? 1 : 0, c.log ? 1 : 0));
    map = {0, {0, 1, 2, 3}};
  }
}

TEST_F(OperateTest, FadeToBlackRunsToTheDskFadeLevel) {
  struct Request { int frame, target; };
  // Requests by frame; the DSK fade level in frames 1, 2, ...
  struct { const char* what; int rate; std::vector<Request> requests; std::vector<u32> levels; } cases[] = {
      {"fade at rate 10", 10, {{1, 1}}, {0, 102, 205, 307, 409, 512, 614, 716, 818, 921, 1023, 1023}},
      {"reversed in frame 4", 10, {{1, 1}, {4, 0}}, {0, 102, 205, 307, 205, 102, 0, 0}},
      {"target 1 then 0 in one frame, then 1 while faded", 2, {{1, 1}, {1, 0}, {4, 1}}, {0, 512, 1023, 1023, 1023}},
      {"clear again", 2, {{1, 1}, {4, 0}}, {0, 512, 1023, 1023, 512, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    reg().initializeAll();
    category::CategorySystem::instance().record(0).format = 4;
    std::vector<u32> levels;
    for (int f = 1; f <= static_cast<int>(c.levels.size()); ++f) {
      for (auto r : c.requests) if (r.frame == f) peer.send(fade(r.target, c.rate));
      runFrame(f & 1);
      levels.push_back(mxDskMixer().fadeLevel);
    }
    EXPECT_EQ(levels, c.levels);
    EXPECT_FALSE(op.fadeRequested() || op.clearRequested());
  }
  op.assign(fade(live().ftb.target, 5), 0);  // the stored target again
  EXPECT_FALSE(op.fadeRequested() || op.clearRequested());
  live().ftb.target = 1;  // a restart rests the fade at its target
  runFrame(0);
  restart();
  runFrame(0);
  EXPECT_EQ(mxDskMixer().fadeLevel, 1023u);
}

TEST_F(OperateTest, FadeSourceAndBusSettingAccessor) {
  const int sources[][2] = {{10, 11}, {11, 10}, {0, 0}, {5, 5}, {9, 9}};  // source, memory source index
  for (auto c : sources) {
    live().ftb.source = static_cast<u8>(c[0]);
    op.update();
    EXPECT_EQ(mxXptImage()[xpt::MEMORY], c[1]) << c[0];
  }

  live().busSettings[2][0] = {1, 0xF, {1, 2, 3, 4}, 1};
  live().busSettings[0][0] = live().busSettings[7][5] = {1, 0, {9}, 0};
  const std::pair<int, int> zero[] = {{8, 0}, {-1, 0}, {8, 3}};
  for (auto [g, e] : zero) {
    const Record::BusSetting s = op.busSetting(g, e);
    EXPECT_TRUE(s.mask == 0 && s.codeMask == 0 && s.flag == 0 && s.code[0] == 0 && s.code[3] == 0) << g;
  }
  for (int e : {6, -1, 0}) EXPECT_EQ(op.busSetting(2, e).code[3], 4) << e;
}



}  // namespace
