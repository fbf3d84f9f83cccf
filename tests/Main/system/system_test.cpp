#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "Common/storage.h"
#include "Main/framework/bp.h"
#include "Main/system/system.h"
#include "tests/Main/category_fixture.h"

namespace {

using libmx::acceptSystemFields;
using libmx::mergeTextRecord;
using S = MxifSystem;
using A = MxifSystemAncillary;
using D = MxifSystemDisplay;

// One field: the values its range takes and refuses, how a request sets it (value and presence bit)
// and whether its presence bit is set.
struct RangeCase {
  const char* field;
  std::vector<int> ok, bad;
  void (*set)(S&, int);
  bool (*present)(const S&);
};
#define FIELD(path, maskWord, bit)                                        \
  [](S& r, int v) {                                                       \
    r.path = static_cast<std::remove_reference_t<decltype(r.path)>>(v);   \
    r.maskWord |= (bit);                                                  \
  },                                                                      \
      [](const S& r) { return (r.maskWord & (bit)) != 0; }

TEST(SystemRecord, RangeBoundariesOfEveryField) {
  const RangeCase cases[] = {
      {"format", {11}, {12}, FIELD(format, videoMask, S::FORMAT)},
      {"sdScale", {1}, {2}, FIELD(sdScale, videoMask, S::SD_SCALE)},
      {"verticalOffset", {1}, {2}, FIELD(verticalOffset, phaseMask, S::VERTICAL_OFFSET)},
      {"horizontalPhase", {-50, 49}, {-51, 50}, FIELD(horizontalPhase, phaseMask, S::HORIZONTAL_PHASE)},
      {"verticalPhase", {-100, 100}, {-101, 101}, FIELD(verticalPhase, phaseMask, S::VERTICAL_PHASE)},
      {"genlockReference", {3}, {4}, FIELD(genlockReference, genlockMask, S::GENLOCK_REFERENCE)},
      {"genlockSetup", {1}, {2}, FIELD(genlockSetup, genlockMask, S::GENLOCK_SETUP)},
      {"bkgdLatency", {1}, {2}, FIELD(bkgdLatency, secondMask, S::BKGD_LATENCY)},
      {"keyLatency", {1}, {2}, FIELD(keyLatency, secondMask, S::KEY_LATENCY)},
      {"sdiDelay", {1}, {2}, FIELD(sdiDelay, secondMask, S::SDI_DELAY)},
      {"recallPhaseMode", {2}, {3}, FIELD(recallPhaseMode, mask, S::RECALL_PHASE_MODE)},
      {"busRefresh", {1}, {2}, FIELD(busRefresh, mask, S::BUS_REFRESH)},
      {"aux1Follows", {1}, {2}, FIELD(ancillary.aux1Follows, ancillary.mask, A::AUX1_FOLLOWS)},
      {"meOutput1Mode", {2}, {3}, FIELD(ancillary.meOutput1Mode, ancillary.mask, A::ME_OUTPUT1_MODE)},
      {"meOutput2Mode", {2}, {3}, FIELD(ancillary.meOutput2Mode, ancillary.mask, A::ME_OUTPUT2_MODE)},
      {"keySelect", {4}, {5}, FIELD(ancillary.keySelect, ancillary.mask, A::KEY_SELECT)},
      {"perMeKeySelect", {1}, {2}, FIELD(ancillary.perMeKeySelect, ancillary.mask, A::PER_ME_KEY_SELECT)},
      {"dskStageMode", {2}, {3}, FIELD(ancillary.dskStageMode, ancillary.mask, A::DSK_STAGE_MODE)},
      {"meKeySelect[0]", {4}, {5}, FIELD(ancillary.meKeySelect[0], ancillary.meKeySelectMask, 1u)},
      {"meKeySelect[7]", {4}, {5}, FIELD(ancillary.meKeySelect[7], ancillary.meKeySelectMask, 1u << 7)},
      {"dskStageSource[0]", {4}, {5}, FIELD(ancillary.dskStageSource[0], ancillary.dskMask, 1u)},
      {"dskStageSource[1]", {4}, {5}, FIELD(ancillary.dskStageSource[1], ancillary.dskMask, 2u)},
      {"multiviewSource[0]", {10}, {11}, FIELD(multiviewSource[0], multiviewMask, 1u)},
      {"multiviewSource[7]", {10}, {11}, FIELD(multiviewSource[7], multiviewMask, 1u << 7)},
      {"timingFlag", {1}, {2}, FIELD(display.timingFlag, display.mask, D::TIMING_FLAG)},
      {"timingSelect", {2}, {3}, FIELD(display.timingSelect, display.mask, D::TIMING_SELECT)},
      {"option", {1}, {2}, FIELD(display.option, display.mask, D::OPTION)},
      {"toggle1", {1}, {2}, FIELD(display.toggle1, display.mask, D::TOGGLE1)},
      {"toggle2", {1}, {2}, FIELD(display.toggle2, display.mask, D::TOGGLE2)},
  };
  auto zeroed = [] {
    S r;
    std::memset(static_cast<void*>(&r), 0, sizeof r);  // padding too: the records are compared bytewise
    return r;
  };
  for (const auto& c : cases) {
    for (bool ok : {true, false}) {
      for (int value : ok ? c.ok : c.bad) {
        SCOPED_TRACE(testing::Message() << c.field << " = " << value);
        // Beside a valid field that must be kept either way.
        S request{};
        c.set(request, value);
        request.secondMask |= S::SECOND_TEXT;
        S accepted;
        acceptSystemFields(request, S{}, false, accepted);
        EXPECT_EQ(c.present(accepted), ok);
        EXPECT_EQ(accepted.secondMask & S::SECOND_TEXT, S::SECOND_TEXT);
        // Merged, an accepted value lands and a refused one leaves the record as it was.
        S merged = zeroed();
        mergeTextRecord(merged, accepted);
        merged.secondMask &= ~S::SECOND_TEXT;
        S probe = zeroed();
        if (ok) c.set(probe, value);
        EXPECT_EQ(std::memcmp(&probe, &merged, sizeof probe), 0);
      }
    }
  }
}
#undef FIELD

TEST(SystemRecord, AddressTextsAreCheckedAndCopiedUpToTheirCapacity) {
  // (A refused quote and a taken short text: the echo test of the category.)
  MxifSystem request{};
  request.addressTexts.mask = 0xC;
  auto put = [](auto& t, const char* s, int count) {
    std::memcpy(t.chars, s, std::min(sizeof t.chars, std::strlen(s)));
    t.count = static_cast<s16>(count);
  };
  put(request.addressTexts.text3, "ABCDEFGHIJKLMNOPQRST", 20);  // count above capacity: refused
  put(request.addressTexts.text4, "12345678901234567", 17);
  MxifSystem live{};
  put(live.addressTexts.text3, "old3", 4);
  MxifSystem accepted;
  acceptSystemFields(request, live, false, accepted);
  EXPECT_EQ(accepted.addressTexts.mask, 0x8u);
  mergeTextRecord(live, accepted);
  EXPECT_STREQ(reinterpret_cast<const char*>(live.addressTexts.text3.chars), "old3");
  EXPECT_EQ(live.addressTexts.text4.count, 17);

  // The second text is taken without checks, up to 7 characters.
  MxifSystem second{};
  second.secondMask = MxifSystem::SECOND_TEXT;
  put(second.secondText, "\"quoted", 12);
  acceptSystemFields(second, MxifSystem{}, false, accepted);
  MxifSystem live2{};
  mergeTextRecord(live2, accepted);
  EXPECT_EQ(live2.secondText.count, 7);
  EXPECT_STREQ(reinterpret_cast<const char*>(live2.secondText.chars), "\"quoted");
}

TEST(SystemFormats, DriverCodesAndLineLengths) {
  struct Case {
    int format, code, codeMode2, lineLength;
  } cases[] = {
      {0, 0, 10, 2200}, {1, 1, 11, 2640}, {2, 7, 13, 2750}, {3, 6, 12, 2750},
      {4, 2, 10, 1650}, {5, 3, 11, 1980}, {6, 4, 10, 858},  {7, 5, 11, 864},
      {8, 0, 14, 2200}, {9, 1, 15, 2640}, {10, 8, 10, 2200}, {11, 9, 11, 2640},
      {12, -1, -1, -1}, {-1, -1, -1, -1},
  };
  for (auto c : cases) {
    EXPECT_EQ(libmx::systemDriverFormatCode(c.format, 0), c.code) << c.format;
    EXPECT_EQ(libmx::systemDriverFormatCode(c.format, 1), c.code) << c.format;
    EXPECT_EQ(libmx::systemDriverFormatCode(c.format, 2), c.codeMode2) << c.format;
    EXPECT_EQ(libmx::systemLineLength(c.format), c.lineLength) << c.format;
  }
}

TEST(SystemFormats, AspectScale) {
  struct Case {
    int format, flag;
    float scale;
  } cases[] = {{6, 1, 0.84f}, {7, 1, 0.76f}, {6, 0, 1.0f}, {7, 0, 1.0f}, {0, 1, 1.0f}, {6, 2, 1.0f}};
  for (auto c : cases) EXPECT_FLOAT_EQ(libmx::sdAspectScale(c.format, c.flag), c.scale) << c.format;
}

// Predicates and the switching gate over every format, recall phase mode and field flag.
TEST(SystemPhase, TruthTable) {
  enum Group { SEGMENTED, P720, OTHER };
  struct Row {
    Group group;
    int mode;  // -1: every mode
    u8 flag;
    bool field1, field0, clip, recall, gate;
  } rows[] = {
      {SEGMENTED, -1, 0, false, true, false, true, true}, {SEGMENTED, -1, 1, true, false, true, false, false},
      {P720, -1, 0, true, true, true, false, true},       {P720, -1, 1, true, true, true, false, true},
      {OTHER, 0, 0, true, true, false, false, true},      {OTHER, 0, 1, true, true, true, false, true},
      {OTHER, 1, 0, true, true, false, true, true},       {OTHER, 1, 1, true, true, true, false, false},
      {OTHER, 2, 0, true, true, false, false, false},     {OTHER, 2, 1, true, true, true, true, true},
      {OTHER, 3, 0, true, true, false, false, false},     {OTHER, 3, 1, true, true, true, false, true},
  };
  const Group groups[12] = {OTHER, OTHER, SEGMENTED, SEGMENTED, P720, P720,
                            OTHER, OTHER, SEGMENTED, SEGMENTED, OTHER, OTHER};
  for (int format = 0; format < 12; ++format)
    for (const Row& r : rows)
      for (int mode = 0; mode < 4; ++mode) {
        if (r.group != groups[format] || (r.mode >= 0 && r.mode != mode)) continue;
        SCOPED_TRACE(testing::Message() << "format " << format << " mode " << mode << " flag " << int(r.flag));
        EXPECT_EQ(libmx::isFieldPhase(format, r.flag, 1), r.field1);
        EXPECT_EQ(libmx::isFieldPhase(format, r.flag, 0), r.field0);
        EXPECT_EQ(libmx::isFieldPhase(format, r.flag, 7), r.field0);
        EXPECT_EQ(libmx::isClipPhase(format, r.flag), r.clip);
        EXPECT_EQ(libmx::isRecallPhase(format, mode, r.flag), r.recall);
        EXPECT_EQ(libmx::isSwitchingGateOpen(format, mode, r.flag), r.gate);
      }
}

struct Bytes {
  std::vector<u8> b;
  void write(u8 x) { b.push_back(x); }
  void u16(u16 v) { libmx::writeU16(*this, v); }
  void u32(u32 v) { libmx::writeU32(*this, v); }
  void text(const std::string& s, int count) {
    u16(static_cast<::u16>(count));
    if (count < 0) return;
    for (int i = 0; i <= count; ++i) write(i < static_cast<int>(s.size()) ? static_cast<u8>(s[i]) : 0);
  }
};

// A body laid out by hand after the wire table, with distinct values in every field.
Bytes handBody(int statusCount) {
  Bytes w;
  w.u32(0x3);                       // main presence
  w.u32(0x7);                       // video presence
  w.write(8), w.write(2), w.write(1);  // format, mode, scale
  w.u32(0x7);                       // phase presence at 11
  w.write(1);                       // vertical offset at 15
  w.u16(static_cast<u16>(-25)), w.u16(static_cast<u16>(-100));  // at 16
  w.u32(0x3);                       // genlock presence at 20
  w.write(3), w.write(1);           // at 24
  w.text("Locked", statusCount);    // at 26
  w.u32(0xF), w.write(1), w.write(0), w.text("abc", 3), w.write(1);
  w.u32(0x3F), w.write(1), w.write(2), w.write(1), w.write(4), w.write(1), w.write(2);  // a2..a5, a11, a12
  w.u32(0x3), w.write(3), w.write(4);                                                  // DSK stage
  w.u32(0xFF);
  for (int i = 0; i < 8; ++i) w.write(static_cast<u8>(i % 5));
  w.u32(0xFF);
  for (int i = 0; i < 8; ++i) w.write(static_cast<u8>(i + 3));
  w.write(2);                                   // recall phase mode
  w.u32(0xF), w.text("1.2.3.4", 7), w.text("", 0), w.text("x", -1), w.text("\\\\", 2);
  w.u32(0x1F), w.write(1), w.write(2), w.write(1), w.write(0), w.write(1);
  w.write(1);  // bus refresh
  return w;
}

TEST(SystemWire, ReadsTheHandLaidBodyAndWritesItBackAndRefusesAShortOne) {
  const Bytes body = handBody(6);
  EXPECT_EQ(body.b.size(), 106u + 6 + 3 + 7 + 0 + 2 - 1);  // a negative count sends no zero byte

  libmx::WireIn in(body.b.data(), body.b.size());
  MxifSystem r{};
  ASSERT_TRUE(libmx::readTextRecord(in, r));
  EXPECT_EQ(in.position(), body.b.size());
  EXPECT_STREQ(reinterpret_cast<const char*>(r.genlockStatus.chars), "Locked");
  EXPECT_EQ(std::vector<int>({r.horizontalPhase, r.verticalPhase, r.keyLatency, r.sdiDelay, r.ancillary.dskStageSource[1],
                              r.ancillary.meKeySelect[6], r.multiviewSource[7], r.addressTexts.text3.count, r.display.toggle2}),
            std::vector<int>({-25, -100, 0, 1, 4, 1, 10, -1, 1}));
  // The memory offsets the other categories read hold the values.
  const u8* mem = reinterpret_cast<const u8*>(&r);
  const std::pair<int, int> offsets[] = {{8, 8}, {9, 2}, {10, 1}, {48, 1}, {49, 0}, {108, 2}, {200, 1}};
  for (auto [at, value] : offsets) EXPECT_EQ(mem[at], value) << at;

  EXPECT_EQ(libmx::textRecordWireLength(r), body.b.size());
  Bytes out;
  libmx::writeTextRecord(out, r);
  EXPECT_EQ(out.b, body.b);

  // A short body is refused (a text longer than its field: the text tests).
  for (size_t cut : {size_t{0}, size_t{10}, size_t{30}, body.b.size() - 1}) {
    libmx::WireIn in(body.b.data(), cut);
    MxifSystem r{};
    EXPECT_FALSE(libmx::readTextRecord(in, r)) << cut;
    EXPECT_EQ(in.position(), cut);
  }
}

using category::CategoryRegistry;
using testing_support::AckPacket;
using testing_support::FrontendPeer;

struct TestSystem : category::CategorySystem {};

// Stands in for the bus category of one ME: counts refresh requests.
struct FakeBus : test_categories::StubCategory, category::BusRefreshTarget {
  FakeBus() : StubCategory(category::TYPE_BUS, "MxifBus") {}
  int refreshRequests = 0;
  void requestRefresh() override { ++refreshRequests; }
};

class SystemCategoryTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    CategoryRegistry::instance().reset();
    peer.reset();
    AcknowledgeSender::instance().reset();
    sys = std::make_unique<TestSystem>();
    sys->bindStorage(&stored);
    sys->initialize();
  }
  void TearDown() override {
    CategoryRegistry::instance().reset();
    vsyncReset();
  }

  // A VSYNC through the frame callback, with the field bit given and no frame work.
  static void setField(u8 bit) {
    vsyncSetFrameWork([] {});
    onVsyncFrame(vsyncGuard(), bit);
    vsyncSetFrameWork(nullptr);
    EXPECT_EQ(category::CategorySystem::fieldFlag(), bit);
  }

  // Sends the request through the request ring, runs one receive and one send pass, and returns the
  // packets that reach the acknowledgement ring.
  std::vector<AckPacket> roundTrip(const MxifSystem& request) {
    Bytes body;
    libmx::writeTextRecord(body, request);
    peer.sendPacket(MxifSystem::TYPE_INDEX, body.b);
    CategoryRegistry::instance().receiveAll();
    CategoryRegistry::instance().sendAll(AcknowledgeSender::instance());
    return peer.readPackets();
  }
  static MxifSystem decode(const AckPacket& p) {
    MxifSystem r{};
    libmx::WireIn in(p.body.data(), p.body.size());
    EXPECT_TRUE(libmx::readTextRecord(in, r));
    EXPECT_EQ(in.position(), p.body.size());
    return r;
  }

  FrontendPeer peer;
  MxifSystem stored{};
  std::unique_ptr<TestSystem> sys;
};

TEST_F(SystemCategoryTest, EchoCarriesExactlyTheAcceptedPresenceBits) {
  MxifSystem req{};
  req.videoMask = MxifSystem::FORMAT | MxifSystem::MODE | MxifSystem::SD_SCALE;
  req.format = 8;
  req.mode = 0;     // the live mode: not a change
  req.sdScale = 2;  // out of range
  req.phaseMask = MxifSystem::HORIZONTAL_PHASE | MxifSystem::VERTICAL_PHASE;
  req.horizontalPhase = 50;  // out of range
  req.verticalPhase = -100;
  req.genlockMask = MxifSystem::GENLOCK_STATUS | MxifSystem::GENLOCK_REFERENCE;
  req.genlockReference = 3;
  req.genlockStatus.count = 6;
  std::memcpy(req.genlockStatus.chars, "Locked", 6);
  req.ancillary.meKeySelectMask = 0x81;
  req.ancillary.meKeySelect[0] = 4;
  req.ancillary.meKeySelect[7] = 5;  // out of range
  req.multiviewMask = 0x3;
  req.multiviewSource[0] = 10;
  req.multiviewSource[1] = 11;  // out of range
  req.mask = MxifSystem::RECALL_PHASE_MODE;
  req.recallPhaseMode = 2;
  req.addressTexts.mask = 0x3;
  req.addressTexts.text1.count = 4;
  std::memcpy(req.addressTexts.text1.chars, "host", 4);
  req.addressTexts.text2.count = 1;
  req.addressTexts.text2.chars[0] = '"';  // not escaped: refused
  req.addressTexts.text3.count = -1;
  req.addressTexts.text4.count = -1;

  const auto packets = roundTrip(req);
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].type, category::TYPE_SYSTEM);
  const MxifSystem echo = decode(packets[0]);
  // Main, video, phase, genlock, second, ancillary, key select, multiview, address texts, and the two
  // display toggles that the first request after start reports as they stood.
  EXPECT_EQ(std::vector<u32>({echo.mask, echo.videoMask, echo.phaseMask, echo.genlockMask, echo.secondMask,
                              echo.ancillary.mask, echo.ancillary.meKeySelectMask, echo.multiviewMask,
                              echo.addressTexts.mask, echo.display.mask}),
            std::vector<u32>({MxifSystem::RECALL_PHASE_MODE, MxifSystem::FORMAT, MxifSystem::VERTICAL_PHASE,
                              MxifSystem::GENLOCK_REFERENCE, 0, 0, 1, 1, 1,
                              MxifSystemDisplay::TOGGLE1 | MxifSystemDisplay::TOGGLE2}));
  // The live horizontal phase, not the refused one.
  EXPECT_EQ(std::vector<int>({echo.format, echo.verticalPhase, echo.horizontalPhase, echo.genlockStatus.count}),
            std::vector<int>({8, -100, 0, 0}));
  EXPECT_STREQ(reinterpret_cast<const char*>(echo.addressTexts.text1.chars), "host");
  EXPECT_EQ(packets[0].body.size(), 106u + 4);  // six texts: counts 0, 0, 4, 0, 0, 0

  // Reported once: the presence words are cleared after the report.
  CategoryRegistry::instance().sendAll(AcknowledgeSender::instance());
  EXPECT_TRUE(peer.readPackets().empty());
  EXPECT_FALSE(codec::hasAny(stored));
  EXPECT_EQ(stored.format, 8);
}

TEST_F(SystemCategoryTest, ReportWaitsWhileMoreThanHalfTheOutputStreamIsPending) {
  MxifSystem req{};
  req.videoMask = MxifSystem::FORMAT;
  req.format = 5;
  sys->assign(req, 0);
  auto& out = AcknowledgeSender::instance().stream();
  for (int i = 0; i <= 0x20000; ++i) out.write(0);
  sys->sendStatus(AcknowledgeSender::instance());
  EXPECT_EQ(out.pending(), 0x20001);
  EXPECT_EQ(stored.videoMask, MxifSystem::FORMAT);  // still pending

  out.reset();
  sys->sendStatus(AcknowledgeSender::instance());
  EXPECT_EQ(out.pending(), 8 + 106);
  EXPECT_EQ(stored.videoMask, 0u);
  EXPECT_EQ(stored.format, 5);
}

TEST_F(SystemCategoryTest, ShortBodyIsDroppedWithItsLogLine) {
  peer.sendPacket(MxifSystem::TYPE_INDEX, {0, 0, 0, 0, 0, 0, 0, 1, 4});
  CategoryRegistry::instance().receiveAll();
  EXPECT_EQ(testing_support::consoleCount("receive short record MxifSystem"), 1);
  EXPECT_EQ(stored.format, 0);
  CategoryRegistry::instance().sendAll(AcknowledgeSender::instance());
  EXPECT_TRUE(peer.readPackets().empty());
}

TEST_F(SystemCategoryTest, ModeChangeWritesTheStorageWordsOnceARepeatWritesNone) {
  Storage& storage = Storage::instance();
  struct Step {
    int mode;
    bool written;
  } steps[] = {{2, true}, {2, false}, {0, true}, {0, false}, {7, true}};
  for (auto step : steps) {
    storage.writeWord(STORAGE_BOARD_MODE_MARKER, 0);
    storage.writeWord(STORAGE_BOARD_MODE, 0);
    MxifSystem req{};
    req.videoMask = MxifSystem::MODE;
    req.mode = static_cast<u8>(step.mode);
    const auto packets = roundTrip(req);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ((decode(packets[0]).videoMask & MxifSystem::MODE) != 0, step.written) << step.mode;
    EXPECT_EQ(storage.readWord(STORAGE_BOARD_MODE_MARKER), step.written ? BOARD_MODE_MARKER : 0u) << step.mode;
    EXPECT_EQ(storage.readWord(STORAGE_BOARD_MODE), step.written ? step.mode + 256u : 0u) << step.mode;
    EXPECT_EQ(stored.mode, step.mode);
  }
  EXPECT_EQ(storage.boardMode(), 7);
}

TEST_F(SystemCategoryTest, FirstRequestCannotChangeTheDisplayToggles) {
  MxifSystem req{};
  req.display.mask = MxifSystemDisplay::TOGGLE1 | MxifSystemDisplay::TOGGLE2;
  req.display.toggle1 = 1;
  req.display.toggle2 = 1;
  sys->assign(req, 0);
  EXPECT_EQ(stored.display.toggle1, 0);
  EXPECT_EQ(stored.display.toggle2, 0);
  sys->assign(req, 0);
  EXPECT_EQ(stored.display.toggle1, 1);
  EXPECT_EQ(stored.display.toggle2, 1);
  // After a restart of the internal state the rule holds again.
  sys->initInternal();
  req.display.toggle1 = 0;
  sys->assign(req, 0);
  EXPECT_EQ(stored.display.toggle1, 1);
}

TEST_F(SystemCategoryTest, AppliedAndPreviousFormat) {
  struct Step {
    int format;
    s8 applied, previous;
  } steps[] = {{4, 4, 0}, {8, 8, 0}, {12, 8, 0}, {6, 6, 0}};
  for (auto step : steps) {
    MxifSystem req{};
    req.videoMask = MxifSystem::FORMAT;
    req.format = static_cast<u8>(step.format);
    req.phaseMask = MxifSystem::VERTICAL_OFFSET;
    req.verticalOffset = 1;
    sys->assign(req, 0);
    EXPECT_EQ(sys->appliedFormat(), step.applied) << step.format;
    EXPECT_EQ(sys->previousFormat(), step.previous) << step.format;
    EXPECT_EQ(stored.format, step.applied) << step.format;
    EXPECT_EQ(stored.verticalOffset, 1);  // the other fields still land
  }
  EXPECT_EQ(sys->formatChanged(), 1);
}

TEST_F(SystemCategoryTest, BusRefreshReachesEveryMe) {
  FakeBus me0, me1;  // MEs 2 and 3 have no instance: the ME 0 one stands in
  struct Case {
    int value;
    int me0, me1;
  } cases[] = {{0, 0, 0}, {1, 3, 1}, {2, 0, 0}};
  for (auto c : cases) {
    me0.refreshRequests = me1.refreshRequests = 0;
    MxifSystem req{};
    req.mask = MxifSystem::BUS_REFRESH;
    req.busRefresh = static_cast<u8>(c.value);
    sys->assign(req, 0);
    EXPECT_EQ(me0.refreshRequests, c.me0) << c.value;
    EXPECT_EQ(me1.refreshRequests, c.me1) << c.value;
  }
}

TEST_F(SystemCategoryTest, ChannelOtherThanZeroFailsTheCheck) {
  MxifSystem req{};
  req.videoMask = MxifSystem::MODE;
  req.mode = 5;
  Storage::instance().writeWord(STORAGE_BOARD_MODE, 0);  // the non-volatile window outlives tests
  EXPECT_THROW(sys->assign(req, 1), assert::AssertException);
  EXPECT_EQ(testing_support::consoleCount("0 <= idx && idx < N_CHANNELS"), 1);
  EXPECT_EQ(Storage::instance().readWord(STORAGE_BOARD_MODE), 0u);  // nothing done before the check
}

TEST_F(SystemCategoryTest, ResumeTakesTheSavedRecordWithEveryBitThroughTheRangeChecks) {
  MxifSystem saved{};
  saved.format = 9;
  saved.mode = 2;
  saved.horizontalPhase = -50;
  saved.verticalPhase = 300;  // damaged: out of range
  saved.genlockStatus.count = 8;
  std::memcpy(saved.genlockStatus.chars, "Unlocked", 8);
  saved.addressTexts.text4.count = 17;
  std::memset(saved.addressTexts.text4.chars, 'a', sizeof saved.addressTexts.text4.chars);  // no zero
  saved.display.toggle2 = 1;
  sys->resume(&saved, 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(stored.genlockStatus.chars), "Unlocked");
  EXPECT_EQ(std::vector<int>({stored.format, stored.horizontalPhase, stored.verticalPhase, stored.addressTexts.text4.count,
                              stored.addressTexts.text4.chars[17], stored.display.toggle2}),
            std::vector<int>({9, -50, 0, 17, 0, 1}));
  // Every defined presence bit of the eleven words, and no other.
  const u32 masks[] = {stored.mask, stored.videoMask, stored.phaseMask, stored.genlockMask,
                       stored.secondMask, stored.ancillary.mask, stored.ancillary.dskMask,
                       stored.ancillary.meKeySelectMask, stored.multiviewMask, stored.addressTexts.mask,
                       stored.display.mask};
  const u32 want[] = {0x3, 0x7, 0x7, 0x7, 0xF, 0x3F, 0x3, 0xFF, 0xFF, 0xF, 0x1F};
  for (int i = 0; i < 11; ++i) EXPECT_EQ(masks[i], want[i]) << "word " << i;
  EXPECT_EQ(sys->appliedFormat(), -1);
  // The live format before the resume is remembered when asked to.
  sys->resume(&saved, 1);
  EXPECT_EQ(sys->appliedFormat(), 9);
}

TEST_F(SystemCategoryTest, PredicatesAndGateFollowTheFieldFlag) {
  struct Case {
    int format, recallMode;
    u8 flag;
    bool field1, field0, clip, recall, gate;
  } cases[] = {
      {8, 0, 1, true, false, true, false, false},
      {8, 0, 0, false, true, false, true, true},
      {0, 2, 1, true, true, true, true, true},
      {0, 2, 0, true, true, false, false, false},
  };
  for (auto c : cases) {
    stored.format = static_cast<u8>(c.format);
    stored.recallPhaseMode = static_cast<u8>(c.recallMode);
    setField(c.flag);
    EXPECT_EQ(std::vector<bool>({sys->isFieldPhase(1), sys->isFieldPhase(0), sys->isClipPhase(), sys->isRecallPhase(),
                                 category::isSwitchingGateOpen()}),
              std::vector<bool>({c.field1, c.field0, c.clip, c.recall, c.gate}))
        << "format " << c.format << " flag " << int(c.flag);
  }
  stored.format = 6;
  stored.sdScale = 1;
  EXPECT_FLOAT_EQ(sys->sdAspectScale(), 0.84f);
}

}  // namespace
