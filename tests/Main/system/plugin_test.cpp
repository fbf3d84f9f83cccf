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
