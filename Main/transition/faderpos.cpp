#include "Main/transition/faderpos.h"

#include <cmath>

#include "Lib/Include/check.h"

namespace {
constexpr float LOW = AutoTransition::LOW;
constexpr float HIGH = AutoTransition::HIGH;
// Match mode takes the lever when it stands this close to the transition.
constexpr double MATCH_DISTANCE = 0.001;
}  // namespace

AutoTransition& TransitionFader::target() const {
  MX_CHECK(transition != nullptr);
  return *transition;
}

void TransitionFader::advance() {
  AutoTransition& t = target();
  lastPosition = currentPosition;
  lastAux = currentAux;
  currentPosition = t.positionA;
  currentAux = t.positionB;
  if (t.idle == 0) ownerFader = NO_OWNER;
}

bool TransitionFader::take(int fader, float current) {
  AutoTransition& t = target();
  ownerFader = fader;
  t.setPosition(current);
  t.state = AutoTransition::IDLE;
  return true;
}

bool TransitionFader::update(int fader, float previous, float current, int direction, bool* taken) {
  MX_CHECK(fader >= 0);
  AutoTransition& t = target();
  if (taken) *taken = false;

  bool invert;
  if (direction == 0) {
    invert = t.hold && t.directionMirror < 0;
  } else {
    // The lever's sense against the transition's A/B sense (its flip); in the frame the lever ends
    // its stroke its direction has already turned, so the stroke's own direction is compared.
    int d = current > HIGH ? -direction : direction;
    invert = d == t.flip;
  }
  if (invert) {
    previous = 1.0f - previous;
    current = 1.0f - current;
  }

  bool status = false;
  bool takes = false;
  const float c = currentPosition;
  const float l = lastPosition;
  if (t.rampFrames != 0) {
    // Pick-up mode: the lever must reach or cross the transition's position.
    if (c < LOW) {
      status = current < LOW;
      takes = !status && previous < LOW;
    } else if (c > HIGH) {
      status = current > HIGH;
      takes = !status && previous > HIGH;
    } else if (std::fabs(current - previous) > LOW) {
      if (previous < current)
        takes = (previous <= c && c < current) || (l <= current && current < c);
      else
        takes = (current < c && c <= previous) || (c < current && current <= l);
    }
  } else {
    // Match mode: the lever must stand at the transition's position.
    takes = std::fabs(static_cast<double>(current) - static_cast<double>(c)) <= MATCH_DISTANCE;
  }

  if (!takes) {
    if (t.state == AutoTransition::RAMP || ownerFader != fader) return status;
  }
  if (taken) *taken = true;
  return take(fader, current);
}

void TransitionFader::releaseIfMoved(int fader, float previous, float current) {
  if (ownerFader != fader) return;
  float moved = current - previous;
  if (moved < -LOW || moved > LOW || current < LOW || current > HIGH) ownerFader = NO_OWNER;
}

void TransitionFader::setPosition(int direction, float position, float aux) {
  AutoTransition& t = target();
  if (position >= HIGH) {
    t.positionA = 0.0f;
    t.positionB = 0.0f;
    t.flip = -direction;
  } else {
    t.positionA = position;
    t.positionB = aux;
    t.flip = direction;
  }
  t.state = AutoTransition::IDLE;
  ownerFader = NO_OWNER;
}

void TransitionFader::setState(int direction, float position, float aux) {
  AutoTransition& t = target();
  t.positionB = aux;
  t.flip = direction;
  t.state = AutoTransition::IDLE;
  t.positionA = position;
  ownerFader = NO_OWNER;
}
