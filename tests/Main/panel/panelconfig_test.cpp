#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "Main/fader/faderevent.h"
#include "Main/io/io.h"
#include "Main/panel/panelconfig.h"
#include "tests/Main/category_fixture.h"

namespace {

using Record = MxifControlPanelConfig;
using Assign = KeyFaderButtonAssign;
using category::CategoryControlPanelConfig;
using category::CategoryFaderEvent;
using testing_support::AckPacket;

class PanelConfigTest : public test_categories::SystemCategoriesTest {
 protected:
  CategoryControlPanelConfig& cfg = CategoryControlPanelConfig::instance();
  Record& live() { return cfg.record(0); }
  std::vector<AckPacket> sendPass() { return SystemCategoriesTest::sendPass(cfg); }
};

TEST_F(PanelConfigTest, ButtonAccessors) {
  live().keyFaders[4][5] = {0, 2, 1};  // presence bits clear: the values still count
  const int matches[][5] = {{4, 5, 2, 1, 1}, {4, 5, 2, 2, 0}, {8, 5, 2, 1, 0}, {1, 2, 0, 0, 0}};
  for (auto m : matches) EXPECT_EQ(cfg.matchKeyFaderAssign(m[0], m[1], m[2], m[3]), m[4]) << m[0] << "," << m[3];

  live().keyFaderStates[0][0].state[3] = 1;
  EXPECT_EQ(std::tuple(cfg.keyFaderButtonState(0, 9, 3), cfg.keyFaderButtonState(0, 0, 15)), std::tuple(1, 0));
  const std::pair<u8, u8> toggles[] = {{2, 1}, {1, 0}, {0, 1}};
  for (auto [from, to] : toggles) {
    live().keyFaderStates[2][7].state[11] = from;
    cfg.toggleKeyFaderButtonState(2, 7, 11);
    EXPECT_EQ(live().keyFaderStates[2][7].state[11], to) << int(from);
  }
  sendPass();
  cfg.setKeyFaderButtonState(3, 0, 0, 1);
  EXPECT_TRUE(sendPass().empty());
  cfg.setKeyFaderButtonState(0, 8, 0, 1);  // stores nothing, yet the record is reported
  EXPECT_EQ(sendPass().size(), 1u);
}

TEST_F(PanelConfigTest, ButtonAssignedToNothingGoesOffUnlessTheRecordCarriesItsState) {
  for (auto& row : live().keyFaderStates) row[3].state[4] = row[3].state[5] = 1;
  Record req{};
  req.keyFaders[3][4] = {Assign::SEL_ME, 0, 0};
  req.keyFaderStates[1][3].mask = 1u << 4, req.keyFaderStates[1][3].state[4] = 1;
  cfg.assign(req, 0);
  std::vector<int> states;
  for (auto& row : live().keyFaderStates) states.insert(states.end(), {row[3].state[4], row[3].state[5]});
  EXPECT_EQ(states, std::vector<int>({0, 1, 1, 1, 0, 1}));
}

TEST_F(PanelConfigTest, ReplacedAssignmentReleasesTheTrackerItDrove) {
  struct Case { u8 liveMe, liveKey, newMe, newKey; u32 bits; int released; } cases[] = {
      {2, 1, 3, 1, Assign::SEL_ME, 7},
      {5, 2, 1, 0, Assign::SEL_ME | Assign::SEL_KEY_CH, 22},
      {2, 1, 12, 1, Assign::SEL_ME, 7},  // invalid: releases all the same, the assignment stays
      {2, 1, 2, 1, Assign::SEL_ME, -1},  // the same assignment
      {2, 1, 3, 1, 0, -1},               // not carried
      // Assignments that name no tracker of this system: ME 1 B side, key 6, downstream key 5.
      {6, 0, 1, 0, Assign::SEL_ME, -1}, {2, 5, 1, 0, Assign::SEL_ME, -1}, {5, 4, 1, 0, Assign::SEL_ME, -1},
  };
  auto& faders = CategoryFaderEvent::instance();
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.liveMe) << "," << int(c.liveKey) << " -> " << int(c.newMe));
    for (int k = 0; k < CategoryFaderEvent::N_SLOTS; ++k) faders.fader(k).ownerFader = 1;
    live().keyFaders[6][0] = {0, c.liveMe, c.liveKey};
    Record req{};
    req.keyFaders[6][0] = {c.bits, c.newMe, c.newKey};
    EXPECT_NO_THROW(cfg.assign(req, 0));
    for (int k = 0; k < CategoryFaderEvent::N_SLOTS; ++k) EXPECT_EQ(faders.fader(k).ownerFader, k == c.released ? -1 : 1) << k;
    EXPECT_EQ(live().keyFaders[6][0].selMe, c.newMe < 10 && c.bits ? c.newMe : c.liveMe);
  }
}

TEST_F(PanelConfigTest, CustomInformationDecidesWhichAssignmentsAreUsable) {
  category::CategoryCustomInfo::instance().record(0).enable = 1;
  struct { u8 me, key; bool usable; } cases[] = {
      {0, 0, false}, {1, 3, true}, {1, 4, false}, {6, 3, true}, {9, 0, true}, {5, 3, true}, {5, 4, false}, {10, 0, false}};
  for (const auto& c : cases) {
    live().keyFaders[2][9] = {0, c.me, c.key};
    for (auto& row : live().keyFaderStates) row[2].state[9] = 1;
    int me = -1, key = -1;
    EXPECT_EQ(cfg.keyFaderAssign(2, 9, me, key), c.usable) << int(c.me) << "," << int(c.key);
    EXPECT_TRUE(me == (c.usable ? c.me : 0) && key == (c.usable ? c.key : 0));
    for (int p = 0; p < 3; ++p) EXPECT_EQ(cfg.keyFaderButtonState(p, 2, 9), c.usable ? 1 : 0);
  }
  category::CategoryCustomInfo::instance().record(0).enable = 0;  // without it, as it stands
  live().keyFaders[2][9] = {0, 10, 7};
  int me = -1, key = -1;
  EXPECT_TRUE(cfg.keyFaderAssign(2, 9, me, key) && me == 10 && key == 7);
  EXPECT_FALSE(cfg.keyFaderAssign(8, 0, me, key) || me != 0 || key != 7);  // the key select stays
}

TEST_F(PanelConfigTest, RestartKeepsTheAssignmentsWithEveryButtonOffAndReported) {
  live().keyFaders[7][11] = {0, 9, 7};
  for (auto& row : live().keyFaderStates) for (auto& e : row) std::memset(e.state, 1, sizeof e.state);
  restart();
  EXPECT_EQ(live().keyFaders[7][11].selMe, 9);
  for (const auto& row : live().keyFaderStates) for (const auto& e : row) EXPECT_TRUE(e.mask == 0xFFF && std::count(e.state, e.state + 12, 0) == 12);

}

}  // namespace
