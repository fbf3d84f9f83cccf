// Key channels: the record's wire form, the validated merge, the senders and the backup image.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Lib/Include/storage.h"
#include "Main/key/key.h"
#include "Platform/platform.h"
#include "tests/support/board_fixture.h"
#include "tests/support/frontend_peer.h"

namespace {

using category::CategoryKey;
using category::CategoryRegistry;
using testing_support::AckPacket;
using K = MxifKey;

constexpr u32 bit(int b) { return 1u << b; }

struct Bytes {
  std::vector<u8> b;
  void write(u8 x) { b.push_back(x); }
  void u16(int v) { libmx::writeU16(*this, static_cast<::u16>(v)); }
  void u32(u32 v) { libmx::writeU32(*this, v); }
  void u8s(std::initializer_list<int> v) {
    for (int x : v) write(static_cast<::u8>(x));
  }
  void u16s(std::initializer_list<int> v) {
    for (int x : v) u16(x);
  }
  void text(const char* s, int n) {
    u16(n);
    for (int i = 0; i <= n; ++i) write(i < n ? static_cast<::u8>(s[i]) : 0);
  }
};

// A full record in wire order, laid out by hand, with values at the ends of their ranges.
Bytes handBody() {
  Bytes w;
  w.u32(0xFFFFFFFF), w.u32(0xFFFFF), w.write(1), w.u16(2);
  w.u32(0x1F), w.u8s({3, 1, 1, 1, 1});
  w.u32(0xF), w.u16s({1080, 2000, 1000}), w.write(1);
  w.u16s({3599, 1000, 1080});
  w.u32(0x1F), w.u8s({4, 4, 7, 3, 2});
  w.u16s({1, 2, 3});
  w.u32(7), w.u8s({2, 1, 1});
  w.u16s({-5000, 5000, -5000, 5000}), w.write(1), w.u16(1000), w.u16s({4, 5, 6}), w.u16s({-1, 2, 300, 400});
  w.u8s({1, 1, 4}), w.u32(7), w.write(1), w.u16(1000), w.u16(999), w.write(1);
  w.u16s({7, 8, 9}), w.u16s({-10000, 10000, 5}), w.u32(40000), w.u16s({-5000, 0, 5000}), w.u32(10000);
  w.u16s({-28800, 0, 28800});
  w.u32(3), w.u16s({5000, 10000}), w.u16s({1, 2, 3}), w.u16(-100), w.u16(65);
  w.u32(3), w.u8s({2, 1}), w.u16(-5000), w.u16s({-10, 20, -30, 40}), w.u8s({4, 3});
  w.u16s({10, 20, 30}), w.u32(40000), w.u16s({-720, 0, 720}), w.u32(3), w.u16s({-999, 999}), w.u16s({1, 1, 1});
  w.u32(7), w.u8s({1, 1}), w.u16(999), w.u32(7), w.u8s({0, 1}), w.u16(500);
  w.u8s({1, 1, 5, 1, 3, 0, 1, 2}), w.u16s({-10000, 10000, 1, 2}), w.write(1), w.u16s({3, 4, 5, 6}), w.write(1);
  w.u16s({-40, 0, 40});
  w.u32(0xF), w.write(1), w.u16s({1000, 0, -45});
  w.u16s({1, 2, 3}), w.u16s({4, 5, 6}), w.write(1), w.u16s({-500, 0, 500});
  w.u32(0xF), w.write(9), w.u16(0x1234), w.u8s({8, 7});
  w.u32(7), w.u8s({3, 3, 1});
  w.u32(0xF), w.write(1), w.u16s({10000, 0, -50}), w.u32(0xF), w.write(0), w.u16s({0, 10000, 50});
  w.u8s({3, 1, 32}), w.u32(7), w.u8s({1, 1, 1}), w.u8s({1, 1, 1, 1});
  w.u32(3), w.text("Key one", 7), w.text("ABCDEFGHIJKL", 12);
  w.u32(7), w.u8s({1, 1, 4});
  return w;
}

TEST(KeyWire, ReadsTheHandLaidBodyAndWritesItBack) {
  const Bytes body = handBody();
  ASSERT_EQ(body.b.size(), 342u + 7 + 12);
  libmx::WireIn in(body.b.data(), body.b.size());
  K r;
  ASSERT_TRUE(libmx::readTextRecord(in, r));
  EXPECT_EQ(in.position(), body.b.size());
  // Bytes at the offsets other areas read.
  const u8* mem = reinterpret_cast<const u8*>(&r);
  auto s16At = [&](int at) { s16 v; std::memcpy(&v, mem + at, 2); return int{v}; };
  auto s32At = [&](int at) { s32 v; std::memcpy(&v, mem + at, 4); return int{v}; };
  const std::pair<int, int> bytes[] = {{8, 1}, {16, 3}, {52, 2}, {100, 4}, {181, 1}, {194, 4}, {195, 3}, {202, 4},
                                       {259, 1}, {263, 2}, {342, 1}, {348, 1}, {368, 3}, {370, 32}, {383, 1}};
  for (auto [at, v] : bytes) EXPECT_EQ(mem[at], v) << at;
  const std::pair<int, int> words[] = {{10, 2}, {28, 1080}, {72, -5000}, {126, 10000}, {152, 28800}, {162, 10000},
                                       {170, -100}, {186, -10}, {230, 999}, {254, 500}, {302, -45}, {330, 0x1234},
                                       {366, 50}, {388, 7}, {404, 12}};
  for (auto [at, v] : words) EXPECT_EQ(s16At(at), v) << at;
  EXPECT_EQ(s32At(132), 40000);
  EXPECT_EQ(s32At(212), 40000);
  EXPECT_STREQ(reinterpret_cast<const char*>(mem + 390), "Key one");

  EXPECT_EQ(libmx::textRecordWireLength(r), body.b.size());
  Bytes out;
  libmx::writeTextRecord(out, r);
  EXPECT_EQ(out.b, body.b);
  // Every value lies at the end of its range: a request takes all of it but the status bytes.
  K accepted;
  libmx::acceptKeyFields(r, K{}, 1, accepted);
  EXPECT_EQ(accepted.mask, 0xFFFFFFFFu & ~bit(K::W0_REVERSE));
  EXPECT_EQ(accepted.mask1, 0xFFFFFu & ~bit(K::W1_IN_TRANSITION));
  EXPECT_EQ(accepted.dveSettings.mask | accepted.shift.mask | accepted.modulationY.mask | accepted.pageTurn.mask, 0xFu);
}

struct TestKey : CategoryKey {};

class KeyTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    reg().reset();
    peer.reset();
    AcknowledgeSender::instance().reset();
    keys = std::make_unique<TestKey[]>(category::N_ME);
    for (int me = 0; me < category::N_ME; ++me) {
      keys[me].bindStorage(stored[me]);
      keys[me].initialize();
    }
    peer.write({0, 0});  // connects the link
    reg().receiveAll();
  }
  void TearDown() override {
    CategoryKey::setKeyChangedHook(nullptr);
    BoardTest::TearDown();
  }
  static CategoryRegistry& reg() { return CategoryRegistry::instance(); }

  void request(const K& r) {
    Bytes body;
    libmx::writeTextRecord(body, r);
    peer.sendPacket(K::TYPE_INDEX, body.b);
  }
  std::vector<AckPacket> sendPass() {
    for (int me = 0; me < category::N_ME; ++me) keys[me].sendStatus(AcknowledgeSender::instance());
    AcknowledgeSender::instance().flush();
    return peer.readPackets();
  }
  static K decode(const AckPacket& p) {
    K r;
    libmx::WireIn in(p.body.data(), p.body.size());
    EXPECT_TRUE(libmx::readTextRecord(in, r));
    EXPECT_EQ(in.position(), p.body.size());
    return r;
  }

  testing_support::FrontendPeer peer;
  std::unique_ptr<TestKey[]> keys;
  K stored[category::N_ME][K::N_CHANNELS];
};

TEST_F(KeyTest, RequestIsEchoedWithTheAcceptedFieldsAndBadAddressesAreDropped) {
  K r;
  r.me = 1, r.channel = 2;
  r.mask = bit(K::W0_MATTE_COLOR) | bit(K::W0_EDGE_COLOR) | bit(K::W0_SOFTNESS) | bit(K::W0_DVE_SIZE) |
           bit(K::W0_REVERSE);
  r.matteColor[0] = 100, r.edgeColor[0] = 3600, r.softness = 1001, r.dveSize = 10000, r.reverse = 1;
  r.style.mask = 3, r.style.keyType = 2, r.style.secondLevel = 2;
  r.mask1 = bit(K::W1_KEY_SETTING), r.keySetting = 33;
  r.names.mask = 1, r.names.name1.count = 3;
  std::memcpy(r.names.name1.chars, "Key", 3);
  request(r);
  reg().receiveAll();
  auto packets = sendPass();
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].type, 0);
  EXPECT_EQ(packets[0].body.size(), 342u + 3 + 0);
  const K echo = decode(packets[0]);
  EXPECT_EQ(std::vector<u32>({echo.me, echo.channel, echo.mask, echo.mask1, echo.style.mask, echo.names.mask}),
            std::vector<u32>({1, 2, bit(K::W0_MATTE_COLOR) | bit(K::W0_DVE_SIZE), 0, 1, 1}));
  EXPECT_EQ(stored[1][2].matteColor[0], 100);
  EXPECT_EQ(stored[1][2].softness, 0);
  EXPECT_EQ(stored[1][2].reverse, 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(stored[1][2].names.name1.chars), "Key");

  // ME 4, channel 4 and a short body change nothing and are not answered; the next packet is taken.
  K bad = r;
  bad.me = 4, bad.channel = 0;
  request(bad);
  bad.me = 0, bad.channel = 4;
  request(bad);
  peer.sendPacket(K::TYPE_INDEX, {0, 0, 0, 1});
  K good;
  good.me = 3, good.channel = 3, good.mask = bit(K::W0_SOFT_ON), good.softOn = 1;
  request(good);
  reg().receiveAll();
  EXPECT_EQ(testing_support::consoleCount("receive short record MxifKey"), 1);
  packets = sendPass();
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(std::vector<int>({decode(packets[0]).me, decode(packets[0]).channel}), std::vector<int>({3, 3}));
  EXPECT_EQ(stored[3][3].softOn, 1);
  EXPECT_EQ(stored[0][0].matteColor[0], 0);
}

TEST_F(KeyTest, FieldRules) {
  struct Case {
    const char* what;
    int channel;
    void (*live)(K&);
    void (*in)(K&);
    void (*check)(const K&);
  };
  const Case cases[] = {
      {"matte hue 3600", 0, [](K& l) { l.matteColor[0] = 10; },
       [](K& r) { r.mask = bit(K::W0_MATTE_COLOR), r.matteColor[0] = 3600; },
       [](const K& l) { EXPECT_EQ(l.matteColor[0], 10); }},
      {"scale 0, 0", 0, [](K&) {}, [](K& r) { r.dveScale.mask = 3; },
       [](const K& l) { EXPECT_EQ(std::vector<int>({l.dveScale.first, l.dveScale.second}), std::vector<int>({10000, 10000})); }},
      {"scale 4999, 10000", 0, [](K& l) { l.dveScale = {0, 6000, 7000}; },
       [](K& r) { r.dveScale = {3, 4999, 10000}; },
       [](const K& l) { EXPECT_EQ(std::vector<int>({l.dveScale.first, l.dveScale.second}), std::vector<int>({6000, 7000})); }},
      {"key 3 effect 5/1", 2, [](K&) {}, [](K& r) { r.mask = bit(K::W0_EFFECT_A), r.effectA[0] = 5, r.effectA[1] = 1; },
       [](const K& l) { EXPECT_EQ(l.effectA[0], 0); }},
      {"key 1 effect 5/1", 0, [](K&) {}, [](K& r) { r.mask = bit(K::W0_EFFECT_A), r.effectA[0] = 5, r.effectA[1] = 1; },
       [](const K& l) { EXPECT_EQ(l.effectA[1], 1); }},
      {"border width 0", 0, [](K& l) { l.dveBorder.width = 5; }, [](K& r) { r.dveBorder = {6, 0, 0, 7}; },
       [](const K& l) { EXPECT_EQ(std::vector<int>({l.dveBorder.width, l.dveBorder.softness}), std::vector<int>({5, 7})); }},
      {"DVE size 20000 on key 2", 1, [](K&) {}, [](K& r) { r.mask = bit(K::W0_DVE_SIZE), r.dveSize = 20000; },
       [](const K& l) { EXPECT_EQ(l.dveSize, 20000); }},
      {"scale x 0 alone: x full, y kept", 0, [](K& l) { l.dveScale = {0, 6000, 7000}; }, [](K& r) { r.dveScale.mask = 1; },
       [](const K& l) { EXPECT_EQ(std::vector<int>({l.dveScale.first, l.dveScale.second}), std::vector<int>({10000, 7000})); }},
      {"DVE size 20000 on key 3", 2, [](K&) {}, [](K& r) { r.mask = bit(K::W0_DVE_SIZE), r.dveSize = 20000; },
       [](const K& l) { EXPECT_EQ(l.dveSize, 0); }},
      {"DVE size 20000 on key 4", 3, [](K&) {}, [](K& r) { r.mask = bit(K::W0_DVE_SIZE), r.dveSize = 20000; },
       [](const K& l) { EXPECT_EQ(l.dveSize, 0); }},
      {"170 without 164", 0, [](K&) {}, [](K& r) { r.mask = bit(K::W0_DVE_VALUE2), r.dveValue2 = 50; },
       [](const K& l) { EXPECT_EQ(l.dveValue2, 0); }},
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
      {"left edge right of the right edge", 0, [](K& l) { l.maskBox[0] = -100, l.maskBox[3] = 100; },
       [](K& r) { r.mask = bit(K::W0_MASK_BOX), r.maskBox[0] = 200, r.maskBox[3] = 100; },
       [](const K& l) { EXPECT_EQ(std::vector<int>(l.maskBox, l.maskBox + 4), std::vector<int>({200, 0, 0, 200})); }},
      {"edge 5001 refuses the box", 0, [](K& l) { l.maskBox[1] = 7; },
       [](K& r) { r.mask = bit(K::W0_MASK_BOX), r.maskBox[0] = -20, r.maskBox[2] = 5001; },
       [](const K& l) { EXPECT_EQ(std::vector<int>(l.maskBox, l.maskBox + 4), std::vector<int>({0, 7, 0, 0})); }},
      {"crop in the channel's mode 1", 0, [](K& l) { l.dveShape.cropMode = 1; },
       [](K& r) { r.mask = bit(K::W0_DVE_CROP), r.dveCrop[0] = -300, r.dveShape = {2, 0, 0}; },
       [](const K& l) { EXPECT_EQ(std::vector<int>(l.dveCrop, l.dveCrop + 4), std::vector<int>({-300, 0, 0, 300})); }},
      {"crop in the channel's mode 0", 0, [](K&) {},
       [](K& r) { r.mask = bit(K::W0_DVE_CROP), r.dveCrop[0] = -300, r.dveShape = {2, 0, 1}; },
       [](const K& l) { EXPECT_EQ(std::vector<int>(l.dveCrop, l.dveCrop + 4), std::vector<int>({-300, 0, 0, 0})); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    K& live = stored[0][c.channel];
    keys[0].initData();
    c.live(live);
    K r;
    r.channel = static_cast<u16>(c.channel);
    c.in(r);
    keys[0].assign(r, c.channel);
    c.check(live);
  }
}

TEST_F(KeyTest, RefusedRequestStillSendsTheChannelWithNoPresenceBits) {
  stored[2][1].matteColor[0] = 10;
  K r;
  r.mask = bit(K::W0_MATTE_COLOR), r.matteColor[0] = 3600;
  keys[2].assign(r, 1);
  const auto packets = sendPass();
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(decode(packets[0]).matteColor[0], 10);
  EXPECT_FALSE(codec::hasAny(decode(packets[0])));
  EXPECT_TRUE(sendPass().empty());
}

// Records built inside the system are merged as they are, names by their copy rule.
TEST_F(KeyTest, UncheckedMergeTakesWhatARequestCannot) {
  K r;
  r.channel = 0, r.mask = bit(K::W0_DVE_SIZE) | bit(K::W0_MIRROR_MODE), r.dveSize = 20000, r.mirrorMode = 7;
  r.names.mask = 1, r.names.name1.count = 20;
  std::memset(r.names.name1.chars, 'n', sizeof r.names.name1.chars);
  keys[2].assignUnchecked(r, 3);
  const K& live = stored[2][3];
  EXPECT_EQ(std::vector<int>({live.dveSize, live.mirrorMode, live.names.name1.count, live.names.name1.chars[12], live.me,
                              live.channel}),
            std::vector<int>({20000, 7, 12, 0, 2, 3}));
}

TEST_F(KeyTest, PriorityReRanksAllFourKeys) {
  for (int k = 0; k < 4; ++k) stored[1][k].priority = static_cast<u8>(k);
  K r;
  r.mask1 = bit(K::W1_PRIORITY), r.priority = 2;
  keys[1].assign(r, 0);
  const auto packets = sendPass();
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
  keys[0].assign(r, 3);
  // The on-air byte is taken and kept as a request; the in-transition byte is never taken.
  EXPECT_EQ(std::vector<int>({keys[0].onAirRequest(3), keys[0].onAirRequest(2), keys[0].geometryChanged(3),
                              keys[0].geometryChanged(2), stored[0][3].onAir, stored[0][3].inTransition}),
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
    keys[1].assign(r, 2);
    EXPECT_EQ(told, c.told ? std::vector<int>{12} : std::vector<int>{}) << (&c - cases);
  }
}

TEST_F(KeyTest, SendStatusWaitsWhileMoreThanHalfTheOutputStreamIsPending) {
  K r;
  keys[0].assign(r, 1);
  keys[0].assign(r, 3);
  auto& out = AcknowledgeSender::instance().stream();
  for (int i = 0; i <= 0x20000; ++i) out.write(0);
  keys[0].sendStatus(AcknowledgeSender::instance());
  EXPECT_EQ(out.pending(), 0x20001);
  out.reset();
  const auto packets = sendPass();
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(std::vector<int>({decode(packets[0]).channel, decode(packets[1]).channel}), std::vector<int>({1, 3}));
}

TEST_F(KeyTest, RestartResumesMe0AndMe1) {
  platform::writeMem32(NON_VOLATILE_BASE, 0);  // no image yet: a cold start
  reg().initialize();
  for (int me = 0; me < category::N_ME; ++me) {
    for (int ch = 0; ch < 4; ++ch) {
      K r;
      r.mask = bit(K::W0_SOFTNESS), r.softness = static_cast<s16>(100 * me + ch);
      r.names.mask = 1, r.names.name1.count = 2, r.names.name1.chars[0] = 'k', r.names.name1.chars[1] = '0' + ch;
      keys[me].assign(r, ch);
    }
  }
  sendPass();
  const u32 imageBytes = BACKUP_HEADER_BYTES + 2 * sizeof stored[0];
  auto restart = [&] {
    std::memcpy(platform::memory(NON_VOLATILE_BASE, imageBytes), platform::memory(BACKUP_BUFFER_ADR, imageBytes), imageBytes);
    testing_support::consoleClear();
    reg().initialize();
  };
  restart();
  auto packets = sendPass();
  ASSERT_EQ(packets.size(), 8u);
  for (const auto& p : packets) {
    const K echo = decode(p);
    SCOPED_TRACE(testing::Message() << "me " << int(echo.me) << " channel " << echo.channel);
    ASSERT_LT(echo.me, 2);
    EXPECT_EQ(echo.softness, 100 * echo.me + echo.channel);
    EXPECT_EQ(echo.names.name1.chars[1], '0' + echo.channel);
    EXPECT_EQ(std::vector<u32>({echo.mask, echo.mask1, echo.dveSettings.mask, echo.pageTurn.mask, echo.names.mask}),
              std::vector<u32>({0xFFFFFFFF, 0xFFFFF, 7, 0xF, 3}));
  }
  EXPECT_EQ(keys[2].record(1).softness, 0);  // MEs 2 and 3 are not kept
  EXPECT_EQ(keys[3].record(3).me, 3);
  EXPECT_TRUE(sendPass().empty());
}

}  // namespace
