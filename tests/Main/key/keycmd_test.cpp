// The key command through the request ring, the key accessors and the key-fader lookups.
#include <gtest/gtest.h>

#include <vector>

#include "Lib/Include/text.h"
#include "Main/key/key.h"
#include "Main/panel/panelconfig.h"
#include "tests/Main/category_fixture.h"

namespace {

using category::CategoryKey;
using testing_support::AckPacket;
using K = MxifKey;
using Cmd = MxifKeyCmd;

constexpr u32 bit(int b) { return 1u << b; }

class KeyCmdTest : public test_categories::SystemCategoriesTest {
 protected:
  static CategoryKey& key(int me) { return CategoryKey::instance()[me]; }
  // What the front end reads after a receive pass and a status pass of the four key categories.
  std::vector<AckPacket> exchange() {
    reg().receiveAll();
    for (int me = 0; me < category::N_ME; ++me) key(me).sendStatus(AcknowledgeSender::instance());
    AcknowledgeSender::instance().flush();
    return peer.readPackets();
  }
  template <class R>
  void sendText(const R& r) {
    struct Out {
      std::vector<u8> b;
      void write(u8 x) { b.push_back(x); }
    } out;
    libmx::writeTextRecord(out, r);
    peer.sendPacket(R::TYPE_INDEX, out.b);
  }
};

TEST_F(KeyCmdTest, CopyOfKeyDveSettings) {
  K& src = key(0).record(0);
  src.dveSize = 30000, src.dvePerspective = 40, src.dveValue2 = 5;
  src.dveRotation[0] = 100, src.dvePosition[1] = 2, src.dveCrop[3] = 40;
  src.dveBorder = {0, 1, 50, 60}, src.dveScale = {0, 6000, 7000};
  src.matteColor[0] = 1200;  // not a DVE setting
  K& third = key(0).record(2);
  third.dveSize = 8000, third.dveRotation[0] = 55, third.dvePosition[1] = 6;
  for (int me = 0; me < 2; ++me) {
    for (int k = 1; k < 3; ++k) {
      K& t = key(me).record(k);
      t.dveRotation[0] = 9, t.dveScale = {0, 8000, 8000}, t.dvePerspective = -7;
    }
  }
  struct Case {
    const char* what;
    Cmd cmd;
    s16 reply;
    int me, channel;  // the changed key, -1 for none
    std::vector<int> got;  // size, rotation x, scale x, perspective, position y, crop right, border width
    u32 mask;
  };
  const u32 copied = bit(K::W0_DVE_TRANS_ON) | bit(K::W0_DVE_SHAPE_ON) | bit(K::W0_DVE_SHAPE_TYPE) |
                     bit(K::W0_DVE_BORDER_SCALE) | bit(K::W0_DVE_BORDER_COLOR) | bit(K::W0_DVE_POSITION) |
                     bit(K::W0_DVE_SIZE) | bit(K::W0_DVE_TRIPLE1) | bit(K::W0_DVE_VALUE1) | bit(K::W0_DVE_TRIPLE2) |
                     bit(K::W0_DVE_VALUE2) | bit(K::W0_DVE_VALUE3) | bit(K::W0_DVE_CROP);
  const Case cases[] = {
      {"no sources", {1, 2, 0, 0, 1, 0xF, {0, 0, 0, 0}}, 0, -1, -1, {}, 0},
      {"ME 0 key 1 onto ME 1 key 3", {0, 0, 0, 0, 1, 0, {0, 0, 1, 0}}, 0, 1, 2, {10000, 9, 8000, -7, 2, 40, 50}, copied},
      {"ME 0 key 1 onto ME 0 key 2", {0, 0, 0, 0, 0, 0, {0, 1, 0, 0}}, 0, 0, 1, {30000, 100, 6000, 40, 2, 40, 50},
       copied | bit(K::W0_DVE_ROTATION) | bit(K::W0_DVE_PERSPECTIVE)},
      {"ME 0 key 3 onto ME 1 key 2", {0, 0, 0, 0, 1, 0, {0, 3, 0, 0}}, 0, 1, 1, {8000, 9, 8000, -7, 6, 0, 0}, copied},
      {"target ME 9", {0, 0, 0, 0, 9, 0, {1, 1, 1, 1}}, 0, -1, -1, {}, 0},
      {"target ME 5", {0, 0, 0, 0, 5, 0, {1, 1, 1, 1}}, 0, -1, -1, {}, 0},
      {"source ME 1 key 5", {0, 0, 0, 0, 1, 0, {1, 13, 0, 0}}, -2, -1, -1, {}, 0},
      {"source ME 4", {0, 0, 0, 0, 1, 0, {0, 0, 0, 33}}, -2, -1, -1, {}, 0},
      {"command 1", {0, 0, 1, 0, 1, 0, {1, 1, 1, 1}}, -2, -1, -1, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    peer.send(c.cmd);
    const auto packets = exchange();
    ASSERT_EQ(packets.size(), c.me < 0 ? 1u : 2u) << testing_support::consoleText();
    Cmd want = c.cmd;
    want.reply = c.reply;
    EXPECT_EQ(packets[0].type, Cmd::TYPE_INDEX);
    EXPECT_EQ(packets[0].body, testing_support::recordBytes(want));
    if (c.me < 0) continue;
    const K& t = key(c.me).record(c.channel);
    EXPECT_EQ(std::vector<int>({t.dveSize, t.dveRotation[0], t.dveScale.first, t.dvePerspective, t.dvePosition[1],
                                t.dveCrop[3], t.dveBorder.width}),
              c.got);
    const K echo = [&] {
      K r;
      libmx::WireIn in(packets[1].body.data(), packets[1].body.size());
      EXPECT_TRUE(libmx::readTextRecord(in, r));
      return r;
    }();
    EXPECT_EQ(std::vector<u32>({echo.me, echo.channel, echo.mask, echo.dveBorder.mask, echo.dveShape.mask, static_cast<u32>(echo.matteColor[0])}),
              std::vector<u32>({static_cast<u32>(c.me), static_cast<u32>(c.channel), c.mask, 7, 3, 0}));
  }
  // The reply as it travels: header, then the request's bytes with the code 0xFFFE.
  peer.send(Cmd{7, 8, 1, 0, 0, 0, {}});
  reg().receiveAll();
  AcknowledgeSender::instance().flush();
  EXPECT_EQ(peer.readBytes(), std::vector<u8>({0x5A, 0x81, 0, 0, 0, 15, 0, 75, 7, 8, 0, 1, 0xFF, 0xFE, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(KeyCmdTest, TransitionModeAccessors) {
  struct Case {
    u8 link, reverse;
    int mode;  // what the getter reads: 245 (A) or 253 (B)
  };
  for (const Case& c : {Case{1, 1, 245}, Case{0, 1, 253}, Case{0, 0, 245}}) {
    key(2).initialize();
    K& r = key(2).record(1);
    r.inOutLink = c.link, r.reverse = c.reverse, r.transIn.mode = 1;
    EXPECT_EQ(key(2).keyTransMode(1), c.mode == 245 ? 1 : 0);
    key(2).setKeyTransMode(0, 1);
    r.transOut.mode = 1;
    EXPECT_EQ(key(2).keyTransMode(1), c.mode == 245 ? 0 : 1);
    const u32 setA = c.mode == 245 ? 2 : 0, setB = c.link == 1 || c.mode == 253 ? 2 : 0;
    EXPECT_EQ(std::vector<u32>({r.transIn.mask, r.transOut.mask}), std::vector<u32>({setA, setB}));
  }

  // Toggle: (on 1, mode 1) -> (0, 0) -> (1, 0) -> (1, 1); both settings while linked, setting B
  // alone while reversed.
  struct Toggle {
    u8 link, reverse;
    bool a, b;  // which settings step
  };
  for (const Toggle& t : {Toggle{0, 0, true, false}, Toggle{1, 1, true, true}, Toggle{0, 1, false, true}}) {
    key(2).initialize();
    K& r = key(2).record(3);
    r.inOutLink = t.link, r.reverse = t.reverse;
    r.transIn.on = r.transIn.mode = r.transOut.on = r.transOut.mode = 1;
    if (t.link == 1) r.transOut.on = 0;  // linked, setting A leads
    std::vector<int> seen;
    for (int step = 0; step < 3; ++step) {
      key(2).toggleKeyTransMode(3);
      const K::Trans& s = t.a ? r.transIn : r.transOut;
      seen.push_back(10 * s.on + s.mode);
    }
    EXPECT_EQ(seen, std::vector<int>({0, 10, 11}));
    const K::Trans& other = t.a ? r.transOut : r.transIn;
    EXPECT_EQ(other.mask, t.a && t.b ? 3u : 0u);
    const auto sent = exchange();
    ASSERT_EQ(sent.size(), 1u);
  }
}

TEST_F(KeyCmdTest, StatusSettersAndToggles) {
  CategoryKey& k = key(1);
  K& r = k.record(2);
  r.style = {0, 2, 0, 0, 1, 1};
  r.transIn.value = 300, r.transOut.value = 400;
  EXPECT_EQ(std::vector<int>({k.keyType(2), k.keySourceFlag(2), k.secondModeFlag(2), k.keyTransInValue(2), k.keyTransOutValue(2)}),
            std::vector<int>({2, 1, 1, 300, 400}));
  k.setKeyOnAir(2, 1);
  k.setKeyTransState3(2, 1);
  k.setKeyInTransition(2, 1);
  k.setKeyFlag(2, 1, 2);
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
  EXPECT_EQ(&CategoryKey::keyCategory(3), &key(3));
}

TEST_F(KeyCmdTest, KeyFaderLookupsOverThePanelConfiguration) {
  MxifControlPanelConfig cfg;
  auto assignButton = [&](int fader, int btn, int selMe, int selKey, int panel, int state) {
    cfg.keyFaders[fader][btn] = {3, static_cast<u8>(selMe), static_cast<u8>(selKey)};
    cfg.keyFaderStates[panel][fader].mask |= 1u << btn;
    cfg.keyFaderStates[panel][fader].state[btn] = static_cast<u8>(state);
  };
  assignButton(2, 1, 5, 1, 1, 0);  // assigned, not lit
  assignButton(2, 3, 5, 1, 1, 1);
  assignButton(2, 4, 5, 2, 1, 1);
  const int meSelects[] = {1, 4, 6, 9};
  for (int b = 0; b < 4; ++b) assignButton(4, b, meSelects[b], 3, 0, 1);
  sendText(cfg);
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
  EXPECT_EQ(CategoryKey::dskCategory(), nullptr);
}

}  // namespace
