// The system settings update in the categories that start-up creates: formats through the request
// ring down to the driver calls, genlock, phase, the change flag, the option buttons and the routing.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "Common/storage.h"
#include "Driver/core/core.h"
#include "Driver/genlock/genlock.h"
#include "Main/bus/bus.h"
#include "Main/key/dsk.h"
#include "Main/key/key.h"
#include "Main/memory/eventmem.h"
#include "Main/panel/led.h"
#include "Main/system/system.h"
#include "Platform/board.h"
#include "Platform/genlock_model.h"
#include "Platform/vsync.h"
#include "tests/Main/category_fixture.h"
#include "tests/Main/transition/engine_fixture.h"

namespace {

using category::CategorySystem;
using transition_test::calls;
using transition_test::expectArgs;
using transition_test::last;
using S = MxifSystem;

class SystemUpdateTest : public test_categories::StartedSystemTest {
 protected:
  void SetUp() override {
    StartedSystemTest::SetUp();
    peer.readPackets();
    calllog::enable(true);
  }
  void TearDown() override {
    calllog::enable(false);
    StartedSystemTest::TearDown();
  }
  static CategorySystem& sys() { return CategorySystem::instance(); }
  static S& live() { return sys().record(0); }

  // Sends the request through the ring; the next frame takes and applies it. Returns what that
  // frame reported of the system record.
  std::vector<S> request(const S& r) {
    peer.sendPacket(S::TYPE_INDEX, testing_support::textRecordBytes(r));
    return frame();
  }
  std::vector<S> frame() {
    calllog::clear();
    std::vector<S> out;
    for (const auto& p : frameSends(S::TYPE_INDEX)) {
      S r{};
      libmx::WireIn in(p.body.data(), p.body.size());
      EXPECT_TRUE(libmx::readTextRecord(in, r));
      out.push_back(r);
    }
    return out;
  }
  static S format(int f, int sdScale = -1) {
    S r{};
    r.videoMask = S::FORMAT;
    r.format = static_cast<u8>(f);
    if (sdScale >= 0) r.videoMask |= S::SD_SCALE, r.sdScale = static_cast<u8>(sdScale);
    return r;
  }
  static size_t count(const char* setter) { return calls(setter).size(); }
  // Runs the routing step; the target and source of each call of the setter.
  static std::vector<std::pair<int, int>> route(const char* setter) {
    calllog::clear();
    sys().routeOutputs();
    std::vector<std::pair<int, int>> out;
    for (const auto& c : calls(setter)) out.emplace_back(c.target, static_cast<int>(c.args[0]));
    return out;
  }
};

TEST_F(SystemUpdateTest, FormatChangeByFamily) {
  struct Case {
    int to, sdScale, code;
    float scale;
    size_t stillClears;
    u32 period;
  } cases[] = {
      {8, -1, 0, 1.0f, 0, 16666},  // same family: the clips reset, the stills kept
      {4, -1, 2, 1.0f, 1, 16666},
      {6, 1, 4, 0.75f, 1, 16666},
      {1, -1, 1, 1.0f, 0, 20000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.to);
    request(format(0, 0));
    request(format(c.to, c.sdScale));
    ASSERT_EQ(count("mxSetVideoFormat"), 1u);
    EXPECT_EQ(last("mxSetVideoFormat").target, c.code);
    expectArgs(last("mxSetVideoFormat"), {c.scale});
    EXPECT_EQ(count("mxFrameClearStills"), c.stillClears);
    EXPECT_EQ(count("mxClipStop"), 4u);
    EXPECT_EQ(platform::regPeek(0x40000014), 50 * c.period - 50000);
    EXPECT_EQ(platform::vsyncPeriodUs(), c.period);
    EXPECT_EQ(sys().formatChanged(), 1);
    frame();
    EXPECT_EQ(sys().formatChanged(), 0);
    EXPECT_EQ(count("mxSetVideoFormat"), 0u);
  }
}

TEST_F(SystemUpdateTest, ModeChangeIsStoredAtOnceAndAppliedByTheNextUpdate) {
  Storage& storage = Storage::instance();
  request(format(3));
  S mode{};
  mode.videoMask = S::MODE;
  mode.mode = 2;
  peer.sendPacket(S::TYPE_INDEX, testing_support::textRecordBytes(mode));
  reg().receiveAll();
  EXPECT_EQ(storage.readWord(STORAGE_BOARD_MODE), 258u);
  frame();
  EXPECT_EQ(last("mxSetVideoFormat").target, 12);
  EXPECT_EQ(testing_support::consoleCount("Invalid Video format 12 in 0 mode"), 1);
  EXPECT_EQ(mxVideoFormat(), 6);  // format 3's code 6 stays until the next start
  storage.writeWord(STORAGE_BOARD_MODE_MARKER, 0);
  storage.writeWord(STORAGE_BOARD_MODE, 0);
}

// A presented format is applied by one update, however long its report waits: under the 16-phase
// rotation of the event memory, and while the output stream does not drain.
TEST_F(SystemUpdateTest, PresentedFormatIsAppliedOnceWhileItsReportWaits) {
  MxifEventMemory& events = category::CategoryEventMemory::instance().record(0);
  for (bool rotation : {true, false}) {
    SCOPED_TRACE(rotation ? "rotation" : "held back");
    request(format(0));
    events.enable = events.linkedMe = rotation ? 1 : 0;
    if (!rotation) {
      for (u32 i = 0; i < 0x30000; ++i) AcknowledgeSender::instance().stream().write(0);
    }
    peer.sendPacket(S::TYPE_INDEX, testing_support::textRecordBytes(format(8)));
    calllog::clear();
    for (int n = 0; n < 6; ++n) runFrame(0);
    EXPECT_EQ(count("mxSetVideoFormat"), 1u);
    EXPECT_EQ(count("mxClipStop"), 4u);
    EXPECT_EQ(count("mxFrameClearStills"), 0u);
    EXPECT_EQ(sys().formatChanged(), 0);
    events.enable = events.linkedMe = 0;
    AcknowledgeSender::instance().reset();
    peer.reset();
    reg().resetLinkState();
  }
}

TEST_F(SystemUpdateTest, GenlockReferenceAndSetupByFormat) {
  struct Case {
    int format, reference, setup;
    u32 corrected;  // presence bits of what the format corrected
    int wantReference, wantSetup, sync;
  } cases[] = {
      {2, 1, 1, 3, 2, 0, MX_GENLOCK_TRI},
      {6, 1, 1, 1, 0, 1, MX_GENLOCK_BBST},
      {0, 1, 0, 0, 1, 0, MX_GENLOCK_BBST2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    live().genlockReference = static_cast<u8>(c.reference);
    live().genlockSetup = static_cast<u8>(c.setup);
    const auto reports = request(format(c.format));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].genlockMask & 3u, c.corrected);
    EXPECT_EQ(reports[0].genlockReference, c.wantReference);
    EXPECT_EQ(reports[0].genlockSetup, c.wantSetup);
    EXPECT_EQ(last("mxGenlockSetMode").target, MX_GENLOCK_EXTERNAL);
    expectArgs(last("mxGenlockSetMode"), {static_cast<float>(c.sync), MX_GENLOCK_NO_SETUP});
  }
}

TEST_F(SystemUpdateTest, LockStateIsReportedAndLoggedOnChangeOnly) {
  testing_support::consoleClear();
  mxGenlockReset();  // the detector set up for black burst in format 0, as a start leaves it
  for (int n = 0; n < 1000 && mxGenlockIsLocked() == 0; ++n) mxGenlockUpdate(1);
  ASSERT_EQ(mxGenlockIsLocked(), 1);
  struct Step {
    bool present;
    const char* report;  // null: nothing reported
    int locks, unlocks;   // lines logged so far
  } steps[] = {{true, "Locked", 1, 0}, {true, nullptr, 1, 0}, {false, "Unlocked", 1, 1}, {false, nullptr, 1, 1}};
  for (const Step& s : steps) {
    platform::genlockReference().setPresent(s.present);
    mxGenlockUpdate(1);
    const auto reports = frame();
    ASSERT_EQ(reports.size(), s.report != nullptr ? 1u : 0u);
    if (s.report != nullptr) {
      EXPECT_EQ(reports[0].genlockMask, S::GENLOCK_STATUS);
      EXPECT_STREQ(reinterpret_cast<const char*>(reports[0].genlockStatus.chars), s.report);
    }
    EXPECT_EQ(testing_support::consoleCount("[WARN] GenLock:LOCK"), s.locks);
    EXPECT_EQ(testing_support::consoleCount("[WARN] GenLock:UNLOCK"), s.unlocks);
  }
}

TEST_F(SystemUpdateTest, PhaseInSamplesOfTheFormatsLine) {
  // Format, percent, samples (rounded half away from zero: 16.5 is 17), lines.
  const int cases[][4] = {{0, -25, -550, 3}, {6, 1, 9, 3}, {4, 1, 17, 3}};
  for (const auto& c : cases) {
    S r = format(c[0]);
    r.phaseMask = S::HORIZONTAL_PHASE | S::VERTICAL_OFFSET | S::VERTICAL_PHASE;
    r.horizontalPhase = static_cast<s16>(c[1]);
    r.verticalOffset = 1;
    r.verticalPhase = 2;
    request(r);
    expectArgs(last("mxGenlockSetPhase"), {static_cast<float>(c[2]), static_cast<float>(c[3])});
  }
}

// The colour backgrounds and the key and DSK edges re-apply everything only in the frame that
// applies a format; otherwise a colour background applies what its request carried.
TEST_F(SystemUpdateTest, ChangeFlagReappliesFormatDependentSettings) {
  auto keyAndDskEdges = [] {
    int keys = 0, dsks = 0;
    for (const auto& c : calls("mxKeySetEdge")) (c.target >= MX_DSK1 ? dsks : keys) += 1;
    return std::vector<int>{keys, dsks};
  };
  frame();
  EXPECT_EQ(count("mxCbgdSetColors") + count("mxCbgdSetMode") + count("mxKeySetEdge"), 0u);
  MxifCbgd colour{};
  colour.mask = 1u << MxifCbgd::BIT_COLOR1;
  colour.color1[1] = 500;
  peer.send(colour);
  frame();
  EXPECT_EQ(count("mxCbgdSetColors"), 1u);
  EXPECT_EQ(count("mxCbgdSetMode") + count("mxCbgdSetWashRange") + count("mxKeySetEdge"), 0u);
  request(format(8));
  EXPECT_EQ(count("mxCbgdSetColors"), 2u);
  EXPECT_EQ(count("mxCbgdSetMode"), 2u);
  EXPECT_EQ(count("mxCbgdSetWashRange"), 2u);
  EXPECT_EQ(keyAndDskEdges(), (std::vector<int>{16, 4}));
  frame();
  EXPECT_EQ(count("mxCbgdSetColors") + count("mxKeySetEdge"), 0u);
}

TEST_F(SystemUpdateTest, OptionButtonsToggleAndLightTheMainPanelLamp) {
  auto button = [&](int code, int panel, int state) {
    internal::MxifButtonEvent ev{};
    ev.code = static_cast<u16>(code), ev.panel = static_cast<u8>(panel), ev.me = 4, ev.state = static_cast<u8>(state);
    peer.send(ev);
    frame();
  };
  auto lamp = [](int code) { return category::CategoryLed::instance().ledRequest(0, code); };
  live().display.toggle1 = 0;
  button(2006, 1, 1);
  EXPECT_EQ(live().display.toggle1, 1);
  EXPECT_EQ(lamp(2906), 0);
  button(2006, 1, 0);
  button(2006, 0, 1);
  EXPECT_EQ(live().display.toggle1, 0);
  EXPECT_EQ(lamp(2906), 2);
  frame();
  EXPECT_EQ(lamp(2906), 2);
  button(2006, 0, 0);
  EXPECT_EQ(lamp(2906), 0);
  button(2013, 0, 1);
  EXPECT_EQ(std::vector<int>({live().display.toggle2, lamp(2913), lamp(2906)}), std::vector<int>({1, 2, 0}));
  button(2013, 0, 0);
}

using Routes = std::vector<std::pair<int, int>>;

TEST_F(SystemUpdateTest, MultiviewInputs) {
  const int want[] = {4499, 4512, 4516, 4520, 4524, 4513, 4517, 4521, 4525, 4544, 4546};
  for (int v = 0; v <= 10; ++v) {
    live().multiviewSource[3] = static_cast<u8>(v);
    EXPECT_EQ(route("mxSetMultiviewSource").at(3), std::make_pair(static_cast<int>(MX_MULTI4), want[v])) << v;
  }
}

TEST_F(SystemUpdateTest, MeOutputsByRoutingModeKeySelectAndOnAir) {
  struct Case {
    int mode, keySelect, onAir, programBus;
    int output1, output2;
  } cases[] = {
      {2, 2, 1, 0, MX_KEY2, MX_KEY2}, {2, 2, 0, 0, MX_BLACK, MX_BLACK}, {1, 2, 0, 0, MX_KEY2, MX_KEY2},
      {1, 0, 0, 0, MX_ABUS, MX_BBUS}, {2, 0, 0, 1, MX_BBUS, MX_ABUS},   {0, 2, 1, 0, MX_BLACK, MX_BLACK},
  };
  MxifSystemAncillary& a = live().ancillary;
  a.perMeKeySelect = 1;
  for (const Case& c : cases) {
    a.meOutput1Mode = a.meOutput2Mode = static_cast<u8>(c.mode);
    a.meKeySelect[1] = static_cast<u8>(c.keySelect);
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

}  // namespace
