#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "Main/bus/button.h"
#include "Main/system/system.h"
#include "Main/framework/vsync.h"
#include "tests/Main/category_fixture.h"

namespace {

using category::ButtonReceiver;
using category::CategoryButtonEvent;
using category::CategoryRegistry;
using Event = internal::MxifButtonEvent;
using V = std::vector<std::string>;
constexpr int N_RECEIVERS = static_cast<int>(ButtonReceiver::COUNT);

V& received() { static V log; return log; }
V take() { return std::exchange(received(), {}); }

using test_categories::buttonEvent;

struct TestSystem : category::CategorySystem {
  void update() override {}  // the format stays as the test sets it
};
struct TestButtonEvent : CategoryButtonEvent {};

// Every receiver logs "<name>/<ME row> <code>".
class ButtonEventTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    peer.reset();
    AcknowledgeSender::instance().reset();
    received().clear();
    sys.bindStorage(&system);
    sys.initialize();
    buttons.initialize();
    for (int i = 0; i < N_RECEIVERS; ++i) {
      saved[i] = CategoryButtonEvent::hook(static_cast<ButtonReceiver>(i));
      CategoryButtonEvent::setHook(static_cast<ButtonReceiver>(i), [](category::CategoryInterface& t, const Event& ev) {
        received().push_back(std::string(t.typeName()) + "/" + std::to_string(t.meIndex()) + " " +
                             std::to_string(ev.code));
      });
    }
    peer.write({0, 0});  // connects the link
  }
  void TearDown() override {
    for (int i = 0; i < N_RECEIVERS; ++i) CategoryButtonEvent::setHook(static_cast<ButtonReceiver>(i), saved[i]);
    vsyncReset();
    BoardTest::TearDown();
  }
  void setGate(int format, int mode) { std::tie(system.format, system.recallPhaseMode) = std::pair(format, mode); }
  static void frame(u8 field) { test_categories::runFrame(field); }

  struct Fresh {
    Fresh() { CategoryRegistry::instance().reset(); }
  } fresh;  // before the members register
  testing_support::FrontendPeer peer;
  MxifSystem system{};
  TestSystem sys;
  TestButtonEvent buttons;
  category::ButtonHook saved[N_RECEIVERS] = {};
  // The ME 0 instances stand in for MEs without their own.
  using Receiver = test_categories::StubCategory;
  Receiver bus0{47, "bus"}, bus1{47, "bus"}, bkgd{2, "bkgd"}, image{3, "image"}, clip{13, "clip"},
      fader{95, "fader"}, keyPreset{19, "keyPreset"}, macro{20, "macro"}, usk{8, "usk"};
};

TEST_F(ButtonEventTest, CodesReachEveryMatchingRowInTableOrder) {
  const std::string all3 = "bkgd/0 clip/0 fader/0 ";
  struct Case { int code, me; std::string receivers; } cases[] = {  // receivers: "<name>/<row>" in order

      {1100, 1, "bus/1"}, {1291, 3, "bus/0"}, {1292, 0, ""}, {1100, 5, ""}, {1296, 2, "image/0"},
      {1600, 0, all3}, {1603, 1, all3 + "macro/0"}, {1707, 0, all3 + "keyPreset/0"}, {1708, 0, all3},
      {1839, 0, all3}, {1840, 0, ""}, {2100, 0, all3 + "keyPreset/0"}, {2139, 0, all3}, {2053, 0, "usk/0"},
      {2054, 0, ""}, {3101, 2, "fader/0"}, {2006, 7, "MxifSystem/0"}, {2013, 0, "MxifSystem/0"},
      {3000, 9, "bus/0 bkgd/0 bus/1 bkgd/0 bus/0 bkgd/0 bus/0 bkgd/0"},
  };
  for (const auto& c : cases) {
    V expected;
    std::istringstream in(c.receivers);
    for (std::string r; in >> r;) expected.push_back(r + " " + std::to_string(c.code));
    buttons.dispatch(buttonEvent(c.code, c.me));
    EXPECT_EQ(take(), expected) << "code " << c.code << " ME " << c.me;
  }
  // A receiver without hook (its category not built) gets nothing; the others still do.
  CategoryButtonEvent::setHook(ButtonReceiver::CLIP_STATUS, nullptr);
  buttons.dispatch(buttonEvent(1616, 0));
  EXPECT_EQ(take(), (V{"bkgd/0 1616", "fader/0 1616"}));
}

// Events wait while the gate is closed and act at the start of the next open frame, before its
// requests; a start empties the ring; a full ring acts on the queue at once, logs once and keeps the
// new event.
TEST_F(ButtonEventTest, QueueWaitsForAnOpenFrameAndOverflowsOnce) {
  setGate(8, 0);  // open only after a frame with field bit 0
  frame(1);
  peer.send(buttonEvent(1101, 0));
  peer.send(buttonEvent(1102, 0));
  frame(0);  // closed while receiving; its end opens the gate
  EXPECT_EQ(std::tuple(take(), buttons.pending()), std::tuple(V{}, 2));
  peer.send(buttonEvent(1103, 0));
  frame(1);
  EXPECT_EQ(take(), (V{"bus/0 1101", "bus/0 1102", "bus/0 1103"}));
  peer.send(buttonEvent(1104, 0));
  frame(1);
  EXPECT_EQ(std::tuple(take(), buttons.pending()), std::tuple(V{}, 1));
  buttons.initInternal();
  EXPECT_EQ(buttons.pending(), 0);
  frame(0);
  frame(1);
  EXPECT_TRUE(take().empty());

  setGate(2, 0);
  frame(1);  // closed from here on
  for (int i = 0; i < 61; ++i) peer.send(buttonEvent(1100 + i, 0));
  frame(1);
  V expected;
  for (int i = 0; i < 60; ++i) expected.push_back("bus/0 " + std::to_string(1100 + i));
  EXPECT_EQ(std::tuple(take(), testing_support::consoleCount("\x1b[ERR] button event buffer full"), buttons.pending()),
            std::tuple(expected, 1, 1));
}

}  // namespace
