// Plug-in settings and status slots and the initial status through the request ring, in the
// categories that start-up creates.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Lib/Include/data_internal.h"
#include "Main/system/initialstatus.h"
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

void setText(TextField<32>& t, const std::string& text) {
  t.count = static_cast<s16>(text.size());
  for (size_t i = 0; i < text.size() && i <= 32; ++i) t.chars[i] = static_cast<u8>(text[i]);
}

class PluginTest : public test_categories::StartedSystemTest {
 protected:
  void SetUp() override {
    StartedSystemTest::SetUp();
    peer.readPackets();
  }
  void sendSlot(const S& r) { peer.sendPacket(S::TYPE_INDEX, testing_support::textRecordBytes(r)); }
};

TEST_F(PluginTest, StatusFieldsOutOfRangeAreDroppedAndTheRestStored) {
  struct Case {
    u32 mask;
    int state, value1, value2, value3, value4;
    u32 taken;
  } cases[] = {
      {S::VALUE1 | S::VALUE2 | S::STATE, 1, 65536, 32768, 0, 0, S::VALUE1 | S::VALUE2 | S::STATE},
      {S::VALUE1 | S::VALUE2 | S::STATE, 2, 65537, 32769, 0, 0, 0},
      {S::VALUE1 | S::VALUE2, 0, -1, -1, 0, 0, 0},
      {S::VALUE3 | S::VALUE4 | S::VALUE1, 0, 5, 0, 7, 2, S::VALUE1},
      {S::VALUE3 | S::VALUE4, 0, 0, 0, 6, 1, S::VALUE3 | S::VALUE4},
      {0, 1, 9, 9, 1, 1, 0},  // nothing carried: still reported
  };
  const int n = static_cast<int>(std::size(cases));
  for (int i = 0; i < n; ++i) {
    const Case& c = cases[i];
    S r{};
    r.slot = static_cast<s16>(2 * i);
    r.mask = c.mask, r.state = static_cast<u8>(c.state), r.value1 = c.value1, r.value2 = c.value2;
    r.value3 = static_cast<u8>(c.value3), r.value4 = static_cast<u8>(c.value4);
    sendSlot(r);
  }
  for (s16 slot : {30, -1}) {  // dropped: no packet
    S r{};
    r.slot = slot, r.mask = S::STATE, r.state = 1;
    sendSlot(r);
  }
  const auto packets = frameSends(S::TYPE_INDEX);
  ASSERT_EQ(packets.size(), std::size(cases));
  for (int i = 0; i < n; ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(i);
    const S got = slotOf(packets[i]);
    EXPECT_EQ(packets[i].body.size(), 23u);
    EXPECT_EQ(got.slot, 2 * i);
    EXPECT_EQ(got.mask, c.taken);
    EXPECT_EQ(got.state, (c.taken & S::STATE) ? c.state : 0);
    EXPECT_EQ(got.value1, (c.taken & S::VALUE1) ? c.value1 : 0);
    EXPECT_EQ(got.value2, (c.taken & S::VALUE2) ? c.value2 : 0);
    EXPECT_EQ(got.value3, (c.taken & S::VALUE3) ? c.value3 : 0);
    EXPECT_EQ(got.value4, (c.taken & S::VALUE4) ? c.value4 : 0);
  }
}

TEST_F(PluginTest, TextsAreCutTo32Characters) {
  S r{};
  r.slot = 29, r.mask = S::TEXT1 | S::TEXT2;
  const std::string forty(40, 'x');
  setText(r.text1, forty);  // 33 of its bytes kept, 32 taken
  ASSERT_EQ(testing_support::textRecordBytes(r).size(), 23u + 40);
  sendSlot(r);
  const auto packets = frameSends(S::TYPE_INDEX);
  ASSERT_EQ(packets.size(), 1u);
  const testing_support::Bytes& b = packets[0].body;
  ASSERT_EQ(b.size(), 23u + 32);  // L1 = 32, L2 = 0
  EXPECT_EQ(b[6] << 8 | b[7], 32);
  EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 40), forty.substr(0, 32));
  EXPECT_EQ(b[40], 0);                               // the text's zero byte
  EXPECT_EQ((std::vector<int>{b[41], b[42], b[43]}), (std::vector<int>{0, 0, 0}));  // L2 = 0 and its zero
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
  for (const auto& p : peer.readPackets()) slots.push_back(slotOf(p).slot);
  std::vector<int> expected;
  for (int slot = 2; slot < S::N_CHANNELS; ++slot) expected.push_back(slot);
  EXPECT_EQ(slots, expected);
}

TEST_F(PluginTest, SettingsAreTakenWhateverTheirValue) {
  MxifPlugin r{};
  r.mask = 0x5, r.setting1 = 0xFFFFFFFF, r.setting2 = 7, r.setting3 = 0x80000000;
  peer.send(r);
  const auto packets = frameSends(MxifPlugin::TYPE_INDEX);
  ASSERT_EQ(packets.size(), 1u);
  const auto got = packets[0].as<MxifPlugin>();
  EXPECT_EQ(got.mask, 0x5u);
  EXPECT_EQ(got.setting1, 0xFFFFFFFFu);
  EXPECT_EQ(got.setting2, 0u);
  EXPECT_EQ(got.setting3, 0x80000000u);
}

TEST_F(PluginTest, InitialStatusIsEchoedOnceAndStatus1LastsOneTurn) {
  struct Step {
    u32 mask;
    int status1, status5;
    bool halfFull;      // more than half the output stream pending at the turn
    int packets;
    u32 reportedMask;
    int reported1, reported5;
  } steps[] = {
      {0x01, 5, 0, false, 1, 0x01, 5, 0},
      {0x00, 0, 0, false, 0, 0, 0, 0},       // nothing further without a message
      {0x02, 0, 0, false, 1, 0x02, 0, 0},
      {0x11, 7, 2, false, 1, 0x11, 7, 1},    // status5 2 is 1
      {0x01, 9, 0, true, 0, 0, 0, 0},        // the turn passes: status1 and the mask are gone
      {0x00, 0, 0, false, 1, 0x00, 0, 1},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(&s - steps);
    if (s.mask != 0 || s.status1 != 0) {
      Initial r{};
      r.mask = s.mask, r.status1 = static_cast<u8>(s.status1), r.status5 = static_cast<u8>(s.status5);
      peer.send(r);
    }
    if (s.halfFull) {
      CategoryRegistry::instance().receiveAll();
      auto& tx = AcknowledgeSender::instance();
      for (int i = 0; i <= SEND_PENDING_LIMIT; ++i) tx.stream().write(0);
      CategoryInitialStatus::instance().sendStatus(tx);
      tx.reset();
      continue;
    }
    const auto packets = frameSends(Initial::TYPE_INDEX);
    ASSERT_EQ(static_cast<int>(packets.size()), s.packets);
    if (s.packets == 0) continue;
    const auto got = packets[0].as<Initial>();
    EXPECT_EQ(packets[0].body.size(), 19u);
    EXPECT_EQ(got.mask, s.reportedMask);
    EXPECT_EQ(got.status1, s.reported1);
    EXPECT_EQ(got.status5, s.reported5);
  }
}

TEST_F(PluginTest, RestartReportsTheSettingsAndEachSlotsState) {
  MxifPlugin settings{};
  settings.mask = 0x2, settings.setting2 = 42;
  peer.send(settings);
  S slot{};
  slot.slot = 4, slot.mask = S::STATE | S::VALUE1 | S::TEXT1, slot.state = 1, slot.value1 = 3;
  setText(slot.text1, "abc");
  sendSlot(slot);
  Initial initial{};
  initial.mask = 0x04, initial.status3 = 1;
  peer.send(initial);
  runFrame(0);
  runFrame(0);  // the states stored before this frame's backup copy
  peer.readPackets();
  restart();
  runFrame(0);
  std::vector<AckPacket> plugin, slots, initialSent;
  for (auto& p : peer.readPackets()) {
    if (p.type == MxifPlugin::TYPE_INDEX) plugin.push_back(p);
    if (p.type == S::TYPE_INDEX) slots.push_back(p);
    if (p.type == Initial::TYPE_INDEX) initialSent.push_back(p);
  }
  ASSERT_EQ(plugin.size(), 1u);
  EXPECT_EQ(plugin[0].as<MxifPlugin>().mask, 0xFu);
  EXPECT_EQ(plugin[0].as<MxifPlugin>().setting2, 42u);
  ASSERT_EQ(slots.size(), 30u);
  for (int i = 0; i < 30; ++i) {
    SCOPED_TRACE(i);
    const S got = slotOf(slots[i]);
    EXPECT_EQ(slots[i].body.size(), 23u);
    EXPECT_EQ(got.slot, i);
    EXPECT_EQ(got.mask, S::STATE);
    EXPECT_EQ(got.state, i == 4 ? 1 : 0);
    EXPECT_EQ(got.value1, 0);
  }
  EXPECT_TRUE(initialSent.empty());
}

}  // namespace
