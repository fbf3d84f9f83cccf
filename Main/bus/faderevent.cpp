#include "Main/bus/faderevent.h"

#include "Lib/Include/check.h"

namespace category {

CategoryFaderEvent& CategoryFaderEvent::instance() {
  static CategoryFaderEvent category;
  return category;
}

CategoryFaderEvent::CategoryFaderEvent() { initInternal(); }

void CategoryFaderEvent::initInternal() {
  for (int k = 0; k < N_SLOTS; ++k) {
    transitions_[k] = AutoTransition{};
    faders_[k] = TransitionFader{};
    faders_[k].bind(&transitions_[k]);
  }
  for (auto& row : meChangeCountdown_) {
    for (auto& c : row) c = 0;
  }
}

void CategoryFaderEvent::update() {
  for (auto& row : meChangeCountdown_) {
    for (auto& c : row) {
      if (c > 0) --c;
    }
  }
  const FrameStep frame = FrameStep::current();
  for (int k = 0; k < N_SLOTS; ++k) {
    if (AutoTransition::isDualSlot(k)) {
      transitions_[k].advanceDual(frame);
    } else {
      transitions_[k].advanceSingle(frame);
    }
  }
  for (auto& f : faders_) f.advance();
}

void CategoryFaderEvent::receiveCommand(int type, RequestReceiver& rx) {
  (void)type;
  (void)rx;
}

AutoTransition& CategoryFaderEvent::transition(int slot) {
  MX_CHECK(0 <= slot && slot < N_SLOTS);
  return transitions_[slot];
}

TransitionFader& CategoryFaderEvent::fader(int slot) {
  MX_CHECK(0 <= slot && slot < N_SLOTS);
  return faders_[slot];
}

void CategoryFaderEvent::releaseMeFaders(int panel, int me) {
  MX_CHECK(0 <= me && me < N_ME);
  MX_CHECK(0 <= panel && panel < N_PANELS);
  faders_[AutoTransition::bkgdSlot(me)].ownerFader = TransitionFader::NO_OWNER;
  for (int k = 0; k < AutoTransition::N_KEY_CHANNELS; ++k) {
    faders_[AutoTransition::keySlot(me, k)].ownerFader = TransitionFader::NO_OWNER;
  }
  meChangeCountdown_[panel][me] = ME_CHANGE_FRAMES;
}

int CategoryFaderEvent::meChangeCountdown(int panel, int me) const {
  MX_CHECK(0 <= me && me < N_ME);
  MX_CHECK(0 <= panel && panel < N_PANELS);
  return meChangeCountdown_[panel][me];
}

}  // namespace category
