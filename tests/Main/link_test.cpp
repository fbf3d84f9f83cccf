#include <gtest/gtest.h>

#include "Main/bp.h"
#include "Main/link.h"
#include "board.h"
#include "board_fixture.h"
#include "frontend_peer.h"
#include "test_categories.h"

using category::CategoryRegistry;
using test_categories::InitCmd;
using test_categories::Rec;
using testing_support::Bytes;
using testing_support::consoleCount;
using testing_support::consoleText;
using testing_support::packetBytes;
using testing_support::recordBytes;

namespace {

using Bkgd = Rec<2, true>;

// Counts what reaches it and keeps the last value of b.
class CountingBkgd : public test_categories::TestCategory<Bkgd> {
 public:
  int assigned = 0;
  std::vector<int> values;
  void assign(const Bkgd& in, int idx) override {
    ++assigned;
    values.push_back(in.b);
    TestCategory::assign(in, idx);
  }
};

// Reads its body by hand (u16, u8, then one byte too many); failFirst makes the first call fail
// before reading anything.
class InitCategory : public category::CategoryWithoutStatus<InitCmd> {
 public:
  std::vector<std::string> seen;
  bool failFirst = false;
  void receiveCommand(int type, RequestReceiver& rx) override {
    if (failFirst) {
      failFirst = false;
      MX_FAIL("failFirst == false");
    }
    u16 code = rx.readU16();
    u8 arg = rx.readU8();
    u8 past = rx.readU8();
    seen.push_back(std::to_string(type) + ":" + std::to_string(code) + ":" + std::to_string(arg) + ":" +
                   std::to_string(past) + (rx.isShort() ? " short" : ""));
  }
};

Bkgd withB(s16 b) {
  Bkgd r{};
  r.mask = 0x2;
  r.b = b;
  return r;
}

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes waitBody(s16 n) { return {1, 2, 3, 4, 5, 6, static_cast<u8>(n >> 8), static_cast<u8>(n)}; }

class LinkTest : public testing_support::BoardTest {
 protected:
  struct Fresh {
    Fresh() { CategoryRegistry::instance().reset(); }
  } fresh;  // before the members register
  CountingBkgd bkgd;
  InitCategory init;
  testing_support::FrontendPeer peer;

  void SetUp() override {
    BoardTest::SetUp();
    peer.reset();
    reg().initialize();
  }
  // The test's categories go away with it: leave no pointer to them behind.
  void TearDown() override { reg().reset(); }
  static CategoryRegistry& reg() { return CategoryRegistry::instance(); }
  static void frame() { reg().process(); }
  static RequestReceiver& rx() { return RequestReceiver::instance(); }
  void sendB(s16 b) { peer.send(withB(b)); }
};

TEST_F(LinkTest, NothingReachesTheAcknowledgementRingBeforeTheFirstRequestByte) {
  auto& tx = AcknowledgeSender::instance();
  ASSERT_TRUE(tx.writeRecord(2, withB(1)));
  tx.flush();
  EXPECT_EQ(tx.pending(), 0);  // reported taken ...
  EXPECT_EQ(platform::readMem32(LINK_ACK_RING), 0u);  // ... and dropped
  EXPECT_EQ(consoleCount("Connected from System Manager"), 0);
  EXPECT_FALSE(mxFifoConnected());

  peer.write({0xAB});
  frame();
  EXPECT_TRUE(mxFifoConnected());
  EXPECT_EQ(consoleCount("\x1b[INFO] Connected from System Manager"), 1);
  EXPECT_EQ(platform::regPeek(0x40000030), 0x5AF0u);  // watchdog off
  ASSERT_TRUE(tx.writeRecord(2, withB(1)));
  tx.flush();
  EXPECT_EQ(peer.readPackets().size(), 1u);
  sendB(3);
  frame();
  EXPECT_EQ(consoleCount("Connected from System Manager"), 1);
}

TEST_F(LinkTest, SevenBufferedBytesYieldNothing) {
  Bytes p = packetBytes(2, recordBytes(withB(5)));
  peer.write(Bytes(p.begin(), p.begin() + 7));
  frame();
  EXPECT_EQ(bkgd.assigned, 0);
  EXPECT_EQ(rx().bodyLength(), 0);
  EXPECT_FALSE(rx().isHeaderValid());
  peer.write(Bytes(p.begin() + 7, p.end()));
  frame();
  EXPECT_EQ(bkgd.values, std::vector<int>{5});
}

TEST_F(LinkTest, SyncHuntAdvancesTwoBytesAtATime) {
  // The first packet starts at an odd offset and is never seen; the second lies at an even one.
  peer.write(join({{0x00}, packetBytes(2, recordBytes(withB(1))), {0x00}, packetBytes(2, recordBytes(withB(2)))}));
  frame();
  EXPECT_EQ(bkgd.values, std::vector<int>{2});
  // Garbage of even length before a packet.
  peer.write(join({{0x00, 0x5A, 0x81, 0x00, 0x11, 0x22}, packetBytes(2, recordBytes(withB(3)))}));
  frame();
  EXPECT_EQ(bkgd.values, (std::vector<int>{2, 3}));
}

TEST_F(LinkTest, ABodySplitAcrossFramesIsDispatchedWhenItsLastByteArrives) {
  Bytes p = packetBytes(2, recordBytes(withB(9)));
  peer.write(Bytes(p.begin(), p.begin() + 10));
  frame();
  EXPECT_TRUE(rx().isHeaderValid());
  peer.write(Bytes(p.begin() + 10, p.end() - 1));
  frame();
  EXPECT_EQ(bkgd.assigned, 0);
  peer.write(Bytes(p.end() - 1, p.end()));
  frame();
  EXPECT_EQ(bkgd.values, std::vector<int>{9});
  EXPECT_FALSE(rx().isHeaderValid());
}

TEST_F(LinkTest, WaitCommandSuspendsReception) {
  struct Case {
    s16 n;
    int framesWithoutReception;
  } cases[] = {{3, 3}, {1, 1}, {0, 0}, {-1, 0}};
  for (const auto& c : cases) {
    bkgd.values.clear();
    peer.write(join({packetBytes(74, waitBody(c.n)), packetBytes(2, recordBytes(withB(c.n)))}));
    for (int f = 0; f < c.framesWithoutReception; ++f) {
      frame();
      EXPECT_TRUE(bkgd.values.empty()) << "n " << c.n << " frame " << f;
    }
    frame();
    EXPECT_EQ(bkgd.values, std::vector<int>{c.n}) << "n " << c.n;
    EXPECT_EQ(reg().waitFrames, 0);
  }
  EXPECT_EQ(consoleCount("receive"), 0);
}

TEST_F(LinkTest, TypesWithoutHandlerAreSkippedByTheirLength) {
  struct Case {
    int type;
    Bytes body;
    const char* line;  // "" for no line
  } cases[] = {
      {54, Bytes(6, 0x5A), ""},
      {200, Bytes(12, 0x81), "\x1b[ERR] receive invalid type  : 12 byte\n"},
      {0xFFFF, Bytes(4, 0), "\x1b[ERR] receive invalid type  : 4 byte\n"},
      {0x8000, {}, "\x1b[ERR] receive invalid type  : 0 byte\n"},
      {78, Bytes(3, 0), "\x1b[ERR] receive undefined category MxifPluginCmd\n"},
      {61, Bytes(2, 0), "\x1b[ERR] receive undefined category MxifPluginStorage\n"},
  };
  peer.write({0, 0});  // connect first
  frame();
  for (const auto& c : cases) {
    testing_support::consoleClear();
    bkgd.values.clear();
    peer.write(join({packetBytes(c.type, c.body), packetBytes(2, recordBytes(withB(7)))}));
    frame();
    EXPECT_EQ(consoleText(), c.line) << c.type;
    EXPECT_EQ(bkgd.values, std::vector<int>{7}) << c.type;
  }
}

TEST_F(LinkTest, ABodyLongerThanTheInputStreamIsDroppedAndTheHuntGoesOn) {
  Bytes header = {0x5A, 0x81, 0x00, 0x00, 0x40, 0x00, 0x00, 0x02};  // 16384 bytes, type 2
  peer.write(join({header, packetBytes(2, recordBytes(withB(4)))}));
  frame();
  EXPECT_EQ(consoleCount("\x1b[ERR] receive invalid length MxifBkgd : 16384 byte"), 1);
  EXPECT_EQ(bkgd.values, std::vector<int>{4});
  // The longest body that fits is still received.
  Bytes body = recordBytes(withB(6));
  body.resize(16383, 0x5A);
  peer.write(packetBytes(2, body));
  for (int f = 0; f < 3 && bkgd.values.size() < 2; ++f) frame();
  EXPECT_EQ(bkgd.values, (std::vector<int>{4, 6}));
}

TEST_F(LinkTest, ReadersGetExactlyTheirBody) {
  // Short: logged and dropped. Long: the rest is skipped, even when it looks like a packet.
  Bytes shortBody = recordBytes(withB(1));
  shortBody.resize(test_categories::REC_WIRE - 1);
  Bytes longBody = recordBytes(withB(2));
  Bytes fake = packetBytes(2, recordBytes(withB(99)));
  longBody.insert(longBody.end(), fake.begin(), fake.end());
  peer.write(join({packetBytes(2, shortBody), packetBytes(2, longBody), packetBytes(2, recordBytes(withB(3))),
                   packetBytes(73, {0x12, 0x34, 0x56}), packetBytes(73, {0x01})}));
  frame();
  EXPECT_EQ(consoleCount("\x1b[ERR] receive short record MxifBkgd : 13 byte"), 1);
  EXPECT_EQ(bkgd.values, (std::vector<int>{2, 3}));
  EXPECT_EQ(init.seen, (std::vector<std::string>{"73:4660:86:0 short", "73:256:0:0 short"}));

  Bytes wait = packetBytes(74, {0, 0, 0, 0, 0, 0, 0});
  peer.write(join({wait, packetBytes(2, recordBytes(withB(5)))}));
  frame();
  EXPECT_EQ(consoleCount("receive short record waitCmd : 7 byte"), 1);
  EXPECT_EQ(bkgd.values, (std::vector<int>{2, 3, 5}));
}

TEST_F(LinkTest, CommandTypesGoToTheirOwners) {
  // A record category that also owns a command type and a record type without category.
  struct EventMemory : test_categories::TestCategory<Rec<14>> {
    std::vector<int> commands;
    EventMemory() {
      reg().setCommandOwner(65, 14);
      reg().setCommandOwner(15, 14);
    }
    void receiveCommand(int type, RequestReceiver& rx) override { commands.push_back(type * 1000 + rx.remaining()); }
  } event;
  reg().initialize();
  peer.write(join({packetBytes(65, Bytes(3, 0)), packetBytes(15, Bytes(5, 0)), packetBytes(73, {0, 9, 1}),
                   packetBytes(14, recordBytes(Rec<14>{})), packetBytes(66, {})}));
  frame();
  EXPECT_EQ(event.commands, (std::vector<int>{65003, 15005}));
  EXPECT_EQ(init.seen, std::vector<std::string>{"73:9:1:0 short"});
  EXPECT_EQ(consoleCount("receive undefined category MxifShotMemoryCmd"), 1);
  EXPECT_EQ(consoleCount("receive undefined category"), 1);
}

TEST_F(LinkTest, AHandlerThatFailsDoesNotWedgeReception) {
  init.failFirst = true;
  peer.write(join({packetBytes(73, {0, 1, 2}), packetBytes(73, {0, 3, 4})}));
  EXPECT_THROW(frame(), assert::AssertException);
  EXPECT_FALSE(rx().isHeaderValid());
  frame();
  EXPECT_EQ(init.seen, std::vector<std::string>{"73:3:4:0 short"});
  EXPECT_EQ(consoleCount("failFirst == false"), 1);
}

TEST_F(LinkTest, AtMostOneHundredPacketsPerFrame) {
  Bytes all;
  for (int i = 0; i < 101; ++i) {
    Bytes p = packetBytes(2, recordBytes(withB(static_cast<s16>(i))));
    all.insert(all.end(), p.begin(), p.end());
  }
  peer.write(all);
  frame();
  EXPECT_EQ(bkgd.assigned, 100);
  frame();
  EXPECT_EQ(bkgd.assigned, 101);
  EXPECT_EQ(bkgd.values.back(), 100);
}

TEST_F(LinkTest, StreamsAndRingsWrap) {
  // Request ring indexes near the end of the data area; the packets cross the wrap, and the
  // input stream's buffer wraps several times over the frames.
  platform::writeMem32(LINK_REQUEST_RING, LINK_RING_DATA - 5);
  platform::writeMem32(LINK_REQUEST_RING + 4, LINK_RING_DATA - 5);
  platform::writeMem32(LINK_ACK_RING, LINK_RING_DATA - 7);
  platform::writeMem32(LINK_ACK_RING + 4, LINK_RING_DATA - 7);
  int sent = 0;
  for (int f = 0; f < 30; ++f) {
    for (int i = 0; i < 100; ++i) sendB(static_cast<s16>(sent++));
    frame();
  }
  ASSERT_EQ(bkgd.assigned, 3000);
  for (int i = 0; i < 3000; ++i) ASSERT_EQ(bkgd.values[i], i);
  auto packets = peer.readPackets();
  ASSERT_EQ(packets.size(), 30u);  // one echo per frame: the last value of the frame
  EXPECT_EQ(packets.back().as<Bkgd>().b, 2999);
  EXPECT_EQ(peer.garbage(), 0u);
}

TEST_F(LinkTest, AcknowledgementRingStopsSixteenBytesShortOfTheReader) {
  peer.write({0});
  frame();
  Bytes data(LINK_RING_DATA, 0x11);
  EXPECT_EQ(mxFifoSend(data.data(), static_cast<int>(data.size())), static_cast<int>(LINK_RING_DATA - 16));
  EXPECT_EQ(mxFifoSend(data.data(), 1), 0);
  EXPECT_EQ(peer.readBytes().size(), LINK_RING_DATA - 16);
  EXPECT_EQ(mxFifoSend(data.data(), 5), 5);
  // Indexes outside the ring are not followed.
  platform::writeMem32(LINK_ACK_RING, LINK_RING_DATA + 100);
  EXPECT_EQ(mxFifoSend(data.data(), 5), 0);
  platform::writeMem32(LINK_REQUEST_RING, 0x7FFFFFFF);
  u8 buf[4];
  EXPECT_EQ(mxFifoReceive(buf, 4), 0);
}

TEST_F(LinkTest, PacketsAreWrittenWholeOrNotAtAll) {
  peer.write({0});
  frame();
  auto& tx = AcknowledgeSender::instance();
  // The front end does not read: its ring fills, and then the stream up to below the reserve.
  Bytes filler(LINK_RING_DATA - 16, 0);
  tx.writeBytes(filler.data(), static_cast<int>(filler.size()));
  tx.flush();
  EXPECT_EQ(tx.pending(), 0);
  int room = tx.stream().freeCount();
  for (int i = 0; i < room - 4162; ++i) tx.writeU8(0);
  EXPECT_EQ(tx.stream().freeCount(), 4162);
  EXPECT_TRUE(tx.writeRecord(2, withB(1)));  // exactly the reserve free: written
  peer.readBytes();
  tx.flush();  // the ring is full again, with more still pending in the stream
  room = tx.stream().freeCount();
  ASSERT_GT(room, 4161);
  for (int i = 0; i < room - 4161; ++i) tx.writeU8(0);
  int pending = tx.pending();
  EXPECT_FALSE(tx.writeRecord(2, withB(1)));  // one byte less: refused
  EXPECT_EQ(tx.pending(), pending);
  // The front end reads: one flush inside the packet writer makes room.
  peer.readBytes();
  EXPECT_TRUE(tx.writeRecord(2, withB(1)));

  reportSendBufferFull();
  EXPECT_EQ(consoleCount("\x1b[ERR] send buffer full"), 1);
}

}  // namespace
