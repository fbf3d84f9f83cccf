// The transition lamps of the control panels, part of the fader events' frame work: per ME the
// selection, type, direction, auto and cut lamps, the key lamps and the lever bars on the ME rows;
// the downstream keys and the keys of ME index 2 on the panel lamps.
#include "Main/fader/faderevent.h"
#include "Main/fader/faderwork.h"
#include "Main/fader/lamptally.h"
#include "Main/framework/lookup.h"
#include "Main/memory/macro.h"
#include "Main/panel/led.h"

namespace category {

using namespace faderwork;

namespace {

constexpr u8 OFF = 0, TALLIED = 1, LIT = 2, PAUSED = 3;
constexpr u8 BLINK = 10;  // added to a lamp code: its blinking form

// Lamps of an ME row.
constexpr int LAMP_NAM = 300, LAMP_TYPE0 = 301, LAMP_PARTIAL = 302, LAMP_MACRO = 304, LAMP_CUT = 307,
              LAMP_AUTO = 308, LAMP_NORMAL = 309, LAMP_TOGGLE = 310, LAMP_REVERSE = 311, LAMP_KEY_SELECT = 313,
              LAMP_BKGD_SELECT = 317, LAMP_KEY_FUNCTION = 366, LAMP_KEY_ON_AIR = 374;
constexpr int N_TRANS_TYPES = 3;
// Lever bar ends that mark the limit window, in the blinking form of 1.
constexpr u8 LIMIT_MARK = TALLIED + BLINK;
constexpr int BAR_LAST = FaderLever::BAR_LAMPS - 1;  // the bar's last lamp, from its first

// Panel lamps of the downstream keys and of the keys of ME index 2: each key has function lamps
// (the first of a pair) and on-air lamps (the second).
constexpr int LAMP_DSK_FUNCTION = 2216, LAMP_DSK_ON_AIR = 2224;
constexpr int LAMP_ME2_FUNCTION = 3136, LAMP_ME2_ON_AIR = 3140;
constexpr int ME2_PAIRS[2][4][2] = {{{3304, 3305}, {3310, 3311}, {3316, 3318}, {3324, 3326}},
                                    {{3332, 3333}, {3338, 3339}, {3344, 3345}, {3350, 3351}}};
constexpr int ME2_KEY0_ON_AIR[] = {3114, 3100};

// Function of the key and downstream-key transition buttons (operate bytes 124 and 125).
constexpr int FN_CUT = 1, FN_MODE = 2, FN_DVE = 3;

u8 lit(bool on) { return on ? LIT : OFF; }

// The on-air lamp of a layer with on-air sign s: off air 0, else 1 tallied or 2; forward on air in
// the blinking form while the panels do not show the plain codes.
u8 onAirLamp(int sign, bool isTallied, bool plain) {
  if (sign == 0) return OFF;
  const u8 lamp = isTallied ? TALLIED : LIT;
  return sign > 0 && !plain ? lamp + BLINK : lamp;
}

// The function lamp of a key by its transition button's function: the reverse lamp while the
// button cuts, the held button while it toggles the mode, the DVE transition while it toggles that.
u8 functionLamp(int function, int sign, bool held, u8 dveTrans) {
  switch (function) {
    case FN_CUT:
      return lit(sign < 0);
    case FN_MODE:
      return lit(held);
    case FN_DVE:
      return lit(dveTrans == 1);
    default:
      return OFF;
  }
}

}  // namespace

void CategoryFaderEvent::transitionLamps(const MxifOperate& op) {
  for (int m = 0; m < N_ME; ++m) meLamps(m, op);
  dskLamps(op);
  me2KeyLamps(op);
  for (int m = 0; m < N_ME; ++m) {
    for (int k = 0; k < N_KEYS; ++k) keySign_[m][k] = static_cast<s8>(onAirSign(transitions_[AutoTransition::keySlot(m, k)]));
  }
  for (int c = 0; c < N_DSK; ++c) dskSign_[c] = static_cast<s8>(onAirSign(transitions_[AutoTransition::dskSlot(c)]));
}

void CategoryFaderEvent::meLamps(int me, const MxifOperate& op) {
  auto* leds = categoryAt<CategoryMeLed>(TYPE_ME_LED, me);
  if (leds == nullptr) return;
  const MxifBkgd& bkgd = recordOf<MxifBkgd>(me);

  // The selected layers: their types, and whether any runs, is paused or stops.
  bool type[N_TRANS_TYPES] = {};
  bool anyRuns = false, anyPaused = false, anyStopping = false;
  auto selected = [&](const AutoTransition& t, int kind) {
    if (0 <= kind && kind < N_TRANS_TYPES) type[kind] = true;
    anyRuns = anyRuns || runs(t);
    anyPaused = anyPaused || paused(t);
    anyStopping = anyStopping || stopping(t);
  };
  leds->setLedOnAllPanels(LAMP_BKGD_SELECT, lit(bkgd.nextBkgd == 1));
  if (bkgd.nextBkgd == 1) selected(transitions_[AutoTransition::bkgdSlot(me)], bkgd.type);
  for (int k = 0; k < N_KEYS; ++k) {
    leds->setLedOnAllPanels(LAMP_KEY_SELECT + k, lit(bkgd.nextKey[k] == 1));
    if (bkgd.nextKey[k] != 1) continue;
    selected(transitions_[AutoTransition::keySlot(me, k)], activeTrans(recordOf<MxifKey>(me, k)).mode);
  }
  for (int i = 0; i < N_TRANS_TYPES; ++i) leds->setLedOnAllPanels(LAMP_TYPE0 + 2 * i, lit(type[i]));
  leds->setLedOnAllPanels(LAMP_AUTO, anyRuns ? LIT : anyPaused ? PAUSED : OFF);
  leds->setLedOnAllPanels(LAMP_CUT, lit(anyStopping));

  leds->setLedOnAllPanels(LAMP_PARTIAL, lit(bkgd.partialOn == 1));
  leds->setLedOnAllPanels(LAMP_NAM, lit(bkgd.nam == 1));
  leds->setLedOnAllPanels(LAMP_NORMAL, lit(bkgd.direction == 0));
  leds->setLedOnAllPanels(LAMP_REVERSE, lit(bkgd.direction == 1));
  leds->setLedOnAllPanels(LAMP_TOGGLE, lit(bkgd.nrMode == 1));
  auto* macro = categoryAt<CategoryMacro>(TYPE_MACRO, 0);
  for (int p = 0; p < N_PANELS; ++p) leds->setLed(p, LAMP_MACRO, lit(macro != nullptr && macro->attached(p, me) == 1));

  const bool plain = op.faderFlag == 1;
  for (int k = 0; k < N_KEYS; ++k) {
    const int sign = keySign_[me][k];
    leds->setLedOnAllPanels(LAMP_KEY_ON_AIR + k, onAirLamp(sign, keyTallied(me, k), plain));
    const u8 dve = recordOf<MxifKey>(me, k).dveTransOn;
    for (int p = 0; p < N_PANELS; ++p) {
      leds->setLed(p, LAMP_KEY_FUNCTION + k, functionLamp(op.keyFaderButton.mode, sign, keyHeld_[p][me][k] != 0, dve));
    }
  }

  // Each panel's lever of this ME; with the background selected and no partial transition, the
  // bar's ends mark the limit window, the start at the end the lever moves from.
  const bool window = bkgd.nextBkgd == 1 && bkgd.partialOn == 0;
  for (int p = 0; p < N_PANELS; ++p) {
    const FaderLever& lever = levers_[p * N_PANEL_LEVERS + me];
    u8 bar[FaderLever::BAR_LAMPS];
    lever.bar(bar);
    if (window) {
      const int start = lever.direction == 1 ? 0 : BAR_LAST;
      const int end = lever.direction == 1 ? BAR_LAST : 0;
      if (bkgd.trans.limitStart != 0) bar[start] = LIMIT_MARK;
      if (bkgd.trans.limitEnd != 0) bar[end] = LIMIT_MARK;
    }
    leds->setLeds(p, LEVER_BAR_LAMP, bar, FaderLever::BAR_LAMPS);
  }
}

// Downstream key c: on-air lamp 2224 + c, function lamp 2216 + c by operate byte 125 (no DVE
// function).
void CategoryFaderEvent::dskLamps(const MxifOperate& op) {
  auto* leds = categoryAt<CategoryLed>(TYPE_LED, 0);
  if (leds == nullptr) return;
  const bool plain = op.faderFlag == 1;
  const int function = op.keyFaderButton.mode2 == FN_DVE ? 0 : op.keyFaderButton.mode2;
  for (int c = 0; c < N_DSK; ++c) {
    const int sign = dskSign_[c];
    leds->setLedOnAllPanels(LAMP_DSK_ON_AIR + c, onAirLamp(sign, dskTallied(c), plain));
    for (int p = 0; p < N_PANELS; ++p) {
      leds->setLed(p, LAMP_DSK_FUNCTION + c, functionLamp(function, sign, dskHeld_[p][c] != 0, 0));
    }
  }
}

// The keys of ME index 2 on the panel lamps: the pairs (3136 + c, 3140 + c) and the pair groups
// from 3304 and 3332; key 0's on-air state also on 3114 and 3100. While the transition buttons
// toggle the mode, 3136 + c shows each panel's own button and the other pairs' first lamps only
// the main panel's, on the main panel.
void CategoryFaderEvent::me2KeyLamps(const MxifOperate& op) {
  auto* leds = categoryAt<CategoryLed>(TYPE_LED, 0);
  if (leds == nullptr) return;
  constexpr int me = KEY_FADER_ME;
  const bool plain = op.faderFlag == 1;
  const int function = op.keyFaderButton.mode;
  for (int c = 0; c < N_KEYS; ++c) {
    const int sign = keySign_[me][c];
    const u8 onAir = onAirLamp(sign, keyTallied(me, c), plain);
    leds->setLedOnAllPanels(LAMP_ME2_ON_AIR + c, onAir);
    for (const auto& group : ME2_PAIRS) leds->setLedOnAllPanels(group[c][1], onAir);
    if (c == 0) {
      for (int lamp : ME2_KEY0_ON_AIR) leds->setLedOnAllPanels(lamp, onAir);
    }

    const u8 dve = recordOf<MxifKey>(me, c).dveTransOn;
    for (int p = 0; p < N_PANELS; ++p) {
      leds->setLed(p, LAMP_ME2_FUNCTION + c, functionLamp(function, sign, me2KeyHeld_[p][c] != 0, dve));
    }
    for (const auto& group : ME2_PAIRS) {
      if (function == FN_MODE) {
        leds->setLed(0, group[c][0], lit(me2KeyHeld_[0][c] != 0));
      } else {
        leds->setLedOnAllPanels(group[c][0], functionLamp(function, sign, false, dve));
      }
    }
  }
}

}  // namespace category
