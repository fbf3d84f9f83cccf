// Key channels: the special rules of the merge, the on-air request, the key command and the toggle.
#include <gtest/gtest.h>

#include <vector>

#include "Main/key/key.h"
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
};

TEST_F(KeyTest, FieldRules) {
  struct Case { const char* what; int channel; void (*live)(K&); void (*in)(K&); void (*check)(const K&); };
  const Case cases[] = {
      {"scale 0, 0", 0, [](K&) {}, [](K& r) { r.dveScale.mask = 3; },
       [](const K& l) { EXPECT_EQ(std::vector<int>({l.dveScale.first, l.dveScale.second}), std::vector<int>({10000, 10000})); }},
      {"key 3 effect 5/1", 2, [](K&) {}, [](K& r) { r.mask = bit(K::W0_EFFECT_A), r.effectA[0] = 5, r.effectA[1] = 1; },
       [](const K& l) { EXPECT_EQ(l.effectA[0], 0); }},
      {"key 1 effect 5/1", 0, [](K&) {}, [](K& r) { r.mask = bit(K::W0_EFFECT_A), r.effectA[0] = 5, r.effectA[1] = 1; },
       [](const K& l) { EXPECT_EQ(l.effectA[1], 1); }},
      {"170 and 172 with 164 alone", 0, [](K&) {},
       [](K& r) { r.mask = bit(K::W0_DVE_TRIPLE2), r.dveValue2 = 50, r.dveValue3 = 66; },
       [](const K& l) {
         EXPECT_EQ(std::vector<int>({l.dveValue2, l.dveValue3}), std::vector<int>({50, 0}));
         EXPECT_EQ(l.mask, bit(K::W0_DVE_TRIPLE2) | bit(K::W0_DVE_VALUE2));
       }},
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

TEST_F(KeyTest, CopyOfKeyDveSettings) {
  K& src = key(0).record(0);
  src.dveSize = 30000, src.dvePerspective = 40, src.dveRotation[0] = 100, src.dvePosition[1] = 2, src.dveCrop[3] = 40;
  src.dveBorder = {0, 1, 50, 60}, src.dveScale = {0, 6000, 7000}, src.matteColor[0] = 1200;
  K& third = key(0).record(2);
  third.dveSize = 8000, third.dveRotation[0] = 55, third.dvePosition[1] = 6;
  for (int me = 0; me < 2; ++me) for (int k = 1; k < 3; ++k) key(me).record(k).dveRotation[0] = 9, key(me).record(k).dveScale = {0, 8000, 8000};

  const u32 copied = 0x2EFF80;  // word 0 bits 7..15, 17..19, 21: all but rotation and perspective
  const u32 dve = bit(K::W0_DVE_ROTATION) | bit(K::W0_DVE_PERSPECTIVE);
  // The command (first, second, command, reply, target ME, mask, sources), its reply, the changed key
  // (-1 for none): size, rotation x, scale x, perspective, position y, crop right, border width; its mask.
  struct Case { Cmd cmd; s16 reply; int me, channel; std::vector<int> got; u32 mask; };
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
    EXPECT_EQ(std::tuple(packets[0].type, packets[0].body), std::tuple(Cmd::TYPE_INDEX, testing_support::recordBytes(want)));

    if (c.me < 0) continue;
    const K& t = key(c.me).record(c.channel);
    EXPECT_EQ(std::vector<int>({t.dveSize, t.dveRotation[0], t.dveScale.first, t.dvePerspective, t.dvePosition[1],
                                t.dveCrop[3], t.dveBorder.width}), c.got);
    const K echo = packets[1].asText<K>();
    EXPECT_EQ(std::vector<u32>({echo.me, echo.channel, echo.mask, echo.dveBorder.mask, echo.dveShape.mask}),
              std::vector<u32>({static_cast<u32>(c.me), static_cast<u32>(c.channel), c.mask, 7, 3}));
  }
}

TEST_F(KeyTest, TransitionModeToggle) {
  struct Case { u8 link, reverse; bool a, b; };  // a, b: the settings in force: A (240), B (248)
  for (const Case& c : {Case{1, 1, true, true}, Case{0, 1, false, true}, Case{0, 0, true, false}}) {
    key(2).initialize();
    K& r = key(2).record(1);
    // The toggle steps (on 1, mode 1) to (0, 0), (1, 0), (1, 1); linked, setting A leads.
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

}  // namespace
