#include "Main/fader/faderlever.h"

#include <algorithm>

#include "Lib/Include/check.h"
#include "Main/bkgd/autotrans.h"

namespace {
constexpr float THIRD = 0.33333334f;

// Lamps of the bar that show x (0..1): trunc(24 x + 0.5).
int barCount(float x) {
  return std::clamp(static_cast<int>(FaderLever::BAR_LAMPS * x + 0.5f), 0, FaderLever::BAR_LAMPS);
}
}  // namespace

void FaderLever::reset(LeverCalibration* cal) {
  *this = FaderLever{};
  calibration = cal;
}

void FaderLever::input(int raw, int percent, int lowest, int ceilingMargin) {
  LeverCalibration* fader = calibration;
  MX_CHECK(fader != 0);
  // Limits from the settings are kept within the raw range, so the calibration stays a raw value.
  lowest = std::clamp(lowest, 0, RAW_TOP);
  ceilingMargin = std::clamp(ceilingMargin, 0, RAW_TOP);
  if (raw > fader->max) {
    fader->max = static_cast<s16>(std::min(raw, RAW_TOP - ceilingMargin));
  } else if (raw < fader->min) {
    fader->min = static_cast<s16>(std::max(raw, lowest));
  }
  const int span = fader->max - fader->min - 2 * END_MARGIN;
  float v = 0.0f;
  // A calibration narrower than its two margins (only a ceiling set below the minimum gives one)
  // reads 0 rather than dividing by nothing.
  if (span > 0) {
    const float used = span * (percent / 100.0f);
    const int lowEdge = fader->min + static_cast<int>(span / 2.0f * (1.0f - percent / 100.0f));
    v = std::clamp((raw - lowEdge - END_MARGIN) / used, 0.0f, 1.0f);
  }
  value = v;
  if (countdown == 1) {
    for (float& s : samples) s = v;
    position = v;
  }
  if (countdown != 0) --countdown;
}

void FaderLever::step(bool allowed) {
  endFlag = 0;
  if (countdown != 0) return;
  samples[sampleIndex] = value;
  sampleIndex = (sampleIndex + 1) % 3;
  if (!allowed) return;
  prevPosition = position;
  const float mean = (samples[0] + samples[1] + samples[2]) * THIRD;
  const float p = direction < 0 ? 1.0f - mean : mean;
  position = p;
  if (p >= AutoTransition::HIGH) {
    prevPosition = 0.0f;
    position = 0.0f;
    direction = direction < 0 ? 1 : -1;
    endFlag = 1;
  }
}

void FaderLever::remember(float v, int dir, float aux) {
  pickValue = v;
  pickAux = aux;
  pickSign = dir == direction ? -dir : direction;
}

void FaderLever::feedPickUp(float v, int dir, bool undriven, bool force, float aux) {
  constexpr float LOW = AutoTransition::LOW;
  constexpr float HIGH = AutoTransition::HIGH;
  if (force) {
    if (pickState != PICK_RUNNING) {
      remember(v, dir, aux);
      pickState = PICK_RUNNING;
    }
    return;
  }
  switch (pickState) {
    case PICK_NONE:
    case PICK_DRIVEN:
      if (undriven) {
        if (dir == 0 && (v < LOW || v > HIGH)) {
          pickState = PICK_BOTH;
        } else if (dir == direction) {
          pickState = 1.0f - v > position ? PICK_TOWARD_A : PICK_TOWARD_B;
        } else {
          pickState = v > position ? PICK_TOWARD_A : PICK_TOWARD_B;
        }
      } else if (pickState == PICK_NONE) {
        remember(v, dir, aux);
        pickState = PICK_DRIVEN;
      }
      break;
    case PICK_TOWARD_A:
      if (undriven && (v < position || v > HIGH)) pickState = PICK_BOTH;
      break;
    case PICK_TOWARD_B:
      if (undriven && (v < LOW || v > position)) pickState = PICK_BOTH;
      break;
    case PICK_BOTH:
    case PICK_RUNNING:
      break;
    default:
      MX_FAIL("NeverReachHere");
  }
}

void FaderLever::bar(u8 (&lamps)[BAR_LAMPS]) const {
  bool lit[BAR_LAMPS] = {};
  int sign = direction;
  if (pickState == PICK_DRIVEN || pickState == PICK_RUNNING) {
    sign = pickSign;
    int n = barCount(pickValue);
    if (pickAux < AutoTransition::HIGH) {
      lit[std::min(barCount(pickAux), BAR_LAMPS - 1)] = true;
      n = barCount(pickAux * pickValue);
    }
    for (int i = 0; i < n; ++i) lit[i] = true;
  } else {
    const bool up = pickState == PICK_TOWARD_A || pickState == PICK_BOTH;
    const bool down = pickState == PICK_TOWARD_B || pickState == PICK_BOTH;
    for (int i = 0; i < BAR_LAMPS / 2; i += 2) {
      lit[i] = down;
      lit[BAR_LAMPS / 2 + 1 + i] = up;
    }
  }
  for (int i = 0; i < BAR_LAMPS; ++i) lamps[sign < 0 ? BAR_LAMPS - 1 - i : i] = lit[i] ? BAR_LIT : 0;
}
