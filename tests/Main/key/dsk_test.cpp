// Downstream keys: the re-rank, levels, on-air requests, toggles and crosspoints.
#include <gtest/gtest.h>

#include "Main/bus/bus.h"
#include "Main/fader/faderevent.h"
#include "Main/key/dsk.h"
#include "tests/Main/key/key_fixture.h"

namespace {

using category::CategoryDsk;
using D = MxifDsk;
using key_test::bit;

class DskTest : public key_test::LoggedTest<> {
 protected:
  void SetUp() override {
    LoggedTest::SetUp();
    sendPass(dsk());  // the start-up report
  }
  static CategoryDsk& dsk() { return CategoryDsk::instance(); }
  static AutoTransition& autoOf(int j) { return category::CategoryFaderEvent::instance().transition(AutoTransition::dskSlot(j)); }

};

TEST_F(DskTest, RerankAndStackingOrder) {
  dsk().update();
  transition_test::expectArgs(transition_test::last("mxDskSetPriority"), {4631, 4627, 4629});
  for (int j = 0; j < 4; ++j) dsk().record(j).priority = static_cast<u8>(j);
  D r;
  r.mask = bit(D::W0_PRIORITY), r.priority = 2;
  peer.sendText(r);
  reg().receiveAll();
  std::vector<std::pair<int, u32>> echo;
  for (const auto& p : sendPass(dsk())) echo.emplace_back(p.asText<D>().priority, p.asText<D>().mask);
  const u32 m = bit(D::W0_PRIORITY);
  EXPECT_EQ(echo, (std::vector<std::pair<int, u32>>{{2, m}, {0, m}, {1, m}, {3, m}}));

}

TEST_F(DskTest, LevelReverseOnAirRequestAndToggle) {
  autoOf(2).flip = -1, autoOf(2).positionA = 0.25f;
  dsk().update();
  for (const auto& c : transition_test::calls("mxKeySetLevel")) if (c.target == MX_DSK1 + 4) transition_test::expectArgs(c, {0.75f});
  EXPECT_EQ(std::tuple(dsk().record(2).reverse, dsk().record(2).mask & bit(D::W0_REVERSE)), std::tuple(1, bit(D::W0_REVERSE)));


  struct Case { int request; u8 onAir[4], group[4]; bool stopped[4]; } cases[] = {
      {0, {1, 1, 1, 0}, {1, 0, 1, 1}, {true, false, true, false}},
      {1, {1, 1, 1, 0}, {1, 0, 1, 1}, {false, false, false, false}},
  };
  for (const Case& c : cases) {
    for (int j = 0; j < 4; ++j) {
      dsk().record(j).onAir = c.onAir[j], dsk().record(j).group = c.group[j];
      autoOf(j).state = AutoTransition::RUNNING;
    }
    D r;
    r.mask = bit(D::W0_ON_AIR), r.onAir = static_cast<u8>(c.request);
    dsk().assign(r, 0);
    EXPECT_EQ(dsk().record(0).onAir, c.request);  // taken, and kept as the request
    dsk().record(0).onAir = c.onAir[0];           // as the fader pass sets it back before the update
    dsk().update();
    EXPECT_EQ(dsk().onAirRequest(0), -1);
    for (int j = 0; j < 4; ++j) {
      EXPECT_EQ(autoOf(j).state, c.stopped[j] ? AutoTransition::STOP_REQUEST : AutoTransition::RUNNING) << j;
    }
  }

  // The toggle: linked, both settings; else setting A, or setting B while reversed.
  D& live = dsk().record(3);
  const std::tuple<int, int, int, int> toggles[] = {{1, 0, 0, 0}, {0, 0, 0, 1}, {0, 1, 1, 0}};
  for (const auto& [link, reverse, in, out] : toggles) {
    live.inOutLink = static_cast<u8>(link), live.reverse = static_cast<u8>(reverse);
    live.transIn.on = live.transOut.on = 1;
    dsk().toggleDskTransMode(3);
    EXPECT_EQ(std::tuple(live.transIn.on, live.transOut.on), std::tuple(in, out)) << link << reverse;
  }
}

// The fill takes bus entry 16 + 2j of ME 1's bus, the key entry 17 + 2j only with key type and
// key-source flag both set; ME 0's bus is never read.
TEST_F(DskTest, CrosspointsFromMe1sBusWithTheKeyEntryOnlyForAKeySource) {
  auto bus = [](int me) { return dynamic_cast<category::CategoryBus*>(reg().get(category::TYPE_BUS, me)); };
  ASSERT_NE(bus(1), nullptr);
  constexpr int DIRECT = category::CategoryBus::DIRECT;
  for (int e = 16; e < 24; ++e) {
    bus(0)->record(0).setEntry(e, DIRECT + 30);      // input 20
    bus(1)->record(0).setEntry(e, DIRECT + 10 + e);  // input e: hardware 4352 + e
  }
  const std::pair<u8, u8> cases[] = {{1, 1}, {0, 1}, {1, 0}, {0, 0}};
  for (const auto& [type, source] : cases) {
    for (int j = 0; j < 4; ++j) dsk().record(j).style.keyType = type, dsk().record(j).style.keySource = source;
    calllog::clear();
    dsk().update();
    const auto all = transition_test::calls("mxSetDskSource");
    ASSERT_EQ(all.size(), 8u);
    for (int j = 0; j < 4; ++j) {
      const float fill = 4368.0f + 2 * j, key = type != 0 && source != 0 ? fill + 1 : fill;
      EXPECT_EQ(std::tuple(all[2 * j].target, all[2 * j].args[0]), std::tuple(MX_DSK1_F + 2 * j, fill)) << j;
      EXPECT_EQ(std::tuple(all[2 * j + 1].target, all[2 * j + 1].args[0]), std::tuple(MX_DSK1_F + 2 * j + 1, key))
          << j << " " << int{type} << int{source};
    }
  }
}

}  // namespace
