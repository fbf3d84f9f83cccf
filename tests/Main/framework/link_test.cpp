#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <numeric>
#include <sstream>
#include <thread>
#include <tuple>

#include "Main/framework/bp.h"
#include "Main/framework/link.h"
#include "Lib/Include/records/memory.h"
#include "Main/framework/notes.h"
#include "Lib/Include/storage.h"
#include "Lib/Include/type_layout.h"
#include "Platform/board.h"
#include "Tools/lib/link/ring.h"
#include "tests/support/board_fixture.h"
#include "tests/support/frontend_peer.h"
#include "tests/Main/category_fixture.h"
#include "tests/Main/test_categories.h"

using category::CategoryRegistry;
using namespace category;  // type indexes
using test_categories::InitCmd;
using test_categories::Rec;
using testing_support::Bytes;
using testing_support::consoleClear;
using testing_support::consoleCount;
using testing_support::consoleText;
using testing_support::packetBytes;
using testing_support::recordBytes;

namespace {

using Bkgd = Rec<TYPE_BKGD, true>;
using Ints = std::vector<int>;
using Strings = std::vector<std::string>;

// Keeps each value of b that reaches it.
class CountingBkgd : public test_categories::TestCategory<Bkgd> {
 public:
  Ints values;
  void assign(const Bkgd& in, int idx) override {
    values.push_back(in.b);
    TestCategory::assign(in, idx);
  }
};

// Reads u16, u8, then one byte too many; failFirst makes the first call fail before reading.
class InitCategory : public category::CategoryWithoutStatus<InitCmd> {
 public:
  Strings seen;
  bool failFirst = false;
  void receiveCommand(int type, RequestReceiver& rx) override {
    if (failFirst) {
      failFirst = false;
      MX_FAIL("failFirst == false");
    }
    int code = rx.readU16(), arg = rx.readU8(), past = rx.readU8();
    seen.push_back(std::to_string(type) + ":" + std::to_string(code) + ":" + std::to_string(arg) + ":" +
                   std::to_string(past) + (rx.isShort() ? " short" : ""));
  }
};

Bkgd withB(s16 b) {
  Bkgd r{};
  r.mask = 0x2, r.b = b;
  return r;
}
Bytes pkt(int b) { return packetBytes(TYPE_BKGD, recordBytes(withB(static_cast<s16>(b)))); }

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
// A header that promises length bytes of the type, without its body.
Bytes header(int type, u32 length) {
  Bytes h = packetBytes(type, {});
  for (int i = 0; i < 4; ++i) h[2 + i] = static_cast<u8>(length >> (24 - 8 * i));
  return h;
}

class LinkTest : public testing_support::BoardTest {
 protected:
  struct Fresh { Fresh() { CategoryRegistry::instance().reset(); } } fresh;  // before the members register
  CountingBkgd bkgd;
  InitCategory init;
  testing_support::FrontendPeer peer;

  void SetUp() override {
    BoardTest::SetUp(), peer.reset(), reg().initialize();
  }
  void TearDown() override { reg().reset(); }
  static CategoryRegistry& reg() { return CategoryRegistry::instance(); }
  static void frame() { reg().process(); }
  static RequestReceiver& rx() { return RequestReceiver::instance(); }
  static AcknowledgeSender& tx() { return AcknowledgeSender::instance(); }
  // A packet that nothing answers (the type without handler that is skipped silently).
  void connect() { peer.sendPacket(TYPE_DUAL_SOURCE_TALLY, {}), frame(); }
};

TEST_F(LinkTest, NothingReachesTheAcknowledgementRingBeforeTheFirstRequestByte) {
  ASSERT_TRUE(tx().writeRecord(TYPE_BKGD, withB(1)));
  tx().flush();
  // Reported taken, and dropped.
  EXPECT_EQ(std::tuple(tx().pending(), platform::readMem32(LINK_ACK_RING), mxFifoConnected()), std::tuple(0, 0u, false));
  peer.write({0xAB});
  frame();  // connected; the watchdog goes off
  EXPECT_EQ(std::tuple(mxFifoConnected(), consoleCount("\x1b[INFO] Connected from System Manager"),
                       platform::regPeek(0x40000030)), std::tuple(true, 1, 0x5AF0u));
  ASSERT_TRUE(tx().writeRecord(TYPE_BKGD, withB(1)));
  tx().flush();
  EXPECT_EQ(peer.readPackets().size(), 1u);
}

// A header of a type without a reader that promises 16383 bytes takes them from the packets behind
// it, 5 bytes a frame (744 packets of 22 bytes and 15 bytes of the next, whose other 7 are skipped):
// the hunt for the next sync moves a byte at a time and logs once what it skipped.
TEST_F(LinkTest, ABodyWithoutReaderTakesThePacketsBehindItAndTheHuntSkipsTheRest) {
  connect(), consoleClear();
  Bytes stream = header(200, 16383);
  for (int i = 0; i < 760; ++i) stream = join({stream, pkt(i)});
  Ints taken(15);
  std::iota(taken.begin(), taken.end(), 745);
  for (size_t at = 0; at < stream.size(); at += 5) {
    peer.write(Bytes(stream.begin() + at, stream.begin() + std::min(at + 5, stream.size()))), frame();
  }
  EXPECT_EQ(std::tuple(consoleText(), bkgd.values),
            std::tuple(std::string("\x1b[ERR] receive invalid type 200 : 16383 byte\n"
                                   "\x1b[ERR] receive out of sync : 7 byte skipped\n"), taken));
}

// The tools follow the request stream with the receiver's own framing. For the same bytes, however
// they come over frames (at once, a byte a frame, three a frame), the back end logs what the row says;
// it skips, drops and takes as many headers as the tools' model counts and waits for the same body;
// and the packet written next (a record, 99) is the back end's exactly when the model says a header
// begins at its first byte. A packet of type 202 follows it, so that bytes skipped last are logged.
TEST_F(LinkTest, TheToolsFollowTheStreamAsTheReceiverSplitsIt) {
  const Bytes a = packetBytes(200, {1, 2}), b = packetBytes(201, {1, 2, 3}), next = pkt(99), last = packetBytes(202, {});
  struct {
    Bytes bytes;
    const char* lines;  // the back end's: skipped, dropped (length), taken without a reader (type:length)
    const char* waits;  // the body the back end waits for after the bytes (type:length)
    bool nextTaken;
  } cases[] = {
      {{0x5A}, "skip 1, take 202:0", "", true},
      {{0x5A, 0x5A, 0x5A}, "skip 3, take 202:0", "", true},
      {{0x5A, 0x81, 0x00}, "drop 5931264, take 202:0", "", true},  // a header cut short, made whole by the next
      {{0x5A, 0x81, 0x5A, 0x81, 0x5A, 0x81}, "drop 1518426753, drop 1518426753, drop 1518403584, take 202:0", "", true},
      {join({a, {0x5A}, b}), "take 200:2, skip 1, take 201:3, take 202:0", "", true},
      // Interleaved with packets (at most four of the link's lines a frame: more would be counted).
      {join({{0x5A, 0x81, 0x00}, a, {0x5A, 0x5A, 0x5A}, b}), "drop 5931264, take 200:2, skip 3, take 201:3, take 202:0", "",
       true},
      {join({b, {0x5A, 0x81, 0x5A, 0x81}, a}), "take 201:3, drop 1518426753, drop 1518403584, take 200:2, take 202:0", "",
       true},
      {join({header(200, 16384), a}), "drop 16384, take 200:2, take 202:0", "", true},  // more than can be held
      {join({{0x00, 0x5A, 0x81, 0x00, 0x11, 0x22}, a}), "skip 1, drop 1122906, take 200:2, take 202:0", "", true},
      // The bytes skipped after the sync byte inside a header dropped come after its line.
      {{0x5A, 0x81, 0x00, 0xFF, 0x5A, 0x00, 0x00, 0x06}, "drop 16734720, skip 4, take 202:0", "", true},
      {join({header(TYPE_BKGD, 15), a}), "drop 15, take 200:2, take 202:0", "", true},  // more than its type takes
      {header(TYPE_BKGD, 14), "skip 8, take 202:0", "2:14", false},
      {header(TYPE_SYSTEM_INITIAL_CMD, 8), "skip 14, take 202:0", "73:8", false},
      {join({header(200, 300), Bytes(10, 0x5A)}), "", "200:300", false},  // a type without a form: any length
      {{0x5A, 0x81, 0x00, 0x00, 0x00, 0x05}, "take 23169:5, skip 15, take 202:0", "", false},
      {{0x5A, 0x81, 0x00, 0x00, 0x00}, "", "", false},  // with the next: 90 bytes of type 33024
  };
  const auto largest = [](int type) { return reg().largestBody(type); };
  const auto waiting = [](bool waits, int type, u32 length) {
    return waits ? std::to_string(type) + ":" + std::to_string(length) : std::string();
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines);
    RequestFraming model;
    const linkpeer::StreamSeen seen = linkpeer::follow(model, c.bytes.data(), c.bytes.size(), largest);
    const std::string modelWaits = waiting(model.owed() > 0, model.type(), model.length());
    const linkpeer::StreamSeen then = linkpeer::follow(model, next.data(), next.size(), largest);
    const linkpeer::StreamSeen after = linkpeer::follow(model, last.data(), last.size(), largest);
    EXPECT_EQ(std::tuple(modelWaits, then.headerAtStart), std::tuple(std::string(c.waits), c.nextTaken));
    for (size_t split : {c.bytes.size(), size_t{1}, size_t{3}}) {
      peer.reset(), connect(), consoleClear(), bkgd.values.clear(), init.seen.clear();
      for (size_t at = 0; at < c.bytes.size(); at += split) {
        peer.write(Bytes(c.bytes.begin() + at, c.bytes.begin() + std::min(at + split, c.bytes.size()))), frame();
      }
      const std::string waits = waiting(rx().isHeaderValid(), rx().type(), static_cast<u32>(rx().bodyLength()));
      peer.write(next), frame(), peer.write(last), frame();
      // The lines as events; a run of one line logged with its count stands for that many.
      std::istringstream text(consoleText());
      std::string lines;
      size_t skipped = 0, dropped = 0, taken = bkgd.values.size() + init.seen.size() + rx().isHeaderValid();
      for (std::string line; std::getline(text, line);) {
        unsigned long n = 0, length = 0, times = 1;
        std::string event;
        if (std::sscanf(line.c_str(), "\x1b[ERR] receive out of sync : %lu byte skipped (%lu times)", &n, &times) >= 1) {
          event = "skip " + std::to_string(n), skipped += n * times;
        } else if (std::sscanf(line.c_str(), "\x1b[ERR] receive invalid type %lu : %lu byte (%lu times)", &n, &length, &times) >= 2) {
          event = "take " + std::to_string(n) + ":" + std::to_string(length), taken += times;
        } else if (const size_t at = line.find("receive invalid length "); at != std::string::npos) {
          std::sscanf(line.c_str() + line.find(" : ", at), " : %lu byte (%lu times)", &length, &times);
          event = "drop " + std::to_string(length), dropped += times;
        }
        for (unsigned long i = 0; i < times && !event.empty(); ++i) lines += (lines.empty() ? "" : ", ") + event;
      }
      EXPECT_EQ(std::tuple(lines, waits, bkgd.values == Ints{99}),
                std::tuple(std::string(c.lines), std::string(c.waits), c.nextTaken)) << "split " << split;
      EXPECT_EQ(std::tuple(skipped, dropped, taken),
                std::tuple(seen.stray + then.stray + after.stray, seen.dropped + then.dropped + after.dropped,
                           seen.taken + then.taken + after.taken)) << "split " << split;
    }
  }
}

Bytes waitBody(s16 n) { return {1, 2, 3, 4, 5, 6, static_cast<u8>(n >> 8), static_cast<u8>(n)}; }

TEST_F(LinkTest, WaitCommandsSuspendReceptionAndTypesWithoutHandlerAreSkippedByTheirLength) {
  struct { int type; Bytes body; int idleFrames; const char* line; } cases[] = {
      {TYPE_WAIT_CMD, waitBody(3), 3, ""}, {TYPE_WAIT_CMD, waitBody(1), 1, ""}, {TYPE_WAIT_CMD, waitBody(0), 0, ""},
      {TYPE_WAIT_CMD, waitBody(-1), 0, ""}, {TYPE_DUAL_SOURCE_TALLY, Bytes(6, 0x5A), 0, ""},
      {200, Bytes(12, 0x81), 0, "\x1b[ERR] receive invalid type 200 : 12 byte\n"},
      {0x8000, {}, 0, "\x1b[ERR] receive invalid type 32768 : 0 byte\n"},
      {TYPE_PLUGIN_CMD, Bytes(3, 0), 0, "\x1b[ERR] receive undefined category MxifPluginCmd\n"}};
  connect();
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " wait " << c.idleFrames);
    consoleClear(), bkgd.values.clear();
    peer.write(join({packetBytes(c.type, c.body), pkt(7)}));
    for (int f = 0; f < c.idleFrames; ++f) {
      frame();
      EXPECT_TRUE(bkgd.values.empty()) << "frame " << f;
    }
    frame();
    EXPECT_EQ(std::tuple(consoleText(), bkgd.values, reg().waitFramesLeft()),
              std::tuple(std::string(c.line), Ints{7}, 0));
  }
}

// A header that promises more than its type's reader takes (the record's or command's form; for a
// type without one, what the input stream holds) is dropped at once with one line, and the requests
// behind it are taken; a promise within it is waited for across frames.
TEST_F(LinkTest, AHeaderIsDroppedAtOnceWhenItPromisesMoreThanItsTypeTakes) {
  // (A record's form just long enough or one byte too long: the rows of the stream-splitting test.)
  const int W = test_categories::REC_WIRE;
  struct { int type; u32 length; const char* line; /* empty: the body is waited for */ } cases[] = {
      {TYPE_BKGD, 16000, "\x1b[ERR] receive invalid length MxifBkgd : 16000 byte\n"}, {TYPE_BKGD, W, ""},
      {TYPE_SYSTEM_INITIAL_CMD, 9, "\x1b[ERR] receive invalid length SystemInitialCmd : 9 byte\n"},
      {TYPE_WAIT_CMD, 9, "\x1b[ERR] receive invalid length waitCmd : 9 byte\n"},
      {TYPE_PLUGIN_CMD, 16383, "\x1b[ERR] receive undefined category MxifPluginCmd\n"},
      {TYPE_PLUGIN_CMD, 16384, "\x1b[ERR] receive invalid length MxifPluginCmd : 16384 byte\n"}};
  connect();
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << ", " << c.length << " bytes");
    consoleClear(), bkgd.values.clear();
    const bool waited = c.line[0] == 0 || c.length == 16383;
    peer.write(header(c.type, c.length));
    frame();
    EXPECT_EQ(rx().isHeaderValid(), waited);
    peer.write(join({waited ? Bytes(c.length, 0) : Bytes{}, pkt(1), pkt(2), pkt(3), pkt(4), pkt(5), pkt(6)}));
    frame();
    const Ints taken = c.type == TYPE_BKGD && waited ? Ints{0, 1, 2, 3, 4, 5, 6} : Ints{1, 2, 3, 4, 5, 6};
    EXPECT_EQ(std::tuple(consoleText(), bkgd.values), std::tuple(std::string(c.line), taken));
  }
}

// Within a frame a run of one line is logged once with its count, and four of the link's error
// lines at most, the rest counted by kind in one line where that saves lines; a dropped header
// counts as a message (a hundred a frame). A mixed flood: 25 times an invalid type, an over-long
// header, a short record, a stray byte and a type without handler, each but the last unlike the one
// before.
TEST_F(LinkTest, AFrameLogsARunOfOneLineOnceAndAFewOfTheLinksErrorLines) {
  const Bytes unheld = header(TYPE_BKGD, 16384);
  const Bytes invalid = packetBytes(200, {0, 0}), undefined = packetBytes(TYPE_PLUGIN_CMD, {});
  Bytes flood, mixed;
  for (int i = 0; i < 150; ++i) flood = join({flood, unheld});
  for (int i = 0; i < 25; ++i) {
    Bytes overLong = unheld;
    overLong[5] = static_cast<u8>(i);
    mixed = join({mixed, packetBytes(200, Bytes(1 + i % 2)), overLong, packetBytes(TYPE_BKGD, Bytes(1 + i % 5)),
                  {0x00}, undefined});
  }
  const std::string length = "\x1b[ERR] receive invalid length MxifBkgd : 16384 byte";
  const std::string type = "\x1b[ERR] receive invalid type 200 : 2 byte";
  struct { Bytes written; std::string lines; } frames[] = {
      {join({flood, pkt(4)}), length + " (100 times)\n"},
      {{}, length + " (50 times)\n"},
      {join({invalid, invalid, pkt(5), invalid, undefined, invalid}),
       type + " (3 times)\n\x1b[ERR] receive undefined category MxifPluginCmd\n" + type + "\n"},
      {invalid, type + "\n"},
      // Past the four, lines all alike are written as one with their count (no count line).
      {join({packetBytes(200, {0}), unheld, packetBytes(TYPE_BKGD, {0}), {0x00}, undefined, undefined}),
       "\x1b[ERR] receive invalid type 200 : 1 byte\n" + length + "\n\x1b[ERR] receive short record MxifBkgd : 1 byte\n"
       "\x1b[ERR] receive out of sync : 1 byte skipped\n\x1b[ERR] receive undefined category MxifPluginCmd (2 times)\n"},
      {join({mixed, pkt(6)}),
       "\x1b[ERR] receive invalid type 200 : 1 byte\n\x1b[ERR] receive invalid length MxifBkgd : 16384 byte\n"
       "\x1b[ERR] receive short record MxifBkgd : 1 byte\n\x1b[ERR] receive out of sync : 1 byte skipped\n"
       "\x1b[ERR] receive: 121 more lines not written this frame (24 invalid type, 24 invalid length, 24 short "
       "record, 24 out of sync, 25 undefined category)\n"},
      {{}, ""},  // the request behind the flood, the frame's 101st
  };
  connect();
  for (const auto& f : frames) {
    consoleClear();
    if (!f.written.empty()) peer.write(f.written);
    frame();
    EXPECT_EQ(consoleText(), f.lines);
  }
  EXPECT_EQ(bkgd.values, (Ints{4, 5, 6}));
}

TEST_F(LinkTest, ReadersGetExactlyTheirBodyAndAFailingHandlerDoesNotWedgeReception) {
  // Short: logged and dropped. Left unread: skipped, even when it begins like a packet.
  Bytes shortBody = recordBytes(withB(1));
  shortBody.resize(test_categories::REC_WIRE - 1);
  peer.write(join({packetBytes(TYPE_BKGD, shortBody), pkt(3),
                   packetBytes(TYPE_SYSTEM_INITIAL_CMD, {0x12, 0x34, 0x56, 0x78, 0x5A, 0x81, 0x00, 0x00}),
                   packetBytes(TYPE_SYSTEM_INITIAL_CMD, {0x12, 0x34, 0x56}),
                   packetBytes(TYPE_SYSTEM_INITIAL_CMD, {0x01}), packetBytes(TYPE_WAIT_CMD, Bytes(7, 0)), pkt(5)}));
  frame();
  EXPECT_EQ(std::tuple(consoleCount("\x1b[ERR] receive short record MxifBkgd : 13 byte"),
                       consoleCount("receive short record waitCmd : 7 byte"), bkgd.values, init.seen),
            std::tuple(1, 1, Ints{3, 5}, Strings{"73:4660:86:120", "73:4660:86:0 short", "73:256:0:0 short"}));

  init.failFirst = true;
  peer.write(join({packetBytes(TYPE_SYSTEM_INITIAL_CMD, {0, 1, 2}), packetBytes(TYPE_SYSTEM_INITIAL_CMD, {0, 3, 4})}));
  EXPECT_THROW(frame(), assert::AssertException);
  EXPECT_FALSE(rx().isHeaderValid());
  frame();
  EXPECT_EQ(std::tuple(init.seen.back(), init.seen.size(), consoleCount("failFirst == false")),
            std::tuple(std::string("73:3:4:0 short"), 4u, 1));
}

TEST_F(LinkTest, StreamsAndRingsWrap) {
  // Ring indexes near the end of the data area; the input stream's buffer wraps several times.
  mxFifoReset(LINK_RING_DATA - 5);
  int n = 0;
  for (int f = 0; f < 30; ++f) {
    for (int i = 0; i < (f == 0 ? 101 : 100); ++i) peer.write(pkt(n++));
    frame();
    ASSERT_TRUE(f > 0 || bkgd.values.size() == 100u);  // at most a hundred packets a frame
  }
  frame();
  ASSERT_EQ(bkgd.values.size(), 3001u);
  for (int i = 0; i < 3001; ++i) ASSERT_EQ(bkgd.values[i], i);
  auto packets = peer.readPackets();
  ASSERT_EQ(packets.size(), 31u);  // one echo per frame: the last value of the frame
  EXPECT_EQ(std::tuple(packets.back().as<Bkgd>().b, peer.garbage()), std::tuple(s16{3000}, 0u));
}

// The front end can write anything anywhere in the link window. A ring index word that holds what
// no side stores there is not followed, and a run of frames that find one says so once: the back
// end's own are put back; a front end's read index too, where its reader left it; a request write
// index outside the ring starts the ring again empty, one moved back drops what was not read, and
// reading goes on from it (the notes count the drops, and the frames that found such a word). Either request ring word ends a wait read
// before; the requests written next are taken and answered. The notes' counts written over are not
// read back: the notes are published whole under the back end's own count of slots.
TEST_F(LinkTest, WhatTheFrontEndWritesInTheWindowIsBoundedOrNotReadBack) {
  const u8* notes = platform::memory(LINK_NOTES, rules::NOTES_BYTES);
  const std::string no = "which no side stores there: ", wait = ", and a wait read before ends\n";
  const struct {
    u32 word, value;  // value 1: the request write index moved back by a byte
    s16 wait;
    Ints taken;
    std::string line;
  } rows[] = {{LINK_REQUEST_RING, ~0u, 32767, {2}, "request ring: write index 0xffffffff lies outside it: it starts again empty"},
              {LINK_REQUEST_RING, 1, 32767, {2}, no + "what was not read is dropped, reading goes on from there" + wait},
              {LINK_REQUEST_RING + 4, 0x12345, 32767, {1, 2}, "read index holds 0x00012345, " + no + "put back" + wait},
              {LINK_ACK_RING, ~0u, 0, {1, 2}, "write index holds 0xffffffff, " + no + "put back\n"},
              {LINK_ACK_RING + 4, LINK_RING_DATA, 0, {1, 2}, "index holds 0x0001fff8, " + no + "put back where its reader left it\n"}};
  for (const auto& row : rows) {
    peer.reset(), connect(), consoleClear(), bkgd.values.clear();
    const auto counts = [&] { return std::pair(linkpeer::notesHeader(notes).dropped, linkpeer::notesHeader(notes).overwritten); };
    const auto before = counts();
    peer.write(join({packetBytes(TYPE_WAIT_CMD, waitBody(row.wait)), pkt(1)})), frame();
    for (int twice = 0; twice < 2; ++twice) {
      platform::writeMem32(row.word, row.value == 1 ? platform::readMem32(row.word) - 1 : row.value), frame();
    }
    peer.write(pkt(2)), frame();
    const auto after = counts();
    EXPECT_EQ(std::tuple(bkgd.values, consoleCount(row.line), reg().waitFramesLeft(), peer.readPackets().size(), peer.garbage(),
                         after.first - before.first, after.second - before.second),
              std::tuple(row.taken, 1, 0, row.taken.size(), 0u, row.taken.size() == 1 ? 2u : 0u, 2u)) << row.line;
  }

  // Every slot's count and text length written over by another processor while slots are published.
  const rules::Rule rule{rules::Effect::MOVES, "a rule"};
  const Bkgd record = withB(1);
  std::atomic<bool> done = false;
  std::atomic<int> passes = 0;
  std::thread writer([&done, &passes] {
    u8* slots = platform::memory(LINK_NOTES + sizeof(rules::NotesHeader), rules::NOTE_SLOTS * sizeof(rules::NoteSlot));
    for (u16 v = 0x7FFF; !done; v ^= 0x8000, ++passes) {
      for (u8* slot = slots; slot < slots + rules::NOTE_SLOTS * sizeof(rules::NoteSlot); slot += sizeof(rules::NoteSlot)) {
        for (size_t at : {offsetof(rules::NoteSlot, count), offsetof(rules::NoteSlot, textBytes)}) {
          std::atomic_ref<u16>(*reinterpret_cast<u16*>(slot + at)).store(v, std::memory_order_relaxed);
        }
      }
    }
  });
  const auto publish = [&](u32 request) {
    const u32 from = rules::written();
    rules::note(rule, record, record.b);
    linknotes::taken(request, TYPE_BKGD, from);
  };
  u32 n = 0;
  while (passes < 1) {}
  for (const int until = passes + 20000; passes < until;) publish(n++);
  done = true;
  writer.join();
  platform::writeMem32(LINK_NOTES + offsetof(rules::NotesHeader, written), 5);
  publish(n);
  const linkpeer::RequestNotes published = linkpeer::notesOf(platform::memory(LINK_NOTES, rules::NOTES_BYTES), n, n, n);
  EXPECT_EQ(std::tuple(published.found, published.texts), std::tuple(linkpeer::RequestNotes::Found::Notes, Strings{"a rule"}));
}

// The notes' header says how far every request has its answer in the acknowledgement ring, and only
// while that holds: to where the frame's reading ended, once a whole pass of reports went out; not in
// a frame whose pass had no room (until the reports held back have gone and a whole pass followed), nor
// while the reports go out in turns (an event memory linked to an ME), which leave an earlier index behind.
TEST_F(LinkTest, TheNotesSayHowFarEveryRequestIsAnswered) {
  test_categories::TestCategory<MxifEventMemory> events;
  reg().initialize(), connect();
  const u8* notes = platform::memory(LINK_NOTES, rules::NOTES_BYTES);
  struct Row { u8 inTurns; bool full; int frames; u32 flags; };
  const Row rows[] = {{0, false, 1, rules::ANSWERED}, {0, true, 1, 0},         {0, false, 2, rules::ANSWERED},
                      {1, false, 1, rules::IN_TURNS}, {1, false, 1, rules::IN_TURNS}, {0, false, 1, rules::ANSWERED}};
  for (const Row& row : rows) {
    events.record(0).enable = events.record(0).linkedMe = row.inTurns;
    peer.readBytes();
    const Bytes filler(row.full ? LINK_RING_DATA - LINK_RING_RESERVE : 0, 0);  // the front end reads no more: the ring fills
    tx().writeBytes(filler.data(), static_cast<int>(filler.size())), tx().flush();
    peer.write(pkt(1));
    for (int f = 0; f < row.frames; ++f) frame();
    EXPECT_EQ(std::tuple(linkpeer::notesFlags(notes) & (rules::ANSWERED | rules::IN_TURNS), linkpeer::answeredTo(notes, rx().position())),
              std::tuple(row.flags, row.flags != 0 && !row.inTurns))
        << &row - rows;
  }
}

TEST_F(LinkTest, PacketsAreWrittenWholeOrNotAtAll) {
  connect();
  auto fillTo = [](int freeLeft) {
    for (int i = tx().stream().freeCount(); i > freeLeft; --i) tx().writeU8(0);
  };
  Bytes filler(LINK_RING_DATA - 16, 0);  // the front end does not read: its ring fills, then the stream
  tx().writeBytes(filler.data(), static_cast<int>(filler.size()));
  tx().flush();
  EXPECT_EQ(tx().pending(), 0);
  fillTo(4162);
  EXPECT_EQ(tx().stream().freeCount(), 4162);
  EXPECT_TRUE(tx().writeRecord(TYPE_BKGD, withB(1)));  // exactly the reserve free: written
  peer.readBytes();
  tx().flush();  // the ring is full again, with more still pending in the stream
  ASSERT_GT(tx().stream().freeCount(), 4161);
  fillTo(4161);
  int pending = tx().pending();
  EXPECT_FALSE(tx().writeRecord(TYPE_BKGD, withB(1)));  // one byte less: refused
  EXPECT_EQ(tx().pending(), pending);
  peer.readBytes();  // the front end reads: one flush inside the packet writer makes room
  EXPECT_TRUE(tx().writeRecord(TYPE_BKGD, withB(1)));
  reportSendBufferFull();
  EXPECT_EQ(consoleCount("\x1b[ERR] send buffer full"), 1);
}

}  // namespace

namespace {

using SystemLinkTest = test_categories::SystemCategoriesTest;

// The declared type layout, which the tools read, is the one the system's categories take: each
// type's instances, the bytes each binds and where the backup image holds them, and the largest body
// its reader takes (what the input stream holds where none reads a form).
TEST_F(SystemLinkTest, EachTypeIsLaidOutAndReadAsDeclared) {
  const u8* image = platform::memory(BACKUP_BUFFER_ADR, BUF_SIZE * 4);
  for (int type = 0; type < N_TYPES; ++type) {
    const layout::Type& t = layout::TYPES[type];
    const int form = t.formBytes > 0 ? t.formBytes : RequestReceiver::MAX_BODY;
    EXPECT_EQ(std::tuple(reg().instanceCount(type), reg().largestBody(type)), std::tuple(t.instances, form)) << type;
    for (int me = 0; me < t.instances; ++me) {
      const int offset = me < 2 && t.boundBytes() > 0 ? layout::imageOffset(type, me) : -1;
      const int at = me < 2 && reg().storageOf(type, me) != nullptr ? static_cast<int>(reg().storageOf(type, me) - image) : -1;
      EXPECT_EQ(std::tuple(reg().boundBytes(type, me), at), std::tuple(t.boundBytes(), offset)) << type << " me " << me;
    }
  }
}

}  // namespace
