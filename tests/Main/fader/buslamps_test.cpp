// Bus-row and crosspoint lamps, and the panel rotation with the sub panels' requests.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "Main/bus/bus.h"
#include "Main/bus/busstatus.h"
#include "Main/fader/faderevent.h"
#include "Main/bus/xpt.h"
#include "Main/panel/led.h"
#include "Main/panel/operate.h"
#include "Main/panel/panelconfig.h"
#include "tests/Main/category_fixture.h"

namespace {

using category::CategoryBus;
using testing_support::AckPacket;

class BusLampTest : public test_categories::StartedSystemTest {
 protected:
  static CategoryBus& bus(int me) { return CategoryBus::instance()[me]; }
  static MxifBusStatus& status(int me, int panel = 0) { return category::CategoryBusStatus::instance()[me].record(panel); }
  static MxifXptAssign& xpt(int panel = 0) { return category::CategoryXpt::instance().record(panel); }
  static MxifOperate& operate() { return category::CategoryOperate::instance().record(0); }
  static MxifControlPanelConfig& config() { return category::CategoryControlPanelConfig::instance().record(0); }
  static int meLamp(int me, int code, int panel = 0) { return category::CategoryMeLed::instance()[me].ledRequest(panel, code); }
  static int lamp(int code, int panel = 0) { return category::CategoryLed::instance().ledRequest(panel, code); }
  static void put(int me, int entry, int code) { bus(me).record(0).entries[entry] = static_cast<u16>(code); }
  static void rows(int me, std::vector<int> shown) {
    for (size_t r = 0; r < shown.size(); ++r) status(me).rows[r] = static_cast<u8>(shown[r]);
  }
  // The 24 crosspoint lamps of a row.
  static std::vector<int> row(int me, int r) {
    std::vector<int> v(24);
    for (int i = 0; i < 24; ++i) v[i] = meLamp(me, 50 * r + i);
    return v;
  }
  static std::vector<int> lit(std::vector<std::pair<int, int>> buttons) {
    std::vector<int> v(24, 0);
    for (auto [i, state] : buttons) v[i] = state;
    return v;
  }
};

TEST_F(BusLampTest, PanelsTakeTurnsOnceTheSubPanelsAskedForTheirLamps) {
  auto sequence = [&](int frames) {
    std::vector<int> seen;
    for (int i = 0; i < frames; ++i) runFrame(0), seen.push_back(bus(i % 4).lampPanel());
    return seen;
  };
  EXPECT_EQ(sequence(3), (std::vector<int>{0, 0, 0}));

  MxifControlPanelConfig request;
  request.subControlPanel1.mask = MxifControlPanelConfig::Panel::REQUEST, request.subControlPanel1.request = 1;
  peer.sendText(request);
  const std::vector<AckPacket> sent = framePackets()[MxifControlPanelConfig::TYPE_INDEX];
  ASSERT_EQ(sent.size(), 1u);
  const auto echo = sent[0].asText<MxifControlPanelConfig>();
  EXPECT_EQ(std::tuple(echo.subControlPanel1.mask, echo.subControlPanel1.request, CategoryBus::panelPresent(1)),
            std::tuple(MxifControlPanelConfig::Panel::REQUEST, u8{0}, true));
  EXPECT_EQ(sequence(4), (std::vector<int>{0, 1, 0, 1}));

  config().subControlPanel2.request = 1;
  runFrame(0);
  EXPECT_EQ(config().subControlPanel2.request, 0);
  EXPECT_EQ(sequence(6), (std::vector<int>{0, 1, 2, 0, 1, 2}));
}

// ME 1 on panel 0: rows 0..3 show the A and B buses and entries 40 and 41.
TEST_F(BusLampTest, RowAndCrosspointLamps) {
  xpt().source[2] = 12, xpt().source[5] = 10;
  put(1, 0, 5), put(1, 1, 2);
  put(1, 40, CategoryBus::DIRECT + 12), put(1, 41, CategoryBus::DIRECT + 10);  // lights the first button carrying it
  rows(1, {0, 1, 40, 41});
  runFrame(0);
  // Row codes 451, 452, 450, 453; the B bus rests off program.
  EXPECT_EQ(std::vector<int>({meLamp(1, 451), meLamp(1, 452), meLamp(1, 450), meLamp(1, 453)}), std::vector<int>({2, 0, 2, 2}));
  EXPECT_EQ(std::tuple(row(1, 0), row(1, 1), row(1, 2), row(1, 3)), std::tuple(lit({{5, 2}}), lit({{2, 3}}), lit({{2, 2}}), lit({{5, 2}})));

  // Byte 291: every button of the row that carries the source.
  xpt().source[9] = 10;
  config().options.lampFlag = 1;
  runFrame(0);
  EXPECT_EQ(row(1, 0), lit({{5, 2}, {9, 2}}));

  // The assignment changes after the passes: an earlier button takes source 12, column 7 shifts.
  config().options.lampFlag = 0;
  MxifXptAssign change{};
  change.source[1] = 12, change.source[7] = 300;
  change.buttonMask[0] = 1u << 1 | 1u << 7;
  category::CategoryXpt::instance().assign(change, 0);
  runFrame(0);
  EXPECT_EQ(row(1, 2), lit({{1, 2}, {7, 2}}));
}

TEST_F(BusLampTest, AuxRowDuringAMix) {
  xpt().source[0] = 10, xpt().source[1] = 11;
  put(0, 24, 0);
  rows(0, {24});
  runFrame(0);  // taken at once: no mix rate yet
  operate().auxTransEnable.value[0] = 1, operate().auxTransRate.value[0] = 10;
  runFrame(0);
  EXPECT_EQ(std::tuple(meLamp(0, 451), row(0, 0)), std::tuple(2, lit({{0, 2}})));
  MxifBus change{};
  change.setEntry(24, 1);
  bus(0).assign(change, 0);
  runFrame(0);
  ASSERT_EQ(bus(0).isMixRunning(0), 1);
  EXPECT_EQ(std::tuple(meLamp(0, 451), row(0, 0)), std::tuple(12, lit({{0, 3}, {1, 12}})));
}

// Row 0 of ME 0 shows a key or downstream-key bus: dark while the layer is off air.
TEST_F(BusLampTest, KeyAndDownstreamKeyRowsFollowTheirLayer) {
  auto& faders = category::CategoryFaderEvent::instance();
  struct Case { int entry, slot; float position; int flip, lamp; } cases[] = {
      {2, AutoTransition::keySlot(0, 0), 0.0f, 1, 0},  {2, AutoTransition::keySlot(0, 0), 0.5f, 1, 2},
      {4, AutoTransition::keySlot(0, 1), 0.0f, -1, 2}, {4, AutoTransition::keySlot(0, 1), 1.0f, -1, 0},
      {18, AutoTransition::dskSlot(1), 0.0f, 1, 0},   {19, AutoTransition::dskSlot(1), 0.0f, -1, 2}};
  for (const Case& c : cases) {
    AutoTransition& t = faders.transition(c.slot);
    t.positionA = c.position, t.flip = c.flip;
    rows(0, {c.entry});
    runFrame(0);
    EXPECT_EQ(meLamp(0, 451), c.lamp) << c.entry << " " << c.position << " " << c.flip;
  }
}

// ME 0 on panel 0 (its delegation index 0): the settings' lamps 208..211 and the flag lamps.
TEST_F(BusLampTest, RowSettingDelegationAndFlagLamps) {
  const u8 settings[][4] = {{1, 2, 5, 6}, {1, 2, 14, 6}, {1, 2, 5, 19}, {2, 2, 5, 6}};  // rows 2, 3, 0, 1
  for (int s = 0; s < 4; ++s) std::copy(settings[s], settings[s] + 4, operate().busSettings[0][s].code);
  operate().meChangeMain = {0, {0, 1, 2, 3}};  // row r of the main panel on ME r, as the front end sets it
  rows(0, {0, 1, 2, 4});
  status(0).switchLamp = 1, status(0).flag36 = 1, status(0).pages[4] = 2;
  runFrame(0);
  EXPECT_EQ(std::vector<int>({meLamp(0, 208), meLamp(0, 209), meLamp(0, 210), meLamp(0, 211)}), std::vector<int>({2, 2, 0, 0}));
  EXPECT_EQ(std::vector<int>({meLamp(0, 222), meLamp(0, 224), meLamp(0, 229), meLamp(0, 230), meLamp(0, 220), lamp(212)}),
            std::vector<int>({3, 1, 0, 2, 0, 0}));

  // Row 2 on the pair partner of its entry: near. Row 2 on entry 25 lights the panel lamp of AUX 1's
  // pair with 3; ME 1 (delegation index 1) lights the lamps of panel table 1.
  status(0).rows[2] = 3, status(1).rows[2] = 17;
  runFrame(0);
  EXPECT_EQ(std::tuple(meLamp(0, 208), meLamp(0, 209)), std::tuple(3, 3));
  status(0).rows[2] = 25;
  runFrame(0);
  EXPECT_EQ(std::tuple(lamp(200), lamp(201), lamp(712)), std::tuple(3, 0, 3));
}

}  // namespace
