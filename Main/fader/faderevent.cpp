#include "Main/fader/faderevent.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

#include "Lib/Include/check.h"
#include "Lib/Include/records/dsk.h"
#include "Main/bkgd/bkgd.h"
#include "Main/bus/button.h"
#include "Main/fader/faderwork.h"
#include "Main/framework/lookup.h"
#include "Main/key/dsk.h"
#include "Main/key/key.h"
#include "Main/media/clip.h"
#include "Main/memory/eventmem.h"

namespace category {

using internal::MxifButtonEvent;
using Event = internal::MxifButtonEvent;
using namespace faderwork;

namespace {

// Index of a transition button in the per-ME table (1613..1617, then 3100 and 3101).
constexpr int TRANS_AUTO = 3, TRANS_CUT = 4, TRANS_BKGD_AUTO = 5, TRANS_BKGD_CUT = 6;
constexpr int N_TYPES_BUTTONS = 3;

// What the lever's pick-up machine compares with the lever: the background's position through its
// limit window, unscaled (a ramp runs in read-out terms: held, it is taken back out of the scale).
float pickUpValue(const AutoTransition& t) {
  if (t.state != AutoTransition::RAMP) return t.windowMap(t.positionA);
  if (!t.hold) return t.positionA;
  if (t.scale <= 0.0f) return 0.0f;
  return std::clamp(t.positionA, 0.0f, t.scale) / t.scale;
}

// What a key or downstream key reports of its transition: on air, in transition, stopping.
struct LayerState {
  u8 onAir, moving, stops;
  explicit LayerState(const AutoTransition& t) {
    const float p = programPosition(t);
    onAir = p > LOW ? 1 : 0;
    moving = (LOW < p && p < HIGH) || runs(t) ? 1 : 0;
    stops = stopping(t) ? 1 : 0;
  }
};

void faderEventHook(CategoryInterface& target, const MxifButtonEvent& ev) {
  if (auto* faders = dynamic_cast<CategoryFaderEvent*>(&target)) faders->onButtonStatus(&ev);
}

bool isValid(const LeverCalibration& e) {
  return LeverCalibration::INITIAL_MAX <= e.max && e.max <= FaderLever::RAW_TOP - CategoryFaderEvent::LEVER_CEILING_MARGIN &&
         CategoryFaderEvent::LEVER_LOWEST <= e.min && e.min <= LeverCalibration::INITIAL_MIN;
}

}  // namespace

// The categories one frame of the fader events works with.
struct CategoryFaderEvent::Layers {
  CategoryBkgd* bkgd[N_ME];
  CategoryKey* keys[N_ME];
  CategoryDsk* dsk;
  CategoryClipPlay* clips;
  CategoryEventMemory* events;

  Layers() {
    for (int m = 0; m < N_ME; ++m) {
      bkgd[m] = categoryAt<CategoryBkgd>(TYPE_BKGD, m);
      keys[m] = categoryAt<CategoryKey>(TYPE_KEY, m);
    }
    dsk = categoryAt<CategoryDsk>(TYPE_DSK, 0);
    clips = categoryAt<CategoryClipPlay>(TYPE_CLIP_PLAY, 0);
    events = categoryAt<CategoryEventMemory>(TYPE_EVENT_MEMORY, 0);
  }
  bool clipLinked(int me, int c) const { return clips != nullptr && clips->isTransitionLinked(me, c) != 0; }
  bool eventLinked(int me) const { return events != nullptr && events->isLinkedToMe(me); }
  // A clip player whose status says it is ready to run its transition.
  static bool clipReady(int c) {
    return recordOf<MxifClipStatus>(0, CategoryClipStatus::statusIndex(c)).ready != 0;
  }
};

CategoryFaderEvent& CategoryFaderEvent::instance() {
  static CategoryFaderEvent category;
  return category;
}

CategoryFaderEvent::CategoryFaderEvent() {
  CategoryButtonEvent::setHook(ButtonReceiver::FADER_EVENT, faderEventHook);
  initInternal();
}

// ---- storage ---------------------------------------------------------------------------------------

int CategoryFaderEvent::bindStorage(void* area) {
  calibration_ = static_cast<FaderCalibration*>(area);
  for (int i = 0; i < N_LEVERS; ++i) levers_[i].calibration = &calibration_->entries[i];
  return static_cast<int>(sizeof(FaderCalibration));
}

void CategoryFaderEvent::initData() {
  for (LeverCalibration& e : calibration_->entries) e = LeverCalibration{};
}

void CategoryFaderEvent::resume(const void* saved, int flag) {
  (void)flag;
  std::memcpy(calibration_, saved, sizeof(FaderCalibration));
  // A lever's calibration is taken whole, or refused whole.
  for (LeverCalibration& e : calibration_->entries) {
    if (isValid(e)) continue;
    e = LeverCalibration{};
    refuseSaved(1);
  }
}

void CategoryFaderEvent::initInternal() {
  for (int k = 0; k < N_SLOTS; ++k) {
    transitions_[k] = AutoTransition{};
    faders_[k] = TransitionFader{};
    faders_[k].bind(&transitions_[k]);
  }
  for (int i = 0; i < N_LEVERS; ++i) levers_[i].reset(&calibration_->entries[i]);
  for (int i = 0; i < N_PANELS * N_KEY_FADER_PANEL; ++i) {
    keyFaderCalibration_[i] = LeverCalibration{};
    keyFaderLevers_[i].reset(&keyFaderCalibration_[i]);
  }
  std::memset(meChangeCountdown_, 0, sizeof meChangeCountdown_);
  std::memset(transPressed_, 0, sizeof transPressed_);
  std::memset(mePressed_, 0, sizeof mePressed_);
  std::memset(dskPressed_, 0, sizeof dskPressed_);
  std::memset(me2Pressed_, 0, sizeof me2Pressed_);
  std::memset(keyHeld_, 0, sizeof keyHeld_);
  std::memset(dskHeld_, 0, sizeof dskHeld_);
  std::memset(me2KeyHeld_, 0, sizeof me2KeyHeld_);
  std::memset(keyFaderPressed_, 0, sizeof keyFaderPressed_);
  std::memset(keyFaderTransPressed_, 0, sizeof keyFaderTransPressed_);
  std::memset(keyFaderDirection_, 0, sizeof keyFaderDirection_);
  std::memset(keySign_, 0, sizeof keySign_);
  std::memset(dskSign_, 0, sizeof dskSign_);
  // The A/B flip-flop of each background starts where the bus record says the program is.
  for (int m = 0; m < N_ME; ++m) {
    if (recordOf<MxifBus>(m).programBus == 1) transitions_[AutoTransition::bkgdSlot(m)].setPosition(1.0f);
  }
  // Keys and downstream keys come back at rest where their records say (a resume; a cold start has
  // none), on air as a cut leaves them, so a restart neither takes them off program nor turns the
  // next cut round. One at rest comes back as its on-air byte says; one in transition (or paused in
  // one) at the end its run was heading to, whatever its on-air byte held: its reverse byte is the
  // sense the run started in, 0 for a run towards on air, 1 for one towards off air.
  const auto backOnAir = [](const auto& r) { return r.inTransition == 1 ? r.reverse == 0 : r.onAir == 1; };
  for (int m = 0; m < N_ME; ++m) {
    for (int k = 0; k < N_KEYS; ++k) {
      if (backOnAir(recordOf<MxifKey>(m, k))) transitions_[AutoTransition::keySlot(m, k)].setPosition(1.0f);
    }
  }
  for (int c = 0; c < N_DSK; ++c) {
    if (backOnAir(recordOf<MxifDsk>(0, c))) transitions_[AutoTransition::dskSlot(c)].setPosition(1.0f);
  }
  lastFaderEventFlag_ = 0;
}

// ---- access ----------------------------------------------------------------------------------------

AutoTransition& CategoryFaderEvent::transition(int slot) {
  MX_CHECK(0 <= slot && slot < N_SLOTS);
  return transitions_[slot];
}

TransitionFader& CategoryFaderEvent::fader(int slot) {
  MX_CHECK(0 <= slot && slot < N_SLOTS);
  return faders_[slot];
}

FaderLever& CategoryFaderEvent::lever(int index) {
  MX_CHECK(0 <= index && index < N_LEVERS);
  return levers_[index];
}

FaderLever& CategoryFaderEvent::keyFaderLever(int panel, int kind) {
  MX_CHECK(0 <= panel && panel < N_PANELS);
  MX_CHECK(0 <= kind && kind < N_KEY_FADER_PANEL);
  return keyFaderLevers_[panel * N_KEY_FADER_PANEL + kind];
}

LeverCalibration& CategoryFaderEvent::calibration(int index) {
  MX_CHECK(0 <= index && index < N_LEVERS);
  return calibration_->entries[index];
}

// ---- commands from outside -------------------------------------------------------------------------

void CategoryFaderEvent::receiveCommand(int type, RequestReceiver& rx) {
  (void)type;
  internal::MxifFaderEvent in{};
  if (!rx.readRecord(in)) return;
  if (!limits::takes(in, in.panel) || !limits::takes(in, in.lever)) return;
  inputLever(levers_[in.panel * N_PANEL_LEVERS + in.lever], in.value, 100, LEVER_LOWEST, LEVER_CEILING_MARGIN);
}

void CategoryFaderEvent::inputLever(FaderLever& lever, int raw, int percent, int lowest, int ceilingMargin) {
  lever.input(raw, percent, lowest, ceilingMargin);
}

void CategoryFaderEvent::onButtonStatus(const MxifButtonEvent* btnStatus) {
  MX_CHECK(NULL != btnStatus);
  const MxifButtonEvent& status = *btnStatus;
  const int me = status.getMe();
  if (me >= N_ME) return;
  const int code = status.getCode();
  const int panel = status.panel;
  // The held tables take a press and a release; any other state leaves them.
  if (panel < N_PANELS && (status.isPressed() || status.isReleased())) {
    const u8 held = status.isPressed() ? 1 : 0;
    const auto from = [&](int first, int n) { return first <= code && code < first + n; };
    if (from(Event::BTN_KEY_TRANS, N_KEYS)) keyHeld_[panel][me][code - Event::BTN_KEY_TRANS] = held;
    if (from(Event::BTN_DSK_TRANS, N_DSK)) dskHeld_[panel][code - Event::BTN_DSK_TRANS] = held;
    if (from(Event::BTN_ME2_KEY_TRANS, N_KEYS)) me2KeyHeld_[panel][code - Event::BTN_ME2_KEY_TRANS] = held;
  }
  if (!status.isPressed()) return;
  auto inBlock = [&](int first) { return first <= code && code < first + N_BLOCK_BUTTONS; };
  if (Event::BTN_TYPE0 <= code && code <= Event::BTN_CUT) transPressed_[me][code - Event::BTN_TYPE0] = 1;
  if (code == Event::BTN_BKGD_AUTO) transPressed_[me][TRANS_BKGD_AUTO] = 1;
  if (code == Event::BTN_BKGD_CUT) transPressed_[me][TRANS_BKGD_CUT] = 1;
  if (inBlock(Event::BTN_ME_BLOCK)) mePressed_[me][code - Event::BTN_ME_BLOCK] = 1;
  if (inBlock(Event::BTN_DSK_BLOCK)) dskPressed_[code - Event::BTN_DSK_BLOCK] = 1;
  if (inBlock(Event::BTN_ME2_BLOCK)) me2Pressed_[code - Event::BTN_ME2_BLOCK] = 1;
}

bool CategoryFaderEvent::keyButtonHeld(int panel, int me, int k) const {
  MX_CHECK(0 <= panel && panel < N_PANELS);
  MX_CHECK(0 <= me && me < N_ME);
  MX_CHECK(0 <= k && k < N_KEYS);
  return keyHeld_[panel][me][k] != 0;
}

bool CategoryFaderEvent::dskButtonHeld(int panel, int c) const {
  MX_CHECK(0 <= panel && panel < N_PANELS);
  MX_CHECK(0 <= c && c < N_DSK);
  return dskHeld_[panel][c] != 0;
}

bool CategoryFaderEvent::me2KeyButtonHeld(int panel, int c) const {
  MX_CHECK(0 <= panel && panel < N_PANELS);
  MX_CHECK(0 <= c && c < N_KEYS);
  return me2KeyHeld_[panel][c] != 0;
}

void CategoryFaderEvent::resetCalibration(int panel, int mode) {
  (void)mode;
  MX_CHECK(0 <= panel && panel < N_PANELS);
  for (int l = 0; l < N_PANEL_LEVERS; ++l) calibration_->entries[panel * N_PANEL_LEVERS + l] = LeverCalibration{};
}

void CategoryFaderEvent::releaseMeFaders(int panel, int me) {
  MX_CHECK(0 <= me && me < N_ME);
  MX_CHECK(0 <= panel && panel < N_PANELS);
  faders_[AutoTransition::bkgdSlot(me)].ownerFader = TransitionFader::NO_OWNER;
  for (int k = 0; k < N_KEYS; ++k) faders_[AutoTransition::keySlot(me, k)].ownerFader = TransitionFader::NO_OWNER;
  meChangeCountdown_[panel][me] = ME_CHANGE_FRAMES;
}

int CategoryFaderEvent::meChangeCountdown(int panel, int me) const {
  MX_CHECK(0 <= me && me < N_ME);
  MX_CHECK(0 <= panel && panel < N_PANELS);
  return meChangeCountdown_[panel][me];
}

// ---- the background transition -------------------------------------------------------------------

int CategoryFaderEvent::isTransitionIdle(int me) {
  const AutoTransition& t = transitions_[AutoTransition::bkgdSlot(me)];
  const float a = t.position(0);
  if (t.mode() == 1) {
    const float b = t.position(1);
    return (a < LOW && b < LOW) || (a > HIGH && b > HIGH && !(a == 1.0f && b == 1.0f)) ? 1 : 0;
  }
  return a < LOW || (a > HIGH && a != 1.0f) ? 1 : 0;
}

float CategoryFaderEvent::bkgdPosition(int me, int which) {
  return transitions_[AutoTransition::bkgdSlot(me)].position(which);
}

void CategoryFaderEvent::setLimits(int me, float a, float b) { transitions_[AutoTransition::bkgdSlot(me)].setLimits(a, b); }

void CategoryFaderEvent::setPartialEnd(int me, float p, int rate) {
  transitions_[AutoTransition::bkgdSlot(me)].setPartialEnd(p, rate);
}

// ---- key transitions ---------------------------------------------------------------------------------

int CategoryFaderEvent::faderSign(const AutoTransition& t) {
  if (recordOf<MxifOperate>().faderDirectionMode != 1) return -t.direction;
  return t.flip <= 0 ? t.direction : -std::abs(t.direction);
}

bool CategoryFaderEvent::operateFlagSet() { return recordOf<MxifOperate>().faderFlag == 1; }

int CategoryFaderEvent::startDirection(const AutoTransition& t) {
  // Fader direction mode 1 takes the direction from where the key stands, paused or not; otherwise
  // a paused run resumes the way it went.
  if (recordOf<MxifOperate>().faderDirectionMode == 1) return t.flip > 0 && t.positionA >= LOW ? -1 : 1;
  return paused(t) ? 0 : 1;
}

void CategoryFaderEvent::syncKeyTransition(AutoTransition& t, int me, int ch) {
  MX_CHECK(0 <= me && me < N_ME);
  MX_CHECK(0 <= ch && ch < N_KEYS);
  const MxifKey::Trans& a = activeTrans(recordOf<MxifKey>(me, ch));
  if (a.on == 1) {
    t.start(a.value, startDirection(t));
  } else {
    t.stop();
  }
}

void CategoryFaderEvent::syncKeyTransition2(AutoTransition& t, int ch) {
  MX_CHECK(0 <= ch && ch < N_DSK);
  const MxifKey::Trans& a = activeTrans(recordOf<MxifDsk>(0, ch));
  if (a.on == 1) {
    t.start(a.value, startDirection(t));
  } else {
    t.stop();
  }
}

void CategoryFaderEvent::syncKeyFaderTracker(AutoTransition& t, int me, int ch) {
  if (runs(t)) {
    t.setDirection(faderSign(t));
  } else {
    syncKeyTransition(t, me, ch);
  }
}

void CategoryFaderEvent::syncKeyFaderTracker2(AutoTransition& t, int ch) {
  if (runs(t)) {
    t.setDirection(faderSign(t));
  } else {
    syncKeyTransition2(t, ch);
  }
}

// ---- the frame -------------------------------------------------------------------------------------

void CategoryFaderEvent::update() {
  const FrameStep frame = FrameStep::current();
  const MxifOperate& op = recordOf<MxifOperate>();
  const Layers layers;

  for (FaderLever& l : levers_) l.step(frame.allowed());
  for (FaderLever& l : keyFaderLevers_) l.step(frame.allowed());
  for (auto& row : meChangeCountdown_) {
    for (auto& c : row) {
      if (c > 0) --c;
    }
  }

  leversToTransitions(op, layers);
  keyFaderUpdate(frame, op);

  for (int m = 0; m < N_ME; ++m) {
    typeButtons(m, layers);
    autoCutButtons(m, layers);
    std::memset(transPressed_[m], 0, sizeof transPressed_[m]);
  }
  for (int m = 0; m < N_ME; ++m) keyButtons(m, op, layers);
  dskButtons(op, layers);
  faderSelectButtons();
  std::memset(mePressed_, 0, sizeof mePressed_);
  std::memset(dskPressed_, 0, sizeof dskPressed_);
  std::memset(me2Pressed_, 0, sizeof me2Pressed_);
  keyFaderButtons(op);

  transitionLamps(op);
  keyFaderLeds(op);

  layerStatus(layers);

  for (int k = 0; k < N_SLOTS; ++k) {
    if (AutoTransition::isDualSlot(k)) {
      transitions_[k].advanceDual(frame);
    } else {
      transitions_[k].advanceSingle(frame);
    }
  }
  for (auto& f : faders_) f.advance();
  // A key or downstream key that the status shows in transition whose run the advance ended.
  for (u32 moving = movingLayers_; moving != 0; moving &= moving - 1) {
    const int layer = std::countr_zero(moving);
    const int slot = layer < DSK_LAYER ? AutoTransition::keySlot(layer / N_KEYS, layer % N_KEYS)
                                       : AutoTransition::dskSlot(layer - DSK_LAYER);
    runEnded_ = runEnded_ || transitions_[slot].state == AutoTransition::IDLE;
  }

  lastFaderEventFlag_ = op.faderEventFlag;
}

void CategoryFaderEvent::storeBackup() {
  if (!runEnded_) return;
  runEnded_ = false;
  layerStatus(Layers(), false);
}

// Each panel's lever m offers itself to ME m's selected background and keys, its linked clips and
// its linked event memory; the transitions it does not drive let it go when it moves.
void CategoryFaderEvent::leversToTransitions(const MxifOperate& op, const Layers& layers) {
  if (op.faderModeSelect > 1) return;
  for (int p = 0; p < N_PANELS; ++p) {
    for (int m = 0; m < N_ME; ++m) {
      FaderLever& lever = levers_[p * N_PANEL_LEVERS + m];
      lever.clearPickUp();
      const u8 mode = op.faderModeSelect == 0 ? op.faderMode : op.faderModePerMe.value[m];
      const bool withDirection = mode == 0;
      const float position = lever.endFlag != 0 ? 1.0f : lever.getPosition();
      const float previous = lever.endFlag != 0 ? 1.0f : lever.getPrevPosition();
      // While the panel waits after an ME change, the lever takes neither the ME's background nor
      // its keys.
      const bool waiting = meChangeCountdown_[p][m] > 0;
      if (waiting) {
        faders_[AutoTransition::bkgdSlot(m)].ownerFader = TransitionFader::NO_OWNER;
        for (int k = 0; k < N_KEYS; ++k) faders_[AutoTransition::keySlot(m, k)].ownerFader = TransitionFader::NO_OWNER;
      }
      auto drive = [&](int slot, int direction) {
        bool taken = false;
        faders_[slot].update(p, previous, position, direction, &taken);
        return taken;
      };
      auto offer = [&](int slot, int direction) { return !waiting && drive(slot, direction); };
      const MxifBkgd& bkgd = recordOf<MxifBkgd>(m);

      const int b = AutoTransition::bkgdSlot(m);
      if (bkgd.nextBkgd == 1) {
        const bool taken = offer(b, withDirection ? lever.direction : 0);
        const AutoTransition& t = transitions_[b];
        const int dir = withDirection ? t.flip : t.hold ? -lever.direction * t.directionMirror : 0;
        lever.feedPickUp(pickUpValue(t), dir, !taken, runs(t) || t.state == AutoTransition::RAMP,
                         t.hold ? t.scale : 1.0f);
      } else {
        faders_[b].releaseIfMoved(p, previous, position);
      }

      for (int k = 0; k < N_KEYS; ++k) {
        const int s = AutoTransition::keySlot(m, k);
        if (bkgd.nextKey[k] == 1) {
          const bool taken = offer(s, 0);
          lever.feedPickUp(transitions_[s].positionA, 0, !taken, runs(transitions_[s]), 1.0f);
        } else {
          faders_[s].releaseIfMoved(p, previous, position);
        }
      }

      auto linkedOrPaused = [&](int s, bool linked) {
        if (linked) {
          drive(s, 0);  // clip and event-memory transitions do not wait for an ME change
          return;
        }
        if (runs(transitions_[s])) transitions_[s].state = AutoTransition::PAUSED;
        faders_[s].releaseIfMoved(p, previous, position);
      };
      for (int c = 0; c < AutoTransition::N_CLIP_CHANNELS; ++c) {
        linkedOrPaused(AutoTransition::clipSlot(m, c), layers.clipLinked(m, c));
      }
      linkedOrPaused(AutoTransition::eventMemorySlot(m), layers.eventLinked(m));
    }
  }
}

// 1613..1615: the transition type of the selected background and keys (keys take types 0 and 1).
void CategoryFaderEvent::typeButtons(int me, const Layers& layers) {
  int kind = -1;
  for (int i = 0; i < N_TYPES_BUTTONS && kind < 0; ++i) {
    if (transPressed_[me][i] != 0) kind = i;
  }
  if (kind < 0) return;
  const MxifBkgd& selection = recordOf<MxifBkgd>(me);
  if (selection.nextBkgd == 1 && layers.bkgd[me] != nullptr) {
    MxifBkgd& r = layers.bkgd[me]->record(0);
    r.type = static_cast<u8>(kind);
    r.mixMask |= 1u;
  }
  if (kind == 2 || layers.keys[me] == nullptr) return;
  for (int k = 0; k < N_KEYS; ++k) {
    if (selection.nextKey[k] == 1) layers.keys[me]->setKeyTransMode(kind, k);
  }
}

// Cut 1617, auto 1616, background auto 3100, background cut 3101: the first pressed acts.
void CategoryFaderEvent::autoCutButtons(int me, const Layers& layers) {
  const u8* pressed = transPressed_[me];
  const MxifBkgd& selection = recordOf<MxifBkgd>(me);
  AutoTransition& bkgd = transitions_[AutoTransition::bkgdSlot(me)];
  if (pressed[TRANS_CUT] != 0) {
    if (selection.nextBkgd == 1) bkgd.stop();
    for (int k = 0; k < N_KEYS; ++k) {
      if (selection.nextKey[k] == 1) transitions_[AutoTransition::keySlot(me, k)].stop();
    }
    for (int c = 0; c < AutoTransition::N_CLIP_CHANNELS; ++c) {
      if (layers.clipLinked(me, c)) transitions_[AutoTransition::clipSlot(me, c)].stop();
    }
    if (layers.eventLinked(me)) transitions_[AutoTransition::eventMemorySlot(me)].stop();
  } else if (pressed[TRANS_AUTO] != 0) {
    autoSelected(me, layers);
  } else if (pressed[TRANS_BKGD_AUTO] != 0) {
    if (runs(bkgd)) {
      bkgd.state = AutoTransition::PAUSED;
    } else {
      bkgd.start(selection.trans.rate, bkgd.hold ? 0 : 1);
    }
  } else if (pressed[TRANS_BKGD_CUT] != 0) {
    bkgd.stop();
  }
}

// Auto over the selected layers: a run under way pauses; else the paused ones resume where they
// stand; else all start (a layer that is completing a cut is left to it). Linked clips that are
// ready and the linked event memory follow the background's rate on their own.
void CategoryFaderEvent::autoSelected(int me, const Layers& layers) {
  const MxifBkgd& selection = recordOf<MxifBkgd>(me);
  struct Layer {
    AutoTransition* t;
    int rate;
    int direction;
  } selected[1 + N_KEYS];
  int n = 0;
  AutoTransition& bkgd = transitions_[AutoTransition::bkgdSlot(me)];
  if (selection.nextBkgd == 1) selected[n++] = {&bkgd, selection.trans.rate, bkgd.hold ? 0 : 1};
  for (int k = 0; k < N_KEYS; ++k) {
    if (selection.nextKey[k] != 1) continue;
    selected[n++] = {&transitions_[AutoTransition::keySlot(me, k)], activeRate(recordOf<MxifKey>(me, k)), 1};
  }
  bool anyRuns = false, anyPaused = false;
  for (int i = 0; i < n; ++i) {
    anyRuns = anyRuns || runs(*selected[i].t);
    anyPaused = anyPaused || paused(*selected[i].t);
  }
  for (int i = 0; i < n; ++i) {
    AutoTransition& t = *selected[i].t;
    if (anyRuns) {
      if (runs(t)) t.state = AutoTransition::PAUSED;
    } else if (anyPaused) {
      if (paused(t)) t.start(selected[i].rate, 0);
    } else if (!stopping(t)) {
      t.start(selected[i].rate, selected[i].direction);
    }
  }

  auto follow = [&](AutoTransition& t) {
    if (runs(t)) {
      t.state = AutoTransition::PAUSED;
    } else if (!stopping(t)) {
      t.start(selection.trans.rate, paused(t) ? 0 : 1);
    }
  };
  for (int c = 0; c < AutoTransition::N_CLIP_CHANNELS; ++c) {
    if (layers.clipLinked(me, c) && Layers::clipReady(c)) follow(transitions_[AutoTransition::clipSlot(me, c)]);
  }
  if (layers.eventLinked(me)) follow(transitions_[AutoTransition::eventMemorySlot(me)]);
}

void CategoryFaderEvent::keyButtons(int me, const MxifOperate& op, const Layers& layers) {
  const u8* pressed = mePressed_[me];
  for (int k = 0; k < N_KEYS; ++k) {
    if (pressed[Event::BTN_KEY_TRANS - Event::BTN_ME_BLOCK + k] != 0) {
      switch (op.keyFaderButton.mode) {
        case 1:
          keyCut(me, k);
          break;
        case 2:
          if (layers.keys[me] != nullptr) layers.keys[me]->toggleKeyTransMode(k);
          break;
        case 3:
          if (layers.keys[me] != nullptr) layers.keys[me]->toggleKeyTransDve(k);
          break;
        default:
          break;
      }
    }
    if (pressed[Event::BTN_KEY_AUTO - Event::BTN_ME_BLOCK + k] != 0) keyAuto(me, k);
    if (pressed[Event::BTN_KEY_CUT - Event::BTN_ME_BLOCK + k] != 0) keyCut(me, k);
  }
}

void CategoryFaderEvent::dskButtons(const MxifOperate& op, const Layers& layers) {
  for (int c = 0; c < N_DSK; ++c) {
    if (dskPressed_[Event::BTN_DSK_TRANS - Event::BTN_DSK_BLOCK + c] != 0) {
      if (op.keyFaderButton.mode2 == 1) dskCut(c);
      if (op.keyFaderButton.mode2 == 2 && layers.dsk != nullptr) layers.dsk->toggleDskTransMode(c);
    }
    if (dskPressed_[Event::BTN_DSK_AUTO - Event::BTN_DSK_BLOCK + c] != 0) dskAuto(c);
    if (dskPressed_[Event::BTN_DSK_CUT - Event::BTN_DSK_BLOCK + c] != 0) dskCut(c);
  }
}

namespace {

// The auto button of layer i of a linked group (the keys of an ME, the downstream keys): a running
// layer turns back, with every linked layer that runs the same way in the same sense; otherwise the
// linked layers at rest in the same sense start, then the layer itself.
template <class At, class Linked, class Sign, class Sync>
void linkedAuto(int i, int n, At at, Linked linked, Sign sign, Sync sync) {
  AutoTransition& t = at(i);
  const s32 direction = t.direction, flip = t.flip;
  const bool running = runs(t);
  if (running) t.setDirection(sign(t));
  for (int j = 0; j < n && linked(i); ++j) {
    AutoTransition& o = at(j);
    if (j == i || !linked(j) || o.flip != flip) continue;
    if (running && runs(o) && o.direction == direction) o.setDirection(sign(o));
    if (!running && !runs(o)) sync(o, j);
  }
  if (!running) sync(t, i);
}

// The cut button of layer i: the linked layers in the same sense complete with it.
template <class At, class Linked>
void linkedCut(int i, int n, At at, Linked linked) {
  AutoTransition& t = at(i);
  for (int j = 0; j < n && linked(i); ++j) {
    if (j != i && linked(j) && at(j).flip == t.flip) at(j).stop();
  }
  t.stop();
}

}  // namespace

void CategoryFaderEvent::keyAuto(int me, int k) {
  linkedAuto(
      k, N_KEYS, [&](int j) -> AutoTransition& { return transitions_[AutoTransition::keySlot(me, j)]; },
      [&](int j) { return recordOf<MxifKey>(me, j).group != 0; }, [&](const AutoTransition& t) { return faderSign(t); },
      [&](AutoTransition& t, int j) { syncKeyTransition(t, me, j); });
}

void CategoryFaderEvent::keyCut(int me, int k) {
  linkedCut(
      k, N_KEYS, [&](int j) -> AutoTransition& { return transitions_[AutoTransition::keySlot(me, j)]; },
      [&](int j) { return recordOf<MxifKey>(me, j).group != 0; });
}

void CategoryFaderEvent::dskAuto(int c) {
  linkedAuto(
      c, N_DSK, [&](int j) -> AutoTransition& { return transitions_[AutoTransition::dskSlot(j)]; },
      [&](int j) { return recordOf<MxifDsk>(0, j).group != 0; }, [&](const AutoTransition& t) { return faderSign(t); },
      [&](AutoTransition& t, int j) { syncKeyTransition2(t, j); });
}

void CategoryFaderEvent::dskCut(int c) {
  linkedCut(
      c, N_DSK, [&](int j) -> AutoTransition& { return transitions_[AutoTransition::dskSlot(j)]; },
      [&](int j) { return recordOf<MxifDsk>(0, j).group != 0; });
}

// 1700..1703 of each ME, 1800..1803 and 2100..2103 select a fader on the mainframe configuration.
void CategoryFaderEvent::faderSelectButtons() {
  auto* target = CategoryRegistry::instance().find<FaderSelectTarget>(TYPE_MAINFRAME_CONFIG, 0);
  auto select = [&](u8 pressed, int value) {
    if (pressed != 0 && target != nullptr && target->faderSelectEnabled()) target->setFaderSelect(value);
  };
  for (int m = 0; m < N_ME; ++m) {
    for (int k = 0; k < N_PANEL_LEVERS; ++k) select(mePressed_[m][k], N_PANEL_LEVERS * m + k);
  }
  for (int k = 0; k < N_PANEL_LEVERS; ++k) select(dskPressed_[k], 16 + k);
  for (int k = 0; k < N_PANEL_LEVERS; ++k) select(me2Pressed_[k], 8 + k);
}

// What the background (unless left out), key and downstream-key records report of their
// transitions, each byte written only when it changes.
void CategoryFaderEvent::layerStatus(const Layers& layers, bool backgrounds) {
  auto runsOrPaused = [](const AutoTransition& t) { return runs(t) || paused(t); };
  u32 moving = 0;  // as movingLayers_ holds them
  for (int m = 0; m < N_ME; ++m) {
    const AutoTransition& bkgd = transitions_[AutoTransition::bkgdSlot(m)];
    if (CategoryBkgd* cat = backgrounds ? layers.bkgd[m] : nullptr) {
      const MxifBkgd& r = cat->record(0);
      bool anyMoving = r.nextBkgd == 1 && runsOrPaused(bkgd);
      bool anyStopping = r.nextBkgd == 1 && stopping(bkgd);
      for (int k = 0; k < N_KEYS; ++k) {
        if (r.nextKey[k] != 1) continue;
        anyMoving = anyMoving || runsOrPaused(transitions_[AutoTransition::keySlot(m, k)]);
        anyStopping = anyStopping || stopping(transitions_[AutoTransition::keySlot(m, k)]);
      }
      const u8 status[4] = {static_cast<u8>(anyMoving), static_cast<u8>(anyStopping),
                            static_cast<u8>(runsOrPaused(bkgd)), static_cast<u8>(stopping(bkgd))};
      if (r.status[0] != status[0]) cat->setStatus0(status[0]);
      if (r.status[1] != status[1]) cat->setStatus1(status[1]);
      if (r.status[2] != status[2]) cat->setStatus2(status[2]);
      if (r.status[3] != status[3]) cat->setStatus3(status[3]);
    }
    if (CategoryKey* keys = layers.keys[m]) {
      for (int k = 0; k < N_KEYS; ++k) {
        const LayerState s(transitions_[AutoTransition::keySlot(m, k)]);
        moving |= u32{s.moving} << (N_KEYS * m + k);
        const MxifKey& r = keys->record(k);
        if (r.onAir != s.onAir) keys->setKeyOnAir(k, s.onAir);
        if (r.inTransition != s.moving) keys->setKeyInTransition(k, s.moving);
        if (r.stopping != s.stops) keys->setKeyTransState3(k, s.stops);
      }
    }
  }
  if (CategoryDsk* dsk = layers.dsk) {
    for (int c = 0; c < N_DSK; ++c) {
      const LayerState s(transitions_[AutoTransition::dskSlot(c)]);
      moving |= u32{s.moving} << (DSK_LAYER + c);
      const MxifDsk& r = dsk->record(c);
      if (r.onAir != s.onAir) dsk->setDskOnAir(c, s.onAir);
      if (r.inTransition != s.moving) dsk->setDskInTransition(c, s.moving);
      if (r.stopping != s.stops) dsk->setDskTransState3(c, s.stops);
    }
  }
  movingLayers_ = moving;
}

}  // namespace category
