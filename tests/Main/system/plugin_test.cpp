// Plug-in settings and status slots and the initial status through the request ring, in the
// categories that start-up creates.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "Lib/Include/data_internal.h"
#include "Main/system/plugin.h"
#include "tests/Main/category_fixture.h"

namespace {

using namespace category;
using testing_support::AckPacket;
using S = MxifPluginStatus;
using Initial = internal::MxifInitialStatus;

// A status slot from its packet body.
S slotOf(const AckPacket& p) {
  S r{};
  libmx::WireIn in(p.body.data(), p.body.size());
  EXPECT_TRUE(libmx::readTextRecord(in, r));
  EXPECT_EQ(in.position(), p.body.size());
  return r;
}

class PluginTest : public test_categories::StartedSystemTest {
 protected:
  void sendSlot(const S& r) { peer.sendPacket(S::TYPE_INDEX, testing_support::textRecordBytes(r)); }
};

TEST_F(PluginTest, TextsAreCutTo32Characters) {
  S r{};
  r.slot = 29, r.mask = S::TEXT1 | S::TEXT2, r.text1.count = 40;
  testing_support::Bytes body = testing_support::textRecordBytes(r);
  ASSERT_EQ(body.size(), 23u + 40);
  std::fill(body.begin() + 8, body.begin() + 48, 'x');  // 40 characters
  peer.sendPacket(S::TYPE_INDEX, body);
  const auto packets = frameSends(S::TYPE_INDEX);
  ASSERT_EQ(packets.size(), 1u);
  const testing_support::Bytes& b = packets[0].body;
  ASSERT_EQ(b.size(), 23u + 32);  // L1 = 32 with 33 bytes, L2 = 0 with its zero byte
  testing_support::Bytes expected{0, 32};
  expected.insert(expected.end(), 32, 'x');
  expected.insert(expected.end(), {0, 0, 0, 0});
  EXPECT_EQ(testing_support::Bytes(b.begin() + 6, b.begin() + 44), expected);
  EXPECT_EQ(slotOf(packets[0]).mask, S::TEXT1 | S::TEXT2);
}

TEST_F(PluginTest, SlotsLeftWhileTheStreamIsHalfFullComeLaterInOrder) {
  for (int slot = 0; slot < S::N_CHANNELS; ++slot) CategoryPluginStatus::instance().assign(S{}, slot);
  auto& tx = AcknowledgeSender::instance();
  for (int i = 0; i < SEND_PENDING_LIMIT - 40; ++i) tx.stream().write(0);
  CategoryPluginStatus::instance().sendStatus(tx);  // two packets of 31 bytes, then over half
  EXPECT_EQ(tx.pending(), SEND_PENDING_LIMIT - 40 + 2 * 31);
  tx.reset();
  CategoryPluginStatus::instance().sendStatus(tx);
  tx.flush();
  std::vector<int> slots;
  for (const auto& p : peer.readPackets()) {
    if (p.type == S::TYPE_INDEX) slots.push_back(slotOf(p).slot);
  }
  std::vector<int> expected;
  for (int slot = 2; slot < S::N_CHANNELS; ++slot) expected.push_back(slot);
  EXPECT_EQ(slots, expected);
}

TEST_F(PluginTest, InitialStatus1LastsOneTurn) {
  Initial r{};
  r.mask = 0x11, r.status1 = 7, r.status5 = 1;
  peer.send(r);
  ASSERT_EQ(frameSends(Initial::TYPE_INDEX).size(), 1u);
  EXPECT_TRUE(frameSends(Initial::TYPE_INDEX).empty());  // nothing further without a message
  peer.send(Initial{});
  const auto sent = frameSends(Initial::TYPE_INDEX);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(std::tuple(sent[0].as<Initial>().status1, sent[0].as<Initial>().status5), std::tuple(0, 1));
}

TEST_F(PluginTest, RestartReportsTheSettingsAndEachSlotsState) {
  MxifPlugin settings{};
  settings.mask = 0x2, settings.setting2 = 0xFFFFFFFF;  // any value is taken
  peer.send(settings);
  S slot{};
  slot.slot = 4, slot.mask = S::STATE | S::VALUE1 | S::TEXT1, slot.state = 1, slot.value1 = 3;
  slot.text1 = {3, {'a', 'b', 'c'}};  // texts are not kept over a restart
  sendSlot(slot);
  Initial initial{};
  initial.mask = 0x04, initial.status3 = 1;
  peer.send(initial);
  runFrame(0);
  runFrame(0);  // the states stored before this frame's backup copy
  peer.readPackets();
  restart();
  auto sent = framePackets();
  ASSERT_EQ(sent[MxifPlugin::TYPE_INDEX].size(), 1u);
  EXPECT_EQ(sent[MxifPlugin::TYPE_INDEX][0].as<MxifPlugin>().mask, 0xFu);
  EXPECT_EQ(sent[MxifPlugin::TYPE_INDEX][0].as<MxifPlugin>().setting2, 0xFFFFFFFFu);
  const auto& slots = sent[S::TYPE_INDEX];
  ASSERT_EQ(slots.size(), 30u);
  for (int i = 0; i < 30; ++i) {
    const S got = slotOf(slots[i]);
    EXPECT_EQ(slots[i].body.size(), 23u) << i;
    EXPECT_EQ(std::vector<int>({got.slot, int(got.mask), got.state, got.value1}),
              std::vector<int>({i, int(S::STATE), i == 4 ? 1 : 0, 0}));
  }
  EXPECT_TRUE(sent[Initial::TYPE_INDEX].empty());
}

}  // namespace
