// The peripheral tally groups (type 28) among the categories that start-up creates: the tally
// control they write and the multiview redraw.
#include <gtest/gtest.h>


#include "Driver/key/regs.h"
#include "Main/io/io.h"
#include "Main/panel/peripheral.h"
#include "Platform/board.h"
#include "tests/Main/category_fixture.h"

namespace {

using category::CategoryPeripheral;
using R = MxifPeripheral;

constexpr u32 UNTOUCHED = 0xAB;

class PeripheralTest : public test_categories::StartedSystemTest {
 protected:
  static CategoryPeripheral& cat() { return CategoryPeripheral::instance(); }
  // Receives the record (no frame work).
  void receive(const R& r) {
    peer.send(r);
    reg().receiveAll();
  }
  // The report of one status pass, all zero when none went.
  R report() {
    const auto packets = sendPass(cat());
    return packets.empty() ? R{} : packets.back().as<R>();
  }
  static u32 control() { return platform::regPeek(keyreg::DSK_TALLY_CONTROL); }
};

// A tally mode of 1 writes 0 to the tally control, 0 writes 1, in every update until the report;
// a mode of 2 is dropped and writes nothing.
TEST_F(PeripheralTest, TallyModeReachesTheTallyControlUntilReported) {
  const struct { u8 mode; u32 written; } cases[] = {{1, 0}, {0, 1}, {2, UNTOUCHED}};
  for (const auto& c : cases) {
    R r;
    r.tallyMode = c.mode, r.maskA = R::TALLY_MODE;
    receive(r);
    for (int pass = 0; pass < 2; ++pass) {
      platform::regPoke(keyreg::DSK_TALLY_CONTROL, UNTOUCHED);
      cat().update();
      EXPECT_EQ(control(), c.written) << int(c.mode) << " pass " << pass;
    }
    report();
    platform::regPoke(keyreg::DSK_TALLY_CONTROL, UNTOUCHED);
    cat().update();
    EXPECT_EQ(control(), UNTOUCHED) << int(c.mode);
  }
}

// A changed group has every multiview channel redrawn; the tally mode alone does not.
TEST_F(PeripheralTest, GroupChangeRedrawsTheMultiview) {
  auto& multiview = category::CategoryMultiView::instance();
  R mode;
  mode.maskA = R::TALLY_MODE;
  receive(mode);
  cat().update();
  report();
  EXPECT_FALSE(multiview.needsRedraw(0));
  R colour;
  colour.groups[3].color = 2, colour.groups[3].mask = 1u << TallyGroup::COLOR_BIT;
  receive(colour);
  cat().update();
  for (int ch = 0; ch < MxifMultiView::N_CHANNELS; ++ch) EXPECT_TRUE(multiview.needsRedraw(ch)) << ch;
}

// After a restart the tally mode is written again.
TEST_F(PeripheralTest, ResumeWritesTheTallyMode) {
  R r;
  r.tallyMode = 1, r.maskA = R::TALLY_MODE;
  peer.send(r);
  runFrame(0);
  peer.readPackets();
  restart();
  platform::regPoke(keyreg::DSK_TALLY_CONTROL, UNTOUCHED);
  runFrame(0);
  EXPECT_EQ(control(), 0u);
}

}  // namespace
