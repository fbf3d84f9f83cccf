#include <gtest/gtest.h>

#include <optional>

#include "Main/bp.h"
#include "Driver/reg.h"
#include "board_fixture.h"
#include "frontend_peer.h"
#include "platform.h"
#include "test_categories.h"

using category::CategoryRegistry;
using test_categories::calls;
using test_categories::InitCmd;
using test_categories::Rec;
using test_categories::TestCategory;
using testing_support::AckPacket;
using testing_support::consoleCount;

namespace {

using Bkgd = Rec<2, true>;         // per ME, one channel
using Cbgd = Rec<6, false, 2>;     // one instance, two channels
using Key = Rec<0, true, 4>;       // per ME, four channels
using Event = Rec<14>;             // bytes 4 and 12 choose the rotation

class RegistryTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    reg().reset();
    peer.reset();
    calls().clear();
  }
  // The test's categories go away with it: leave no pointer to them behind.
  void TearDown() override { reg().reset(); }
  static CategoryRegistry& reg() { return CategoryRegistry::instance(); }
  static void frame() { reg().process(); }
  // The front end's first byte connects the link (an incomplete header is left waiting).
  void connect() {
    peer.write({0, 0});
    frame();
  }
  testing_support::FrontendPeer peer;
};

TEST_F(RegistryTest, InstancesTakeMeRowsInConstructionOrder) {
  TestCategory<Bkgd> bkgd[4];
  for (int m = 0; m < 4; ++m) {
    EXPECT_EQ(bkgd[m].meIndex(), m);
    EXPECT_EQ(reg().categories[m][2], &bkgd[m]);
  }
  EXPECT_EQ(reg().count[2], 4);
  EXPECT_THROW({ TestCategory<Bkgd> fifth; }, assert::AssertException);
  EXPECT_EQ(consoleCount("Assertion failed: Main/bp.cpp("), 1);
  EXPECT_EQ(consoleCount(") me < N_ME"), 1);

  TestCategory<Cbgd> cbgd;
  EXPECT_EQ(cbgd.ownedByME(), 0);
  EXPECT_EQ(bkgd[0].ownedByME(), 1);
  EXPECT_THROW({ TestCategory<Cbgd> second; }, assert::AssertException);
  EXPECT_EQ(consoleCount(") me == 0 || ref->ownedByME()"), 1);
  EXPECT_EQ(reg().count[6], 1);
}

TEST_F(RegistryTest, GetFallsBackToTheMe0Instance) {
  TestCategory<Cbgd> cbgd;
  TestCategory<Bkgd> bkgd[2];
  EXPECT_EQ(reg().get(6, 2), &cbgd);
  EXPECT_EQ(reg().get(2, 1), &bkgd[1]);
  EXPECT_EQ(reg().get(2, 3), &bkgd[0]);
  EXPECT_EQ(reg().get(7, 0), nullptr);
  EXPECT_THROW(reg().get(2, 4), assert::AssertException);
  EXPECT_THROW(reg().get(104, 0), assert::AssertException);
  EXPECT_THROW(reg().get(-1, 0), assert::AssertException);
  EXPECT_EQ(consoleCount("0 <= me && me < N_ME"), 1);
  EXPECT_EQ(consoleCount("0 <= id && id < N_TYPES"), 2);
}

TEST_F(RegistryTest, TypeNamesAndPriorities) {
  struct Case {
    int type;
    const char* name;
    int priority;
  } cases[] = {
      {0, "MxifKey", 9},          {1, "MxifChromaKey", 8},   {2, "MxifBkgd", 9},
      {9, "MxifBkgdWipe", 8},     {14, "MxifEventMemory", 5}, {21, "MxifShotMemory", 4},
      {29, "MxifSystem", 1},      {36, "MxifOperate", 7},    {47, "MxifBus", 6},
      {53, "MxifSourceTally", 2}, {54, "MxifDualSourceTally", 9}, {63, "MxifSystemInfomation", 9},
      {64, "MxifPositionerBlock", 9}, {65, "MxifEventMemoryCmd", 9}, {73, "SystemInitialCmd", 9},
      {74, "waitCmd", 9},         {76, "MxifSwitchingCmd", 10}, {94, "MxifButtonEvent", 10},
      {95, "MxifFaderEvent", 3},  {103, "MxifLogMessage", 9},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(category::typeNameOf(c.type), c.name) << c.type;
    EXPECT_EQ(reg().updatePriority[c.type], c.priority) << c.type;
    EXPECT_EQ(reg().commandOwner[c.type], -1) << c.type;
  }
  EXPECT_STREQ(category::typeNameOf(104), "");
  EXPECT_STREQ(category::typeNameOf(-1), "");
  EXPECT_EQ(reg().waitFrames, 0);
  EXPECT_EQ(reg().sendEnabled, 1);
}

TEST_F(RegistryTest, UpdatesRunByPriorityThenTypeIndexThenMe) {
  TestCategory<Rec<9>> wipe;  // built before type 1, still runs after it
  TestCategory<Rec<5>> dsk;
  TestCategory<Bkgd> bkgd[2];
  TestCategory<Rec<1>> chroma;
  TestCategory<Rec<29>> system;
  reg().initialize();
  frame();
  std::vector<std::string> expected = {"update 29/0", "update 1/0",  "update 9/0",  "update 2/0", "update 2/1",
                                       "update 5/0",  "store 1/0",   "store 2/0",   "store 2/1",  "store 5/0",
                                       "store 9/0",   "store 29/0"};
  EXPECT_EQ(calls(), expected);

  // No backup pass when the boot mode keeps no backup; refreshAll runs type-major.
  calls().clear();
  platform::writeMem32(0xFFFF0000, 0x4000);
  frame();
  EXPECT_EQ(calls().size(), 6u);
  calls().clear();
  reg().refreshAll();
  expected = {"refresh 1/0", "refresh 2/0", "refresh 2/1", "refresh 5/0", "refresh 9/0", "refresh 29/0"};
  EXPECT_EQ(calls(), expected);
}

TEST_F(RegistryTest, StorageIsBoundInTypeThenMeOrder) {
  struct Odd : TestCategory<Rec<3>> {
    int bindStorage(void* area) override {
      TestCategory::bindStorage(area);
      return 5;
    }
  } odd;
  struct NoRecord : TestCategory<Rec<4>> {
    int bindStorage(void*) override { return 0; }
    void initData() override {}
  } none;
  TestCategory<Bkgd> bkgd[4];
  TestCategory<Cbgd> cbgd;
  reg().initialize();
  EXPECT_EQ(reg().recordBytes[0][2], 16);
  EXPECT_EQ(reg().recordBytes[1][2], 16);
  EXPECT_EQ(reg().recordBytes[2][2], 0);  // volatile rows are not in the image
  EXPECT_EQ(reg().recordBytes[0][3], 8);
  EXPECT_EQ(reg().recordBytes[0][4], 0);
  EXPECT_EQ(reg().recordBytes[0][6], 32);
  EXPECT_EQ(reg().storage[0][4], nullptr);
  EXPECT_EQ(reg().storage[1][2], reg().storage[0][2] + 16);
  EXPECT_EQ(reg().storage[0][3], reg().storage[1][2] + 16);
  EXPECT_EQ(reg().storage[0][6], reg().storage[0][3] + 8);
  EXPECT_EQ(reg().storage[3][2], reg().storage[2][2] + 16);
  EXPECT_EQ(reinterpret_cast<u8*>(&bkgd[1].record(0)), reg().storage[1][2]);
}

TEST_F(RegistryTest, ReceivedRecordsAreMergedIntoTheAddressedInstanceAndEchoed) {
  TestCategory<Bkgd> bkgd[2];
  reg().initialize();
  Bkgd in{};
  in.me = 1;
  in.mask = 0x2;
  in.b = -7;
  in.a = 5;  // bit clear: not taken
  peer.send(in);
  in.me = 4;  // no such ME: dropped
  in.b = 1;
  peer.send(in);
  frame();
  EXPECT_EQ(bkgd[1].record(0).b, -7);
  EXPECT_EQ(bkgd[1].record(0).a, 0);
  EXPECT_EQ(bkgd[0].record(0).b, 0);
  auto packets = peer.readPackets();
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].type, 2);
  EXPECT_EQ(packets[0].body.size(), static_cast<size_t>(test_categories::REC_WIRE));
  auto echo = packets[0].as<Bkgd>();
  EXPECT_EQ(echo.me, 1);
  EXPECT_EQ(echo.mask, 0x2u);
  EXPECT_EQ(echo.b, -7);
  EXPECT_EQ(bkgd[1].record(0).mask, 0u);  // cleared after the send
  EXPECT_FALSE(bkgd[1].isDirty(0));

  // A record without any presence bit still marks the channel and is sent back with empty masks.
  Bkgd empty{};
  peer.send(empty);
  frame();
  packets = peer.readPackets();
  ASSERT_EQ(packets.size(), 1u);
  echo = packets[0].as<Bkgd>();
  EXPECT_EQ(echo.me, 0);
  EXPECT_EQ(echo.mask, 0u);
  EXPECT_EQ(echo.subMask, 0u);
  frame();
  EXPECT_TRUE(peer.readPackets().empty());
}

TEST_F(RegistryTest, SingleInstanceChannelsKeepTheirChannelByte) {
  TestCategory<Cbgd> cbgd;
  reg().initialize();
  Cbgd in{};
  in.me = 1;  // channel 1
  in.subMask = 1;
  in.c = 0x1234;
  peer.send(in);
  in.me = 2;  // no such channel: dropped
  peer.send(in);
  frame();
  EXPECT_EQ(cbgd.record(1).c, 0x1234);
  EXPECT_EQ(cbgd.record(0).c, 0);
  auto packets = peer.readPackets();
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].as<Cbgd>().me, 1);
  EXPECT_EQ(packets[0].as<Cbgd>().c, 0x1234);
}

// A category whose assign refuses b outside 0..100.
class CheckedBkgd : public TestCategory<Bkgd> {
 protected:
  bool acceptField(const codec::FieldView& f, const Bkgd& in, int) override {
    if (f.is(in.b)) return 0 <= in.b && in.b <= 100;
    return true;
  }
};

TEST_F(RegistryTest, ValidationHookDropsFieldsInAssignAndResume) {
  CheckedBkgd bkgd;
  reg().initialize();
  Bkgd in{};
  in.mask = 0x3;
  in.a = 9;
  in.b = 500;
  bkgd.assign(in, 0);
  EXPECT_EQ(bkgd.record(0).a, 9);
  EXPECT_EQ(bkgd.record(0).b, 0);
  EXPECT_EQ(bkgd.record(0).mask, 0x1u);
  EXPECT_THROW(bkgd.assign(in, 1), assert::AssertException);
  EXPECT_EQ(consoleCount("0 <= idx && idx < N_CHANNELS"), 1);

  // Resume takes every saved field through the same checks and marks the record whole.
  Bkgd saved{};
  saved.me = 3;
  saved.a = 4;
  saved.b = 101;
  saved.c = 8;
  bkgd.resume(&saved);
  EXPECT_EQ(bkgd.record(0).a, 4);
  EXPECT_EQ(bkgd.record(0).b, 0);
  EXPECT_EQ(bkgd.record(0).c, 8);
  EXPECT_EQ(bkgd.record(0).me, 0);
  EXPECT_EQ(bkgd.record(0).mask, 0x3u);
  EXPECT_EQ(bkgd.record(0).subMask, 0x1u);
}

TEST_F(RegistryTest, NothingIsWrittenWhileMoreThanHalfTheStreamIsPending) {
  TestCategory<Cbgd> cbgd;
  reg().initialize();
  auto& tx = AcknowledgeSender::instance();
  for (int i = 0; i < 0x20001; ++i) tx.writeU8(0);
  cbgd.markDirty(0);
  cbgd.record(1).subMask = 1;
  cbgd.sendStatus(tx);
  EXPECT_EQ(tx.pending(), 0x20001);
  EXPECT_TRUE(cbgd.isDirty(0));
  EXPECT_EQ(cbgd.record(1).subMask, 1u);

  tx.reset();
  for (int i = 0; i < 0x20000; ++i) tx.writeU8(0);
  cbgd.sendStatus(tx);  // channel 0 goes out and passes the half mark: channel 1 waits
  EXPECT_EQ(tx.pending(), 0x20000 + 8 + test_categories::REC_WIRE);
  EXPECT_FALSE(cbgd.isDirty(0));
  EXPECT_EQ(cbgd.record(1).subMask, 1u);
}

TEST_F(RegistryTest, NoStatusInTheFrameAfterAFlushThatLeftBytes) {
  TestCategory<Cbgd> cbgd;
  reg().initialize();
  connect();
  // The front end does not read: fill its ring to the last 16 bytes but 10.
  auto& tx = AcknowledgeSender::instance();
  for (u32 i = 0; i < LINK_RING_DATA - LINK_RING_RESERVE - 10; ++i) tx.writeU8(0);
  cbgd.markDirty(0);
  frame();  // sends the record, the flush leaves bytes behind
  EXPECT_EQ(reg().sendEnabled, 0);
  EXPECT_FALSE(cbgd.isDirty(0));
  int pending = tx.pending();
  EXPECT_GT(pending, 0);
  cbgd.markDirty(0);
  frame();  // only flushes
  EXPECT_EQ(tx.pending(), pending);
  EXPECT_TRUE(cbgd.isDirty(0));
  peer.readBytes();  // the front end drains its ring
  frame();           // flush empties the stream; still nothing sent this frame
  EXPECT_TRUE(cbgd.isDirty(0));
  EXPECT_EQ(reg().sendEnabled, 1);
  frame();
  EXPECT_FALSE(cbgd.isDirty(0));
  auto packets = peer.readPackets();
  ASSERT_FALSE(packets.empty());
  EXPECT_EQ(packets.back().type, 6);
}

class RotationTest : public RegistryTest {
 protected:
  // The members registered themselves before SetUp emptied the registry: enter them again.
  void SetUp() override {
    RegistryTest::SetUp();
    for (auto* k : {&key[0], &key[1], &key[2], &key[3]}) reg().add(0, k);
    for (auto* k : {&chroma[0], &chroma[1], &chroma[2], &chroma[3]}) reg().add(1, k);
    for (auto* b : {&bus[0], &bus[1], &bus[2], &bus[3]}) reg().add(47, b);
    reg().add(6, &cbgd);
    reg().add(14, &event);
    for (auto& k : key) k.logSends = k.markDirtyEachUpdate = true;
    for (auto& k : chroma) k.logSends = true;
    for (auto& b : bus) b.logSends = b.markDirtyEachUpdate = true;
    cbgd.logSends = cbgd.markDirtyEachUpdate = true;
    reg().initialize();
    // Connect the link so that the packets reach the ring.
    peer.write({0});
    u8 byte = 0;
    mxFifoReceive(&byte, 1);
  }
  void setEventBytes(u8 byte4, u8 byte12) {
    event.record(0).me = byte4;  // byte 4
    event.record(0).c = byte12;  // byte 12 (little-endian low byte)
    calls().clear();
  }
  std::vector<std::string> sends() {
    std::vector<std::string> out;
    for (const auto& c : calls()) {
      if (c.rfind("send", 0) == 0) out.push_back(c);
    }
    calls().clear();
    return out;
  }
  struct Fresh {
    Fresh() { CategoryRegistry::instance().reset(); }
  } fresh;  // before the members register
  TestCategory<Key> key[4];
  TestCategory<Rec<1, true, 4>> chroma[4];
  TestCategory<Rec<47, true>> bus[4];
  TestCategory<Cbgd> cbgd;
  TestCategory<Event> event;
};

TEST_F(RotationTest, SixteenPhasesSpreadTheKeysAndSingleInstances) {
  setEventBytes(1, 1);
  for (int f = 1; f <= 17; ++f) {
    frame();
    int phase = f % 16;
    int row = phase / 4, part = phase % 4;
    EXPECT_EQ(reg().phase, phase);
    std::vector<std::string> expected = {test_categories::call("send", 0, row, part),
                                         test_categories::call("send", 1, row, part)};
    if (part == 0) expected.push_back("sendStatus 6/0");
    for (int m = 0; m < 4; ++m) expected.push_back(test_categories::call("sendStatus", 47, m));
    EXPECT_EQ(sends(), expected) << "frame " << f;
  }
  // One key channel, four buses every frame; both channels of the single instance every 4th.
  EXPECT_EQ(peer.readPackets().size(), 17u + 17u * 4u + 4u * 2u);
}

TEST_F(RotationTest, EverythingEveryFrameWhileAnEventMemoryByteIsZero) {
  for (auto [b4, b12] : {std::pair{0, 1}, std::pair{1, 0}}) {
    setEventBytes(static_cast<u8>(b4), static_cast<u8>(b12));
    frame();
    std::vector<std::string> expected = {"sendStatus 0/0", "sendStatus 0/1", "sendStatus 0/2", "sendStatus 0/3",
                                         "sendStatus 1/0", "sendStatus 1/1", "sendStatus 1/2", "sendStatus 1/3",
                                         "sendStatus 6/0", "sendStatus 47/0", "sendStatus 47/1", "sendStatus 47/2",
                                         "sendStatus 47/3"};
    EXPECT_EQ(sends(), expected);
    EXPECT_EQ(reg().phase, 0);
  }
}

TEST_F(RegistryTest, ProfilingReportsEvery300FramesWhileSwitchedOn) {
  struct Slow : TestCategory<Bkgd> {
    void update() override { mxWaitUs(100); }
  } slow;
  reg().initialize();
  for (int i = 0; i < 100; ++i) frame();
  EXPECT_EQ(consoleCount("MxifBkgd"), 0);
  platform::writeMem32(0xFFFF0010, 1);
  for (int i = 0; i < 59; ++i) frame();
  EXPECT_EQ(consoleCount("MxifBkgd"), 0);
  frame();
  EXPECT_EQ(consoleCount(", 2, 0.1"), 1);
  EXPECT_EQ(consoleCount(", MxifBkgd"), 1);
  for (int i = 0; i < 299; ++i) frame();
  EXPECT_EQ(consoleCount(", MxifBkgd"), 1);
  frame();
  EXPECT_EQ(consoleCount(", MxifBkgd"), 2);
}

// Command categories.

TEST_F(RegistryTest, CommandCategoriesOwnTheirTypeAndFailUnhandledCommands) {
  struct Plain : category::CategoryWithoutStatus<InitCmd> {} plain;
  EXPECT_EQ(reg().commandOwner[73], 73);
  EXPECT_EQ(plain.bindStorage(nullptr), 0);
  EXPECT_STREQ(plain.typeName(), "SystemInitialCmd");
  EXPECT_THROW(plain.receiveCommand(73, RequestReceiver::instance()), assert::AssertException);
  EXPECT_EQ(consoleCount("NeverReachHere"), 1);

  struct NotACommand : category::CategoryWithoutStatus<Bkgd> {};
  EXPECT_THROW({ NotACommand bad; }, assert::AssertException);
  EXPECT_EQ(consoleCount(") isStatus == false"), 1);
  struct NotAStatus : TestCategory<InitCmd> {};
  EXPECT_THROW({ NotAStatus bad; }, assert::AssertException);
  EXPECT_EQ(consoleCount(") isStatus"), 2);
}

}  // namespace
