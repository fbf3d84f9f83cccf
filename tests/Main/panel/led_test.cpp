#include <gtest/gtest.h>

#include "Main/panel/led.h"
#include "tests/Main/category_fixture.h"

namespace {

using category::CategoryLed;
using category::CategoryMeLed;
using internal::MxifLed;
using internal::MxifMeLed;

TEST(LampCell, BlinkPhaseAndSteadyRequests) {
  category::LedCell cell;
  // Frame by frame: repeated this often, the request put before the frame, and whether it reports and what it shows.
  struct { int frames; u8 request; bool reported; u8 output; } frames[] = {
      {1, 11, true, 1},  {19, 11, false, 1}, {1, 11, true, 0},  {9, 11, false, 0}, {1, 11, true, 1},  {5, 11, false, 1},
      {1, 12, true, 2},  {19, 12, false, 2}, {1, 12, true, 0},  {1, 13, true, 3},  {19, 13, false, 3}, {1, 13, true, 0},
      {1, 0, true, 0},   {3, 0, false, 0},   {1, 2, true, 2},   {4, 2, false, 2},  {1, 14, true, 14}, {2, 14, false, 14},
  };
  int n = 0;
  for (const auto& f : frames) {
    for (int i = 0; i < f.frames; ++i, ++n) {
      cell.request = f.request;
      EXPECT_EQ(std::tuple(cell.step(), cell.output), std::tuple(f.reported, f.output)) << "frame " << n;
      cell.changed = 0;
    }
  }
}

class LampStoreTest : public test_categories::SystemCategoriesTest {
 protected:
  CategoryLed& panel = CategoryLed::instance();
  CategoryMeLed* rows = CategoryMeLed::instance();
};

TEST_F(LampStoreTest, RequestShowsFromTheNextUpdateAndIsReportedOnce) {
  panel.setLed(1, 2450, 2);
  rows[2].setLedOnAllPanels(453, 11);
  EXPECT_TRUE(sendPass(panel).empty());  // nothing until the store's update
  for (int frame = 0; frame < 2; ++frame) {  // the same requests again: nothing more to send
    panel.update(), rows[2].update();
    const auto packets = sendPass(panel), rowPackets = sendPass(rows[2]);

    ASSERT_EQ(packets.size() + rowPackets.size(), frame == 0 ? 4u : 0u);
    if (frame > 0) break;
    const auto image = packets[0].as<MxifLed>();
    EXPECT_TRUE(image.panel == 1 && image.lamps[180] == 2 && image.lampMask[5] == 1u << 20);
    for (int p = 0; p < 3; ++p) {
      const auto row = rowPackets[p].as<MxifMeLed>();
      EXPECT_TRUE(row.me == 2 && row.panel == p && row.lamps[214] == 1 && row.lampMask[6] == 1u << 22) << p;
    }
  }
  // A run of requests is taken as single requests.
  const u8 states[] = {1, 2, 13, 3};
  rows[1].setLeds(2, 400, states, 4);
  // Codes 46..49 leave the map at 48: the first two are taken, then the request fails.
  EXPECT_THROW(rows[1].setLeds(2, 46, states, 4), assert::AssertException);
  const int expected[][2] = {{400, 1}, {401, 2}, {402, 13}, {403, 3}, {404, 0}, {45, 0}, {46, 1}, {47, 2}};
  for (const auto& e : expected) EXPECT_EQ(rows[1].ledRequest(2, e[0]), e[1]) << e[0];
}

TEST_F(LampStoreTest, RestartLeavesEveryLampOff) {
  panel.setLed(0, 3300, 13), rows[3].setLed(1, 400, 2);
  panel.update(), rows[3].update();
  restart();
  EXPECT_EQ(panel.ledRequest(0, 3300), 0);
  EXPECT_TRUE(rows[3].record(1).lamps[285] == 0 && rows[3].record(1).me == 3 && rows[3].record(1).panel == 1);
  panel.update();
  EXPECT_TRUE(sendPass(panel).empty());
}

}  // namespace
