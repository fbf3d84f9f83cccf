// The key faders of the control panels, part of the fader events' frame work: a key fader's lever
// drives the transitions of the keys whose buttons are on for its panel, its assignment buttons
// switch those buttons, its transition button starts or turns the keys, and its button and fader
// lamps show them.
#include <bitset>
#include <cstring>

#include "Lib/Include/records/dsk.h"
#include "Main/fader/faderevent.h"
#include "Main/fader/faderwork.h"
#include "Main/fader/lamptally.h"
#include "Main/framework/lookup.h"
#include "Main/key/key.h"
#include "Main/panel/led.h"
#include "Main/panel/panelconfig.h"

namespace category {

using namespace faderwork;

namespace {

using Config = CategoryControlPanelConfig;

// Button lamp base and fader lamp of kinds 0..7 on the panel lamps; 0 for the kinds without lamps.
constexpr int BUTTON_LAMP[CategoryFaderEvent::N_KEY_FADERS] = {2500, 2600, 2700, 2700, 0, 3101, 0, 3115};
constexpr int FADER_LAMP[CategoryFaderEvent::N_KEY_FADERS] = {2508, 2608, 2708, 2708, 0, 3113, 0, 3127};

// The layer a key-fader button names.
struct Layer {
  int selMe = MxifKeyFader::ME_SEL_NONE;
  int ch = 0;
  int slot = -1;  // its transition; -1 when it has none in this system

  bool dsk() const { return selMe == MxifKeyFader::ME_SEL_DSK; }
  int me() const { return Config::meIndexOf(selMe); }
  u8 reverse() const { return dsk() ? recordOf<MxifDsk>(0, ch).reverse : recordOf<MxifKey>(me(), ch).reverse; }
};

// Button b of fader kind as its assignment reads; false when it names nothing.
bool readLayer(Config& config, int kind, int b, Layer& layer) {
  if (!config.keyFaderAssign(kind, b, layer.selMe, layer.ch)) return false;
  layer.slot = Config::transitionSlotOf(layer.selMe, layer.ch);
  return true;
}

// The layer of button b when the button is on for the panel (`on`: the fader's button states on
// the panel) and names a transition.
bool drivenLayer(Config& config, const u8* on, int kind, int b, Layer& layer) {
  return on[b] == 1 && readLayer(config, kind, b, layer) && layer.slot >= 0;
}

// Each layer is driven and started once per fader, by the lowest of its buttons that is on: a pass
// over the buttons in order notes the layers driven so far. (A lower button that is on and names
// the same layer was driven before, and one layer has one transition slot.)
class DrivenLayers {
 public:
  // Whether no lower button drove the layer; it counts as driven from now on.
  bool first(const Layer& layer) {
    if (driven_.test(layer.slot)) return false;
    driven_.set(layer.slot);
    return true;
  }

 private:
  std::bitset<AutoTransition::N_SLOTS> driven_;
};

}  // namespace

int CategoryFaderEvent::addToFaderLamp(int a, int r) {
  if (a == 3 || a == 13) a = 0;
  switch (r) {
    case 1:
      return a == 11 || a == 12 ? 11 : 1;
    case 2:
      return a == 1 || a == 11 || a == 12 ? a : 2;
    case 11:
      return 11;
    case 12:
      return a == 1 || a == 11 ? 11 : 12;
    default:
      return a;
  }
}

void CategoryFaderEvent::pressKeyFaderButton(int panel, int kind, int button) {
  MX_CHECK(0 <= panel && panel < N_PANELS);
  MX_CHECK(0 <= kind && kind < N_KEY_FADERS);
  MX_CHECK(0 <= button && button < keyFaderButtonCount(kind));
  keyFaderPressed_[panel][kind][button] = 1;
}

void CategoryFaderEvent::pressKeyFaderTransButton(int panel, int kind) {
  MX_CHECK(0 <= panel && panel < N_PANELS);
  MX_CHECK(0 <= kind && kind < N_KEY_FADERS);
  keyFaderTransPressed_[panel][kind] = 1;
}

// Each key fader offers its lever to the keys of its buttons that are on (kinds 8..15: to their
// fixed key of ME index 2), under its own owner id.
void CategoryFaderEvent::keyFaderUpdate(const FrameStep& frame, const MxifOperate& op) {
  Config* config = CategoryKey::controlPanelConfig();
  for (int p = 0; p < N_PANELS; ++p) {
    for (int kind = 0; kind < N_KEY_FADER_PANEL; ++kind) {
      const FaderLever& lever = keyFaderLevers_[p * N_KEY_FADER_PANEL + kind];
      float previous = lever.getPrevPosition();
      float value = frame.fieldPhase ? lever.getPosition() : previous;
      if (lever.endFlag != 0) previous = value = 1.0f;
      const int direction = op.keyFaderKind == 0 ? -lever.direction : 0;
      keyFaderDirection_[p][kind] = direction;
      const int owner = keyFaderOwner(p, kind);
      if (kind >= N_KEY_FADERS) {
        const int slot = AutoTransition::keySlot(KEY_FADER_ME, (kind - N_KEY_FADERS) % N_KEYS);
        faders_[slot].update(owner, previous, value, direction);
        continue;
      }
      if (config == nullptr) continue;
      const u8* on = config->keyFaderButtonStates(p, kind);
      DrivenLayers driven;
      for (int b = 0; b < keyFaderButtonCount(kind); ++b) {
        Layer layer;
        if (!drivenLayer(*config, on, kind, b, layer) || !driven.first(layer)) continue;
        faders_[layer.slot].update(owner, previous, value, direction);
      }
    }
  }
}

// A pressed assignment button lets its key's tracker go and switches; a pressed transition button
// starts (or turns) the keys of its fader.
void CategoryFaderEvent::keyFaderButtons(const MxifOperate& op) {
  Config* config = CategoryKey::controlPanelConfig();
  for (int p = 0; p < N_PANELS && config != nullptr; ++p) {
    for (int kind = 0; kind < N_KEY_FADERS; ++kind) {
      for (int b = 0; b < keyFaderButtonCount(kind); ++b) {
        Layer layer;
        if (keyFaderPressed_[p][kind][b] == 0 || !readLayer(*config, kind, b, layer)) continue;
        // A layer without a transition in this system is only switched.
        if (layer.slot >= 0) faders_[layer.slot].ownerFader = TransitionFader::NO_OWNER;
        config->toggleKeyFaderButtonState(p, kind, b);
      }
      if (keyFaderTransPressed_[p][kind] != 0) startKeyFaderLayers(p, kind, keyFaderConsistent(p, kind, op));
    }
  }
  std::memset(keyFaderPressed_, 0, sizeof keyFaderPressed_);
  std::memset(keyFaderTransPressed_, 0, sizeof keyFaderTransPressed_);
}

// The layers of a fader's buttons that are on share one reverse state (always so while operate
// byte 13 is set).
bool CategoryFaderEvent::keyFaderConsistent(int panel, int kind, const MxifOperate& op) {
  Config* config = CategoryKey::controlPanelConfig();
  if (kind >= N_KEY_FADERS || op.keyFaderKind != 0 || config == nullptr) return true;
  const u8* on = config->keyFaderButtonStates(panel, kind);
  int first = -1;
  for (int b = 0; b < keyFaderButtonCount(kind); ++b) {
    Layer layer;
    if (!drivenLayer(*config, on, kind, b, layer)) continue;
    const int reverse = layer.reverse();
    if (first < 0) first = reverse;
    if (reverse != first) return false;
  }
  return true;
}

// Every layer of the fader's buttons that are on starts once; when the layers disagree on their
// sense, only those whose reverse state fits the fader's last direction.
void CategoryFaderEvent::startKeyFaderLayers(int panel, int kind, bool consistent) {
  Config* config = CategoryKey::controlPanelConfig();
  if (config == nullptr) return;
  const int direction = keyFaderDirection_[panel][kind];
  const u8* on = config->keyFaderButtonStates(panel, kind);
  DrivenLayers driven;
  for (int b = 0; b < keyFaderButtonCount(kind); ++b) {
    Layer layer;
    if (!drivenLayer(*config, on, kind, b, layer) || !driven.first(layer)) continue;
    if (!consistent && ((direction == -1 && layer.reverse() != 0) || (direction == 1 && layer.reverse() != 1))) continue;
    AutoTransition& t = transitions_[layer.slot];
    if (layer.dsk()) {
      syncKeyFaderTracker2(t, layer.ch);
    } else {
      syncKeyFaderTracker(t, layer.me(), layer.ch);
    }
  }
}

template <int N>
int CategoryFaderEvent::onKeyFaderTransLed(const AutoTransition& t, int selMe, int ch, u8& lamp) {
  static_assert(N == 2 || N == 16, "keys (2) or downstream keys (16)");
  const float p = programPosition(t);
  int state = selMe != MxifKeyFader::ME_SEL_NONE ? 3 : 0;
  if (p > LOW) {
    const bool tallied =
        N == 2 ? keyTallied(Config::meIndexOf(selMe), ch) : dskTallied(ch);
    state = tallied ? 1 : 2;
  }
  lamp = static_cast<u8>(state);
  const int lit = state == 1 ? 1 : 2;
  if (LOW <= p && p <= HIGH) return t.flip < 0 ? lit : lit + 10;
  return state == 0 || state == 3 ? 0 : state;
}

template int CategoryFaderEvent::onKeyFaderTransLed<2>(const AutoTransition&, int, int, u8&);
template int CategoryFaderEvent::onKeyFaderTransLed<16>(const AutoTransition&, int, int, u8&);

// The button lamps of each fader that has them, and its fader lamp gathered from its buttons.
void CategoryFaderEvent::keyFaderLeds(const MxifOperate& op) {
  Config* config = CategoryKey::controlPanelConfig();
  auto* leds = categoryAt<CategoryLed>(TYPE_LED, 0);
  if (config == nullptr || leds == nullptr) return;
  const bool plain = op.faderFlag == 1;
  for (int p = 0; p < N_PANELS; ++p) {
    for (int kind = 0; kind < N_KEY_FADERS; ++kind) {
      if (BUTTON_LAMP[kind] == 0) continue;
      const u8* on = config->keyFaderButtonStates(p, kind);
      u8 lamps[N_KEY_FADER_BUTTONS] = {};
      int a = 0;
      for (int b = 0; b < keyFaderButtonCount(kind); ++b) {
        Layer layer;
        if (!drivenLayer(*config, on, kind, b, layer)) continue;
        const AutoTransition& t = transitions_[layer.slot];
        const int r = layer.dsk() ? onKeyFaderTransLed<16>(t, layer.selMe, layer.ch, lamps[b])
                                  : onKeyFaderTransLed<2>(t, layer.selMe, layer.ch, lamps[b]);
        a = addToFaderLamp(a, r);
      }
      leds->setLeds(p, BUTTON_LAMP[kind], lamps, keyFaderButtonCount(kind));
      if (plain && (a == 11 || a == 12)) a -= 10;
      leds->setLed(p, FADER_LAMP[kind], a);
    }
  }
}

}  // namespace category
