#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "Driver/core/core.h"
#include "Driver/xpt/xpt.h"
#include "Main/bus/bus.h"
#include "Main/bus/busstatus.h"
#include "Main/bus/button.h"
#include "Main/bus/sourcelink.h"
#include "Lib/Include/records/operate.h"
#include "tests/Main/category_fixture.h"

namespace {

using category::CategoryBus;
using category::CategoryRegistry;
using Pairs = std::vector<std::pair<int, int>>;

constexpr int D = CategoryBus::DIRECT;

CategoryRegistry& reg() { return CategoryRegistry::instance(); }

// A bus record selecting direct sources: {entry, source} pairs.
MxifBus rec(std::initializer_list<std::pair<int, int>> selections) {
  MxifBus r{};
  for (auto [entry, source] : selections) r.setEntry(entry, D + source);
  return r;
}

// Stands in for the background of an ME: the flip of its transition, and what the bus asks of it.
struct FakeBkgd : test_categories::StubCategory, category::BusBackgroundLink {
  FakeBkgd() : StubCategory(category::TYPE_BKGD, "MxifBkgd") {}
  int flip = 1, changes = 0, restores = 0;
  int programFlip() override { return flip; }
  void onProgramBusChange() override { ++changes; }
  void serveNrModeRestore() override { ++restores; }
};

// Stands in for the category that takes the up-stream key slots.
struct FakeUskAssign : test_categories::StubCategory, category::UskAssignTarget {
  FakeUskAssign() : StubCategory(category::TYPE_UP_STREAM_KEY_ASSIGN, "MxifUpStreamKeyAssign") {}
  Pairs assignments;
  void setAssignment(int source, int slot) override { assignments.emplace_back(source, slot); }
};

class BusTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    reg().reset();
    mxBoardInit();
    // The system settings singleton (format 0), entered in the emptied registry.
    static MxifSystem systemRecord;
    auto& sys = category::CategorySystem::instance();
    if (reg().at(MxifSystem::TYPE_INDEX, 0) == nullptr) reg().add(MxifSystem::TYPE_INDEX, &sys);
    sys.bindStorage(&systemRecord);
    sys.initialize();
    peer.reset();
    AcknowledgeSender::instance().reset();
    for (int m = 0; m < category::N_ME; ++m) {
      buses[m] = std::make_unique<CategoryBus>();
      reg().bindInstance(m, MxifBus::TYPE_INDEX, reinterpret_cast<u8*>(&stored[m]));
      buses[m]->initialize();
    }
  }
  void TearDown() override { reg().reset(), BoardTest::TearDown(); }

  CategoryBus& bus(int m) { return *buses[m]; }
  void assign(int m, std::initializer_list<std::pair<int, int>> selections) { bus(m).assign(rec(selections), 0); }
  // Runs the update of every ME, then clears the presence bits as a status send does.
  void frame() {
    for (auto& b : buses) b->update();
    for (auto& r : stored) codec::clearPresence(r);
  }
  // A code written straight into the record, as a restored image may hold it.
  void put(int m, int entry, int code) { stored[m].entries[entry] = static_cast<u16>(code); }
  static u8 image(int offset) { return mxXptImage()[offset]; }

  testing_support::FrontendPeer peer;
  MxifBus stored[category::N_ME]{};
  std::unique_ptr<CategoryBus> buses[category::N_ME];
};

TEST_F(BusTest, ReentryRefusesEveryLoopAndEndsOnACycle) {
  // A direct loop through the front end's records: the first test.
  bus(1).select(0, 150);
  EXPECT_TRUE(CategoryBus::uses(1, 0));
  bus(0).select(13, 154);  // not an ME input: no loop
  EXPECT_EQ(stored[0].entries[13], D + 154);

  // A restored image may hold what no selection could make: ME 0 feeding on ME 2, and ME 2 and ME 3
  // feeding each other.
  put(0, 1, D + 158);
  put(2, 0, D + 162);
  put(3, 0, D + 158);
  for (int m : {0, 2, 3}) bus(m).refreshUsage();
  bus(3).select(1, 150);  // ME 0 is reached through ME 2
  EXPECT_EQ(stored[3].entries[1], 0);
  put(0, 1, D + 10);
  bus(0).refreshUsage();
  bus(3).select(1, 150);  // the walk meets the cycle 3 -> 2 -> 3 and ends
  EXPECT_EQ(stored[3].entries[1], D + 150);
  EXPECT_TRUE(CategoryBus::uses(3, 0));
}

TEST_F(BusTest, TwoRecordsOfOneFrameCannotCloseALoop) {
  assign(0, {{0, 154}});
  assign(1, {{10, 150}});  // before any update: checked against ME 0's record all the same
  EXPECT_EQ(std::tuple(int(stored[0].entries[0]), int(stored[1].entries[10]), stored[1].hasEntry(10)), std::tuple(D + 154, 0, true));
}

TEST_F(BusTest, SelectChecksTheSourceAndCopiesSharedEntries) {
  FakeUskAssign usk;
  const struct { int entry, source; bool taken, copied; } cases[] = {  // copied: to the other three MEs
      {0, 303, false, false}, {0, 9, false, false},  {12, 302, true, false}, {12, 303, false, false},
      {13, 20, true, false},  {16, 21, true, true},  {23, 151, false, true}, {30, 22, true, true},
      {71, 170, true, true},  {72, 23, true, false}, {80, 24, true, false},  {89, 10, false, false},
  };
  for (auto c : cases) {
    for (auto& r : stored) r = MxifBus{};
    for (int m = 1; m < 4; ++m) put(m, c.entry < 89 ? c.entry : 0, D + 41);
    bus(0).select(c.entry, c.source);
    if (c.entry >= 89) continue;
    EXPECT_EQ(stored[0].entries[c.entry], c.taken ? D + c.source : 0) << c.entry << " " << c.source;
    for (int m = 1; m < 4; ++m) {
      EXPECT_EQ(stored[m].entries[c.entry], c.copied ? stored[0].entries[c.entry] : D + 41) << c.entry << " ME " << m;
      EXPECT_EQ(stored[m].hasEntry(c.entry), c.copied) << c.entry << " ME " << m;
      if (c.copied && c.entry >= 24) {
        EXPECT_EQ(bus(m).prevCode(c.entry), D + 41);  // AUX entries remember what the ME held
      }
    }
  }
  EXPECT_EQ(usk.assignments, (Pairs{{23, 0}}));
}

TEST_F(BusTest, UpstreamKeySlotsReachTheAssignmentOnlyFromMeZero) {
  FakeUskAssign usk;
  assign(1, {{72, 20}, {75, 150}});  // 150 is not allowed on a key slot: unchanged, still reported
  EXPECT_TRUE(usk.assignments.empty());
  assign(0, {{72, 20}, {75, 150}});
  EXPECT_EQ(usk.assignments, (Pairs{{20, 0}, {-1, 3}}));

  usk.assignments.clear();
  bus(0).assignSource(20, 0);  // already there
  EXPECT_TRUE(usk.assignments.empty());
  bus(0).assignSource(21, 1);
  bus(0).assignSource(22, -72);
  codec::clearPresence(stored[0]);
  bus(0).assignSource(22, 17);  // out of range: an empty change, the record is only marked dirty
  EXPECT_EQ(std::tuple(int(stored[0].entries[73]), int(stored[0].entries[0]), codec::hasAny(stored[0])),
            std::tuple(D + 21, D + 22, false));
  EXPECT_EQ(usk.assignments, (Pairs{{21, 1}}));
}

TEST_F(BusTest, KeyAndDskCrosspointsTakeTheKeySourceBusOnlyWhenTheKeyUsesIt) {
  assign(1, {{4, 12}, {5, 13}, {20, 14}, {21, 15}});  // fill and key source of key 2 and of DSK 3
  const struct { int type, select; bool keyBus; } cases[] = {{1, 1, true}, {0, 1, false}, {1, 0, false}, {2, 5, true}};
  for (auto c : cases) {
    bus(1).routeKeySources(c.type, c.select, 1);
    bus(1).routeDskSources(c.type, c.select, 2);  // ME 1's context, key 2 fill: input 3
    EXPECT_EQ(std::tuple(image(xpt::BUS + 16 + 6), image(xpt::BUS + 16 + 7), image(xpt::DSK + 4), image(xpt::DSK + 5)),
              std::tuple(2, c.keyBus ? 3 : 2, 4, c.keyBus ? 5 : 4)) << c.type << c.select;
  }
}

TEST_F(BusTest, RepairReplacesEntriesUpToTheLimitOfEachMe) {
  for (auto& r : stored) {
    for (auto& e : r.entries) e = D + 303;
  }
  put(0, 0, D + 150);  // a loop only a damaged image can hold
  frame();
  const int limits[] = {88, 23, 11, 11};
  for (int m = 0; m < 4; ++m) {
    for (int e = 0; e < 89; ++e) {
      EXPECT_EQ(stored[m].entries[e], e <= limits[m] ? CategoryBus::REPLACEMENT_CODE : D + 303) << m << " " << e;
    }
  }
  EXPECT_FALSE(CategoryBus::uses(0, 0));
}

// The usage changes under a repaired ME: its entries are checked again although they did not change.
TEST_F(BusTest, RepairFollowsTheUsageOfOtherMes) {
  put(0, 0, D + 154);  // ME 0 shows ME 1's output
  frame();
  frame();
  put(1, 0, D + 150);  // and ME 1, as a damaged image holds it, ME 0's: ME 0 repairs first
  bus(1).refreshUsage();
  frame();
  EXPECT_EQ(std::tuple(int(stored[0].entries[0]), int(stored[1].entries[0])),
            std::tuple(CategoryBus::REPLACEMENT_CODE, D + 150));
}

TEST_F(BusTest, RoutingOfMeZeroReachesBusesAuxBusesAndExternalOutputs) {
  test_categories::RecordOwner<MxifExtendedDisplay> display;
  const struct { int entry, source, offset, value; } routes[] = {
      {10, 12, xpt::BUS + 2, 2}, {11, 13, xpt::BUS + 3, 3},          {28, 14, xpt::AUX + 8, 4},
      {39, 170, xpt::AUX + 30, 180}, {13, 15, xpt::EXT, 5}, {14, 230, xpt::EXT + 1, 4552 - 4364},
      {15, 16, xpt::EXT + 2, 6}};
  MxifBus req{};
  for (auto r : routes) req.setEntry(r.entry, D + r.source);
  bus(0).assign(req, 0);
  frame();
  for (auto r : routes) EXPECT_EQ(image(r.offset), r.value) << r.entry;

  display.record.display = 1;  // the extended display owns the third external output
  assign(0, {{15, 17}});
  frame();
  EXPECT_EQ(image(xpt::EXT + 2), 6);

  assign(2, {{0, 18}, {28, 19}});  // other MEs: their own buses in their own context, and no AUX bus
  frame();
  EXPECT_EQ(image(xpt::BUS + 16 * 2), 8);
  EXPECT_EQ(image(xpt::AUX + 8), 4);
}

TEST_F(BusTest, AuxMixStepsAtTheOperateRateOnEveryMe) {
  test_categories::RecordOwner<MxifOperate> operate;
  operate.record.auxTransEnable.value[0] = 1;
  operate.record.auxTransRate.value[0] = 4;  // format 0: 0.5 / 4 per frame
  assign(0, {{24, 10}, {25, 10}});
  frame();  // the first selection is shown at once
  EXPECT_EQ(std::tuple(mxXptWord(xpt::AUX_TRANS), image(xpt::AUX), bus(0).isMixRunning(0)), std::tuple(0u, 0, false));

  assign(0, {{24, 11}, {25, 12}});
  const u32 expected[] = {895, 767, 639, 512, 384, 256, 128, 0};
  for (int f = 0; f < 8; ++f) {
    frame();
    // The new source, the outgoing one; AUX 2 has no rate enabled: rate 1 cuts.
    EXPECT_EQ(std::tuple(mxXptWord(xpt::AUX_TRANS), image(xpt::AUX), image(xpt::AUX + 1), bus(0).isMixRunning(1),
                         image(xpt::AUX + 2), mxXptWord(xpt::AUX_TRANS + 4)),
              std::tuple(expected[f], 1, 0, false, 2, 0u)) << f;
    for (int m = 0; m < 4; ++m) EXPECT_EQ(bus(m).isMixRunning(0), f < 7) << f << " ME " << m;
  }
}

TEST_F(BusTest, ProgramBusFollowsTheBackgroundTransitionAndSetsTheSwap) {
  FakeBkgd bkgd;
  test_categories::RecordOwner<MxifOperate> operate;
  operate.record.faderMode = 1;  // for all MEs: swap while B is on program
  frame();
  EXPECT_EQ(std::tuple(int(stored[0].programBus), bkgd.changes, bkgd.restores), std::tuple(0, 0, 4));
  bkgd.flip = -1;
  for (auto& b : buses) b->update();
  for (int m = 0; m < 4; ++m) {
    EXPECT_EQ(std::tuple(int(stored[m].programBus), u32(stored[m].mask), bus(m).abSwap()), std::tuple(1, u32(MxifBus::PROGRAM_BUS), 1)) << m;
  }
  EXPECT_EQ(bkgd.changes, 4);
  // Which mode applies, mode of all MEs, mode of ME 0; program bus; swap.
  const int modes[][5] = {{0, 2, 0, 1, 0}, {0, 2, 0, 0, 1}, {1, 0, 1, 1, 1}, {1, 1, 2, 1, 0}, {2, 1, 1, 1, 0}, {0, 3, 0, 1, 0}};
  for (auto c : modes) {
    operate.record.faderModeSelect = static_cast<u8>(c[0]);
    operate.record.faderMode = static_cast<u8>(c[1]);
    operate.record.faderModePerMe.value[0] = static_cast<u8>(c[2]);
    bkgd.flip = c[3] == 1 ? -1 : 1;
    bus(0).update();
    EXPECT_EQ(bus(0).abSwap(), c[4]) << c[0] << " " << c[1] << " " << c[2];
  }
}

struct TestXpt : category::CategoryXpt {};
struct TestLink : category::CategorySourceLink {};
struct TestButtonEvent : category::CategoryButtonEvent {};

class BusPanelTest : public BusTest {
 protected:
  void SetUp() override {
    BusTest::SetUp();
    xpt = std::make_unique<TestXpt>();
    reg().bindInstance(0, MxifXptAssign::TYPE_INDEX, reinterpret_cast<u8*>(xptRecords));
    xpt->initialize();
    link = std::make_unique<TestLink>();
    reg().bindInstance(0, MxifSourceLink::TYPE_INDEX, reinterpret_cast<u8*>(&linkRecord));
    link->initialize();
    buttons = std::make_unique<TestButtonEvent>();
    buttons->initialize();
    buttons->update();  // format 0: events act at once
    // Panel 0 buttons 3, 5, 7 carry sources 11, 12, 13; panel 1 button 26 (index 50) source 22.
    const int assigned[][3] = {{0, 3, 11}, {0, 5, 12}, {0, 7, 13}, {1, 26, 22}};
    for (auto a : assigned) assignButton(a[0], a[1], a[2]);
    for (auto& r : stored) r = MxifBus{};
    frame();
  }

  void assignButton(int panel, int button, int source) {
    MxifXptAssign r{.panel = static_cast<u16>(panel)};
    r.source[button] = static_cast<s16>(source);
    r.buttonMask[button / 32] |= 1u << (button % 32);
    xpt->assign(r, panel);
  }
  void setLinkMode(int mode) {
    link->assign(MxifSourceLink{.mask = MxifSourceLink::LINK_MODE, .linkMode = static_cast<u8>(mode), .auxBusLink = {}}, 0);
  }
  // A press (state 1) or release (state 0) of crosspoint button b (-1: all released) through the
  // request ring.
  void button(int me, int entry, int b, int state, int panel = 0) {
    const int code = b < 0 ? CategoryBus::ALL_RELEASED : CategoryBus::BUTTON_FIRST + b;
    peer.send(internal::MxifButtonEvent{.panel = static_cast<u8>(panel), .me = static_cast<u8>(me),
                                        .index = static_cast<u8>(entry), .code = static_cast<u16>(code),
                                        .state = static_cast<u8>(state)});
    reg().receiveAll();
  }

  MxifXptAssign xptRecords[3]{};
  MxifSourceLink linkRecord{};
  std::unique_ptr<TestXpt> xpt;
  std::unique_ptr<TestLink> link;
  std::unique_ptr<TestButtonEvent> buttons;
};

TEST_F(BusPanelTest, PanelPressSelectsTheAssignedSourceOnTheEventsMe) {
  button(0, 0, 5, 1);  // the entry holds the button's code: it follows the assignment
  EXPECT_EQ(std::tuple(int(stored[0].entries[0]), bus(0).busSource(0)), std::tuple(5, 12));

  // Button index 50 of panel 1 is code 256 + 26 on ME 2's B bus.
  button(2, 1, 50, 1, 1);
  EXPECT_EQ(std::tuple(int(stored[2].entries[1]), bus(2).busSource(1), int(stored[0].entries[1])),
            std::tuple(282, 22, CategoryBus::REPLACEMENT_CODE));
  frame();
  EXPECT_EQ(image(xpt::BUS + 16 * 2 + 1), 12);

  // Reassigning the button leaves the entries that held it on its previous source.
  assignButton(0, 5, 30);
  EXPECT_EQ(std::tuple(int(stored[0].entries[0]), bus(0).busSource(0)), std::tuple(D + 12, 12));
  // A button whose column is masked resolves to nothing and is refused.
  assignButton(0, 24 + 3, 300);
  button(0, 2, 3, 1);
  EXPECT_NE(stored[0].entries[2], 3);
}

TEST_F(BusPanelTest, ReleaseReselectsTheLowestButtonStillHeld) {
  const int steps[][3] = {{7, 1, 7}, {3, 1, 3}, {5, 1, 5}, {5, 0, 3}, {3, 0, 7},  {7, 0, 7},
                          {5, 1, 5}, {3, 1, 3}, {-1, 0, 3}, {3, 0, 3}, {5, 2, 3}};  // button, state, entry 2 then
  int i = 0;
  for (auto s : steps) {
    button(0, 2, s[0], s[1]);
    EXPECT_EQ(stored[0].entries[2], s[2]) << i++;
  }
  EXPECT_EQ(bus(0).isPressed(0, 2, 5), 0);
}

TEST_F(BusPanelTest, ABSwapTurnsAnABusPressToTheBBus) {
  FakeBkgd bkgd;
  test_categories::RecordOwner<MxifOperate> operate;
  operate.record.faderMode = 2;  // swap while A is on program
  frame();
  ASSERT_EQ(bus(0).abSwap(), 1);
  button(0, 0, 3, 1);
  EXPECT_EQ(std::tuple(int(stored[0].entries[0]), int(stored[0].entries[1])), std::tuple(CategoryBus::REPLACEMENT_CODE, 3));
}

TEST_F(BusPanelTest, LinkedPairsFollowTheDrivingEntry) {
  MxifSourceLink links{};
  for (int s = 10; s <= 12; ++s) {
    const int i = category::CategorySourceLink::tableIndex(s);
    links.linked[i] = static_cast<s16>(s + 10);
    links.entryMask[i / 32] |= 1u << (i % 32);
  }
  link->assign(links, 0);
  frame();
  ASSERT_EQ(bus(0).linkSuppressed(), 0);
  const struct { int mode, me, entry, other; bool follows; } cases[] = {  // selecting 10 on entry: other follows?
      {0, 0, 2, 3, true},    {0, 0, 3, 2, false},   {1, 0, 3, 2, true},    {1, 0, 2, 3, false},
      {0, 1, 16, 17, true},  {0, 0, 72, 73, true},  {0, 0, 13, 14, true},  {0, 0, 24, 25, false},
      {0, 2, 8, 9, true},    {0, 2, 13, 14, false}, {0, 1, 72, 73, false}, {1, 1, 23, 22, true},
  };
  for (auto c : cases) {
    setLinkMode(c.mode);
    for (auto& r : stored) r = MxifBus{};
    assign(c.me, {{c.entry, 10}});
    frame();
    EXPECT_EQ(bus(c.me).busSource(c.entry), 10) << c.mode << " " << c.entry;
    EXPECT_EQ(bus(c.me).busSource(c.other) == 20, c.follows) << c.mode << " ME " << c.me << " " << c.entry;
  }
  // AUX pairs link only with their flag.
  setLinkMode(0);
  link->assign(MxifSourceLink{.auxBusLink = {.mask = 1, .flags = {1}}}, 0);
  assign(0, {{24, 11}});
  frame();
  EXPECT_EQ(bus(0).busSource(25), 21);

  // While links are suppressed (after a recall) nothing follows until a pass finds nothing to do.
  bus(0).suppressLinks();
  assign(0, {{2, 12}});
  frame();
  EXPECT_EQ(std::tuple(bus(0).busSource(3) == 22, bus(0).linkSuppressed()), std::tuple(false, 1));
  frame();
  EXPECT_EQ(bus(0).linkSuppressed(), 0);
}

class BusStatusTest : public BusTest {
 protected:
  void SetUp() override {
    BusTest::SetUp();
    for (int m = 0; m < category::N_ME; ++m) {
      cats[m] = std::make_unique<category::CategoryBusStatus>();
      reg().bindInstance(m, MxifBusStatus::TYPE_INDEX, reinterpret_cast<u8*>(statusRecords[m]));
      cats[m]->initialize();
    }
  }
  MxifBusStatus statusRecords[category::N_ME][3]{};
  std::unique_ptr<category::CategoryBusStatus> cats[category::N_ME];
};

TEST_F(BusStatusTest, RepeatedSwitchOnTurnsItOffOnlyWithLinkModeZero) {
  auto withSwitch = [](int v) { return MxifBusStatus{.maskA = MxifBusStatus::SWITCH, .switchLamp = u8(v)}; };
  const int steps[][2] = {{1, 1}, {1, 0}, {1, 0}, {0, 0}, {1, 1}, {1, 0}};  // received, stored
  for (auto s : steps) {
    cats[0]->assign(withSwitch(s[0]), 1);
    EXPECT_EQ(statusRecords[0][1].switchLamp, s[1]) << s[0];
    EXPECT_TRUE(statusRecords[0][1].maskA & MxifBusStatus::SWITCH);
  }
  cats[0]->assign(withSwitch(1), 0);  // each channel keeps its own last value
  EXPECT_EQ(statusRecords[0][0].switchLamp, 1);

  TestLink link;
  MxifSourceLink linkRecord{}, mode{};
  reg().bindInstance(0, MxifSourceLink::TYPE_INDEX, reinterpret_cast<u8*>(&linkRecord));
  link.initialize();
  mode.mask = MxifSourceLink::LINK_MODE, mode.linkMode = 1;
  link.assign(mode, 0);
  for (int i = 0; i < 3; ++i) {
    cats[2]->assign(withSwitch(1), 0);
    EXPECT_EQ(statusRecords[2][0].switchLamp, 1) << i;
  }
}

TEST_F(BusStatusTest, ListedCodesOnTheFirstFourRows) {
  const int cases[][3] = {{0, 3, 1},  {1, 103, 1}, {2, 23, 1}, {3, 11, 1},  {0, 2, 0},
                          {0, 10, 0}, {3, 102, 0}, {4, 3, 0},  {0, 109, 1}, {1, 17, 1}};  // row, value, listed
  for (auto c : cases) {
    statusRecords[0][1] = MxifBusStatus{};
    statusRecords[0][1].rows[c[0]] = static_cast<u8>(c[1]);
    EXPECT_EQ(cats[0]->statusHasListedCode(1), c[2]) << c[0] << " " << c[1];
  }
}

}  // namespace
