// The peripheral tally groups (type 28) among the categories that start-up creates: what a record
// may set, the tally control it writes, the multiview redraw, the report and the resume.
#include <gtest/gtest.h>

#include <vector>

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
  static void setEntry(R& r, int g, int i, int code) {
    r.groups[g].entries[i] = static_cast<u16>(code);
    r.groups[g].mask |= 1u << i;
  }
};

// Group 0 takes no preview output (code 2) where group 1 does; code 0 is taken everywhere; codes
// outside the table, a colour of 4 and flags of 2 are dropped; the exclusion flag 5 is a 1; flag A0
// never changes.
TEST_F(PeripheralTest, EachFieldIsTakenByItsGroupsTable) {
  R r;
  setEntry(r, 0, 0, 2), setEntry(r, 0, 1, 0), setEntry(r, 0, 2, 36), setEntry(r, 0, 3, 7), setEntry(r, 0, 4, 0x8001);
  setEntry(r, 1, 0, 2), setEntry(r, 1, 1, 0), setEntry(r, 3, 7, 16);
  r.groups[2].exclusion = 5, r.groups[2].mask |= 1u << TallyGroup::EXCLUSION_BIT;
  r.groups[3].color = 4, r.groups[3].mask |= 1u << TallyGroup::COLOR_BIT;
  r.flagA0 = 1, r.reportForm = 2, r.option = 1;
  r.maskA = R::FLAG_A0 | R::REPORT_FORM, r.maskB = R::OPTION;
  receive(r);
  const R out = report();
  EXPECT_EQ(std::vector<u32>({out.maskA, out.maskB, out.groups[0].mask, out.groups[1].mask, out.groups[2].mask,
                              out.groups[3].mask}),
            std::vector<u32>({0, R::OPTION, 0x6, 0x3, 1u << TallyGroup::EXCLUSION_BIT, 0x80}));
  EXPECT_EQ(std::vector<int>({out.groups[0].entries[0], out.groups[0].entries[2], out.groups[1].entries[0],
                              out.groups[3].entries[7], out.groups[2].exclusion, out.flagA0, out.option}),
            std::vector<int>({0, 36, 2, 16, 1, 0, 1}));
  EXPECT_EQ(cat().record(0).groups[2].exclusion, 1);
}

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

// A changed group has every multiview channel redrawn; the tally mode alone does not. A change of
// group 3's colour alone is reported with bit 8 of group 3 and nothing else.
TEST_F(PeripheralTest, GroupChangeRedrawsTheMultiviewAndReportsItsBitsAlone) {
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
  const R out = report();
  EXPECT_EQ(std::vector<u32>({out.maskA, out.maskB, out.groups[0].mask, out.groups[1].mask, out.groups[2].mask,
                              out.groups[3].mask}),
            std::vector<u32>({0, 0, 0, 0, 0, 1u << TallyGroup::COLOR_BIT}));
  EXPECT_EQ(out.groups[3].color, 2);
}

// After a restart the record comes back whole: the tally mode is written again and every field is
// reported present.
TEST_F(PeripheralTest, ResumeWritesTheTallyModeAndReportsEverything) {
  R r;
  r.tallyMode = 1, r.reportForm = 1, r.maskA = R::TALLY_MODE | R::REPORT_FORM;
  setEntry(r, 2, 5, 20);
  peer.send(r);
  runFrame(0);
  peer.readPackets();
  restart();
  platform::regPoke(keyreg::DSK_TALLY_CONTROL, UNTOUCHED);
  const auto packets = frameSends(category::TYPE_PERIPHERAL);
  ASSERT_EQ(packets.size(), 1u);
  const R out = packets[0].as<R>();
  EXPECT_EQ(control(), 0u);
  EXPECT_EQ(std::vector<u32>({out.maskA, out.maskB, out.groups[0].mask, out.groups[3].mask}),
            std::vector<u32>({0x7, 0x1, TallyGroup::ALL, TallyGroup::ALL}));
  EXPECT_EQ(std::vector<int>({out.tallyMode, out.reportForm, out.groups[2].entries[5]}), std::vector<int>({1, 1, 20}));
}

}  // namespace
