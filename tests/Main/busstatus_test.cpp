#include <gtest/gtest.h>

#include <memory>

#include "Main/busstatus.h"
#include "Main/sourcelink.h"
#include "board_fixture.h"
#include "frontend_peer.h"

namespace {

using category::CategoryBusStatus;
using category::CategoryRegistry;
using testing_support::FrontendPeer;

CategoryRegistry& reg() { return CategoryRegistry::instance(); }

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
  void TearDown() override {
    reg().reset();
    BoardTest::TearDown();
  }

  static MxifBusStatus withSwitch(int value) {
    MxifBusStatus r{};
    r.maskA = MxifBusStatus::SWITCH;
    r.switchLamp = static_cast<u8>(value);
    return r;
  }

  FrontendPeer peer;
  MxifBusStatus stored[category::N_ME][3]{};
  std::unique_ptr<CategoryBusStatus> cats[category::N_ME];
};

TEST_F(BusStatusTest, FieldsAreTakenOnlyInRange) {
  const struct {
    void (*set)(MxifBusStatus&, int);
    int value;
    bool taken;
  } cases[] = {
      {[](MxifBusStatus& r, int v) { r.maskA |= 1; r.switchLamp = u8(v); }, 1, true},
      {[](MxifBusStatus& r, int v) { r.maskA |= 1; r.switchLamp = u8(v); }, 2, false},
      {[](MxifBusStatus& r, int v) { r.maskA |= 2; r.flag21 = u8(v); }, 2, false},
      {[](MxifBusStatus& r, int v) { r.maskA |= 4; r.flag22 = u8(v); }, 1, true},
      {[](MxifBusStatus& r, int v) { r.maskA |= 8; r.flag36 = u8(v); }, 2, false},
      {[](MxifBusStatus& r, int v) { r.maskA |= 16; r.value37 = u8(v); }, 47, true},
      {[](MxifBusStatus& r, int v) { r.maskA |= 16; r.value37 = u8(v); }, 48, false},
      {[](MxifBusStatus& r, int v) { r.maskC |= 1u << 6; r.pages[6] = u8(v); }, 3, true},
      {[](MxifBusStatus& r, int v) { r.maskC |= 1u << 6; r.pages[6] = u8(v); }, 4, false},
      // Rows name a bus entry 0..88, a special row 102..109 or 255.
      {[](MxifBusStatus& r, int v) { r.maskB |= 1u << 4; r.rows[4] = u8(v); }, 88, true},
      {[](MxifBusStatus& r, int v) { r.maskB |= 1u << 4; r.rows[4] = u8(v); }, 89, false},
      {[](MxifBusStatus& r, int v) { r.maskB |= 1u << 4; r.rows[4] = u8(v); }, 101, false},
      {[](MxifBusStatus& r, int v) { r.maskB |= 1u << 4; r.rows[4] = u8(v); }, 102, true},
      {[](MxifBusStatus& r, int v) { r.maskB |= 1u << 4; r.rows[4] = u8(v); }, 109, true},
      {[](MxifBusStatus& r, int v) { r.maskB |= 1u << 4; r.rows[4] = u8(v); }, 200, false},
      {[](MxifBusStatus& r, int v) { r.maskB |= 1u << 4; r.rows[4] = u8(v); }, 254, false},
      {[](MxifBusStatus& r, int v) { r.maskB |= 1u << 4; r.rows[4] = u8(v); }, 255, true},
  };
  int i = 0;
  for (auto c : cases) {
    MxifBusStatus in{};
    c.set(in, c.value);
    cats[1]->initialize();
    cats[1]->assign(in, 2);
    MxifBusStatus expected{};
    if (c.taken) c.set(expected, c.value);
    const MxifBusStatus& r = stored[1][2];
    EXPECT_EQ(r.maskA, expected.maskA) << i;
    EXPECT_EQ(r.maskB, expected.maskB) << i;
    EXPECT_EQ(r.maskC, expected.maskC) << i;
    EXPECT_EQ(r.switchLamp + r.flag21 + r.flag22 + r.flag36 + r.value37 + r.pages[6] + r.rows[4],
              c.taken ? c.value : 0)
        << i;
    EXPECT_EQ(r.me, 1);
    EXPECT_EQ(r.channel, 2);
    ++i;
  }
}

TEST_F(BusStatusTest, RepeatedSwitchOnTurnsItOffWithLinkModeZero) {
  // Received byte 20 values and what is stored.
  const struct {
    int received, stored;
  } steps[] = {{1, 1}, {1, 0}, {1, 0}, {0, 0}, {1, 1}, {1, 0}};
  for (auto s : steps) {
    cats[0]->assign(withSwitch(s.received), 1);
    EXPECT_EQ(stored[0][1].switchLamp, s.stored) << s.received;
    EXPECT_TRUE(stored[0][1].maskA & MxifBusStatus::SWITCH);
  }
  // Each channel keeps its own last value.
  cats[0]->assign(withSwitch(1), 0);
  EXPECT_EQ(stored[0][0].switchLamp, 1);
}

struct TestLink : category::CategorySourceLink {};

TEST_F(BusStatusTest, WithLinkModeOneARepeatedSwitchStaysOn) {
  TestLink link;
  MxifSourceLink linkRecord{};
  reg().bindInstance(0, MxifSourceLink::TYPE_INDEX, reinterpret_cast<u8*>(&linkRecord));
  link.initialize();
  MxifSourceLink mode{};
  mode.mask = MxifSourceLink::LINK_MODE;
  mode.linkMode = 1;
  link.assign(mode, 0);
  for (int i = 0; i < 3; ++i) {
    cats[2]->assign(withSwitch(1), 0);
    EXPECT_EQ(stored[2][0].switchLamp, 1) << i;
  }
}

TEST_F(BusStatusTest, RecordsReachTheInstanceOfTheirMeAndTheChannelOfTheirPanel) {
  const struct {
    int me, channel;
    bool taken;
  } cases[] = {{0, 0, true}, {3, 2, true}, {2, 1, true}, {4, 0, false}, {1, 3, false}, {1, 0x100, false}};
  for (auto c : cases) {
    MxifBusStatus r{};
    r.me = static_cast<u8>(c.me);
    r.channel = static_cast<u16>(c.channel);
    r.maskB = 1;
    r.rows[0] = 10;
    peer.send(r);
    reg().receiveAll();
    int hits = 0;
    for (auto& me : stored) {
      for (auto& ch : me) {
        if (ch.rows[0] == 10) ++hits;
      }
    }
    EXPECT_EQ(hits, c.taken ? 1 : 0) << c.me << " " << c.channel;
    if (c.taken) {
      EXPECT_EQ(stored[c.me][c.channel].rows[0], 10);
    }
    for (auto& me : stored) {
      for (auto& ch : me) ch.rows[0] = 0;
    }
  }
  // Echo: one 32-byte packet per changed channel, with its ME and channel.
  reg().sendAll(AcknowledgeSender::instance());
  int packets = 0;
  for (const auto& p : peer.readPackets()) {
    if (p.type != MxifBusStatus::TYPE_INDEX) continue;
    ++packets;
    EXPECT_EQ(p.body.size(), 32u);
    const auto r = p.as<MxifBusStatus>();
    EXPECT_EQ(r.maskB, 1u);
    EXPECT_TRUE((r.me == 0 && r.channel == 0) || (r.me == 3 && r.channel == 2) || (r.me == 2 && r.channel == 1));
  }
  EXPECT_EQ(packets, 3);
}

TEST_F(BusStatusTest, ResumeKeepsValidFieldsAndFixesChannelAndMe) {
  MxifBusStatus image[3]{};
  image[0].rows[0] = 200;  // no bus entry: refused
  image[0].rows[1] = 107;
  image[0].value37 = 50;
  image[0].flag22 = 1;
  image[0].channel = 7;
  image[0].me = 3;
  image[2].pages[0] = 2;
  cats[2]->resume(image);
  const MxifBusStatus& r = stored[2][0];
  EXPECT_EQ(r.rows[0], 0);
  EXPECT_EQ(r.rows[1], 107);
  EXPECT_EQ(r.value37, 0);
  EXPECT_EQ(r.flag22, 1);
  EXPECT_EQ(r.channel, 0);
  EXPECT_EQ(r.me, 2);
  EXPECT_EQ(r.maskB, 0x1Fu);
  EXPECT_EQ(stored[2][2].pages[0], 2);
  EXPECT_EQ(stored[2][2].channel, 2);
}

TEST_F(BusStatusTest, ListedCodesOnTheFirstFourRows) {
  const struct {
    int row, value, listed;
  } cases[] = {{0, 3, 1},  {1, 103, 1}, {2, 23, 1}, {3, 11, 1}, {0, 2, 0},
               {0, 10, 0}, {3, 102, 0}, {4, 3, 0},  {0, 109, 1}, {1, 17, 1}};
  for (auto c : cases) {
    stored[0][1] = MxifBusStatus{};
    stored[0][1].rows[c.row] = static_cast<u8>(c.value);
    EXPECT_EQ(cats[0]->statusHasListedCode(1), c.listed) << c.row << " " << c.value;
  }
}

}  // namespace
