// The peripheral tally groups (type 28) and the recent colours (type 51) among the categories that
// start-up creates: the tally control, the multiview redraw and the colour list.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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
    sendPass(cat());  // the report clears the change
    platform::regPoke(keyreg::DSK_TALLY_CONTROL, UNTOUCHED);
    cat().update();
    EXPECT_EQ(control(), UNTOUCHED) << int(c.mode);
  }
  // After a restart the tally mode (0, the last one taken) is written again.
  runFrame(0);
  restart();
  platform::regPoke(keyreg::DSK_TALLY_CONTROL, UNTOUCHED);
  runFrame(0);
  EXPECT_EQ(control(), 1u);
}

// A changed group has every multiview channel redrawn; the tally mode alone does not.
TEST_F(PeripheralTest, GroupChangeRedrawsTheMultiview) {
  auto& multiview = category::CategoryMultiView::instance();
  R mode;
  mode.maskA = R::TALLY_MODE;
  receive(mode);
  cat().update();
  sendPass(cat());
  EXPECT_FALSE(multiview.needsRedraw(0));
  R colour;
  colour.groups[3].color = 2, colour.groups[3].mask = 1u << TallyGroup::COLOR_BIT;
  receive(colour);
  cat().update();
  for (int ch = 0; ch < MxifMultiView::N_CHANNELS; ++ch) EXPECT_TRUE(multiview.needsRedraw(ch)) << ch;
}

TEST_F(PeripheralTest, RecentColoursKeepTheListMostRecentFirst) {
  using Color = std::array<s16, 3>;
  using List = std::array<Color, 8>;
  const Color z{0, 0, 0}, a{1, 2, 3}, a2{1, 2, 4}, n{9, 9, 9};
  const List full{{{10, 0, 0}, {11, 0, 0}, {12, 0, 0}, {13, 0, 0}, {14, 0, 0}, {15, 0, 0}, {16, 0, 0}, {17, 0, 0}}};
  // The request's colour mask and colours; the list after it, and the colour mask of the echo.
  struct { const char* what; u32 mask; List colors, expected; u32 reported; } steps[] = {
      {"black matches the empty list", 0x01, {z}, {z, z, z, z, z, z, z, z}, 0},
      {"a colour used", 0x01, {a}, {a, z, z, z, z, z, z, z}, 0xFF},
      {"third value differs", 0x05, {a2, z, n}, {a2, a, z, z, z, z, z, z}, 0xFF},
      {"a whole list", 0xFF, full, full, 0xFF},
      {"held at position 5", 0x01, {full[5]}, full, 0},
      {"new to a full list", 0x01, {n}, {n, full[0], full[1], full[2], full[3], full[4], full[5], full[6]}, 0xFF},
      {"bit 0 clear", 0xFE, full, {n, full[0], full[1], full[2], full[3], full[4], full[5], full[6]}, 0},
      {"bit 7 clear", 0x7F, full, {n, full[0], full[1], full[2], full[3], full[4], full[5], full[6]}, 0},
      {"bit 2 clear", 0x03, {a, a2}, {n, full[0], full[1], full[2], full[3], full[4], full[5], full[6]}, 0},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    MxifRecentColor r{};
    r.colorMask = s.mask;
    for (int i = 0; i < 8; ++i) std::copy(s.colors[i].begin(), s.colors[i].end(), r.colors[i]);
    peer.send(r);
    const auto echoes = frameSends(MxifRecentColor::TYPE_INDEX);
    ASSERT_EQ(echoes.size(), 1u);
    const auto echo = echoes[0].as<MxifRecentColor>();
    EXPECT_EQ(echo.colorMask, s.reported);
    List got;
    for (int i = 0; i < 8; ++i) std::copy(echo.colors[i], echo.colors[i] + 3, got[i].begin());
    EXPECT_EQ(got, s.expected);
  }
}

}  // namespace
