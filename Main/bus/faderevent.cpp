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
}

void CategoryFaderEvent::update() {
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

}  // namespace category
