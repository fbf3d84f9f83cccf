#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "Main/bus/xpt.h"
#include "tests/Main/category_fixture.h"

namespace {

using category::CategoryXpt;
using testing_support::consoleCount;
using X = MxifXptAssign;
using V = std::vector<std::string>;

V& notices() {
  static V log;
  return log;
}

// The bus category of one ME: logs "bus<row> button source panel".
struct FakeBus : test_categories::StubCategory, category::XptReselectTarget {
  FakeBus() : StubCategory(category::TYPE_BUS, "MxifBus") {}
  void reselectButton(int button, int source, int panel) override {
    notices().push_back("bus" + std::to_string(me) + " " + std::to_string(button) + " " + std::to_string(source) +
                        " " + std::to_string(panel));
  }
};

struct TestXpt : CategoryXpt {};

bool present(const X& r, int button) { return (r.buttonMask[button / 32] >> (button % 32) & 1u) != 0; }

X assignment(int panel, std::initializer_list<std::pair<int, int>> buttons, u32 mask = 0, u8 panelFlag = 0) {
  X r{};
  std::tie(r.panel, r.mask, r.panelFlag) = std::tuple(panel, mask, panelFlag);
  for (auto [b, s] : buttons) {
    r.source[b] = static_cast<s16>(s);
    r.buttonMask[b / 32] |= 1u << (b % 32);
  }
  return r;
}

class XptTest : public test_categories::RecordCategoryTest<TestXpt, X, 3> {
 protected:
  void SetUp() override {
    RecordCategoryTest::SetUp();
    notices().clear();
  }
  X echo(const X& r) { return roundTrip(r).at(0).as<X>(); }
  // The status pass reports every panel with every button.
  std::vector<X> fullReport(u32 mask) {
    std::vector<X> out;
    for (const auto& packet : sendPass()) {
      const X e = out.emplace_back(packet.as<X>());
      EXPECT_EQ(std::pair(packet.type, packet.body.size()), std::pair(38, size_t{415}));
      EXPECT_EQ(e.panel, out.size() - 1);
      EXPECT_EQ(e.mask, mask);
      EXPECT_TRUE(std::all_of(std::begin(e.buttonMask), std::end(e.buttonMask), [](u32 w) { return w == ~0u; }));
    }
    EXPECT_EQ(out.size(), 3u);
    return out;
  }
  TestXpt& xpt = cat;
};

TEST_F(XptTest, InitialiseSetsTheDefaultEverywhereAndTheFirstReportCarriesAllPanels) {
  for (int p = 0; p < 3; ++p) EXPECT_EQ(std::pair(xpt.sourceOf(p, 0), xpt.sourceOf(p, 191)), std::pair(302, 302));
  EXPECT_EQ(fullReport(0).at(1).source[100], 302);
  EXPECT_TRUE(sendPass().empty());  // reported once
  EXPECT_FALSE(codec::hasAny(stored[0]));
  EXPECT_EQ(&CategoryXpt::registered(), &xpt);
}

// Each value alone on button 100 (outside the marker columns): taken and echoed with its bit, or
// refused silently with the button unchanged; the panel is reported either way.
TEST_F(XptTest, AcceptedSourceValues) {
  const int taken[] = {10, 41, 140, 141, 150, 157, 170, 178, 180, 191, 200, 211, 220, 223,
                       230, 237, 240, 255, 290, 291, 300, 301, 302};
  const int refused[] = {-1, 0, 9, 42, 137, 139, 142, 149, 158, 165, 169, 179, 192, 199, 212,
                         219, 224, 229, 238, 239, 256, 289, 292, 299, 303, 314, 329};
  sendPass();
  for (int v : taken) {
    const X e = echo(assignment(1, {{100, v}}));
    EXPECT_TRUE(present(e, 100) && e.source[100] == v && xpt.sourceOf(1, 100) == v) << v;
  }
  echo(assignment(1, {{100, 20}}));
  for (int v : refused) {
    EXPECT_FALSE(present(echo(assignment(1, {{100, v}})), 100)) << v;
    EXPECT_EQ(xpt.sourceOf(1, 100), 20) << v;
  }
}

TEST_F(XptTest, MarkersMaskTheirColumnInRowsZeroToThree) {
  roundTrip(assignment(0, {{30, 301}}));  // row 1, column 6
  struct Case {
    int panel, button, source;
  } sources[] = {{0, 6, -1}, {0, 30, -1}, {0, 54, -1}, {0, 78, -1}, {0, 102, 302},
                 {0, 7, 302}, {1, 6, 302}, {0, -1, -1}, {0, 192, -1}};
  for (auto c : sources) EXPECT_EQ(xpt.sourceOf(c.panel, c.button), c.source) << c.panel << " " << c.button;
  EXPECT_EQ(xpt.columnClass(0, 6), 2);

  roundTrip(assignment(2, {{48 + 3, 300}, {72 + 3, 301}}));  // rows 2 and 3 of column 3
  struct {
    int bits, button;
    bool masked;
  } masks[] = {{1, 3, true}, {2, 3, false}, {3, 75, true}, {0, 3, false}, {1, 96 + 3, false}, {1, -1, false}};
  for (auto c : masks) EXPECT_EQ(xpt.isButtonMasked(2, c.button, c.bits), c.masked) << c.bits << " " << c.button;
  EXPECT_THROW(xpt.isButtonMasked(3, 0, 1), assert::AssertException);
  EXPECT_EQ(consoleCount("0 <= panel && panel < 3"), 1);

  roundTrip(assignment(0, {{30, 11}}));  // a marker overwritten by a source unmasks the column
  EXPECT_EQ(std::pair(xpt.sourceOf(0, 6), xpt.sourceOf(0, 30)), std::pair(302, 11));
}

TEST_F(XptTest, BusesHearThePreviousSourceBeforeTheButtonChanges) {
  FakeBus me0, me1;  // MEs 2 and 3 have none: the ME 0 one stands in
  roundTrip(assignment(1, {{5, 20}, {6, 158}}));  // 158 refused: no notice
  EXPECT_EQ(std::exchange(notices(), {}), (V{"bus0 5 302 1", "bus1 5 302 1", "bus0 5 302 1", "bus0 5 302 1"}));
  roundTrip(assignment(1, {{5, 21}}));
  EXPECT_EQ(std::exchange(notices(), {}), (V{"bus0 5 20 1", "bus1 5 20 1", "bus0 5 20 1", "bus0 5 20 1"}));
  roundTrip(assignment(1, {{53, 300}}));  // a marker: the four buttons of its column in row order, per ME
  V expected;
  for (const char* row : {"bus0 ", "bus1 ", "bus0 ", "bus0 "}) {
    for (const char* b : {"5 21 1", "29 302 1", "53 302 1", "77 302 1"}) expected.push_back(row + std::string(b));
  }
  EXPECT_EQ(notices(), expected);
}

// A record with nothing valid still reports its panel; the panel flag is taken only with its bit; a
// panel above 2 (even one with 2 in its first byte in memory) is dropped silently.
TEST_F(XptTest, PanelAndPanelFlagRules) {
  sendPass();
  testing_support::consoleClear();
  X e = echo(assignment(2, {{0, 9}, {1, 165}}, X::PANEL_FLAG, 2));  // flag 2 refused
  EXPECT_EQ(std::pair(int(e.panel), e.mask), std::pair(2, 0u));
  EXPECT_TRUE(std::all_of(std::begin(e.buttonMask), std::end(e.buttonMask), [](u32 w) { return w == 0; }));
  e = echo(assignment(2, {}, X::PANEL_FLAG, 1));
  EXPECT_EQ(e.mask, X::PANEL_FLAG);
  EXPECT_EQ(e.panelFlag, 1);
  roundTrip(assignment(2, {}, 0, 0));
  EXPECT_EQ(stored[2].panelFlag, 1);
  for (int panel : {3, 255, 0x0102}) {
    EXPECT_TRUE(roundTrip(assignment(panel, {{0, 10}})).empty()) << panel;
    for (int p = 0; p < 3; ++p) EXPECT_EQ(xpt.sourceOf(p, 0), 302) << panel;
  }
  EXPECT_EQ(consoleCount("["), 0);
}

// Resume and initialise rebuild the column classes.
TEST_F(XptTest, ResumeTakesAWholeImage) {
  X saved[3] = {};
  for (int p = 0; p < 3; ++p) {
    std::fill(std::begin(saved[p].source), std::end(saved[p].source), static_cast<s16>(10 + p));
    saved[p].panel = 7;  // damaged: the channel wins
  }
  saved[1].source[24 + 4] = 301;
  saved[2].panelFlag = 1;
  sendPass();
  xpt.resume(saved, 0);
  xpt.initInternal();
  for (auto [p, b, s] : {std::tuple{1, 4, -1}, {1, 76, -1}, {1, 5, 11}, {0, 4, 10}}) {
    EXPECT_EQ(xpt.sourceOf(p, b), s) << b;
  }
  EXPECT_EQ(fullReport(X::PANEL_FLAG).at(2).panelFlag, 1);
  xpt.initialize();  // forgets the marker and its mask, leaves the panel flag
  EXPECT_EQ(xpt.sourceOf(1, 4), 302);
  EXPECT_EQ(xpt.columnClass(1, 4), 0);
  EXPECT_EQ(stored[2].panelFlag, 1);

}

}  // namespace
