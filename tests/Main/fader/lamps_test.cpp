// Transition, key and lever-bar lamps, and key faders driving, starting and lighting their keys.
#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>
#include <vector>

#include "Main/bkgd/bkgd.h"
#include "Main/fader/faderevent.h"
#include "Main/key/dsk.h"
#include "Main/key/key.h"
#include "Main/memory/macro.h"
#include "Main/panel/led.h"
#include "Main/panel/operate.h"
#include "Main/panel/panelconfig.h"
#include "Main/panel/peripheral.h"
#include "tests/Main/category_fixture.h"

namespace {

using category::CategoryFaderEvent;
using testing_support::consoleCount;

class LampTest : public test_categories::StartedSystemTest {
 protected:
  CategoryFaderEvent& faders = CategoryFaderEvent::instance();

  static MxifBkgd& bkgd(int me = 0) { return category::CategoryBkgd::instance()[me].record(0); }
  static MxifKey& key(int me, int k) { return category::CategoryKey::instance()[me].record(k); }
  static MxifOperate& operate() { return category::CategoryOperate::instance().record(0); }
  static MxifControlPanelConfig& config() { return category::CategoryControlPanelConfig::instance().record(0); }
  static int meLamp(int me, int panel, int code) { return category::CategoryMeLed::instance()[me].ledRequest(panel, code); }
  static int lamp(int panel, int code) { return category::CategoryLed::instance().ledRequest(panel, code); }
  AutoTransition& keyT(int me, int k) { return faders.transition(AutoTransition::keySlot(me, k)); }
  static void place(AutoTransition& t, float position, int flip) { t.positionA = position, t.flip = flip; }
  void hold(int me, int code, int panel) {
    auto ev = test_categories::buttonEvent(code, me, internal::MxifButtonEvent::PRESSED, panel);
    faders.onButtonStatus(&ev);
  }
  static void frames(int n) { for (int i = 0; i < n; ++i) runFrame(0); }

  // Key faders: button b of kind on the panel names (selMe, key).
  static void button(int kind, int b, int selMe, int key, u8 on = 1, int panel = 0) {
    config().keyFaders[kind][b] = {3, static_cast<u8>(selMe), static_cast<u8>(key)};
    config().keyFaderStates[panel][kind].state[b] = on;
  }
  // The key-fader lever of kind 0..7 on panel 0 at v: primed by five inputs, or held for n frames.
  void keyLever(int kind, float v, int frames = 1, bool prime = false) {
    for (int i = 0; i < frames; ++i) {
      for (int j = 0; j < (prime ? 5 : 1); ++j) category::CategoryKey::keyFaderLeverInput(faders, 0, raw(v), kind + 4);
      runFrame(0);
    }
  }
  static int raw(float v) { return 1833 + static_cast<int>(v * 422.0f + 0.5f); }
};

// The signs are the last frame's: a key shows its lamps one frame after it moved. Lamps 376 (on
// air) and 368 (function) of key 2 of ME 1.
TEST_F(LampTest, KeyOnAirAndFunctionLamps) {
  place(keyT(1, 2), 0.4f, 1);
  runFrame(0);
  EXPECT_EQ(meLamp(1, 0, 376), 0);
  struct Case { float position; int flip; u8 plain, function, dve; int onAir, fn0, fn1; } cases[] = {
      {0.0f, 1, 0, 1, 0, 0, 0, 0}, {0.0f, -1, 0, 1, 0, 2, 2, 2}, {0.4f, 1, 0, 1, 0, 12, 0, 0},
      {0.4f, 1, 1, 1, 0, 2, 0, 0}, {0.4f, -1, 0, 1, 0, 2, 2, 2}, {0.4f, 1, 1, 2, 0, 2, 0, 2},
      {0.4f, 1, 1, 3, 1, 2, 2, 2}, {0.4f, -1, 1, 4, 1, 2, 0, 0}};
  hold(1, internal::MxifButtonEvent::BTN_KEY_TRANS + 2, 1);
  for (const Case& c : cases) {
    place(keyT(1, 2), c.position, c.flip);
    operate().faderFlag = c.plain, operate().keyFaderButton.mode = c.function, key(1, 2).dveTransOn = c.dve;
    frames(2);
    EXPECT_EQ(std::tuple(meLamp(1, 2, 376), meLamp(1, 0, 368), meLamp(1, 1, 368)), std::tuple(c.onAir, c.fn0, c.fn1))
        << c.position << " " << c.flip << " " << int(c.plain) << " " << int(c.function);
  }
}

// With the tally following the switcher state and group 0 watching ME 0's program output, key 0 of
// ME 0 on air over a fill shows its on-air lamp 374 and its key-fader button lamp 2500 as tallied
// (1), and as not tallied (2) while group 0's exclusion flag is set or when no group watches it.
TEST_F(LampTest, TalliedKeyLampAndTheExclusionFlag) {
  auto tallyGroup = [&](u16 code, u8 exclusion) {
    MxifPeripheral r;
    r.maskA = MxifPeripheral::TALLY_MODE, r.tallyMode = 0;
    r.groups[0].mask = 0x3FF, r.groups[0].entries[0] = code, r.groups[0].exclusion = exclusion;
    peer.send(r);
  };
  MxifBus bus;
  bus.setEntry(2, category::CategoryBus::DIRECT + 22);  // key 0's fill
  peer.send(bus);
  operate().faderFlag = 1;
  button(0, 0, 1, 0);  // ME 0 key 0
  place(keyT(0, 0), 0.5f, 1);
  for (const auto& [code, exclusion, want] : {std::tuple<u16, u8, int>{1, 0, 1}, {1, 1, 2}, {0, 0, 2}}) {
    tallyGroup(code, exclusion);
    frames(3);
    EXPECT_EQ(std::tuple(meLamp(0, 0, 374), lamp(0, 2500)), std::tuple(want, want)) << code << " " << int(exclusion);
  }
}

TEST_F(LampTest, SelectionTypeDirectionAutoAndCutLamps) {
  bkgd().nextBkgd = 1, bkgd().type = 1, bkgd().nextKey[2] = 1;
  bkgd().direction = 1, bkgd().nrMode = 1, bkgd().nam = 1;
  category::CategoryMacro::instance().record(0).attach[1].flag[0] = 1;  // panel 1, ME 0: byte 48
  faders.transition(0).start(100, 1);
  runFrame(0);
  const std::vector<std::pair<int, int>> expected = {{317, 2}, {313, 0}, {315, 2}, {301, 2}, {303, 2}, {305, 0},
                                                     {300, 2}, {302, 0}, {309, 0}, {311, 2}, {310, 2}, {308, 2}, {307, 0}};
  for (auto [code, state] : expected) EXPECT_EQ(meLamp(0, 2, code), state) << code;
  EXPECT_EQ(std::tuple(meLamp(0, 0, 304), meLamp(0, 1, 304)), std::tuple(0, 2));

  faders.transition(0).state = AutoTransition::PAUSED;
  for (int stopped : {0, 2}) {  // then key 2 stopped as well
    if (stopped) keyT(0, 2).stop();
    runFrame(0);
    EXPECT_EQ(std::tuple(meLamp(0, 0, 308), meLamp(0, 0, 307)), std::tuple(3, stopped));
  }
}

// Downstream key 1 and key 0 of ME index 2 on the panel lamps.
TEST_F(LampTest, DownstreamKeysAndTheKeysOfMeTwoOnThePanelLamps) {
  place(faders.transition(AutoTransition::dskSlot(1)), 0.0f, -1);  // on air, reversed
  place(keyT(2, 0), 0.5f, 1);                                       // on its way forward
  operate().keyFaderButton = {3, 1, 1};
  frames(2);
  EXPECT_EQ(std::tuple(lamp(0, 2217), lamp(1, 2225)), std::tuple(2, 2));
  for (int code : {3140, 3305, 3333, 3114, 3100, -3136, -3304, -3332}) {
    EXPECT_EQ(lamp(code > 0 ? 2 : 0, std::abs(code)), code > 0 ? 12 : 0) << code;
  }

  // Buttons that toggle the mode: each panel's own button; the other first lamps the main panel's.
  operate().keyFaderButton = {3, 2, 2};
  hold(2, internal::MxifButtonEvent::BTN_ME2_KEY_TRANS, 1);
  hold(0, internal::MxifButtonEvent::BTN_DSK_TRANS + 1, 2);
  runFrame(0);
  EXPECT_EQ(std::tuple(lamp(0, 3136), lamp(1, 3136), lamp(0, 3304), lamp(1, 3304), lamp(0, 2217), lamp(2, 2217)),
            std::tuple(0, 2, 0, 0, 0, 2));
  hold(2, internal::MxifButtonEvent::BTN_ME2_KEY_TRANS, 0);
  runFrame(0);
  EXPECT_EQ(std::tuple(lamp(0, 3304), lamp(0, 3338), lamp(1, 3304)), std::tuple(2, 0, 0));
}

// Lever 0 of panel 0 (unprimed at 0.5) and the background at 0: the lever must go up (odd lamps
// 13..23); its limit window marks the ends while the background is selected.
TEST_F(LampTest, LeverBarOnThePanelsMarksTheLimitWindow) {
  auto bar = [&] {
    std::vector<int> v(24);
    for (int i = 0; i < 24; ++i) v[i] = meLamp(0, 0, 400 + i);
    return v;
  };
  runFrame(0);
  EXPECT_EQ(bar(), std::vector<int>(24, 0));
  bkgd().nextBkgd = 1, bkgd().trans.limitStart = 100;
  runFrame(0);
  std::vector<int> expected = {11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 2, 0, 2, 0, 2, 0, 2};
  EXPECT_EQ(bar(), expected);
  bkgd().trans.limitEnd = 50;
  faders.lever(0).direction = -1;  // the transition now lies the other way: written in reverse
  runFrame(0);
  expected[23] = 11;  // the way down, reversed, lights the same lamps; so does every panel's lever of the ME
  EXPECT_EQ(std::tuple(bar(), meLamp(0, 1, 400)), std::tuple(expected, 11));
}

// Kind 0: a button naming nothing, one naming a key at 0, one a key on its way, one a key at its
// end, one switched off.
TEST_F(LampTest, KeyFaderButtonAndFaderLamps) {
  button(0, 0, 0, 0), button(0, 1, 1, 1), button(0, 2, 2, 0), button(0, 3, 5, 2, 0);  // ME 0 key 1, ME 1 key 0
  place(keyT(1, 0), 0.0f, -1);  // at its end, on air
  runFrame(0);
  EXPECT_EQ(std::vector<int>({lamp(0, 2500), lamp(0, 2501), lamp(0, 2502), lamp(0, 2503), lamp(0, 2508)}),
            std::vector<int>({0, 3, 2, 0, 2}));
  place(keyT(0, 1), 0.5f, 1);
  runFrame(0);
  EXPECT_EQ(std::tuple(lamp(0, 2501), lamp(0, 2508), lamp(1, 2508)), std::tuple(2, 12, 0));
  operate().faderFlag = 1;
  runFrame(0);
  EXPECT_EQ(lamp(0, 2508), 2);
  // Kind 5 from 3101, its fader lamp 3113.
  button(5, 11, 5, 3);
  place(faders.transition(AutoTransition::dskSlot(3)), 0.25f, -1);
  runFrame(0);
  EXPECT_EQ(std::tuple(lamp(0, 3112), lamp(0, 3113)), std::tuple(2, 2));
}

// Buttons 2 and 5 of kind 1 name key 3 of ME 0: the lever's stroke takes it on air once (twice
// would turn it back), and the transition button starts it once (twice would turn it around).
TEST_F(LampTest, TwoButtonsNamingOneKeyDriveAndStartItOnce) {
  button(1, 2, 1, 3), button(1, 5, 1, 3);
  operate().keyFaderKind = 1;
  keyLever(1, 0.0f, 1, true);
  keyLever(1, 0.5f, 3);
  EXPECT_NEAR(keyT(0, 3).positionA, 0.5f, 1e-6f);
  keyLever(1, 1.0f, 3);
  EXPECT_EQ(std::tuple(keyT(0, 3).positionA, keyT(0, 3).flip, key(0, 3).onAir), std::tuple(0.0f, -1, 1));

  key(0, 3).transIn = key(0, 3).transOut = {3, 1, 0, 20};
  place(keyT(0, 3), 0.0f, 1);
  faders.pressKeyFaderTransButton(0, 1), runFrame(0);
  EXPECT_EQ(std::tuple(keyT(0, 3).state, keyT(0, 3).direction), std::tuple(int(AutoTransition::RUNNING), 1));
}

TEST_F(LampTest, KindsFourAndSixDriveAndSwitchButLightNothing) {
  button(4, 10, 2, 0, 0), button(6, 11, 5, 3, 0);  // ME 1 key 0, downstream key 3
  faders.pressKeyFaderButton(0, 4, 10), faders.pressKeyFaderButton(0, 6, 11), runFrame(0);
  EXPECT_EQ(std::tuple(config().keyFaderStates[0][4].state[10], config().keyFaderStates[0][6].state[11]), std::tuple(1, 1));
  for (int kind : {4, 6}) keyLever(kind, 0.0f, 1, true), keyLever(kind, 0.5f, 3);
  EXPECT_GT(std::min(keyT(1, 0).positionA, faders.transition(AutoTransition::dskSlot(3)).positionA), 0.4f);
  for (auto [first, last] : {std::pair(2500, 2508), {2600, 2608}, {2700, 2708}, {3101, 3127}}) {
    for (int code = first; code <= last; ++code) EXPECT_EQ(lamp(0, code), 0) << code;
  }
}

// A key fader owns its key under an id of its own: panel 1's main lever (id 1) does not take a key
// that panel 0's key fader of kind 1 left, without picking it up.
TEST_F(LampTest, MainLeversDoNotTakeWhatAKeyFaderOwns) {
  bkgd().nextKey[0] = 1;
  button(1, 0, 1, 0);  // ME 0 key 0
  operate().keyFaderKind = 1;
  for (int i = 0; i < 5; ++i) {
    internal::MxifFaderEvent r{};
    r.lever = 0, r.value = static_cast<u16>(raw(0.9f)), r.panel = 1;
    peer.send(r);
  }
  keyLever(1, 0.0f, 1, true);
  keyLever(1, 0.5f, 3);
  config().keyFaderStates[0][1].state[0] = 0;
  frames(2);
  EXPECT_NEAR(keyT(0, 0).positionA, 0.5f, 1e-6f);
}

// Buttons naming a layer that has no transition here (an ME identifier 4..7, key channels 4..7)
// switch but drive, start and light nothing; the frame's work goes on.
TEST_F(LampTest, ButtonsWithoutATransitionAreOnlySwitched) {
  // ME index 4, key channel 5, downstream key 6, ME 0 key 1.
  button(0, 0, 6, 0), button(0, 1, 1, 5), button(0, 2, 5, 6), button(0, 3, 1, 1);
  key(0, 1).transIn = {3, 1, 0, 20};
  faders.transition(0).start(10, 1);
  keyLever(0, 0.0f, 1, true);
  keyLever(0, 0.5f, 3);
  EXPECT_NEAR(keyT(0, 1).positionA, 0.5f, 1e-6f);
  faders.pressKeyFaderTransButton(0, 0), faders.pressKeyFaderButton(0, 0, 0), runFrame(0);
  EXPECT_GT(faders.transition(0).positionA, 0.15f);
  EXPECT_EQ(std::tuple(keyT(0, 1).state, int(config().keyFaderStates[0][0].state[0]), consoleCount("[ERR]")),
            std::tuple(AutoTransition::RUNNING, 0, 0));
  EXPECT_EQ(std::vector<int>({lamp(0, 2500), lamp(0, 2501), lamp(0, 2502), lamp(0, 2503)}), std::vector<int>({0, 0, 0, 2}));
}

}  // namespace
