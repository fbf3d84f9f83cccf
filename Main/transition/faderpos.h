#pragma once
// The tracker beside each transition that decides when a fader lever owns it: a lever picks the
// transition up only when it reaches or crosses the transition's position, so nothing jumps.
#include "Main/bkgd/autotrans.h"
#include "Lib/Include/types.h"

class TransitionFader {
 public:
  static constexpr int N_TRACKERS = AutoTransition::N_SLOTS;
  static constexpr int NO_OWNER = -1;

  void bind(AutoTransition* t) { transition = t; }

  // Once per frame, after the transitions advanced and before the levers are handled.
  void advance();
  // Offers lever `fader` (previous and current value 0.0..1.0, lever direction +1/-1 or 0) to the
  // transition. Returns 1 when the lever positioned the transition in this call, else the pick-up
  // status (1: transition and lever both rest at the same end). `taken` (when given) tells the two
  // apart: it is set when the lever positioned the transition.
  bool update(int fader, float previous, float current, int direction, bool* taken = nullptr);
  // Lets the transition go when its owning lever moves while the transition is not selected.
  void releaseIfMoved(int fader, float previous, float current);
  // Puts the transition to a position from outside (memory recall, system initialise); `direction`
  // is the A/B sense (flip) it takes, the opposite one when the position is at the end.
  void setPosition(int direction, float position, float aux);
  // The same without the end handling.
  void setState(int direction, float position, float aux);

  AutoTransition* transition = nullptr;
  float lastPosition = 0.0f;
  float currentPosition = 0.0f;
  float lastAux = 0.0f;
  float currentAux = 0.0f;
  s32 ownerFader = NO_OWNER;

 private:
  AutoTransition& target() const;
  bool take(int fader, float current);
};
