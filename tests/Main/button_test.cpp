#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Main/button.h"
#include "Main/system.h"
#include "Main/vsync.h"
#include "category_fixture.h"
#include "board_fixture.h"
#include "frontend_peer.h"

namespace {

using category::ButtonHook;
using category::ButtonReceiver;
using category::CategoryButtonEvent;
using category::CategoryRegistry;
using Event = internal::MxifButtonEvent;
using testing_support::Bytes;
using testing_support::consoleCount;

std::vector<std::string>& received() {
  static std::vector<std::string> log;
  return log;
}

// Every receiver's hook: "<name>/<ME row> <code>".
void logEvent(category::CategoryInterface& target, const Event& ev) {
  received().push_back(std::string(target.typeName()) + "/" + std::to_string(target.meIndex()) + " " +
                       std::to_string(ev.code));
}

struct TestSystem : category::CategorySystem {
  void update() override {}  // the format stays as the test sets it
};
struct TestButtonEvent : CategoryButtonEvent {};

Event event(int code, int me, int state = 1, int panel = 0) {
  Event ev{};
  ev.code = static_cast<u16>(code);
  ev.me = static_cast<u8>(me);
  ev.state = static_cast<u8>(state);
  ev.panel = static_cast<u8>(panel);
  return ev;
}

class ButtonEventTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    peer.reset();
    AcknowledgeSender::instance().reset();
    received().clear();
    sys = std::make_unique<TestSystem>();
    sys->bindStorage(&system);
    sys->initialize();
    buttons = std::make_unique<TestButtonEvent>();
    buttons->initialize();
    for (int i = 0; i < static_cast<int>(ButtonReceiver::COUNT); ++i) {
      saved[i] = CategoryButtonEvent::hook(static_cast<ButtonReceiver>(i));
      CategoryButtonEvent::setHook(static_cast<ButtonReceiver>(i), logEvent);
    }
    peer.write({0, 0});  // connects the link
  }
  void TearDown() override {
    for (int i = 0; i < static_cast<int>(ButtonReceiver::COUNT); ++i) {
      CategoryButtonEvent::setHook(static_cast<ButtonReceiver>(i), saved[i]);
    }
    vsyncReset();
    BoardTest::TearDown();
  }

  void setGate(int format, int recallMode) {
    system.format = static_cast<u8>(format);
    system.recallPhaseMode = static_cast<u8>(recallMode);
  }
  // One frame with the field bit given: the VSYNC callback, then the registry's frame work.
  static void frame(u8 field) {
    vsyncSetFrameWork([] {});
    onVsyncFrame(vsyncGuard(), field);
    vsyncSetFrameWork(nullptr);
    CategoryRegistry::instance().process();
  }
  void send(const Event& ev) { peer.send(ev); }
  static std::vector<std::string> take() {
    auto out = received();
    received().clear();
    return out;
  }

  struct Fresh {
    Fresh() { CategoryRegistry::instance().reset(); }
  } fresh;  // before the members register
  testing_support::FrontendPeer peer;
  MxifSystem system{};
  std::unique_ptr<TestSystem> sys;
  std::unique_ptr<TestButtonEvent> buttons;
  ButtonHook saved[static_cast<int>(ButtonReceiver::COUNT)] = {};
  // Buses of ME 0 and 1, one background and one of every other receiver; the ME 0 instances stand
  // in for MEs without their own.
  using Receiver = test_categories::StubCategory;
  Receiver bus0{47, "bus"}, bus1{47, "bus"}, bkgd{2, "bkgd"}, image{3, "image"}, clip{13, "clip"},
      fader{95, "fader"}, keyPreset{19, "keyPreset"}, macro{20, "macro"}, usk{8, "usk"};
};

TEST_F(ButtonEventTest, CodesReachEveryMatchingRowInTableOrder) {
  using V = std::vector<std::string>;
  struct Case {
    int code, me;
    V expected;
  } cases[] = {
      {1100, 1, {"bus/1 1100"}},
      {1291, 3, {"bus/0 1291"}},  // no bus of ME 3: the ME 0 one
      {1292, 0, {}},
      {1100, 5, {}},  // not tied to an ME
      {1296, 2, {"image/0 1296"}},
      {1600, 0, {"bkgd/0 1600", "clip/0 1600", "fader/0 1600"}},
      {1603, 1, {"bkgd/0 1603", "clip/0 1603", "fader/0 1603", "macro/0 1603"}},
      {1707, 0, {"bkgd/0 1707", "clip/0 1707", "fader/0 1707", "keyPreset/0 1707"}},
      {1708, 0, {"bkgd/0 1708", "clip/0 1708", "fader/0 1708"}},
      {1839, 0, {"bkgd/0 1839", "clip/0 1839", "fader/0 1839"}},
      {1840, 0, {}},
      {2100, 0, {"bkgd/0 2100", "clip/0 2100", "fader/0 2100", "keyPreset/0 2100"}},
      {2139, 0, {"bkgd/0 2139", "clip/0 2139", "fader/0 2139"}},
      {2053, 0, {"usk/0 2053"}},
      {2054, 0, {}},
      {3101, 2, {"fader/0 3101"}},
      {2006, 7, {"MxifSystem/0 2006"}},
      {2013, 0, {"MxifSystem/0 2013"}},
      {3000, 9,
       {"bus/0 3000", "bkgd/0 3000", "bus/1 3000", "bkgd/0 3000", "bus/0 3000", "bkgd/0 3000", "bus/0 3000",
        "bkgd/0 3000"}},
  };
  for (const auto& c : cases) {
    buttons->dispatch(event(c.code, c.me));
    EXPECT_EQ(take(), c.expected) << "code " << c.code << " ME " << c.me;
  }
  // A receiver without hook (its category not built) gets nothing; the others still do.
  CategoryButtonEvent::setHook(ButtonReceiver::CLIP_STATUS, nullptr);
  buttons->dispatch(event(1616, 0));
  EXPECT_EQ(take(), (V{"bkgd/0 1616", "fader/0 1616"}));
}

TEST_F(ButtonEventTest, WireOrderOfTheEvent) {
  setGate(0, 0);
  frame(0);  // opens the gate
  std::vector<Event> seen;
  static std::vector<Event>* sink;
  sink = &seen;
  CategoryButtonEvent::setHook(ButtonReceiver::BUS, [](category::CategoryInterface&, const Event& ev) {
    sink->push_back(ev);
  });
  peer.sendPacket(94, Bytes{0x12, 0x34, 0x05, 0x56, 0x78, 2, 1, 7, 0x04, 0x4C, 1, 0x09});
  CategoryRegistry::instance().receiveAll();
  ASSERT_EQ(seen.size(), 1u);
  const Event& ev = seen[0];
  EXPECT_EQ(ev.word1, 0x1234);
  EXPECT_TRUE(ev.getFlag1());
  EXPECT_EQ(ev.word2, 0x5678);
  EXPECT_EQ(ev.panel, 2);
  EXPECT_EQ(ev.getMe(), 1);
  EXPECT_EQ(ev.index, 7);
  EXPECT_EQ(ev.getCode(), 1100);
  EXPECT_TRUE(ev.isPressed());
  EXPECT_TRUE(ev.getFlag2());
  EXPECT_EQ(std::string(buttons->typeName()), "MxifButtonEvent");
  EXPECT_EQ(buttons->bindStorage(nullptr), 0);
}

// The gate computed at the end of a frame from its field bit, per format and recall phase mode,
// decides whether an event received in the next frame acts at once or waits.
TEST_F(ButtonEventTest, GatePerFormatAndField) {
  struct Case {
    int format, recallMode;
    u8 field;
    bool open;
  } cases[] = {
      {2, 0, 0, true},  {2, 0, 1, false}, {3, 2, 0, true},  {8, 1, 1, false}, {9, 0, 0, true},
      {4, 2, 1, true},  {4, 2, 0, true},  {5, 1, 1, true},  {0, 0, 1, true},  {0, 0, 0, true},
      {1, 1, 0, true},  {1, 1, 1, false}, {6, 2, 1, true},  {6, 2, 0, false}, {11, 3, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "format " << c.format << " mode " << c.recallMode << " field "
                                    << int(c.field));
    buttons->initInternal();
    setGate(c.format, c.recallMode);
    frame(c.field);
    EXPECT_EQ(buttons->dispatchNow(), c.open ? 1 : 0);
    send(event(1100, 0));
    CategoryRegistry::instance().receiveAll();
    EXPECT_EQ(take().size(), c.open ? 1u : 0u);
    EXPECT_EQ(buttons->pending(), c.open ? 0 : 1);
  }
}

TEST_F(ButtonEventTest, QueuedEventsActAtTheStartOfTheNextOpenFrameBeforeItsRequests) {
  setGate(8, 0);  // gate open only after a frame with field bit 0
  frame(1);       // closed for the next frame
  send(event(1101, 0));
  send(event(1102, 0));
  frame(0);  // still closed while receiving: both wait; the end of this frame opens the gate
  EXPECT_TRUE(take().empty());
  EXPECT_EQ(buttons->pending(), 2);
  send(event(1103, 0));
  frame(1);  // the queue first, then the new request
  EXPECT_EQ(take(), (std::vector<std::string>{"bus/0 1101", "bus/0 1102", "bus/0 1103"}));
  EXPECT_EQ(buttons->pending(), 0);
  send(event(1104, 0));
  frame(1);  // closed again
  EXPECT_TRUE(take().empty());
  EXPECT_EQ(buttons->pending(), 1);

  // A start (initialise or resume) empties the ring.
  buttons->initInternal();
  EXPECT_EQ(buttons->pending(), 0);
  frame(0);
  frame(1);
  EXPECT_TRUE(take().empty());
}

TEST_F(ButtonEventTest, FullRingActsOnTheQueueOnceAndKeepsTheNewEvent) {
  setGate(2, 0);
  frame(1);  // closed
  for (int i = 0; i < 61; ++i) send(event(1100 + i, 0));
  frame(1);
  const auto got = take();
  ASSERT_EQ(got.size(), 60u);
  for (int i = 0; i < 60; ++i) EXPECT_EQ(got[i], "bus/0 " + std::to_string(1100 + i));
  EXPECT_EQ(consoleCount("\x1b[ERR] button event buffer full"), 1);
  EXPECT_EQ(buttons->pending(), 1);

  // The ring wraps: 59 more fill it again without a line; the next one overflows it again.
  for (int i = 0; i < 59; ++i) send(event(1200, 0));
  frame(1);
  EXPECT_TRUE(take().empty());
  EXPECT_EQ(buttons->pending(), 60);
  EXPECT_EQ(consoleCount("button event buffer full"), 1);
  send(event(1201, 0));
  frame(1);
  EXPECT_EQ(take().size(), 60u);
  EXPECT_EQ(consoleCount("button event buffer full"), 2);
  EXPECT_EQ(buttons->pending(), 1);
}

TEST(ButtonLatch, FollowsItsCodeOnEachPanel) {
  category::ButtonLatch latch;
  latch.code = 1700;
  struct Step {
    int code, state, panel;
    u8 latched[3], held[3];
  } steps[] = {
      {1701, 1, 0, {0, 0, 0}, {0, 0, 0}},  // another code
      {1700, 1, 3, {0, 0, 0}, {0, 0, 0}},  // no such panel
      {1700, 1, 1, {0, 1, 0}, {0, 1, 0}},
      {1700, 1, 2, {0, 1, 1}, {0, 1, 1}},
      {1700, 0, 1, {0, 1, 1}, {0, 0, 1}},  // a release keeps the latch
      {1700, 5, 2, {0, 1, 1}, {0, 0, 1}},  // neither press nor release
  };
  for (const auto& s : steps) {
    latch.onEvent(event(s.code, 0, s.state, s.panel));
    for (int p = 0; p < 3; ++p) {
      EXPECT_EQ(latch.latched[p], s.latched[p]) << s.code << " panel " << p;
      EXPECT_EQ(latch.held[p], s.held[p]) << s.code << " panel " << p;
    }
  }
  latch.clear();
  for (int p = 0; p < 3; ++p) EXPECT_EQ(latch.latched[p], 0);
  EXPECT_EQ(latch.held[2], 1);
}

}  // namespace
