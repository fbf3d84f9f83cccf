// Key channels: the special rules of the validated merge, the unchecked merge, re-ranking, the
// on-air request, the key-changed hook, the sender's wait, the key command, the accessors and the
// key-fader lookups.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Main/key/key.h"
#include "Main/panel/panelconfig.h"
#include "tests/Main/key/key_fixture.h"

namespace {

using category::CategoryKey;
using key_test::bit;
using testing_support::AckPacket;
using K = MxifKey;
using Cmd = MxifKeyCmd;

class KeyTest : public test_categories::SystemCategoriesTest {
 protected:
  static CategoryKey& key(int me) { return CategoryKey::instance()[me]; }
  // What the front end reads after a receive pass and a status pass of the four key categories.
  std::vector<AckPacket> exchange() {
    reg().receiveAll();
    for (int me = 0; me < category::N_ME; ++me) key(me).sendStatus(AcknowledgeSender::instance());
    AcknowledgeSender::instance().flush();
    return peer.readPackets();
  }
  static K decode(const AckPacket& p) {
    K r;
    libmx::WireIn in(p.body.data(), p.body.size());
    EXPECT_TRUE(libmx::readTextRecord(in, r));
    return r;
  }
};

TEST_F(KeyTest, FieldRules) {
  struct Case {
    const char* what;
    int channel;
    void (*live)(K&);
    void (*in)(K&);
    void (*check)(const K&);
  };
  const Case cases[] = {
      {"scale 0, 0", 0, [](K&) {}, [](K& r) { r.dveScale.mask = 3; },
       [](const K& l) { EXPECT_EQ(std::vector<int>({l.dveScale.first, l.dveScale.second}), std::vector<int>({10000, 10000})); }},
      {"scale 4999, 10000", 0, [](K& l) { l.dveScale = {0, 6000, 7000}; },
       [](K& r) { r.dveScale = {3, 4999, 10000}; },
       [](const K& l) { EXPECT_EQ(std::vector<int>({l.dveScale.first, l.dveScale.second}), std::vector<int>({6000, 7000})); }},
      {"key 3 effect 5/1", 2, [](K&) {}, [](K& r) { r.mask = bit(K::W0_EFFECT_A), r.effectA[0] = 5, r.effectA[1] = 1; },
       [](const K& l) { EXPECT_EQ(l.effectA[0], 0); }},
      {"key 1 effect 5/1", 0, [](K&) {}, [](K& r) { r.mask = bit(K::W0_EFFECT_A), r.effectA[0] = 5, r.effectA[1] = 1; },
       [](const K& l) { EXPECT_EQ(l.effectA[1], 1); }},
      {"DVE size 20000 on key 3", 2, [](K&) {}, [](K& r) { r.mask = bit(K::W0_DVE_SIZE), r.dveSize = 20000; },
       [](const K& l) { EXPECT_EQ(l.dveSize, 0); }},
      {"170 and 172 with 164 alone", 0, [](K&) {},
       [](K& r) { r.mask = bit(K::W0_DVE_TRIPLE2), r.dveValue2 = 50, r.dveValue3 = 66; },
       [](const K& l) {
         EXPECT_EQ(std::vector<int>({l.dveValue2, l.dveValue3}), std::vector<int>({50, 0}));
         EXPECT_EQ(l.mask, bit(K::W0_DVE_TRIPLE2) | bit(K::W0_DVE_VALUE2));
       }},
      {"12 characters without terminator", 0, [](K&) {},
       [](K& r) { r.names.mask = 2, r.names.name2.count = 12, std::memcpy(r.names.name2.chars, "ABCDEFGHIJKLM", 13); },
       [](const K& l) {
         EXPECT_EQ(l.names.name2.count, 12);
         EXPECT_EQ(l.names.name2.chars[12], 0);
         EXPECT_EQ(libmx::textRecordWireLength(l), 342u + 12);
       }},
      {"link set copies setting A", 0, [](K& l) { l.transIn = {0, 1, 0, 300}; },
       [](K& r) { r.mask = bit(K::W0_IN_OUT_LINK), r.inOutLink = 1, r.transIn = {6, 0, 7, 500}; },
       [](const K& l) { EXPECT_EQ(std::vector<int>({l.transOut.on, l.transOut.mode, l.transOut.value}), std::vector<int>({1, 0, 500})); }},
      {"linked: refused values reach neither setting", 0, [](K& l) { l.inOutLink = 1, l.transIn.value = l.transOut.value = 300; },
       [](K& r) { r.transIn = {7, 1, 7, 1500}, r.transOut = {4, 0, 0, 200}; },
       [](const K& l) {
         EXPECT_EQ(std::vector<int>({l.transIn.on, l.transIn.value, l.transOut.on, l.transOut.value}), std::vector<int>({1, 200, 1, 200}));
         EXPECT_EQ(l.transIn.mode | l.transOut.mode, 0);
       }},
      {"crop in the channel's mode 1", 0, [](K& l) { l.dveShape.cropMode = 1; },
       [](K& r) { r.mask = bit(K::W0_DVE_CROP), r.dveCrop[0] = -300, r.dveShape = {2, 0, 0}; },
       [](const K& l) { EXPECT_EQ(std::vector<int>(l.dveCrop, l.dveCrop + 4), std::vector<int>({-300, 0, 0, 300})); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    K& live = key(0).record(c.channel);
    key(0).initData();
    c.live(live);
    K r;
    r.channel = static_cast<u16>(c.channel);
    c.in(r);
    key(0).assign(r, c.channel);
    c.check(live);
  }
}

// Records built inside the system are merged as they are, names by their copy rule.
TEST_F(KeyTest, UncheckedMergeTakesWhatARequestCannot) {
  K r;
  r.channel = 0, r.mask = bit(K::W0_DVE_SIZE) | bit(K::W0_MIRROR_MODE), r.dveSize = 20000, r.mirrorMode = 7;
  r.names.mask = 1, r.names.name1.count = 20;
  std::memset(r.names.name1.chars, 'n', sizeof r.names.name1.chars);
  key(2).assignUnchecked(r, 3);
  const K& live = key(2).record(3);
  EXPECT_EQ(std::vector<int>({live.dveSize, live.mirrorMode, live.names.name1.count, live.names.name1.chars[12], live.me,
                              live.channel}),
            std::vector<int>({20000, 7, 12, 0, 2, 3}));
}

TEST_F(KeyTest, PriorityReRanksAllFourKeys) {
  for (int k = 0; k < 4; ++k) key(1).record(k).priority = static_cast<u8>(k);
  K r;
  r.mask1 = bit(K::W1_PRIORITY), r.priority = 2;
  key(1).assign(r, 0);
  const auto packets = exchange();
  ASSERT_EQ(packets.size(), 4u);
  const int want[4] = {2, 0, 1, 3};
  for (int k = 0; k < 4; ++k) {
    const K echo = decode(packets[k]);
    EXPECT_EQ(echo.channel, k);
    EXPECT_EQ(echo.priority, want[k]) << k;
    EXPECT_EQ(echo.mask1, bit(K::W1_PRIORITY)) << k;
  }
}

TEST_F(KeyTest, OnAirRequestAndGeometryChange) {
  K r;
  r.mask = bit(K::W0_MIRROR_MODE), r.mirrorMode = 2;
  r.mask1 = bit(K::W1_ON_AIR) | bit(K::W1_IN_TRANSITION), r.onAir = 1, r.inTransition = 1;
  key(0).assign(r, 3);
  // The on-air byte is taken and kept as a request; the in-transition byte is never taken.
  EXPECT_EQ(std::vector<int>({key(0).onAirRequest(3), key(0).onAirRequest(2), key(0).geometryChanged(3),
                              key(0).geometryChanged(2), key(0).record(3).onAir, key(0).record(3).inTransition}),
            std::vector<int>({1, -1, 1, 0, 1, 0}));
}

TEST_F(KeyTest, KeyChangedHookForKeySettingsOnly) {
  static std::vector<int> told;
  told.clear();
  CategoryKey::setKeyChangedHook([](int me, int key) { told.push_back(me * 10 + key); });
  struct Case {
    void (*in)(K&);
    bool told;
  } cases[] = {
      {[](K& r) { r.style.mask = 1, r.style.keyType = 9; }, true},  // before the checks
      {[](K& r) { r.maskSet.mask = 4; }, true},
      {[](K& r) { r.mask = bit(K::W0_WINDOW); }, true},
      {[](K& r) { r.mask = bit(K::W0_DVE_TRANS_ON); }, false},
      {[](K& r) { r.dveBorder.mask = 1, r.mask1 = 1; }, false},
  };
  for (const auto& c : cases) {
    told.clear();
    K r;
    c.in(r);
    key(1).assign(r, 2);
    EXPECT_EQ(told, c.told ? std::vector<int>{12} : std::vector<int>{}) << (&c - cases);
  }
}

TEST_F(KeyTest, SendStatusWaitsWhileMoreThanHalfTheOutputStreamIsPending) {
  K r;
  key(0).assign(r, 1);
  key(0).assign(r, 3);
  auto& out = AcknowledgeSender::instance().stream();
  for (int i = 0; i <= 0x20000; ++i) out.write(0);
  key(0).sendStatus(AcknowledgeSender::instance());
  EXPECT_EQ(out.pending(), 0x20001);
  out.reset();
  const auto packets = exchange();
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(std::vector<int>({decode(packets[0]).channel, decode(packets[1]).channel}), std::vector<int>({1, 3}));
}

TEST_F(KeyTest, CopyOfKeyDveSettings) {
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
    const K echo = decode(packets[1]);
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

TEST_F(KeyTest, TransitionModeAccessors) {
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

TEST_F(KeyTest, StatusSettersAndToggles) {
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
}

TEST_F(KeyTest, KeyFaderLookupsOverThePanelConfiguration) {
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
  peer.sendPacket(MxifControlPanelConfig::TYPE_INDEX, testing_support::textRecordBytes(cfg));
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
}

}  // namespace
