#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <tuple>

#include "Main/framework/bp.h"
#include "Lib/Include/records/memory.h"
#include "tests/support/board_fixture.h"
#include "tests/support/frontend_peer.h"
#include "Platform/platform.h"
#include "tests/Main/test_categories.h"

using category::CategoryRegistry;
using test_categories::calls;
using test_categories::Rec;
using test_categories::TestCategory;

namespace {

using namespace category;  // type indexes

using Bkgd = Rec<TYPE_BKGD, true>;      // per ME, one channel
using Cbgd = Rec<TYPE_CBGD, false, 2>;  // one instance, two channels
using Key = Rec<TYPE_KEY, true, 4>;     // per ME, four channels


class RegistryTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp(), reg().reset(), peer.reset(), calls().clear();
  }
  // The test's categories go away with it: leave no pointer to them behind.
  void TearDown() override { reg().reset(); }
  static CategoryRegistry& reg() { return CategoryRegistry::instance(); }
  static void frame() { reg().process(); }
  testing_support::FrontendPeer peer;
};

TEST_F(RegistryTest, MeRowsRegistrationFailuresAndGet) {
  TestCategory<Bkgd> bkgd[4];
  EXPECT_THROW(TestCategory<Bkgd>{}, assert::AssertException);  // a fifth ME
  TestCategory<Cbgd> cbgd;
  EXPECT_THROW(TestCategory<Cbgd>{}, assert::AssertException);  // a second single instance
  TestCategory<Key> key[3];  // ME row 3 empty: ME 3 gets the ME 0 instance
  EXPECT_EQ((std::vector<const void*>{reg().at(TYPE_BKGD, 3), reg().get(TYPE_CBGD, 2), reg().at(TYPE_CBGD, 2),
                                      reg().get(TYPE_BKGD, 1), reg().get(TYPE_UP_STREAM_KEY, 0), reg().get(TYPE_KEY, 3)}),
            (std::vector<const void*>{&bkgd[3], &cbgd, nullptr, &bkgd[1], nullptr, &key[0]}));
  EXPECT_EQ(std::tuple(bkgd[3].meIndex(), reg().instanceCount(TYPE_BKGD), reg().instanceCount(TYPE_CBGD),
                       cbgd.ownedByME(), bkgd[0].ownedByME()), std::tuple(3, 4, 1, 0, 1));
  for (auto [t, me] : {std::pair{int(TYPE_BKGD), 4}, {104, 0}, {-1, 0}}) {
    EXPECT_THROW(reg().get(t, me), assert::AssertException) << t;
  }
}

TEST_F(RegistryTest, UpdatesRunByPriorityThenTypeIndexThenMe) {
  TestCategory<Rec<TYPE_BKGD_WIPE>> wipe;  // built before type 1, still runs after it
  TestCategory<Rec<TYPE_DSK>> dsk;
  TestCategory<Bkgd> bkgd[2];
  TestCategory<Rec<TYPE_CHROMA_KEY>> chroma;
  TestCategory<Rec<TYPE_SYSTEM>> system;
  reg().initialize();
  frame();
  std::vector<std::string> expected = {"update 29/0", "update 1/0", "update 9/0", "update 2/0", "update 2/1",
                                       "update 5/0", "store 1/0", "store 2/0", "store 2/1", "store 5/0",
                                       "store 9/0", "store 29/0"};
  EXPECT_EQ(calls(), expected);
  calls().clear();
  platform::writeMem32(0xFFFF0000, 0x4000);  // the boot mode read at start-up still holds
  frame();
  EXPECT_EQ(calls(), expected);
  calls().clear();
  reg().refreshAll();
  expected = {"refresh 1/0", "refresh 2/0", "refresh 2/1", "refresh 5/0", "refresh 9/0", "refresh 29/0"};
  EXPECT_EQ(calls(), expected);
}

TEST_F(RegistryTest, StatusWaitsWhileTheStreamIsHalfFullOrAFlushLeftBytes) {
  TestCategory<Cbgd> cbgd;
  reg().initialize();
  auto& tx = AcknowledgeSender::instance();
  for (int i = 0; i < 0x20001; ++i) tx.writeU8(0);
  cbgd.markDirty(0);
  cbgd.record(1).subMask = 1;
  cbgd.sendStatus(tx);
  EXPECT_EQ(std::tuple(tx.pending(), cbgd.isDirty(0), cbgd.record(1).subMask), std::tuple(0x20001, true, 1u));
  tx.reset();
  for (int i = 0; i < 0x20000; ++i) tx.writeU8(0);
  cbgd.sendStatus(tx);  // channel 0 goes out and passes the half mark: channel 1 waits
  EXPECT_EQ(std::tuple(tx.pending(), cbgd.isDirty(0), cbgd.record(1).subMask),
            std::tuple(0x20000 + 8 + test_categories::REC_WIRE, false, 1u));

  // No status in the frame after a flush that left bytes.
  tx.reset();
  peer.sendPacket(TYPE_DUAL_SOURCE_TALLY, {});  // connects the link
  frame();
  peer.readBytes();  // the front end does not read from here on: its ring nearly full
  for (u32 i = 0; i < LINK_RING_DATA - LINK_RING_RESERVE - 10; ++i) tx.writeU8(0);
  cbgd.markDirty(0);
  frame();  // sends the record, the flush leaves bytes behind
  EXPECT_EQ(std::tuple(reg().isSendEnabled(), cbgd.isDirty(0)), std::tuple(false, false));
  int pending = tx.pending();
  EXPECT_GT(pending, 0);
  cbgd.markDirty(0);
  frame();  // only flushes
  EXPECT_EQ(std::tuple(tx.pending(), cbgd.isDirty(0)), std::tuple(pending, true));
  peer.readBytes();
  frame();  // flush empties the stream; still nothing sent this frame
  EXPECT_TRUE(cbgd.isDirty(0) && reg().isSendEnabled());
  frame();
  EXPECT_FALSE(cbgd.isDirty(0));
  auto packets = peer.readPackets();
  ASSERT_FALSE(packets.empty());
  EXPECT_EQ(packets.back().type, TYPE_CBGD);
}

TEST_F(RegistryTest, SixteenPhasesSpreadTheKeysAndSingleInstances) {
  using test_categories::call;
  TestCategory<Key> key[4];
  TestCategory<Rec<TYPE_CHROMA_KEY, true, 4>> chroma[4];
  TestCategory<Rec<TYPE_BUS, true>> bus[4];
  TestCategory<Cbgd> cbgd;
  TestCategory<MxifEventMemory> event;
  for (int m = 0; m < 4; ++m) {
    key[m].logSends = key[m].markDirtyEachUpdate = chroma[m].logSends = true;
    bus[m].logSends = bus[m].markDirtyEachUpdate = true;
  }
  cbgd.logSends = cbgd.markDirtyEachUpdate = true;
  reg().initialize();
  peer.write({0});  // connects the link
  u8 byte = 0;
  mxFifoReceive(&byte, 1);
  // The sends of a frame run with event-memory bytes 4 and 12 (enable, linked ME) as given.
  auto sends = [&](int enable, int linkedMe) {
    event.record(0).enable = static_cast<u8>(enable), event.record(0).linkedMe = static_cast<u8>(linkedMe);
    calls().clear();
    frame();
    std::vector<std::string> out;
    std::copy_if(calls().begin(), calls().end(), std::back_inserter(out),
                 [](const std::string& c) { return c.rfind("send", 0) == 0; });
    return out;
  };
  for (int f = 1; f <= 17; ++f) {
    const auto got = sends(1, 1);
    int phase = f % 16, row = phase / 4, part = phase % 4;
    EXPECT_EQ(reg().statusPhase(), phase);
    std::vector<std::string> expected = {call("send", 0, row, part), call("send", 1, row, part)};
    if (part == 0) expected.push_back("sendStatus 6/0");
    for (int m = 0; m < 4; ++m) expected.push_back(call("sendStatus", 47, m));
    EXPECT_EQ(got, expected) << "frame " << f;
  }
  // One key channel, four buses every frame; both channels of the single instance every 4th.
  EXPECT_EQ(peer.readPackets().size(), 17u + 17u * 4u + 4u * 2u);

  std::vector<std::string> everything;
  for (int t : {0, 1, 6, 47})
    for (int m = 0; m < (t == 6 ? 1 : 4); ++m) everything.push_back(call("sendStatus", t, m));
  for (auto [b4, b12] : {std::pair{0, 1}, std::pair{1, 0}}) {  // either event-memory byte 0
    const auto got = sends(b4, b12);
    EXPECT_EQ(std::tuple(got, reg().statusPhase()), std::tuple(everything, 1)) << b4;  // the phase not advanced
  }
}

}  // namespace
