// The background of an ME in the started system: requests, buttons, per-frame settings, program bus.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <tuple>
#include <vector>

#include "Driver/blocks.h"
#include "Driver/core/core.h"
#include "Driver/filter/regs.h"
#include "Driver/transition/regs.h"
#include "Main/bkgd/bkgd.h"
#include "Main/bkgd/bkgdwipe.h"
#include "Main/fader/faderevent.h"
#include "Main/key/imageflags.h"
#include "Main/system/system.h"
#include "Platform/platform.h"
#include "tests/Main/category_fixture.h"

namespace {

using category::CategoryBkgd;
using testing_support::consoleCount;
using Event = internal::MxifButtonEvent;

class BkgdTest : public test_categories::StartedSystemTest {
 protected:
  static CategoryBkgd& bkgd(int me = 0) { return CategoryBkgd::instance()[me]; }
  static MxifBkgd& live(int me = 0) { return bkgd(me).record(0); }
  static AutoTransition& tracker(int me = 0) { return bkgd(me).autoTransition(); }

  // Runs a frame and returns the last packet of the type for ME me that it sent (me 255: none).
  template <class R>
  R frameEcho(int me = 0) {
    runFrame(0);
    R echo{};
    echo.me = 255;
    for (const auto& p : peer.readPackets()) {
      if (p.type == R::TYPE_INDEX && p.as<R>().me == me) echo = p.as<R>();
    }
    return echo;
  }
  // Sends ME 0 a background request (and with request, runs a frame and returns the echo).
  void send(const std::function<void(MxifBkgd&)>& set) {
    MxifBkgd r;
    set(r);
    peer.send(r);
  }
  MxifBkgd request(const std::function<void(MxifBkgd&)>& set) {
    send(set);
    return frameEcho<MxifBkgd>();
  }
  void press(int code, int panel, u8 state = Event::PRESSED, int me = 0) {
    peer.send(test_categories::buttonEvent(code, me, state, panel));
    runFrame(0);
  }
  static u32 bkgdReg(u32 offset) { return platform::regPeek(mxMeBase(0) + trans::BKGD_BLOCK + offset); }
};

// Presence words of the head, mix, trans, border, link and status groups.
using Masks = std::array<u32, 6>;
Masks masks(const MxifBkgd& r) { return {r.mask, r.mixMask, r.trans.mask, r.borderMask, r.link.mask, r.statusMask}; }

// The rules that tie fields together: the limit sum, the nrMode toggle, symmetric edges, the linked
// selectors; two refusals log their values.
TEST_F(BkgdTest, RequestsTakeOnlyValidFieldsAndTheEchoCarriesThem) {
  constexpr u32 A = 1, B = 2, L = 4;
  struct Case { const char* what; std::function<void(MxifBkgd&)> set; Masks echoed; std::function<bool(const MxifBkgd&)> holds; };
  const Case cases[] = {
      {"limitStart 700 beside an unmarked limitEnd 500, a transition value",
       [](MxifBkgd& r) { r.trans = {0xA, 0, 5, 0, 700, 500}; }, {0, 0, 0x18, 0, 0, 0},
       [](const MxifBkgd& r) { return r.trans.limitStart == 700 && r.trans.limitEnd == 300 && r.trans.value == 0; }},
      {"limitEnd 900 beside limitStart 300", [](MxifBkgd& r) { r.trans = {0x10, 0, 0, 0, 300, 900}; },
       {0, 0, 0x18, 0, 0, 0}, [](const MxifBkgd& r) { return r.trans.limitStart == 100 && r.trans.limitEnd == 900; }},
      {"nrMode 2 from 0", [](MxifBkgd& r) { r.setNrMode(2); }, {2, 0, 0, 0, 0, 0},
       [](const MxifBkgd& r) { return r.nrMode == 1; }},
      {"nrMode 2 from 1", [](MxifBkgd& r) { r.setNrMode(2); }, {2, 0, 0, 0, 0, 0},
       [](const MxifBkgd& r) { return r.nrMode == 0; }},
      {"type 3, nam 1, hue 3600", [](MxifBkgd& r) {
         r.mixMask = 3, r.type = 3, r.nam = 1, r.mask = 1u << MxifBkgd::BIT_MIX_COLOR, r.mixColor[0] = 3600;
       }, {0, 2, 0, 0, 0, 0}, [](const MxifBkgd& r) { return r.nam == 1 && r.type == 0; }},
      {"symmetric edges", [](MxifBkgd& r) {
         const s16 e[4] = {-100, 0, 0, 0};
         r.setEdgeSymmetry(1), r.setEdges(e);
       }, {0x440, 0, 0, 0, 0, 0}, [](const MxifBkgd& r) { return r.edges[0] == -100 && r.edges[3] == 100; }},
      {"link on with A", [](MxifBkgd& r) { r.link = {A | L, 2, 0, 1}; }, {0, 0, 0, 0, A | B | L, 0},
       [](const MxifBkgd& r) { return r.link.selectB == 2; }},
      {"B while linked", [](MxifBkgd& r) { r.link = {B, 0, 3, 0}; }, {0, 0, 0, 0, A | B, 0},
       [](const MxifBkgd& r) { return r.link.selectA == 3; }},
      {"link off with A", [](MxifBkgd& r) { r.link = {A | L, 1, 0, 0}; }, {0, 0, 0, 0, A | L, 0},
       [](const MxifBkgd& r) { return r.link.selectA == 1 && r.link.selectB == 3; }},
  };
  for (const auto& c : cases) {
    const MxifBkgd echo = request(c.set);
    EXPECT_EQ(std::tuple(masks(echo), c.holds(echo)), std::tuple(c.echoed, true)) << c.what;
  }
  EXPECT_EQ(std::tuple(consoleCount("Main/bkgd/bkgd.cpp("), consoleCount("BAD Param. TYPE = 3"),
                       consoleCount("BAD Param. Hue = 3600, Sat = 0, Lum = 0"), int(live().trans.limitStart)),
            std::tuple(2, 1, 1, 100));
}

TEST_F(BkgdTest, ButtonsSetDirectionModesAndTheNextTransitionSelection) {
  request([](MxifBkgd& r) { r.nextKeyMask = 4, r.nextKey[2] = 1; });
  press(1608, 1);  // key 1 held on a sub panel
  press(1612, 0);
  const MxifBkgd echo = frameEcho<MxifBkgd>();
  EXPECT_EQ(std::tuple(echo.nextMask, echo.nextKeyMask), std::tuple(1u, 0xFu));
  EXPECT_EQ(std::vector<int>({live().nextBkgd, live().nextKey[0], live().nextKey[1], live().nextKey[2]}),
            std::vector<int>({1, 1, 0, 0}));
  // Releasing every button clears the latches only: key 1 no longer counts as held.
  press(3000, 0, Event::RELEASED, 7);
  press(3000, 2, Event::PRESSED, 7);  // names no ME, and acts on none
  EXPECT_EQ(live().nextKey[0], 1);
  press(1612, 0);
  EXPECT_EQ(std::tuple(live().nextBkgd, live().nextKey[0]), std::tuple(1, 0));

  struct Step { int code; u8 state; int direction, nrMode, partialOn, nam; } steps[] = {
               {1602, 1, 1, 0, 0, 0}, {1602, 0, 1, 0, 0, 0}, {1601, 1, 1, 1, 0, 0}, {1600, 1, 0, 1, 0, 0},
               {1601, 1, 0, 0, 0, 0}, {1604, 1, 0, 0, 1, 0}, {1605, 1, 0, 0, 1, 1}, {1605, 1, 0, 0, 1, 0},
               {1604, 1, 0, 0, 0, 0}};
  for (const auto& s : steps) {
    press(s.code, 0, s.state);
    EXPECT_EQ(std::vector<int>({live().direction, live().nrMode, live().partialOn, live().nam}),
              std::vector<int>({s.direction, s.nrMode, s.partialOn, s.nam}))
        << s.code << " state " << int(s.state);
  }
}

TEST_F(BkgdTest, EveryFrameSetsTheLimitsAndPartialEndOfTheAutoTransition) {
  request([](MxifBkgd& r) {
    r.trans = {0x18, 0, 0, 0, 100, 200};
    r.positionMask = 7, r.partialOn = 1, r.partialPosition = 2500, r.partialRate = 10, r.setDirection(1);
  });
  EXPECT_NEAR(tracker().limitStart, 0.1f, 1e-6f);
  EXPECT_NEAR(tracker().limitEnd, 0.8f, 1e-6f);
  EXPECT_EQ(tracker().hold, 1);
  EXPECT_NEAR(tracker().scale, 0.75f, 1e-6f);
  request([](MxifBkgd& r) { r.positionMask = 1, r.partialOn = 0; });
  EXPECT_EQ(std::tuple(tracker().hold, tracker().scale), std::tuple(0, 1.0f));
  tracker().hold = 1;  // partial again from elsewhere: the next frame takes the full end back
  runFrame(0);
  EXPECT_EQ(std::tuple(tracker().hold, tracker().scale), std::tuple(0, 1.0f));
}

TEST_F(BkgdTest, BorderColourAndFillReachTheTransitionBlock) {
  auto border = [&] {
    runFrame(0);
    for (int early = 0; early < 3; ++early) mxTransUpdate();  // the background's image lags two updates
    return std::vector<u32>({bkgdReg(trans::BORDER_Y), bkgdReg(trans::BORDER_CB), bkgdReg(trans::BORDER_CR)});
  };
  const s16 red[3] = {0, 1000, 1000};
  request([&](MxifBkgd& r) { r.setBorderColor(red); });
  EXPECT_EQ(border(), std::vector<u32>({250, 409, 960}));  // BT.709
  category::CategorySystem::instance().record(0).format = 6;
  EXPECT_EQ(border(), std::vector<u32>({326, 361, 960}));  // BT.601
  category::CategorySystem::instance().record(0).format = 0;
  request([&](MxifBkgd& r) {
    r.mixMask = 7, r.nam = 1, r.namCmix = 1, r.mask = 1u << MxifBkgd::BIT_MIX_COLOR;
    r.mixColor[0] = 1200, r.mixColor[1] = r.mixColor[2] = 1000;  // blue
  });
  EXPECT_EQ(border(), std::vector<u32>({127, 960, 471}));  // the colour mix's colour

  // A wipe under way shows its fill.
  request([](MxifBkgd& r) { r.mixMask = 1, r.type = 1, r.borderMask = 3, r.borderOn = 1, r.borderWidth = 20; });
  tracker().positionA = 0.5f;
  for (auto [source, code] : {std::pair(1, 1u), std::pair(2, 3u), std::pair(0, 0u)}) {
    request([&](MxifBkgd& r) { r.setBorderSource(static_cast<u8>(source)); });
    border();
    EXPECT_EQ(bkgdReg(trans::CONTROL) >> 2 & 3, code) << source;
  }
}

TEST_F(BkgdTest, DustOnlyWhileTheTransitionRunsAndNotInAFirstGroupWipe) {
  // Values the filter cannot take are brought into its range.
  request([](MxifBkgd& r) { r.dustMask = 0xF, r.dustOn = 1, r.dustGain = 5000, r.dustLevelOn = 1, r.dustLevel = 200; });
  struct Case { u8 type, kind; float position; bool on; } cases[] = {{0, 0, 0.5f, true}, {0, 0, 0.0f, false}, {0, 0, 1.0f, false}, {1, 0, 0.5f, false}, {1, 1, 0.5f, true}};
  for (const auto& c : cases) {
    request([&](MxifBkgd& r) { r.mixMask = 1, r.type = c.type, r.setPattern(0, c.kind); });
    tracker().positionA = c.position;
    runFrame(0);
    mxFilterUpdate();
    const u32 control = platform::regPeek(mxMeBase(0) + filter_regs::DUST_CONTROL1[0]);
    EXPECT_EQ((control & filter_regs::ACTIVE) != 0, c.on) << int(c.type) << "/" << int(c.kind) << " at " << c.position;
  }
}

TEST_F(BkgdTest, PresetSourceCheckAndImageFlagsReachTheEngine) {
  MxifBus bus{};
  for (int e : {0, 1}) bus.setEntry(e, category::CategoryBus::DIRECT + 220);  // colour backgrounds on both buses
  peer.send(bus);
  request([](MxifBkgd& r) { r.setPresetCheck(1); });
  EXPECT_EQ(bkgd().sourceNotReady(), 1);
  MxifInputVideo input{};
  input.mask = 0xC, input.state = 2, input.byte16 = 1;  // input 0: source 10
  peer.send(input);
  bus.setEntry(1, category::CategoryBus::DIRECT + 10);
  peer.send(bus);
  runFrame(0);
  EXPECT_EQ(bkgd().sourceNotReady(), 0);
  request([](MxifBkgd& r) { r.setDirection(1); });  // the A bus is brought in now
  EXPECT_EQ(bkgd().sourceNotReady(), 1);

  EXPECT_EQ(std::tuple(bkgd().updater().imageOnA, bkgd().updater().imageOnB), std::tuple(0, 0));
  MxifImage image{};
  image.imageA.mask = 1, image.imageA.enable = 1;  // byte 92
  peer.send(image);
  runFrame(0);
  EXPECT_EQ(std::tuple(bkgd().updater().imageOnA, bkgd().updater().imageOnB), std::tuple(1, 0));
}

// With normal/reverse alternation a finished run puts the B bus on program and turns the direction.
TEST_F(BkgdTest, ProgramBusFollowsTheTransitionAndTurnsTheDirection) {
  for (u8 nrMode : {1, 0}) {
    SCOPED_TRACE(nrMode);
    request([&](MxifBkgd& r) { r.setNrMode(nrMode), r.setDirection(0); });
    const int flip = tracker().flip;
    tracker().start(2, 1);
    while (tracker().flip == flip) runFrame(0);
    MxifBkgd echo{};
    MxifBus bus{};
    for (const auto& p : peer.readPackets()) {
      if (p.type == MxifBus::TYPE_INDEX && p.as<MxifBus>().me == 0) bus = p.as<MxifBus>();
      if (p.type == MxifBkgd::TYPE_INDEX && p.as<MxifBkgd>().me == 0) echo = p.as<MxifBkgd>();
    }
    EXPECT_EQ(std::tuple(bus.mask & MxifBus::PROGRAM_BUS, int(bus.programBus), echo.mask & 1, int(live().direction)),
              std::tuple(1u, flip > 0 ? 1 : 0, u32{nrMode}, int{nrMode}));
  }
  bkgd().requestNrModeRestore();
  runFrame(0);
  EXPECT_EQ(live().nrMode, 1);
}

class BkgdWipeTest : public BkgdTest {
 protected:
  static category::CategoryBkgdWipe& wipe(int me = 0) { return category::CategoryBkgdWipe::instance()[me]; }
  MxifBkgdWipe wipeRequest(const std::function<void(MxifBkgdWipe&)>& set) {
    MxifBkgdWipe w;
    set(w);
    peer.send(w);
    return frameEcho<MxifBkgdWipe>();
  }
  void setWipeFlag() {
    MxifOperate op{};
    op.mask = 1u << 4, op.wipeFlag = 1;
    peer.send(op);
  }
};

TEST_F(BkgdWipeTest, SelectingAnEntryRecallsItThroughTheBackgroundsChecks) {
  setWipeFlag();
  const MxifBkgdWipe echo = wipeRequest([](MxifBkgdWipe& w) {
    MxifBkgd& e = w.entries[3];
    e.setNrMode(1), e.setDirection(1), e.setBorderSource(7);
    e.borderMask = 2, e.borderWidth = 250;
    e.mixMask = 1, e.type = 1;  // not a wipe setting: not recalled
    w.mask = 1, w.selected = 3;
  });
  // Reversed under alternation, the stored wipe starts normal again, in the entry too.
  EXPECT_EQ(std::tuple(echo.entries[3].direction, echo.entries[3].mask & 1), std::tuple(0, 1u));
  EXPECT_EQ(std::vector<int>({live().direction, live().nrMode, live().borderWidth, live().borderSource, live().type}),
            std::vector<int>({0, 1, 250, 0, 0}));
  EXPECT_EQ(wipe().applied(), 3);
}

TEST_F(BkgdWipeTest, StepRequestMovesThePatternAlongItsFamily) {
  const struct { u8 kind, number, after; } cases[] = {{0, 3, 0}, {3, 5, 4}, {1, 12, 12}, {1, 22, 20}, {2, 11, 8}, {3, 7, 6}, {0, 9, 8}};
  for (const auto& c : cases) {
    request([&](MxifBkgd& r) { r.setPattern(c.number, c.kind); });
    const MxifBkgdWipe echo = wipeRequest([](MxifBkgdWipe& w) { w.mask = 2, w.stepRequest = 1; });
    EXPECT_EQ(std::tuple(echo.stepRequest, echo.mask & 2, live().patternNumber, live().patternKind), std::tuple(0, 2u, c.after, c.kind))
        << int(c.kind) << "/" << int(c.number);
  }
}

TEST_F(BkgdWipeTest, SelectedEntryFollowsOnlyTheWipeSettings) {
  send([](MxifBkgd& r) { r.borderMask = 2, r.borderWidth = 300; });
  MxifBkgdWipe echo = frameEcho<MxifBkgdWipe>();
  EXPECT_EQ(std::tuple(echo.entries[0].borderMask, echo.entries[0].borderWidth), std::tuple(2u, 300));
  echo.entries[0].borderMask = 0;
  EXPECT_FALSE(codec::hasAny(echo));

  send([](MxifBkgd& r) {
    r.mixMask = 1, r.type = 1, r.mask = 1u << MxifBkgd::BIT_MIX_COLOR, r.mixColor[0] = 100;
    r.trans = {4, 0, 0, 30, 0, 0};
    r.nextMask = 1, r.nextBkgd = 1;
  });
  EXPECT_EQ(frameEcho<MxifBkgdWipe>().me, 255);  // nothing to report

  // A pattern the background cannot take is stored as {0, 0}.
  echo = wipeRequest([](MxifBkgdWipe& w) { w.entries[5].setPattern(15, 1); });
  EXPECT_EQ(std::tuple(echo.entries[5].patternNumber, echo.entries[5].patternKind, echo.entries[5].mask), std::tuple(0, 0, 0x10u));
}

// A selection beyond the twelve entries recalls entry 0, as stored, and stops the tracking.
TEST_F(BkgdWipeTest, SelectionBeyondTheEntriesRecallsTheFirstAndStopsTracking) {
  setWipeFlag();
  wipeRequest([](MxifBkgdWipe& w) { w.mask = 1, w.selected = 1; });
  wipeRequest([](MxifBkgdWipe& w) {
    w.entries[0].borderMask = 4, w.entries[0].softness = 77;
    w.entries[0].setNrMode(1), w.entries[0].setDirection(1);
    w.mask = 1, w.selected = 12;
  });
  EXPECT_EQ(std::tuple(live().softness, live().direction), std::tuple(77, 1));
  send([](MxifBkgd& r) { r.borderMask = 2, r.borderWidth = 500; });
  EXPECT_EQ(frameEcho<MxifBkgdWipe>().me, 255);
  EXPECT_EQ(wipe().record(0).entries[0].borderWidth, 0);
}

}  // namespace
