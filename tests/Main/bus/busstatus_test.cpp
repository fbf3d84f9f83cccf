#include <gtest/gtest.h>

#include <memory>

#include "Main/bus/busstatus.h"
#include "Main/bus/sourcelink.h"
#include "tests/support/board_fixture.h"
#include "tests/support/frontend_peer.h"

namespace {

using category::CategoryBusStatus;

category::CategoryRegistry& reg() { return category::CategoryRegistry::instance(); }

class BusStatusTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    reg().reset();
    peer.reset();
    AcknowledgeSender::instance().reset();
    for (int m = 0; m < category::N_ME; ++m) {
      cats[m] = std::make_unique<CategoryBusStatus>();
      reg().bindInstance(m, MxifBusStatus::TYPE_INDEX, reinterpret_cast<u8*>(stored[m]));
      cats[m]->initialize();
    }
  }

  testing_support::FrontendPeer peer;
  MxifBusStatus stored[category::N_ME][3]{};
  std::unique_ptr<CategoryBusStatus> cats[category::N_ME];
};

struct TestLink : category::CategorySourceLink {};

TEST_F(BusStatusTest, RepeatedSwitchOnTurnsItOffOnlyWithLinkModeZero) {
  auto withSwitch = [](int v) { return MxifBusStatus{.maskA = MxifBusStatus::SWITCH, .switchLamp = u8(v)}; };
  const int steps[][2] = {{1, 1}, {1, 0}, {1, 0}, {0, 0}, {1, 1}, {1, 0}};  // received, stored
  for (auto s : steps) {
    cats[0]->assign(withSwitch(s[0]), 1);
    EXPECT_EQ(stored[0][1].switchLamp, s[1]) << s[0];
    EXPECT_TRUE(stored[0][1].maskA & MxifBusStatus::SWITCH);
  }
  cats[0]->assign(withSwitch(1), 0);  // each channel keeps its own last value
  EXPECT_EQ(stored[0][0].switchLamp, 1);

  TestLink link;
  MxifSourceLink linkRecord{}, mode{};
  reg().bindInstance(0, MxifSourceLink::TYPE_INDEX, reinterpret_cast<u8*>(&linkRecord));
  link.initialize();
  mode.mask = MxifSourceLink::LINK_MODE;
  mode.linkMode = 1;
  link.assign(mode, 0);
  for (int i = 0; i < 3; ++i) {
    cats[2]->assign(withSwitch(1), 0);
    EXPECT_EQ(stored[2][0].switchLamp, 1) << i;
  }
}

TEST_F(BusStatusTest, RowsAsBusEntries) {
  stored[1][2] = MxifBusStatus{.rows = {88, 89, 102, 200, 255}};
  const int entries[] = {88, -1, -1, -1, -1};
  for (int row = 0; row < 5; ++row) EXPECT_EQ(cats[1]->rowEntry(2, row), entries[row]) << row;
}

TEST_F(BusStatusTest, ListedCodesOnTheFirstFourRows) {
  const int cases[][3] = {{0, 3, 1},  {1, 103, 1}, {2, 23, 1}, {3, 11, 1},  {0, 2, 0},
                          {0, 10, 0}, {3, 102, 0}, {4, 3, 0},  {0, 109, 1}, {1, 17, 1}};  // row, value, listed
  for (auto c : cases) {
    stored[0][1] = MxifBusStatus{};
    stored[0][1].rows[c[0]] = static_cast<u8>(c[1]);
    EXPECT_EQ(cats[0]->statusHasListedCode(1), c[2]) << c[0] << " " << c[1];
  }
}

}  // namespace
