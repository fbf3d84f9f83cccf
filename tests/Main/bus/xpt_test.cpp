#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "Main/bus/xpt.h"
#include "tests/Main/category_fixture.h"

namespace {

using category::CategoryXpt;
using X = MxifXptAssign;
using V = std::vector<std::string>;

V& notices() { static V log; return log; }

// The bus category of one ME: logs "bus<row> button source panel".
struct FakeBus : test_categories::StubCategory, category::XptReselectTarget {
  FakeBus() : StubCategory(category::TYPE_BUS, "MxifBus") {}
  void reselectButton(int button, int source, int panel) override {
    notices().push_back("bus" + std::to_string(me) + " " + std::to_string(button) + " " + std::to_string(source) +
                        " " + std::to_string(panel));
  }
};

struct TestXpt : CategoryXpt {};

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
  void SetUp() override { RecordCategoryTest::SetUp(), notices().clear(); }
  TestXpt& xpt = cat;
};

TEST_F(XptTest, MarkersMaskTheirColumnInRowsZeroToThree) {
  roundTrip(assignment(0, {{30, 301}}));  // row 1, column 6
  struct Case { int panel, button, source; } sources[] = {{0, 6, -1}, {0, 30, -1}, {0, 54, -1}, {0, 78, -1}, {0, 102, 302},
                 {0, 7, 302}, {1, 6, 302}, {0, -1, -1}, {0, 192, -1}};
  for (auto c : sources) EXPECT_EQ(xpt.sourceOf(c.panel, c.button), c.source) << c.panel << " " << c.button;
  EXPECT_EQ(xpt.columnClass(0, 6), 2);

  roundTrip(assignment(2, {{48 + 3, 300}, {72 + 3, 301}}));  // rows 2 and 3 of column 3
  struct { int bits, button; bool masked; } masks[] = {{1, 3, true}, {2, 3, false}, {3, 75, true}, {0, 3, false}, {1, 96 + 3, false}, {1, -1, false}};
  for (auto c : masks) EXPECT_EQ(xpt.isButtonMasked(2, c.button, c.bits), c.masked) << c.bits << " " << c.button;

  roundTrip(assignment(0, {{30, 11}}));  // a marker overwritten by a source unmasks the column
  EXPECT_EQ(std::tuple(xpt.sourceOf(0, 6), xpt.sourceOf(0, 30)), std::tuple(302, 11));
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

}  // namespace
