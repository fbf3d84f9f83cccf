#include "Main/bkgd/autotrans.h"

#include <algorithm>
#include <cmath>

#include "Main/system/system.h"
#include "Lib/Include/check.h"

FrameStep FrameStep::current() {
  category::CategorySystem& system = category::CategorySystem::instance();
  return FrameStep{system.format(), system.isFieldPhase(1)};
}

// --- slot table ---

int AutoTransition::bkgdSlot(int me) {
  static const int slots[N_ME] = {0, 5, 10, 15};
  MX_CHECK(0 <= me && me < N_ME);
  return slots[me];
}

int AutoTransition::keySlot(int me, int ch) {
  MX_CHECK(0 <= me && me < N_ME);
  ::assert::check(__FILE__, __LINE__, "0 <= ch && ch < MxifKey::N_CHANNELS", 0 <= ch && ch < N_KEY_CHANNELS);
  return 5 * me + 1 + ch;
}

int AutoTransition::dskSlot(int ch) {
  MX_CHECK(0 <= ch && ch < N_DSK_CHANNELS);
  return 20 + ch;
}

int AutoTransition::clipSlot(int me, int ch) {
  MX_CHECK(0 <= me && me < 2 * N_ME);
  MX_CHECK(0 <= ch && ch < N_CLIP_CHANNELS);
  return me < N_ME ? 24 + 4 * me + ch : 64 + 4 * (me - N_ME) + ch;
}

int AutoTransition::eventMemorySlot(int me) {
  MX_CHECK(0 <= me && me < N_ME);
  return 40 + me;
}

bool AutoTransition::isDualSlot(int slot) {
  switch (slot) {
    case 0: case 5: case 10: case 15: case 44: case 49: case 54: case 59:
      return true;
    default:
      return false;
  }
}

// --- commands ---

float AutoTransition::stepSize(int rate, int format) {
  // A rate of 0 (or a negative one, which never reaches the tracker through start) carries a whole run.
  if (rate <= 0) return 1.0f;
  bool frameRate = (format >= 2 && format <= 5) || (format >= 8 && format <= 11);
  return (frameRate ? 1.0f : 0.5f) / static_cast<float>(rate);
}

void AutoTransition::start(int r, int d) {
  if (d != 0) direction = d;
  rate = std::max(r, 0);
  state = RUNNING;
}

void AutoTransition::setLimits(float a, float b) {
  limitStart = a <= 0.0f ? WINDOW_LOW : (a >= 1.0f ? WINDOW_HIGH : a);
  limitEnd = b <= 0.0f ? WINDOW_HIGH : (b >= 1.0f ? WINDOW_LOW : 1.0f - b);
}

float AutoTransition::windowMap(float v) const {
  if (v < limitStart) return 0.0f;
  if (limitStart + (1.0f - limitEnd) >= WINDOW_HIGH) return v >= limitEnd ? 1.0f : 0.0f;
  if (v <= limitStart) return 0.0f;
  if (v >= limitEnd) return 1.0f;
  return (v - limitStart) / std::fabs(limitEnd - limitStart);
}

float AutoTransition::position(int which) const {
  float v = which == 1 ? positionB : positionA;
  if (state == RAMP) return v;
  float m = windowMap(v);
  return hold ? m * scale : m;
}

void AutoTransition::setPosition(float p) {
  if (p < LOW) {
    if (hold) setEndDirection(1);
    positionA = 0.0f;
  } else if (p <= HIGH) {
    positionA = p;
  } else if (hold) {
    setEndDirection(-1);
    positionA = 1.0f;
  } else {
    positionA = 0.0f;
    negateFlip();
  }
}

void AutoTransition::setPositions(float a, float b) {
  if (a < LOW) a = 0.0f;
  if (b < LOW) b = 0.0f;
  if (a > HIGH) a = 1.0f;
  if (b > HIGH) b = 1.0f;
  bool atStart = mode_ == 1 ? (a < LOW && b < LOW) : a < LOW;
  bool atEnd = mode_ == 1 ? (a > HIGH && b > HIGH) : a > HIGH;
  if (atStart && hold) {
    setEndDirection(1);
  } else if (atEnd) {
    if (hold) {
      setEndDirection(-1);
    } else {
      a = 0.0f;
      b = 0.0f;
      negateFlip();
    }
  }
  positionA = a;
  positionB = b;
}

void AutoTransition::startRamp(float distance, int r, int format, float newScale) {
  setEndDirection(1);
  float s = stepSize(r, format);
  state = RAMP;
  rampStep = distance * s;
  rampFrames = static_cast<s32>(1.0f / s + 0.5f);
  scale = newScale;
}

void AutoTransition::setPartialEnd(float p, int r, int format) {
  float ref = state == RAMP ? savedPosition : positionA;
  if (state != RAMP) savedPosition = positionA;
  float m = windowMap(ref);
  if (p < HIGH) {
    if (hold) {
      scale = p;
      return;
    }
    if (state != RAMP) positionA = m;
    float distance = p * m - positionA;
    hold = 1;
    startRamp(distance, r, format, p);
  } else {
    if (!hold) {
      scale = 1.0f;
      return;
    }
    if (state != RAMP) positionA = scale * m;
    float distance = m - positionA;
    hold = 0;
    startRamp(distance, r, format, 1.0f);
  }
}

// --- per-frame step ---

void AutoTransition::advance(const FrameStep& frame, bool dual) {
  const bool allowed = frame.allowed();
  if (rampFrames >= 0 && allowed) --rampFrames;
  if (state == IDLE) {
    idle = 1;
    return;
  }
  idle = 0;
  if (state == STOP_REQUEST) {
    // The run completes at once: un-held it counts as finished (back to 0, flipped); held it stops
    // at the end it was heading for.
    state = IDLE;
    float end = (!hold || direction >= 0) ? 1.0f : 0.0f;
    if (dual) {
      setPositions(end, end);
    } else {
      setPosition(end);
    }
    return;
  }
  if (!allowed) return;
  if (state == RAMP) {
    positionA += rampStep;
    if (dual) positionB += rampStep;
    if (rampFrames == 0) {
      state = IDLE;
      if (dual) {
        setPositions(savedPosition, savedPosition);
      } else {
        setPosition(positionA);
      }
    }
  } else if (state == RUNNING) {
    float s = stepSize(rate, frame.format);
    if (direction < 0) s = -s;
    if (dual) {
      setPositions(std::clamp(positionA + s, 0.0f, 1.0f), std::clamp(positionB + s, 0.0f, 1.0f));
      bool ended = mode_ != 0 ? ((positionA <= 0.0f && positionB <= 0.0f) || (positionA >= 1.0f && positionB >= 1.0f))
                              : (positionA <= 0.0f || positionA >= 1.0f);
      if (ended) state = IDLE;
    } else {
      // Summing the step in single precision leaves a run a hair short of its end; a position
      // within the end thresholds counts as the end, so a run of `rate` takes its nominal frames
      // (as the two-position snapping already does).
      float p = positionA + s;
      if (p < LOW || p > HIGH) {
        state = IDLE;
        setPosition(p < LOW ? 0.0f : 1.0f);
      } else {
        positionA = p;
      }
    }
  }
}
