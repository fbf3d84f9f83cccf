// The system settings: format tables, the category alone and its update among the categories that
// start-up creates (formats, genlock, phase, routing); the initial status; the test patterns.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "Common/storage.h"
#include "Driver/calllog.h"
#include "Driver/core/core.h"
#include "Driver/genlock/genlock.h"
#include "Main/bus/bus.h"
#include "Main/key/dsk.h"
#include "Main/key/key.h"
#include "Main/memory/eventmem.h"
#include "Main/panel/led.h"
#include "Main/system/system.h"
#include "Main/system/testpattern.h"
#include "Platform/board.h"
#include "Platform/genlock_model.h"
#include "Platform/vsync.h"
#include "tests/Main/category_fixture.h"
#include "tests/Main/transition/engine_fixture.h"
#include "tests/support/board_fixture.h"

namespace {

using category::CategorySystem;
using transition_test::calls;
using transition_test::expectArgs;
using transition_test::last;
using S = MxifSystem;

class SystemUpdateTest : public test_categories::StartedSystemTest {
 protected:
  void SetUp() override { StartedSystemTest::SetUp(), peer.readPackets(); }
  transition_test::CallLog log;
  static CategorySystem& sys() { return CategorySystem::instance(); }
  static S& live() { return sys().record(0); }

  // Sends the request through the ring; the next frame takes and applies it. Returns what that
  // frame reported of the system record.
  std::vector<S> request(const S& r) {
    peer.sendText(r);
    return frame();
  }
  std::vector<S> frame() {
    calllog::clear();
    std::vector<S> out;
    for (const auto& p : frameSends(S::TYPE_INDEX)) out.push_back(p.asText<S>());
    return out;
  }
  static S format(int f, int sdScale = -1) {
    S r{};
    r.videoMask = S::FORMAT, r.format = static_cast<u8>(f);
    if (sdScale >= 0) r.videoMask |= S::SD_SCALE, r.sdScale = static_cast<u8>(sdScale);
    return r;
  }
  static size_t count(const char* setter) { return calls(setter).size(); }
  // Runs the routing step; the target and source of each call of the setter.
  static std::vector<std::pair<int, int>> route(const char* setter) {
    calllog::clear(), sys().routeOutputs();
    std::vector<std::pair<int, int>> out;
    for (const auto& c : calls(setter)) out.emplace_back(c.target, static_cast<int>(c.args[0]));
    return out;
  }
};

TEST_F(SystemUpdateTest, FormatChangeByFamily) {
  struct Case { int to, sdScale, code; float scale; size_t stillClears; u32 period; } cases[] = {
      {8, -1, 0, 1.0f, 0, 16666},  // same family: the clips reset, the stills kept
      {4, -1, 2, 1.0f, 1, 16666}, {6, 1, 4, 0.75f, 1, 16666}, {1, -1, 1, 1.0f, 0, 20000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.to);
    request(format(0, 0));
    request(format(c.to, c.sdScale));
    ASSERT_EQ(count("mxSetVideoFormat"), 1u);
    EXPECT_EQ(last("mxSetVideoFormat").target, c.code);
    expectArgs(last("mxSetVideoFormat"), {c.scale});
    EXPECT_EQ(std::tuple(count("mxFrameClearStills"), count("mxClipStop"), platform::regPeek(0x40000014),
                         platform::vsyncPeriodUs(), sys().formatChanged()),
              std::tuple(c.stillClears, 4u, 50 * c.period - 50000, c.period, 1));
    frame();
    EXPECT_EQ(std::tuple(sys().formatChanged(), count("mxSetVideoFormat")), std::tuple(0, 0u));
  }
}

TEST_F(SystemUpdateTest, ModeChangeIsStoredAtOnceAndAppliedByTheNextUpdate) {
  Storage& storage = Storage::instance();
  request(format(3));
  S mode{};
  mode.videoMask = S::MODE, mode.mode = 2, peer.sendText(mode), reg().receiveAll();
  EXPECT_EQ(storage.readWord(STORAGE_BOARD_MODE), 258u);
  frame();  // format 3's code 6 stays until the next start
  EXPECT_EQ(std::tuple(last("mxSetVideoFormat").target, testing_support::consoleCount("Invalid Video format 12 in 0 mode"), mxVideoFormat()),
            std::tuple(12, 1, 6));
  storage.writeWord(STORAGE_BOARD_MODE_MARKER, 0), storage.writeWord(STORAGE_BOARD_MODE, 0);
}

// A presented format is applied by one update, however long its report waits: under the 16-phase
// rotation of the event memory, and while the output stream does not drain.
TEST_F(SystemUpdateTest, PresentedFormatIsAppliedOnceWhileItsReportWaits) {
  MxifEventMemory& events = category::CategoryEventMemory::instance().record(0);
  for (bool rotation : {true, false}) {
    SCOPED_TRACE(rotation ? "rotation" : "held back");
    request(format(0));
    events.enable = events.linkedMe = rotation ? 1 : 0;
    for (u32 i = 0; !rotation && i < 0x30000; ++i) AcknowledgeSender::instance().stream().write(0);
    peer.sendText(format(8));
    calllog::clear();
    for (int n = 0; n < 6; ++n) runFrame(0);
    EXPECT_EQ(std::tuple(count("mxSetVideoFormat"), count("mxClipStop"), sys().formatChanged()), std::tuple(1u, 4u, 0));
    events.enable = events.linkedMe = 0, AcknowledgeSender::instance().reset(), peer.reset(), reg().resetLinkState();
  }
}

TEST_F(SystemUpdateTest, GenlockReferenceAndSetupByFormat) {
  // corrected: the presence bits of what the format corrected.
  struct Case { int format, reference, setup; u32 corrected; int wantReference, wantSetup, sync; } cases[] = {
      {2, 1, 1, 3, 2, 0, MX_GENLOCK_TRI}, {6, 1, 1, 1, 0, 1, MX_GENLOCK_BBST}, {0, 1, 0, 0, 1, 0, MX_GENLOCK_BBST2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    live().genlockReference = static_cast<u8>(c.reference), live().genlockSetup = static_cast<u8>(c.setup);
    const auto reports = request(format(c.format));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(std::tuple(reports[0].genlockMask & 3u, int{reports[0].genlockReference}, int{reports[0].genlockSetup}),
              std::tuple(c.corrected, c.wantReference, c.wantSetup));
    EXPECT_EQ(last("mxGenlockSetMode").target, MX_GENLOCK_EXTERNAL);
    expectArgs(last("mxGenlockSetMode"), {static_cast<float>(c.sync), MX_GENLOCK_NO_SETUP});
  }
}

TEST_F(SystemUpdateTest, LockStateIsReportedAndLoggedOnChangeOnly) {
  testing_support::consoleClear();
  mxGenlockReset();  // the detector set up for black burst in format 0, as a start leaves it
  for (int n = 0; n < 1000 && mxGenlockIsLocked() == 0; ++n) mxGenlockUpdate(1);
  ASSERT_EQ(mxGenlockIsLocked(), 1);
  // Reference present, the report (null: none), the lines logged so far.
  struct Step { bool present; const char* report; int locks, unlocks; } steps[] = {{true, "Locked", 1, 0}, {true, nullptr, 1, 0}, {false, "Unlocked", 1, 1}, {false, nullptr, 1, 1}};
  for (const Step& s : steps) {
    platform::genlockReference().setPresent(s.present);
    mxGenlockUpdate(1);
    const auto reports = frame();
    ASSERT_EQ(reports.size(), s.report != nullptr ? 1u : 0u);
    if (s.report != nullptr) { EXPECT_STREQ(reinterpret_cast<const char*>(reports[0].genlockStatus.chars), s.report); }
    EXPECT_EQ(std::tuple(testing_support::consoleCount("[WARN] GenLock:LOCK"), testing_support::consoleCount("[WARN] GenLock:UNLOCK")),
              std::tuple(s.locks, s.unlocks));
  }
}

TEST_F(SystemUpdateTest, PhaseInSamplesOfTheFormatsLine) {
  // Format, percent, samples (rounded half away from zero: 16.5 is 17), lines.
  const int cases[][4] = {{0, -25, -550, 3}, {6, 1, 9, 3}, {4, 1, 17, 3}};
  for (const auto& c : cases) {
    S r = format(c[0]);
    r.phaseMask = S::HORIZONTAL_PHASE | S::VERTICAL_OFFSET | S::VERTICAL_PHASE;
    r.horizontalPhase = static_cast<s16>(c[1]), r.verticalOffset = 1, r.verticalPhase = 2;
    request(r);
    expectArgs(last("mxGenlockSetPhase"), {static_cast<float>(c[2]), static_cast<float>(c[3])});
  }
}

// The colour backgrounds and the key and DSK edges re-apply everything only in the frame that
// applies a format; otherwise a colour background applies what its request carried.
TEST_F(SystemUpdateTest, ChangeFlagReappliesFormatDependentSettings) {
  frame();
  EXPECT_EQ(count("mxCbgdSetColors") + count("mxCbgdSetMode") + count("mxKeySetEdge"), 0u);
  MxifCbgd colour{};
  colour.mask = 1u << MxifCbgd::BIT_COLOR1, colour.color1[1] = 500, peer.send(colour), frame();
  EXPECT_EQ(std::pair(count("mxCbgdSetColors"), count("mxCbgdSetMode") + count("mxCbgdSetWashRange") + count("mxKeySetEdge")), std::pair(size_t{1}, size_t{0}));
  request(format(8));
  EXPECT_EQ(std::tuple(count("mxCbgdSetColors"), count("mxCbgdSetMode"), count("mxCbgdSetWashRange")), std::tuple(2u, 2u, 2u));
  const auto edges = calls("mxKeySetEdge");  // 16 keys, 4 DSKs
  EXPECT_EQ(std::pair(std::count_if(edges.begin(), edges.end(), [](const calllog::Call& c) { return c.target >= MX_DSK1; }), edges.size()),
            std::pair(4l, 20ul));
  frame();
  EXPECT_EQ(count("mxCbgdSetColors") + count("mxKeySetEdge"), 0u);
}

// The toggles themselves are the button tests'; here the lamp of the main panel.
TEST_F(SystemUpdateTest, OptionButtonsToggleTheDisplayOptionsAndLightTheMainPanelLamp) {
  auto button = [&](int code, int panel, int state, int me = 4) {
    peer.send(test_categories::buttonEvent(code, me, state, panel)), frame();
  };
  const MxifSystemDisplay& d = live().display;
  struct Step { int code, me, panel; u8 toggle1, toggle2; } steps[] = {  // toggles after the press
      {2006, 4, 0, 1, 0}, {2013, 9, 2, 1, 1}, {2006, 4, 0, 0, 1},
      {2006, 3, 0, 0, 1}, {2013, 4, 3, 0, 1}};  // a press naming an ME or from panel 3: nothing
  for (const auto& s : steps) {
    button(s.code, s.panel, 1, s.me);
    EXPECT_EQ(std::tuple(d.toggle1, d.toggle2), std::tuple(s.toggle1, s.toggle2)) << s.code << " ME " << s.me;
  }
  auto lamp = [](int code) { return category::CategoryLed::instance().ledRequest(0, code); };
  button(2006, 0, 0);
  live().display.toggle1 = live().display.toggle2 = 0, button(2006, 1, 1);  // another panel: no lamp
  EXPECT_EQ(lamp(2906), 0);
  button(2006, 1, 0), button(2006, 0, 1), frame();
  EXPECT_EQ(lamp(2906), 2);
  button(2006, 0, 0), button(2013, 0, 1);
  EXPECT_EQ(std::pair(lamp(2913), lamp(2906)), std::pair(2, 0));
}

using Routes = std::vector<std::pair<int, int>>;

TEST_F(SystemUpdateTest, MeOutputsByRoutingModeKeySelectAndOnAir) {
  struct Case { int mode, keySelect, onAir, programBus; int output1, output2; } cases[] = {
      {2, 2, 1, 0, MX_KEY2, MX_KEY2}, {2, 2, 0, 0, MX_BLACK, MX_BLACK}, {1, 2, 0, 0, MX_KEY2, MX_KEY2},
      {1, 0, 0, 0, MX_ABUS, MX_BBUS}, {2, 0, 0, 1, MX_BBUS, MX_ABUS},   {0, 2, 1, 0, MX_BLACK, MX_BLACK}};
  MxifSystemAncillary& a = live().ancillary;
  a.perMeKeySelect = 1;
  for (const Case& c : cases) {
    a.meOutput1Mode = a.meOutput2Mode = static_cast<u8>(c.mode), a.meKeySelect[1] = static_cast<u8>(c.keySelect);
    category::CategoryKey::instance()[1].record(1).onAir = static_cast<u8>(c.onAir);
    category::CategoryBus::instance()[1].record(0).programBus = static_cast<u8>(c.programBus);
    const Routes all = route("mxSetMeOutputSource");  // AUX 1, then two outputs of each ME
    ASSERT_EQ(all.size(), 9u);
    EXPECT_EQ(Routes(all.begin() + 3, all.begin() + 5), (Routes{{5120, c.output1}, {5121, c.output2}})) << &c - cases;
    EXPECT_EQ(calls("mxSetMeOutputSource")[3].context, MX_CONTEXT_ME2);
  }
}

TEST_F(SystemUpdateTest, DskStagesByModeAndOnAir) {
  const int cases[][4] = {  // mode, DSK 2 on air, stages from sources 2 and 0
      {1, 0, MX_DSK2, MX_BKGD}, {2, 1, MX_DSK2, MX_BKGD}, {2, 0, MX_BLACK, MX_BKGD}, {0, 1, MX_BLACK, MX_BLACK}};
  live().ancillary.dskStageSource[0] = 2;
  for (const auto& c : cases) {
    live().ancillary.dskStageMode = static_cast<u8>(c[0]);
    category::CategoryDsk::instance().record(1).onAir = static_cast<u8>(c[1]);
    EXPECT_EQ(route("mxSetDskOutputSource"), (Routes{{4544, c[2]}, {4546, c[3]}, {4545, c[2]}, {4547, c[3]}})) << c[0];
  }
}

// Initial status 1 lasts one status turn: the next message reports it cleared.
TEST_F(SystemUpdateTest, InitialStatus1LastsOneTurn) {
  using Initial = internal::MxifInitialStatus;
  Initial r{};
  r.mask = 0x11, r.status1 = 7, r.status5 = 1, peer.send(r);
  ASSERT_EQ(frameSends(Initial::TYPE_INDEX).size(), 1u);
  EXPECT_TRUE(frameSends(Initial::TYPE_INDEX).empty());  // nothing further without a message
  peer.send(Initial{});
  const auto sent = frameSends(Initial::TYPE_INDEX);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(std::tuple(sent[0].as<Initial>().status1, sent[0].as<Initial>().status5), std::tuple(0, 1));
}

using category::CategoryRegistry;

struct TestSystem : category::CategorySystem {};  // a fresh instance per test

// Stands in for the bus category of one ME: counts refresh requests.
struct FakeBus : test_categories::StubCategory, category::BusRefreshTarget {
  FakeBus() : StubCategory(category::TYPE_BUS, "MxifBus") {}
  int refreshRequests = 0;
  void requestRefresh() override { ++refreshRequests; }
};

class SystemCategoryTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp(), CategoryRegistry::instance().reset(), AcknowledgeSender::instance().reset();
    sys = std::make_unique<TestSystem>(), sys->bindStorage(&stored), sys->initialize();
  }
  void TearDown() override { CategoryRegistry::instance().reset(), vsyncReset(); }
  // Assigns a request with the given fields set.
  template <class Fill>
  void assign(Fill fill) {
    MxifSystem req{};
    fill(req), sys->assign(req, 0);
  }

  MxifSystem stored{};
  std::unique_ptr<TestSystem> sys;
};

TEST_F(SystemCategoryTest, ModeChangeWritesTheStorageWordsOnceARepeatWritesNone) {
  Storage& storage = Storage::instance();
  const std::pair<int, bool> steps[] = {{2, true}, {2, false}, {0, true}, {0, false}, {7, true}};  // mode, written
  for (auto [mode, written] : steps) {
    storage.writeWord(STORAGE_BOARD_MODE_MARKER, 0), storage.writeWord(STORAGE_BOARD_MODE, 0);
    assign([m = mode](MxifSystem& r) { r.videoMask = MxifSystem::MODE, r.mode = static_cast<u8>(m); });
    EXPECT_EQ(std::tuple(storage.readWord(STORAGE_BOARD_MODE_MARKER), storage.readWord(STORAGE_BOARD_MODE), int{stored.mode}),
              std::tuple(written ? BOARD_MODE_MARKER : 0u, written ? mode + 256u : 0u, mode))
        << mode;
  }
}

TEST_F(SystemCategoryTest, AppliedAndPreviousFormat) {
  // Requested, then applied; the previous format stays the one before the first change.
  const int steps[][2] = {{4, 4}, {8, 8}, {12, 8}, {6, 6}};
  for (auto [format, applied] : steps) {
    assign([f = format](MxifSystem& r) {  // the offset still lands beside a refused format
      r.videoMask = MxifSystem::FORMAT, r.format = static_cast<u8>(f), r.phaseMask = MxifSystem::VERTICAL_OFFSET, r.verticalOffset = 1;
    });
    EXPECT_EQ(std::tuple(int{sys->appliedFormat()}, int{sys->previousFormat()}, int{stored.format}, int{stored.verticalOffset}),
              std::tuple(applied, 0, applied, 1))
        << format;
  }
  EXPECT_EQ(sys->formatChanged(), 1);
}

TEST_F(SystemCategoryTest, BusRefreshReachesEveryMe) {
  FakeBus me0, me1;  // MEs 2 and 3 have no instance: the ME 0 one stands in
  const int cases[][3] = {{0, 0, 0}, {1, 3, 1}, {2, 0, 0}};  // value, requests of ME 0 and ME 1
  for (auto [value, req0, req1] : cases) {
    me0.refreshRequests = me1.refreshRequests = 0;
    assign([v = value](MxifSystem& r) { r.mask = MxifSystem::BUS_REFRESH, r.busRefresh = static_cast<u8>(v); });
    EXPECT_EQ(std::pair(me0.refreshRequests, me1.refreshRequests), std::pair(req0, req1)) << value;
  }
}

namespace patterns {

using namespace category;

// The calls of the test patterns' setters in the driver call log, as "name context target arguments".
// The backgrounds update first and note their own dust calls every frame: the list starts at the
// test's first setter on ME 1's context.
std::vector<std::string> calls() {
  static const std::map<std::string, std::string> NAMES{
      {"mxTransSetPatternSize", "size"},  {"mxTransSetModulation", "mod"}, {"mxTransSetModulationPattern", "pattern"},
      {"mxKeySetSoftMask", "soft"},       {"mxFilterSetDust", "dust"},     {"mxFilterSetBusGain", "gain"},
      {"mxFilterSetBusMode", "busMode"}};
  std::vector<std::string> out;
  for (const calllog::Call& c : transition_test::calls()) {
    if (NAMES.count(c.function) == 0) continue;
    std::ostringstream s;
    s << NAMES.at(c.function) << ' ' << c.context << ' ' << c.target;
    for (int a = 0; a < c.count; ++a) s << ' ' << c.args[a];
    const std::string line = s.str();
    if (!out.empty() || line.rfind("size 12816 5632 ", 0) == 0 || line.rfind("pattern 12816 4613 ", 0) == 0) out.push_back(line);
  }
  return out;
}

class TestPatternTest : public test_categories::StartedSystemTest {
 protected:
  transition_test::CallLog log;
  // Sends entries 0.. of a channel of an ME and runs a frame.
  void sendValues(int me, int channel, std::vector<int> values) {
    MxifTest r{};
    r.me = static_cast<u8>(me), r.channel = static_cast<u16>(channel);
    for (size_t n = 0; n < values.size(); ++n) r.values[n] = static_cast<s16>(values[n]), r.valueMask |= 1u << n;
    peer.send(r), runFrame(0);
  }
  // The noted calls of one setter on ME 1's context.
  static std::vector<std::string> callsOf(const std::string& fn) {
    std::vector<std::string> out;
    for (const auto& c : calls())
      if (c.rfind(fn + " 12816 ", 0) == 0) out.push_back(c.substr(fn.size() + 7));
    return out;
  }
};

TEST_F(TestPatternTest, OnlyChannel0OfMe1SetsEveryMeWithValuesInTheDriversRanges) {
  for (int me : {0, 2, 3}) sendValues(me, 0, {1});
  sendValues(1, 5, {1});
  EXPECT_TRUE(calls().empty());  // only channel 0 of ME 1 counts
  sendValues(1, 0, {1});
  const auto all = calls();
  ASSERT_EQ(all.size(), 4u * 15);  // per ME: 5 sizes, 2 dusts, 2 gains, 4 soft masks, 2 bus modes
  for (int me = 0; me < 4; ++me) EXPECT_EQ(all[15 * me].substr(0, 10), "size " + std::to_string(12816 + me));
  // The values sent, the setter, the target and arguments of its first calls on ME 1's context, its calls there.
  struct Case { std::vector<int> values; const char* fn; std::vector<std::string> expected; size_t count; } cases[] = {
      {{1, 7}, "size", {"5632 0.125 0.125 3 3", "4613 0.125 0.125 3 3"}, 5},  // size 7: the largest, 3
      {{1, -2}, "size", {"5632 1 1 0 0"}, 5},
      {{1, 0, 0, 9}, "dust", {"5632 0 0 9", "4613 0 0 9"}, 2},
      {{1, 0, 25, 3}, "dust", {"5632 1 0.25 3", "4613 1 0.25 3"}, 2},
      {{1, 0, 150, 20}, "dust", {"5632 1 1 15"}, 2},
      {{1, 0, 0, 0, 50}, "gain", {"4608 1 0.5", "4609 1 0.5"}, 2},
      {{1, 0, 0, 0, 0, 10, 20, 30, 40, 25}, "soft", {"4613 0.1 0.2 0.3 0.4 0.25", "4615 0.1 0.2 0.3 0.4 0.25"}, 4},
      {{1, 0, 0, 0, 0, 150, -5, 100, 0, 0}, "soft", {"4613 1 0 1 0 0"}, 4},
      {{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 2}, "busMode", {"4608 1 1", "4609 1 0"}, 2},
      {{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1}, "busMode", {"4608 0 0", "4609 1 1"}, 2},
      {{2, 20, 30, 50, 7, 0, 1, 25, 100}, "mod", {"4613 5408 0.2 50 0.25", "4613 5409 0.3 7 1"}, 10},
      {{2, 80, -10, 150, -3, 0, 0, 120, -1}, "mod", {"4613 5408 0.5 100 1", "4613 5409 0 0 0"}, 10},
      {{2, 0, 0, 0, 0, 5, 0}, "pattern", {"4613 5408 5411", "4613 5409 5410", "4615 5408 5411"}, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.fn << " " << c.values[1]);
    calllog::clear(), sendValues(1, 0, c.values);
    const auto got = callsOf(c.fn);
    ASSERT_EQ(got.size(), c.count);
    EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + c.expected.size()), c.expected);
  }
  // The background comes last in the wipe-modulation mode; leaving a mode writes nothing.
  EXPECT_EQ(callsOf("pattern").back(), "5632 5409 5410");
  calllog::clear(), sendValues(1, 0, {0});
  EXPECT_TRUE(calls().empty());
}

}  // namespace patterns
}  // namespace
