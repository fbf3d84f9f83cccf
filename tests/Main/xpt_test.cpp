#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Main/xpt.h"
#include "category_fixture.h"

namespace {

using category::CategoryRegistry;
using category::CategoryXpt;
using testing_support::consoleCount;
using X = MxifXptAssign;

std::vector<std::string>& notices() {
  static std::vector<std::string> log;
  return log;
}

// Stands in for the bus category of one ME: logs "bus<row> button source panel".
struct FakeBus : test_categories::StubCategory, category::XptReselectTarget {
  FakeBus() : StubCategory(CategoryXpt::TYPE_BUS, "MxifBus") {}
  void reselectButton(int button, int source, int panel) override {
    notices().push_back("bus" + std::to_string(me) + " " + std::to_string(button) + " " + std::to_string(source) +
                        " " + std::to_string(panel));
  }
};

struct TestXpt : CategoryXpt {};

bool present(const X& r, int button) { return (r.buttonMask[button / 32] >> (button % 32) & 1u) != 0; }

X assignment(int panel, std::initializer_list<std::pair<int, int>> buttons) {
  X r{};
  r.panel = static_cast<u16>(panel);
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
  static std::vector<std::string> take() {
    auto out = notices();
    notices().clear();
    return out;
  }
  TestXpt& xpt = cat;
};

TEST_F(XptTest, InitialiseSetsTheDefaultEverywhereAndTheFirstReportCarriesAllPanels) {
  for (int p = 0; p < 3; ++p) {
    EXPECT_EQ(xpt.sourceOf(p, 0), 302);
    EXPECT_EQ(xpt.sourceOf(p, 191), 302);
  }
  auto packets = sendPass();
  ASSERT_EQ(packets.size(), 3u);
  for (int p = 0; p < 3; ++p) {
    EXPECT_EQ(packets[p].type, 38);
    EXPECT_EQ(packets[p].body.size(), 415u);
    const X echo = packets[p].as<X>();
    EXPECT_EQ(echo.panel, p);
    for (u32 w : echo.buttonMask) EXPECT_EQ(w, 0xFFFFFFFFu);
    EXPECT_EQ(echo.source[100], 302);
  }
  EXPECT_TRUE(sendPass().empty());  // reported once
  EXPECT_FALSE(codec::hasAny(stored[0]));
  EXPECT_EQ(&CategoryXpt::registered(), &xpt);
}

// Each value alone on button 100 (outside the marker columns): taken and echoed with its bit, or
// refused with the button unchanged.
TEST_F(XptTest, AcceptedSourceValues) {
  const int taken[] = {10, 41, 140, 141, 150, 157, 170, 178, 180, 191, 200, 211, 220, 223,
                       230, 237, 240, 255, 290, 291, 300, 301, 302};
  const int refused[] = {-1, 0, 9, 42, 137, 139, 142, 149, 158, 165, 169, 179, 192, 199, 212,
                         219, 224, 229, 238, 239, 256, 289, 292, 299, 303, 314, 329};
  sendPass();  // the report after initialise
  for (int v : taken) {
    auto packets = roundTrip(assignment(1, {{100, v}}));
    ASSERT_EQ(packets.size(), 1u) << v;
    const X echo = packets[0].as<X>();
    EXPECT_TRUE(present(echo, 100)) << v;
    EXPECT_EQ(echo.source[100], v);
    EXPECT_EQ(xpt.sourceOf(1, 100), v);
  }
  roundTrip(assignment(1, {{100, 20}}));
  for (int v : refused) {
    auto packets = roundTrip(assignment(1, {{100, v}}));
    ASSERT_EQ(packets.size(), 1u) << v;  // the panel is still reported
    const X echo = packets[0].as<X>();
    EXPECT_FALSE(present(echo, 100)) << v;
    EXPECT_EQ(xpt.sourceOf(1, 100), 20) << v;
  }
  EXPECT_EQ(consoleCount("BAD"), 0);  // refused silently
}

TEST_F(XptTest, MarkersMaskTheirColumnInRowsZeroToThree) {
  roundTrip(assignment(0, {{30, 301}}));  // row 1, column 6
  for (int b : {6, 30, 54, 78}) EXPECT_EQ(xpt.sourceOf(0, b), -1) << b;
  EXPECT_EQ(xpt.sourceOf(0, 102), 302);  // beyond the column buttons
  EXPECT_EQ(xpt.sourceOf(0, 7), 302);
  EXPECT_EQ(xpt.sourceOf(1, 6), 302);  // other panels keep theirs
  EXPECT_EQ(xpt.columnClass(0, 6), 2);

  roundTrip(assignment(2, {{48 + 3, 300}, {72 + 3, 301}}));  // rows 2 and 3 of column 3
  struct Case {
    int bits, button;
    bool masked;
  } cases[] = {{1, 3, true}, {2, 3, false}, {3, 75, true}, {0, 3, false}, {1, 96 + 3, false}, {1, -1, false}};
  for (auto c : cases) EXPECT_EQ(xpt.isButtonMasked(2, c.button, c.bits), c.masked) << c.bits << " " << c.button;
  // Out of range: the check for the panel, -1 for a button outside the table.
  EXPECT_THROW(xpt.isButtonMasked(3, 0, 1), assert::AssertException);
  EXPECT_EQ(consoleCount("0 <= panel && panel < 3"), 1);
  EXPECT_EQ(xpt.sourceOf(0, -1), -1);
  EXPECT_EQ(xpt.sourceOf(0, 192), -1);

  // A marker overwritten by a source unmasks the column.
  roundTrip(assignment(0, {{30, 11}}));
  EXPECT_EQ(xpt.sourceOf(0, 6), 302);
  EXPECT_EQ(xpt.sourceOf(0, 30), 11);
}

TEST_F(XptTest, BusesHearThePreviousSourceBeforeTheButtonChanges) {
  FakeBus me0, me1;  // MEs 2 and 3 have none: the ME 0 one stands in
  using V = std::vector<std::string>;
  roundTrip(assignment(1, {{5, 20}, {6, 158}}));  // 158 refused: no notice
  EXPECT_EQ(take(), (V{"bus0 5 302 1", "bus1 5 302 1", "bus0 5 302 1", "bus0 5 302 1"}));
  roundTrip(assignment(1, {{5, 21}}));
  EXPECT_EQ(take(), (V{"bus0 5 20 1", "bus1 5 20 1", "bus0 5 20 1", "bus0 5 20 1"}));

  // A marker: the four buttons of its column, in row order, for each ME.
  roundTrip(assignment(1, {{53, 300}}));
  V expected;
  for (int row : {0, 1, 0, 0}) {
    for (int b : {5, 29, 53, 77}) expected.push_back("bus" + std::to_string(row) + " " + std::to_string(b) + " " +
                                                     (b == 5 ? "21" : "302") + " 1");
  }
  EXPECT_EQ(take(), expected);
}

TEST_F(XptTest, RecordWithNothingValidStillReportsThePanelAndPanelFlagRules) {
  sendPass();  // the report after initialise
  X r = assignment(2, {{0, 9}, {1, 165}});
  r.mask = X::PANEL_FLAG;
  r.panelFlag = 2;  // ignored
  auto packets = roundTrip(r);
  ASSERT_EQ(packets.size(), 1u);
  X echo = packets[0].as<X>();
  EXPECT_EQ(echo.panel, 2);
  EXPECT_EQ(echo.mask, 0u);
  for (u32 w : echo.buttonMask) EXPECT_EQ(w, 0u);

  r = assignment(2, {});
  r.mask = X::PANEL_FLAG;
  r.panelFlag = 1;
  echo = roundTrip(r).at(0).as<X>();
  EXPECT_EQ(echo.mask, X::PANEL_FLAG);
  EXPECT_EQ(echo.panelFlag, 1);
  r.mask = 0;  // without its bit the flag is not taken
  r.panelFlag = 0;
  roundTrip(r);
  EXPECT_EQ(stored[2].panelFlag, 1);
}

TEST_F(XptTest, PanelAboveTwoIsDroppedWhateverItsLowByte) {
  sendPass();  // the report after initialise
  testing_support::consoleClear();
  for (int panel : {3, 255, 0x0102}) {  // 0x0102 has 2 in its first byte in memory
    EXPECT_TRUE(roundTrip(assignment(panel, {{0, 10}})).empty()) << panel;
    for (int p = 0; p < 3; ++p) EXPECT_EQ(xpt.sourceOf(p, 0), 302) << panel;
  }
  EXPECT_EQ(consoleCount("["), 0);  // no log line
}

// Resume and initialise leave the column classes matching the table they set.
TEST_F(XptTest, ResumeAndInitialiseRebuildTheColumnClasses) {
  X saved[3] = {};
  for (int p = 0; p < 3; ++p) {
    for (auto& s : saved[p].source) s = static_cast<s16>(10 + p);
    saved[p].panel = 7;  // damaged: the channel wins
  }
  saved[1].source[24 + 4] = 301;
  saved[2].panelFlag = 1;
  sendPass();
  xpt.resume(saved, 0);
  xpt.initInternal();
  EXPECT_EQ(xpt.sourceOf(1, 4), -1);
  EXPECT_EQ(xpt.sourceOf(1, 76), -1);
  EXPECT_EQ(xpt.sourceOf(1, 5), 11);
  EXPECT_EQ(xpt.sourceOf(0, 4), 10);
  auto packets = sendPass();
  ASSERT_EQ(packets.size(), 3u);
  for (int p = 0; p < 3; ++p) {
    const X echo = packets[p].as<X>();
    EXPECT_EQ(echo.panel, p);
    EXPECT_EQ(echo.mask, X::PANEL_FLAG);
    for (u32 w : echo.buttonMask) EXPECT_EQ(w, 0xFFFFFFFFu);
  }
  EXPECT_EQ(packets[2].as<X>().panelFlag, 1);

  // Initialising forgets the marker and its mask.
  xpt.initialize();
  EXPECT_EQ(xpt.sourceOf(1, 4), 302);
  EXPECT_EQ(xpt.columnClass(1, 4), 0);
  EXPECT_EQ(stored[2].panelFlag, 1);  // left as it was
}

// A damaged image (an unassignable source, a bad panel flag) is refused before anything is taken.
TEST_F(XptTest, ResumeRefusesADamagedImageWhole) {
  for (int damage = 0; damage < 2; ++damage) {
    X saved[3] = {};
    for (auto& r : saved) {
      for (auto& s : r.source) s = 10;
    }
    if (damage == 0) saved[2].source[191] = 5000;
    if (damage == 1) saved[1].panelFlag = 2;
    xpt.initialize();
    EXPECT_THROW(xpt.resume(saved, 0), assert::AssertException) << damage;
    EXPECT_EQ(xpt.sourceOf(0, 0), 302) << damage;  // nothing of the image taken
  }
}

}  // namespace
