#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <tuple>
#include <utility>

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

TEST_F(BusStatusTest, FieldsAreTakenOnlyInRange) {
  using Set = void (*)(MxifBusStatus&, int);
  const Set lamp = [](MxifBusStatus& r, int v) { r.maskA |= 1; r.switchLamp = u8(v); };
  const Set f21 = [](MxifBusStatus& r, int v) { r.maskA |= 2; r.flag21 = u8(v); };
  const Set f22 = [](MxifBusStatus& r, int v) { r.maskA |= 4; r.flag22 = u8(v); };
  const Set f36 = [](MxifBusStatus& r, int v) { r.maskA |= 8; r.flag36 = u8(v); };
  const Set v37 = [](MxifBusStatus& r, int v) { r.maskA |= 16; r.value37 = u8(v); };
  const Set page = [](MxifBusStatus& r, int v) { r.maskC |= 1u << 6; r.pages[6] = u8(v); };
  const struct { Set set; int value; bool taken; } cases[] = {
      {lamp, 1, true},  {lamp, 2, false}, {f21, 2, false}, {f22, 1, true},  {f36, 2, false},
      {v37, 47, true},  {v37, 48, false}, {page, 3, true}, {page, 4, false}};
  int i = 0;
  for (auto c : cases) {
    MxifBusStatus in{}, expected{.channel = 2, .me = 1};
    c.set(in, c.value);
    if (c.taken) c.set(expected, c.value);
    cats[1]->initialize();
    cats[1]->assign(in, 2);
    EXPECT_EQ(std::memcmp(&stored[1][2], &expected, sizeof expected), 0) << i++;
  }
}

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

TEST_F(BusStatusTest, RecordsReachTheInstanceOfTheirMeAndTheChannelOfTheirPanel) {
  const int cases[][3] = {{0, 0, 1}, {3, 2, 1}, {2, 1, 1}, {4, 0, 0}, {1, 3, 0}, {1, 0x100, 0}};  // me, channel, taken
  u8 row = 199;  // rows are taken as sent, even those that name no bus entry
  for (auto c : cases) {
    peer.send(MxifBusStatus{.channel = u16(c[1]), .me = u8(c[0]), .maskB = 1, .rows = {++row}});
    reg().receiveAll();
    int hits = 0;
    for (auto& me : stored) {
      for (auto& ch : me) hits += ch.rows[0] == row ? 1 : 0;
    }
    EXPECT_EQ(hits, c[2]) << c[0] << " " << c[1];
    if (c[2]) {
      EXPECT_EQ(stored[c[0]][c[1]].rows[0], row);
    }
  }
  // Echo: one 32-byte packet per changed channel, with its ME and channel.
  reg().sendAll(AcknowledgeSender::instance());
  std::multiset<std::tuple<int, int, int>> echoed;
  for (const auto& p : peer.readPackets()) {
    if (p.type != MxifBusStatus::TYPE_INDEX) continue;
    const auto r = p.as<MxifBusStatus>();
    EXPECT_EQ(p.body.size(), 32u);
    EXPECT_EQ(r.maskB, 1u);
    echoed.insert({r.me, r.channel, r.rows[0]});
  }
  EXPECT_EQ(echoed, (std::multiset<std::tuple<int, int, int>>{{0, 0, 200}, {2, 1, 202}, {3, 2, 201}}));
}

TEST_F(BusStatusTest, ResumeKeepsValidFieldsAndFixesChannelAndMe) {
  // Rows are kept as they are; value 50 is out of range and refused.
  const MxifBusStatus image[3] = {
      {.channel = 7, .me = 3, .rows = {200, 107}, .flag22 = 1, .value37 = 50}, {}, {.pages = {2}}};
  cats[2]->resume(image);
  MxifBusStatus expected[3] = {
      {.me = 2, .rows = {200, 107}, .flag22 = 1}, {.channel = 1, .me = 2}, {.channel = 2, .me = 2, .pages = {2}}};
  for (int ch = 0; ch < 3; ++ch) {
    codec::setAllPresence(expected[ch]);  // reported whole
    EXPECT_EQ(codec::toText(stored[2][ch]), codec::toText(expected[ch])) << ch;
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
