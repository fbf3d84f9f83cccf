// The key command through the request ring, the key accessors and the key-fader lookups.
#include <gtest/gtest.h>

#include "Lib/Include/text.h"
#include "Main/key/dsk.h"
#include "Main/key/key.h"
#include "Main/panel/panelconfig.h"
#include "tests/Main/category_fixture.h"

namespace {

using category::CategoryKey;
using K = MxifKey;
using Cmd = MxifKeyCmd;

constexpr u32 bit(int b) { return 1u << b; }

struct Body {
  std::vector<u8> b;
  void write(u8 x) { b.push_back(x); }
};

class KeyCmdTest : public test_categories::SystemCategoriesTest {
 protected:
  static CategoryKey& key(int me) { return CategoryKey::instance()[me]; }
  // What the front end reads after a receive pass and a status pass of the four key categories.
  std::vector<testing_support::AckPacket> exchange() {
    reg().receiveAll();
    for (int me = 0; me < category::N_ME; ++me) key(me).sendStatus(AcknowledgeSender::instance());
    AcknowledgeSender::instance().flush();
    return peer.readPackets();
  }
};

TEST_F(KeyCmdTest, CopyOfKeyDveSettings) {
  K& src = key(0).record(0);
  src.dveSize = 30000, src.dvePerspective = 40, src.dveRotation[0] = 100, src.dvePosition[1] = 2, src.dveCrop[3] = 40;
  src.dveBorder = {0, 1, 50, 60}, src.dveScale = {0, 6000, 7000}, src.matteColor[0] = 1200;
  K& third = key(0).record(2);
  third.dveSize = 8000, third.dveRotation[0] = 55, third.dvePosition[1] = 6;
  for (int me = 0; me < 2; ++me) {
    for (int k = 1; k < 3; ++k) key(me).record(k).dveRotation[0] = 9, key(me).record(k).dveScale = {0, 8000, 8000};
  }
  const u32 copied = 0x2EFF80;  // word 0 bits 7..15, 17..19, 21: all but rotation and perspective
  const u32 dve = bit(K::W0_DVE_ROTATION) | bit(K::W0_DVE_PERSPECTIVE);
  struct Case {
    Cmd cmd;  // first, second, command, reply, target ME, mask, sources
    s16 reply;
    int me, channel;       // the changed key, -1 for none
    std::vector<int> got;  // size, rotation x, scale x, perspective, position y, crop right, border width
    u32 mask;
  };
  const Case cases[] = {
      {{1, 2, 0, 0, 1, 0xF, {0, 0, 0, 0}}, 0, -1, -1, {}, 0},
      {{0, 0, 0, 0, 1, 0, {0, 0, 1, 0}}, 0, 1, 2, {10000, 9, 8000, 0, 2, 40, 50}, copied},
      {{0, 0, 0, 0, 0, 0, {0, 1, 0, 0}}, 0, 0, 1, {30000, 100, 6000, 40, 2, 40, 50}, copied | dve},
      {{0, 0, 0, 0, 1, 0, {0, 3, 0, 0}}, 0, 1, 1, {8000, 9, 8000, 0, 6, 0, 0}, copied},
      {{0, 0, 0, 0, 9, 0, {1, 1, 1, 1}}, 0, -1, -1, {}, 0},
      {{0, 0, 0, 0, 5, 0, {1, 1, 1, 1}}, -2, -1, -1, {}, 0},   // an ME without keys is refused
      {{0, 0, 0, 0, 1, 0, {1, 13, 0, 0}}, -2, -1, -1, {}, 0},  // ME 1 key 5: refused before any copy
      {{0, 0, 0, 0, 1, 0, {0, 0, 0, 33}}, -2, -1, -1, {}, 0},  // ME 4
      {{0, 0, 1, 0, 1, 0, {1, 1, 1, 1}}, -2, -1, -1, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    peer.send(c.cmd);
    const auto packets = exchange();
    ASSERT_EQ(packets.size(), c.me < 0 ? 1u : 2u);
    Cmd want = c.cmd;
    want.reply = c.reply;
    EXPECT_EQ(packets[0].type, Cmd::TYPE_INDEX);
    EXPECT_EQ(packets[0].body, testing_support::recordBytes(want));
    if (c.me < 0) continue;
    const K& t = key(c.me).record(c.channel);
    EXPECT_EQ(std::vector<int>({t.dveSize, t.dveRotation[0], t.dveScale.first, t.dvePerspective, t.dvePosition[1],
                                t.dveCrop[3], t.dveBorder.width}),
              c.got);
    K echo;
    libmx::WireIn in(packets[1].body.data(), packets[1].body.size());
    ASSERT_TRUE(libmx::readTextRecord(in, echo));
    EXPECT_EQ(std::vector<u32>({echo.me, echo.channel, echo.mask, echo.dveBorder.mask, echo.dveShape.mask}),
              std::vector<u32>({static_cast<u32>(c.me), static_cast<u32>(c.channel), c.mask, 7, 3}));
  }
  // The reply as it travels: header, then the request's bytes with the code 0xFFFE.
  peer.send(Cmd{7, 8, 1, 0, 0, 0, {}});
  reg().receiveAll();
  AcknowledgeSender::instance().flush();
  const std::vector<u8> reply = {0x5A, 0x81, 0, 0, 0, 15, 0, 75, 7, 8, 0, 1, 0xFF, 0xFE, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(peer.readBytes(), reply);
}

TEST_F(KeyCmdTest, TransitionModeAccessors) {
  struct Case {
    u8 link, reverse;
    bool a, b;  // the settings in force: A (240), B (248)
  };
  for (const Case& c : {Case{1, 1, true, true}, Case{0, 1, false, true}, Case{0, 0, true, false}}) {
    key(2).initialize();
    K& r = key(2).record(1);
    r.inOutLink = c.link, r.reverse = c.reverse, r.transIn.mode = 1;
    EXPECT_EQ(key(2).keyTransMode(1), c.a ? 1 : 0);
    key(2).setKeyTransMode(0, 1);
    EXPECT_EQ(std::vector<u32>({r.transIn.mask, r.transOut.mask}), std::vector<u32>({c.a ? 2u : 0u, c.b ? 2u : 0u}));
    r.transOut.mode = 1;
    EXPECT_EQ(key(2).keyTransMode(1), c.a ? 0 : 1);

    // The toggle steps (on 1, mode 1) to (0, 0), (1, 0), (1, 1); linked, setting A leads.
    key(2).initialize();
    r.inOutLink = c.link, r.reverse = c.reverse;
    r.transIn = {0, 1, 1, 0}, r.transOut = {0, static_cast<u8>(c.link == 1 ? 0 : 1), 1, 0};
    std::vector<int> seen;
    for (int step = 0; step < 3; ++step) {
      key(2).toggleKeyTransMode(1);
      for (const K::Trans* t : {&r.transIn, &r.transOut}) seen.push_back(t->mask == 3 ? 10 * t->on + t->mode : -1);
    }
    std::vector<int> want;
    for (int v : {0, 10, 11}) want.insert(want.end(), {c.a ? v : -1, c.b ? v : -1});
    EXPECT_EQ(seen, want);
    EXPECT_EQ(exchange().size(), 1u);
  }
}

TEST_F(KeyCmdTest, StatusSettersAndToggles) {
  CategoryKey& k = key(1);
  K& r = k.record(2);
  k.setKeyOnAir(2, 1), k.setKeyTransState3(2, 1), k.setKeyInTransition(2, 1), k.setKeyFlag(2, 1, 2);
  EXPECT_EQ(std::vector<u32>({r.onAir, r.stopping, r.inTransition, r.statusFlag, r.flags.flag[2], r.flags.mask, r.mask1}),
            std::vector<u32>({1, 1, 1, 0, 1, bit(2), bit(16) | bit(18) | bit(19)}));
  std::vector<int> dve;
  for (u8 start : {1, 0, 2}) {
    r.dveTransOn = start;
    k.toggleKeyTransDve(2);
    dve.push_back(r.dveTransOn);
  }
  EXPECT_EQ(dve, std::vector<int>({0, 1, 1}));
  EXPECT_EQ(r.mask, bit(K::W0_DVE_TRANS_ON));
  EXPECT_EQ(exchange().size(), 1u);

  testing_support::consoleClear();
  EXPECT_THROW(k.setKeyOnAir(4, 1), assert::AssertException);
  EXPECT_THROW(CategoryKey::keyCategory(4), assert::AssertException);
  EXPECT_EQ(testing_support::consoleCount("0 <= idx && idx < N_CHANNELS"), 1);
  EXPECT_EQ(testing_support::consoleCount("0 <= me && me < N_ME"), 1);
}

TEST_F(KeyCmdTest, KeyFaderLookupsOverThePanelConfiguration) {
  MxifControlPanelConfig cfg;
  auto assign = [&](int fader, int btn, int selMe, int selKey, int panel, int state) {
    cfg.keyFaders[fader][btn] = {3, static_cast<u8>(selMe), static_cast<u8>(selKey)};
    cfg.keyFaderStates[panel][fader].mask |= 1u << btn;
    cfg.keyFaderStates[panel][fader].state[btn] = static_cast<u8>(state);
  };
  assign(2, 1, 5, 1, 1, 0);  // assigned, not lit
  assign(2, 3, 5, 1, 1, 1);
  assign(2, 4, 5, 2, 1, 1);
  const int meSelects[] = {1, 4, 6, 9};
  for (int b = 0; b < 4; ++b) assign(4, b, meSelects[b], 3, 0, 1);
  Body body;
  libmx::writeTextRecord(body, cfg);
  peer.sendPacket(MxifControlPanelConfig::TYPE_INDEX, body.b);
  reg().receiveAll();

  struct Case {
    int key, panel, fader, buttons, found;
  };
  for (const Case& c : {Case{1, 1, 2, 12, 1}, Case{1, 1, 2, 3, 0}, Case{1, 0, 2, 12, 0}, Case{2, 1, 2, 5, 1},
                        Case{3, 1, 2, 12, 0}, Case{1, 1, 8, 12, 0}, Case{0, 0, 4, 13, 0}}) {
    EXPECT_EQ(CategoryKey::findKeyFaderForKey(c.key, c.panel, c.fader, c.buttons), c.found)
        << c.key << " " << c.panel << " " << c.fader << " " << c.buttons;
  }
  std::vector<int> kinds;
  for (int kind = 0; kind < 9; ++kind) kinds.push_back(CategoryKey::findKeyFaderForKeyRange(kind, 3, 0, 4, 12));
  EXPECT_EQ(kinds, std::vector<int>({1, 0, 0, 1, 1, 0, 0, 1, 0}));
  EXPECT_EQ(CategoryKey::controlPanelConfig(), &category::CategoryControlPanelConfig::instance());
  EXPECT_EQ(CategoryKey::dskCategory(), &category::CategoryDsk::instance());
}

}  // namespace
