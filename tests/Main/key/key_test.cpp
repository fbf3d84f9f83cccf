// Key channels: the special rules of the validated merge, the unchecked merge, re-ranking, the
// on-air request, the key-changed hook and the sender's wait.
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

  std::vector<AckPacket> sendPass() {
    for (int me = 0; me < category::N_ME; ++me) keys[me].sendStatus(AcknowledgeSender::instance());
    AcknowledgeSender::instance().flush();
    return peer.readPackets();
  }
  static K decode(const AckPacket& p) {
    K r;
    libmx::WireIn in(p.body.data(), p.body.size());
    EXPECT_TRUE(libmx::readTextRecord(in, r));
    return r;
  }

  testing_support::FrontendPeer peer;
  std::unique_ptr<TestKey[]> keys;
  K stored[category::N_ME][K::N_CHANNELS];
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
      {"border width 0", 0, [](K& l) { l.dveBorder.width = 5; }, [](K& r) { r.dveBorder = {6, 0, 0, 7}; },
       [](const K& l) { EXPECT_EQ(std::vector<int>({l.dveBorder.width, l.dveBorder.softness}), std::vector<int>({5, 7})); }},
      {"scale x 0 alone: x full, y kept", 0, [](K& l) { l.dveScale = {0, 6000, 7000}; }, [](K& r) { r.dveScale.mask = 1; },
       [](const K& l) { EXPECT_EQ(std::vector<int>({l.dveScale.first, l.dveScale.second}), std::vector<int>({10000, 7000})); }},
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

}  // namespace
