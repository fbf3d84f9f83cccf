// Fader events in the started system: levers, strokes and pick-up, transition buttons, key faders.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "Driver/core/core.h"
#include "Driver/key/regs.h"
#include "Driver/transition/regs.h"
#include "Lib/Include/memory_map.h"
#include "Main/bkgd/bkgd.h"
#include "Main/bus/bus.h"
#include "Main/fader/faderevent.h"
#include "Main/key/dsk.h"
#include "Main/key/key.h"
#include "Main/media/clip.h"
#include "Main/memory/eventmem.h"
#include "Main/panel/led.h"
#include "Main/panel/operate.h"
#include "Main/panel/peripheral.h"
#include "Main/system/mfconfig.h"
#include "Main/system/system.h"
#include "Main/tally/tally.h"
#include "Platform/board.h"
#include "tests/Main/category_fixture.h"

namespace {

using category::CategoryFaderEvent;
using Event = internal::MxifButtonEvent;
using testing_support::consoleCount;

class FaderEventTest : public test_categories::StartedSystemTest {
 protected:
  CategoryFaderEvent& faders = CategoryFaderEvent::instance();

  static MxifBkgd& bkgd(int me = 0) { return category::CategoryBkgd::instance()[me].record(0); }
  static MxifKey& key(int me, int k) { return category::CategoryKey::instance()[me].record(k); }
  static MxifDsk& dsk(int c) { return category::CategoryDsk::instance().record(c); }
  static MxifOperate& operate() { return category::CategoryOperate::instance().record(0); }
  AutoTransition& bkgdT() { return faders.transition(0); }
  AutoTransition& keyT(int k) { return faders.transition(AutoTransition::keySlot(0, k)); }

  void lever(int raw, int lever = 0, int panel = 0) {
    internal::MxifFaderEvent r{};
    r.lever = static_cast<u8>(lever), r.value = static_cast<u16>(raw), r.panel = static_cast<u8>(panel), peer.send(r);
  }
  // The raw value that reads v with the initial calibration (1833 reads 0, 2255 reads 1).
  static int raw(float v) { return 1833 + static_cast<int>(v * 422.0f + 0.5f); }
  // Lever 0 of panel 0 primed at v by its five start-up inputs, then one frame.
  void prime(float v) {
    for (int i = 0; i < 5; ++i) lever(raw(v));
    runFrame(0);
  }
  // Lever 0 of panel 0 at v for n frames (the three-sample mean follows in three).
  void hold(float v, int frames = 1) { for (int i = 0; i < frames; ++i) lever(raw(v)), runFrame(0); }
  void send(const std::vector<int>& codes, int me = 0, int panel = 0, u8 state = Event::PRESSED) {
    for (int code : codes) peer.send(test_categories::buttonEvent(code, me, state, panel));
  }
  void press(const std::vector<int>& codes, int me = 0, int panel = 0, u8 state = Event::PRESSED) {
    send(codes, me, panel, state), runFrame(0);
  }
  // Lets the trackers see the transitions as they stand now.
  void settleTrackers() {
    for (int k = 0; k < CategoryFaderEvent::N_SLOTS; ++k) faders.fader(k).advance(), faders.fader(k).advance();
  }
};

// Each packet: the raw value, then what lever 0 of panel 0 reads and its calibration. The fifth
// input primes the position; the four before it leave it at 0.5.
TEST_F(FaderEventTest, LeverPacketsWidenTheCalibrationAndPrimeThePositionAtTheFifth) {
  struct Case { int raw; float value; int max, min; float position; } cases[] = {
      {1833, 0.0f, 2555, 1533, 0.5f}, {2255, 1.0f, 2555, 1533, 0.5f}, {2044, 0.5f, 2555, 1533, 0.5f},
      {3000, 1.0f, 3000, 1533, 0.5f}, {2000, 167.0f / 867, 3000, 1533, 167.0f / 867},
      {4095, 1.0f, 4000, 1533, 167.0f / 867}, {100, 0.0f, 4000, 350, 167.0f / 867}};
  for (const Case& c : cases) {
    lever(c.raw);
    reg().receiveAll();
    const FaderLever& l = faders.lever(0);
    EXPECT_EQ(std::tuple(l.value, l.calibration->max, l.calibration->min, l.position),
              std::tuple(c.value, c.max, c.min, c.position)) << c.raw;
  }
  // Panel 3 and lever 4 address no lever; the stream stays in step.
  lever(4095, 4, 0), lever(4095, 0, 3), lever(2255, 3, 2);
  reg().receiveAll();
  EXPECT_EQ(peer.requestPending(), 0u);
  for (int i = 1; i < CategoryFaderEvent::N_LEVERS; ++i) {
    EXPECT_EQ(std::tuple(faders.lever(i).value, faders.calibration(i).max), std::tuple(i == 11 ? 1.0f : 0.0f, 2555)) << i;
  }
  EXPECT_EQ(consoleCount("[ERR]"), 0);
}

TEST_F(FaderEventTest, FieldRateFormatsAverageOnlyOnFieldPhaseFrames) {
  for (int format : {0, 2, 3, 4, 8, 9}) {
    category::CategorySystem::instance().record(0).format = static_cast<u8>(format);
    faders.initInternal();
    prime(0.0f), lever(raw(1.0f)), runFrame(0);
    const float afterField0 = faders.lever(0).position;
    lever(raw(1.0f)), runFrame(1);
    const bool fieldRate = format == 2 || format == 3 || format == 8 || format == 9;
    EXPECT_EQ(std::tuple(afterField0, faders.lever(0).position), std::tuple(fieldRate ? 0.0f : 0.33333334f, 0.6666667f))
        << format;
  }
}

// The lever starts out against the transition's sense: its first stroke takes nothing, the stroke
// back drives the transition from 0 to 1, and the end of that stroke completes it.
TEST_F(FaderEventTest, StrokeBackDrivesTheBackgroundFromZeroToOne) {
  bkgd().nextBkgd = 1;
  prime(0.0f);
  hold(1.0f, 4);
  EXPECT_EQ(std::tuple(bkgdT().positionA, bkgdT().flip), std::tuple(0.0f, 1));
  std::vector<float> positions;
  for (int frame = 0; frame < 3; ++frame) hold(0.0f), positions.push_back(bkgdT().positionA);
  EXPECT_EQ(positions, (std::vector<float>{0.33333331f, 0.6666666f, 0.0f}));
  EXPECT_EQ(std::tuple(bkgdT().flip, faders.fader(0).ownerFader), std::tuple(-1, 0));
  hold(0.0f);
  EXPECT_EQ(bkgdT().positionA, 0.0f);
}

// Transition at 0.4, the lever away from it (without lever direction): below it the machine says 2,
// above it 3; the lever takes the transition only where it crosses it, then drives it.
TEST_F(FaderEventTest, PickUpWaitsUntilTheLeverCrossesTheTransition) {
  operate().faderMode = 1;
  bkgd().nextBkgd = 1;
  struct Case { float from, to; int waiting; float taken; } cases[] = {{0.1f, 0.7f, 2, 0.5f}, {0.7f, 0.1f, 3, 0.3f}};
  for (const Case& c : cases) {
    faders.initInternal();
    bkgdT().positionA = 0.4f;
    settleTrackers();
    prime(c.from);
    EXPECT_EQ(faders.lever(0).pickState, c.waiting) << c.from;
    hold(c.to);
    EXPECT_EQ(std::tuple(bkgdT().positionA, faders.lever(0).pickState), std::tuple(0.4f, c.waiting)) << c.from;
    hold(c.to);
    EXPECT_TRUE(std::abs(bkgdT().positionA - c.taken) <= 1e-3f && faders.lever(0).pickState == FaderLever::PICK_DRIVEN)
        << c.from;
    hold(c.to);
    EXPECT_NEAR(bkgdT().positionA, c.to, 1e-3) << c.from;
  }
}

TEST_F(FaderEventTest, AfterAnMeChangeThePanelsLeverWaitsSixteenFrames) {
  operate().faderMode = 1;
  bkgd().nextBkgd = 1;
  prime(0.0f);
  hold(0.5f, 3);
  ASSERT_EQ(faders.fader(0).ownerFader, 0);
  faders.releaseMeFaders(0, 0);
  MxifEventMemory& events = category::CategoryEventMemory::instance().record(0);
  events.enable = 1, events.linkedMe = 1;  // the linked event memory does not wait
  faders.transition(40).positionA = 0.5f;
  settleTrackers();
  hold(0.8f, 3);
  hold(0.2f, 3);  // crossing 0.5 both ways
  EXPECT_EQ(std::tuple(bkgdT().positionA, faders.fader(0).ownerFader), std::tuple(0.5f, -1));
  EXPECT_NEAR(faders.transition(40).positionA, 0.2f, 1e-3);
  for (int frame = 6; frame < 15; ++frame) runFrame(0);
  EXPECT_EQ(faders.meChangeCountdown(0, 0), 1);
  hold(0.8f, 3);
  EXPECT_TRUE(std::abs(bkgdT().positionA - 0.8f) <= 1e-3f && faders.meChangeCountdown(0, 0) == 0);
}

// The background rests at 0, or at an end reached but not yet returned to 0 (exactly 1.0 is a
// held transition at its end); with mode 1 both positions must rest.
TEST_F(FaderEventTest, TransitionIdleByMode) {
  struct Case { u8 mode; float a, b; int idle; } cases[] = {
      {0, 0.0f, 0.5f, 1}, {0, 0.5f, 0.0f, 0}, {0, 1.0f, 0.0f, 0}, {0, 0.999995f, 0.5f, 1}, {1, 0.0f, 0.0f, 1},
      {1, 0.0f, 0.5f, 0}, {1, 1.0f, 1.0f, 0}, {1, 1.0f, 0.999995f, 1}, {1, 0.999995f, 0.0f, 0}};
  for (const Case& c : cases) {
    bkgdT().setMode(c.mode);
    bkgdT().positionA = c.a, bkgdT().positionB = c.b;
    EXPECT_EQ(faders.isTransitionIdle(0), c.idle) << int(c.mode) << " " << c.a << " " << c.b;
  }
}

// Auto starts, pauses where the run stands and resumes from there; the background status bytes
// 268..271 follow the selected layers and the background.
TEST_F(FaderEventTest, AutoStartsPausesAndResumesTheSelectedBackground) {
  bkgd().nextBkgd = 1;
  bkgd().trans.rate = 10;  // 0.05 a frame in format 0
  auto status = [] { return std::vector<u8>(bkgd().status, bkgd().status + 4); };
  press({1616}), runFrame(0);
  EXPECT_EQ(std::tuple(bkgdT().state, bkgdT().positionA, status()),
            std::tuple(AutoTransition::RUNNING, 0.1f, std::vector<u8>{1, 0, 1, 0}));
  press({1616}), runFrame(0);
  EXPECT_EQ(std::tuple(bkgdT().state, bkgdT().positionA, status()),
            std::tuple(AutoTransition::PAUSED, 0.1f, std::vector<u8>{1, 0, 1, 0}));
  press({1616});
  EXPECT_EQ(std::tuple(bkgdT().state, bkgdT().positionA), std::tuple(AutoTransition::RUNNING, 0.15f));
  for (int frame = 0; frame < 19; ++frame) runFrame(0);
  EXPECT_EQ(std::tuple(bkgdT().state, bkgdT().flip, bkgdT().positionA, status()),
            std::tuple(AutoTransition::IDLE, -1, 0.0f, std::vector<u8>(4, 0)));
  // A cut of a selected key alone: the selected layers stop, the background does not.
  bkgd().nextKey[1] = 1;
  press({1617});
  EXPECT_EQ(status(), (std::vector<u8>{0, 1, 0, 1}));
  bkgd().nextBkgd = 0;
  press({1617});  // the key cut twice: on and off again
  EXPECT_EQ(std::tuple(status(), keyT(1).flip), std::tuple(std::vector<u8>{0, 1, 0, 0}, 1));
}

// The first pressed of cut 1617, auto 1616, 3100 and 3101 acts (3100 and 3101 on the background
// whether selected or not); a cut completes the transition at once (its flip turns).
TEST_F(FaderEventTest, CutAutoAndTheBackgroundButtonsFirstPressedWins) {
  struct Case { std::vector<int> codes; bool selected; int state; bool cut; } cases[] = {
      {{1616, 1617}, true, AutoTransition::IDLE, true}, {{1616}, true, AutoTransition::RUNNING, false},
      {{1616}, false, AutoTransition::IDLE, false}, {{3101, 3100}, false, AutoTransition::RUNNING, false},
      {{3101}, false, AutoTransition::IDLE, true}};
  bkgd().trans.rate = 10;
  for (const Case& c : cases) {
    faders.initInternal();
    bkgd().nextBkgd = c.selected ? 1 : 0;
    const int flip = bkgdT().flip;
    press(c.codes);
    EXPECT_EQ(std::tuple(bkgdT().state, bkgdT().flip), std::tuple(c.state, c.cut ? -flip : flip)) << c.codes[0];
  }
}

TEST_F(FaderEventTest, CutCompletesAHeldBackgroundToItsEndInItsDirection) {
  bkgd().nextBkgd = 1;
  bkgd().partialOn = 1, bkgd().partialPosition = 5000;  // held at half
  runFrame(0), runFrame(0);
  ASSERT_EQ(std::tuple(bkgdT().hold, bkgdT().state), std::tuple(u8{1}, AutoTransition::IDLE));
  press({1617});
  EXPECT_EQ(std::tuple(bkgdT().positionA, bkgdT().direction, faders.bkgdPosition(0, 0)), std::tuple(1.0f, -1, 0.5f));
  press({1617});
  EXPECT_EQ(std::tuple(bkgdT().positionA, bkgdT().direction, faders.bkgdPosition(0, 0), bkgdT().flip),
            std::tuple(0.0f, 1, 0.0f, 1));
}

// 1613..1615: the selected background takes the type (echoed with its bit), the selected keys the
// mix or wipe mode (never type 2).
TEST_F(FaderEventTest, TypeButtonsSetTheSelectedLayersTypes) {
  bkgd().nextBkgd = 1, bkgd().nextKey[1] = 1;
  for (auto [code, type, keyMode] : {std::tuple(1614, 1, 1), std::tuple(1615, 2, 1), std::tuple(1613, 0, 0)}) {
    send({code});
    MxifBkgd echo{};
    for (const auto& p : frameSends(MxifBkgd::TYPE_INDEX)) echo = p.as<MxifBkgd>().me == 0 ? p.as<MxifBkgd>() : echo;
    EXPECT_EQ(std::tuple(echo.mixMask & 1u, echo.type, key(0, 1).transIn.mode, key(0, 0).transIn.mode),
              std::tuple(1u, type, keyMode, 0)) << code;
  }
}

// Key auto on a running key reverses it and every linked key that runs the same way in the same
// sense; at rest, the linked keys start with it (a key whose transition is off completes at once).
TEST_F(FaderEventTest, KeyAutoReversesOrStartsTheLinkedKeys) {
  for (int k = 0; k < 4; ++k) key(0, k).group = k < 3 ? 1 : 0;
  for (int k = 0; k < 4; ++k) keyT(k).start(50, 1);
  keyT(2).flip = -1;
  for (int frame = 0; frame < 10; ++frame) runFrame(0);
  press({1724});
  auto directions = [&] { return std::vector<int>{keyT(0).direction, keyT(1).direction, keyT(2).direction, keyT(3).direction}; };
  EXPECT_EQ(directions(), (std::vector<int>{-1, -1, 1, 1}));
  press({1725});
  EXPECT_EQ(directions(), (std::vector<int>{1, 1, 1, 1}));

  for (int k = 0; k < 4; ++k) key(0, k).reverse = key(0, k).onAir = key(0, k).inTransition = 0;  // at rest, off air
  faders.initInternal();
  for (int k : {0, 2, 3}) key(0, k).transIn.on = 1, key(0, k).transIn.value = 10;
  key(0, 3).group = 0;
  press({1725});  // key 1: its transition is off
  EXPECT_EQ(std::tuple(keyT(0).state, keyT(1).state, keyT(1).flip, keyT(2).state, keyT(3).state),
            std::tuple(AutoTransition::RUNNING, AutoTransition::IDLE, -1, AutoTransition::RUNNING, AutoTransition::IDLE));
  // Downstream keys the same way, on their own buttons.
  dsk(1).transIn.on = 1, dsk(1).transIn.value = 10;
  press({1825});
  EXPECT_EQ(faders.transition(21).state, AutoTransition::RUNNING);
  press({1833});
  EXPECT_EQ(std::tuple(faders.transition(21).state, faders.transition(21).flip), std::tuple(AutoTransition::IDLE, -1));
}

// Key 1 of ME 0, key 4 of ME 1, keys 2 and 3 of ME 2 and 3 and downstream keys 1 and 4, cut on air,
// come back after a warm restart where the image keeps them (ME 0 and 1, the downstream keys):
// levels, on-air and reverse bytes, lamps and tally as the cut left them within three frames, and
// the next cut takes them off. The keys of ME 2 and 3, not kept, come back off air, as every layer
// does after a cold start.
TEST_F(FaderEventTest, LayersOnAirComeBackOnAirAfterAWarmRestart) {
  MxifPeripheral tally;  // group 0 follows the transitions and watches ME 0's program
  tally.maskA = MxifPeripheral::TALLY_MODE, tally.tallyMode = 0;
  tally.groups[0].mask = 0x3FF, tally.groups[0].entries[0] = 1;
  peer.send(tally);
  MxifBus bus;
  bus.setEntry(2, category::CategoryBus::DIRECT + 22);  // key 1's fill
  peer.send(bus);
  operate().faderFlag = 1;
  using Layer = std::tuple<int, int, int>;  // on-air byte, reverse byte, on-air lamp
  auto layers = [&] {  // every key of every ME, then every downstream key
    std::vector<Layer> out;
    for (int m = 0; m < 4; ++m) {
      for (int k = 0; k < 4; ++k) {
        out.emplace_back(key(m, k).onAir, key(m, k).reverse, category::CategoryMeLed::instance()[m].ledRequest(0, 374 + k));
      }
    }
    for (int c = 0; c < 4; ++c) {
      out.emplace_back(dsk(c).onAir, dsk(c).reverse, category::CategoryLed::instance().ledRequest(0, 2224 + c));
    }
    return out;
  };
  auto levels = [] {  // key 1 of ME 0, key 4 of ME 1, downstream keys 1 and 4
    auto level = [](u32 adr) { return platform::regPeek(adr) & 0xFFFF; };
    return std::vector<u32>{level(MX_ME1_BASE + trans::KEY_BLOCK + trans::MIX_LEVEL),
                            level(MX_ME2_BASE + trans::KEY_BLOCK + 3 * trans::KEY_STRIDE + trans::MIX_LEVEL),
                            level(keyreg::DSK_LEVEL), level(keyreg::DSK_LEVEL + 3 * keyreg::DSK_STRIDE)};
  };
  auto tallies = [] {  // the bus tally of ME 0 and 1
    std::vector<u8> out;
    for (int e = 0; e < 2 * MxifBusTally::N_ENTRIES; ++e) {
      out.push_back(category::CategoryBusTally::entryTally(e / MxifBusTally::N_ENTRIES, e % MxifBusTally::N_ENTRIES));
    }
    return out;
  };
  // Three frames, each with the early interrupt that writes the key transition registers.
  auto frames = [] { for (int f = 0; f < 3; ++f) runFrame(0), mxUpdateEarly(); };
  auto cut = [&](bool keysOfMe2And3) {
    const int keyCut = internal::MxifButtonEvent::BTN_KEY_CUT, dskCut = internal::MxifButtonEvent::BTN_DSK_CUT;
    send({keyCut}, 0), send({keyCut + 3}, 1), send({dskCut, dskCut + 3});
    if (keysOfMe2And3) send({keyCut + 1}, 2), send({keyCut + 2}, 3);
    runFrame(0), frames();
  };
  // Layers by index: 4 x ME + key, then 16 + downstream key. Key 1 of ME 0 is tallied.
  const Layer on{1, 1, 2};
  const std::vector<Layer> none(20, Layer{0, 0, 0});
  std::vector<Layer> kept = none, all;
  kept[0] = {1, 1, 1}, kept[7] = on, kept[16] = on, kept[19] = on;
  all = kept, all[9] = on, all[14] = on;
  const std::vector<u32> up{0x3FF, 0x3FF, 0x400, 0x400}, down(4, 0);
  cut(true);
  const auto cutTally = tallies();
  ASSERT_EQ(std::tuple(layers(), levels(), cutTally[2]), std::tuple(all, up, u8{1}));

  restart();
  frames();
  EXPECT_EQ(std::tuple(layers(), levels(), tallies()), std::tuple(kept, up, cutTally));
  cut(false);
  EXPECT_EQ(std::tuple(layers(), levels(), tallies()[2]), std::tuple(none, down, u8{0}));

  cut(true);
  platform::writeMem32(NON_VOLATILE_BASE, 0), reg().initialize();  // a start without an image
  frames();
  EXPECT_EQ(layers(), none);

  // Key 4 of ME 1 and downstream key 4 caught in an auto transition, in its first frame on (on-air
  // bytes still 0) or its last, in its first frame off or its last, come back at rest at the end
  // the run was heading to, as their reverse bytes say. The byte keeps the sense a run started in:
  // one turned back halfway comes back at the end it was started towards. The last rows run one of
  // the two alone (the other stays off air): its run ends in a frame where the other's does not.
  key(1, 3).transIn.on = key(1, 3).transOut.on = dsk(3).transIn.on = dsk(3).transOut.on = 1;
  key(1, 3).transIn.value = key(1, 3).transOut.value = dsk(3).transIn.value = dsk(3).transOut.value = 4;
  using F = internal::MxifButtonEvent;
  enum Who { KEY = 1, DSK = 2, BOTH = 3 };
  struct Run { bool on; int frames; bool turned; u8 imageOnAir, imageMoving; int who = BOTH; } runs[] = {
      {true, 1, false, 0, 1},  {true, 7, false, 1, 1},  {true, 8, false, 1, 0}, {false, 1, false, 1, 1},
      {false, 7, false, 1, 1}, {false, 8, false, 0, 0}, {false, 4, true, 1, 1}, {true, 8, false, 1, 0, DSK},
      {false, 8, false, 0, 0, DSK}, {true, 8, false, 1, 0, KEY}, {false, 8, false, 0, 0, KEY}};
  for (const Run& run : runs) {
    SCOPED_TRACE(&run - runs);
    const auto press = [&](int k, int d) {  // the buttons of those that run, then a frame
      if (run.who & KEY) send({k + 3}, 1);
      if (run.who & DSK) send({d + 3});
      runFrame(0);
    };
    if (((run.who == KEY ? key(1, 3).onAir : dsk(3).onAir) == 1) == run.on) press(F::BTN_KEY_CUT, F::BTN_DSK_CUT), frames();
    press(F::BTN_KEY_AUTO, F::BTN_DSK_AUTO);
    for (int f = 1; f < run.frames; ++f) runFrame(0);
    if (run.turned) press(F::BTN_KEY_AUTO, F::BTN_DSK_AUTO);
    const auto of = [&run](int layer, auto v) { return run.who & layer ? v : decltype(v){}; };  // a layer that rests: off
    ASSERT_EQ(std::tuple(key(1, 3).onAir, key(1, 3).inTransition, dsk(3).onAir, dsk(3).inTransition),
              std::tuple(of(KEY, run.imageOnAir), of(KEY, run.imageMoving), of(DSK, run.imageOnAir), of(DSK, run.imageMoving)));
    restart();
    frames();
    const Layer end = run.on ? on : Layer{0, 0, 0};
    EXPECT_EQ(std::tuple(layers()[7], layers()[19], levels()[1], levels()[3]),
              std::tuple(of(KEY, end), of(DSK, end), of(KEY, run.on ? up[1] : 0), of(DSK, run.on ? up[3] : 0)));
  }
}

TEST_F(FaderEventTest, LinkedClipStartsOnlyWhenItsStatusSaysReady) {
  MxifClipPlay& clip = category::CategoryClipPlay::instance().record(2);
  clip.mode = MxifClipPlay::MODE_TRANSITION, clip.linkedMe = 1;
  MxifEventMemory& events = category::CategoryEventMemory::instance().record(0);
  events.enable = 1, events.linkedMe = 2;
  bkgd(1).trans.rate = 10;
  AutoTransition& clipT = faders.transition(AutoTransition::clipSlot(1, 2));
  AutoTransition& eventT = faders.transition(AutoTransition::eventMemorySlot(1));
  press({1616}, 1);
  EXPECT_EQ(std::tuple(clipT.state, eventT.state), std::tuple(AutoTransition::IDLE, AutoTransition::RUNNING));
  category::CategoryClipStatus::instance().record(category::CategoryClipStatus::statusIndex(2)).ready = 1;
  press({1616}, 1);
  EXPECT_EQ(std::tuple(clipT.state, eventT.state), std::tuple(AutoTransition::RUNNING, AutoTransition::PAUSED));
  // Unlinked, a running clip transition pauses.
  clip.linkedMe = 0;
  runFrame(0);
  EXPECT_EQ(clipT.state, AutoTransition::PAUSED);
}

// The fader-select buttons reach the mainframe configuration while it enables them.
TEST_F(FaderEventTest, FaderSelectButtonsSetTheMainframeConfigurationWhileEnabled) {
  auto& config = category::CategoryMainframeConfig::instance();
  peer.readPackets();
  for (auto [enable, code, me, reported] : {std::tuple(0, 1701, 2, -1), std::tuple(1, 1701, 2, 9),
                                            std::tuple(1, 1802, 0, 18), std::tuple(1, 2103, 1, 11)}) {
    config.record(0).faderSelectEnable = static_cast<u8>(enable);
    press({code}, me);
    int got = -1;
    for (const auto& p : peer.readPackets()) {
      const auto r = p.as<MxifMainframeConfig>();
      if (p.type == MxifMainframeConfig::TYPE_INDEX && (r.mask & MxifMainframeConfig::FADER_SELECT) != 0) got = r.faderSelect;
    }
    EXPECT_EQ(got, reported) << code;
  }
  EXPECT_EQ(consoleCount("[ERR]"), 0);
}

TEST_F(FaderEventTest, KeyAndDownstreamKeyButtonsHeldPerPanel) {
  press({1717, 1818, 2119}, 3, 2);
  auto held = [&] { return std::tuple(faders.keyButtonHeld(2, 3, 1), faders.dskButtonHeld(2, 2), faders.me2KeyButtonHeld(2, 3)); };
  EXPECT_EQ(held(), std::tuple(true, true, true));
  press({1717, 1818}, 3, 2, 2);  // state 2 leaves them
  press({2119}, 3, 2, Event::RELEASED);
  EXPECT_EQ(held(), std::tuple(true, true, false));
  Event ev{};
  ev.code = 1717, ev.me = 4, ev.panel = 2;  // no ME 4
  faders.onButtonStatus(&ev);
  ev.me = 3, ev.panel = 3;  // no panel 3
  faders.onButtonStatus(&ev);
  EXPECT_TRUE(faders.keyButtonHeld(2, 3, 1));
}

// Kinds 4..11 feed levers 0..7 of the panel, kinds 16..23 levers 8..15; the others nothing.
TEST_F(FaderEventTest, KeyFaderLeverInputByKind) {
  for (int panel : {1, 2}) {
    for (int kind = 0; kind <= 24; ++kind) {
      faders.initInternal();
      category::CategoryKey::keyFaderLeverInput(faders, panel, 2255, kind);
      int moved = -1;
      for (int i = 0; i < 3 * CategoryFaderEvent::N_KEY_FADER_PANEL; ++i) {
        if (faders.keyFaderLever(i / 16, i % 16).value == 1.0f) moved = i;
      }
      const int expected = kind >= 4 && kind <= 11 ? 16 * panel + kind - 4 : kind >= 16 && kind <= 23 ? 16 * panel + kind - 8 : -1;
      EXPECT_EQ(moved, expected) << panel << " " << kind;
    }
  }
}

// A running tracker turns to faderSign; an idle one starts as syncKeyTransition starts it, with the
// rate of the setting in force (a paused one the way it went, but under direction mode 1), or
// completes when that setting is off.
TEST_F(FaderEventTest, KeyFaderTrackersTurnOrStart) {
  using A = AutoTransition;
  struct Case { int state, flip; float position; u8 mode933, on; int endState, direction, rate, from = 1; } cases[] = {
      {A::RUNNING, 1, 0.3f, 0, 1, A::RUNNING, -1, 1}, {A::RUNNING, 1, 0.3f, 1, 1, A::RUNNING, -1, 1},
      {A::RUNNING, -1, 0.3f, 1, 1, A::RUNNING, 1, 1}, {A::IDLE, 1, 0.0f, 0, 1, A::RUNNING, 1, 20},
      {A::IDLE, 1, 0.3f, 1, 1, A::RUNNING, -1, 20}, {A::PAUSED, 1, 0.3f, 1, 1, A::RUNNING, -1, 20},
      {A::IDLE, 1, 0.0f, 0, 0, A::STOP_REQUEST, 1, 1}, {A::PAUSED, -1, 0.3f, 0, 1, A::RUNNING, -1, 20, -1}};
  key(2, 3).transOut = {1, 1, 0, 20}, key(2, 3).reverse = 1;  // reversed: setting B in force
  dsk(3).transIn = {1, 1, 0, 20};
  for (const Case& c : cases) {
    operate().faderDirectionMode = c.mode933, key(2, 3).transOut.on = c.on, dsk(3).transIn.on = c.on;
    for (bool downstream : {false, true}) {
      AutoTransition t;
      t.state = c.state, t.flip = c.flip, t.positionA = c.position, t.direction = c.from;
      downstream ? faders.syncKeyFaderTracker2(t, 3) : faders.syncKeyFaderTracker(t, 2, 3);
      EXPECT_EQ(std::tuple(t.state, t.direction, t.rate), std::tuple(c.endState, c.direction, c.rate))
          << c.state << " " << c.flip << " " << int(c.mode933) << " " << downstream;
    }
  }
}

}  // namespace
