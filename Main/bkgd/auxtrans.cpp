#include "Main/bkgd/auxtrans.h"

#include <algorithm>

void AuxTransition::Channel::step(int newSource, const FrameStep& frame) {
  if (!running && newSource != source) {
    previousSource = source;
    if (previousSource == -1) {
      // Nothing was shown before: the first selection appears at once.
      position = 1.0f;
    } else {
      running = 1;
      // A mix frozen part-way by an earlier hold continues from where it stands.
      if (position == 1.0f) position = 0.0f;
    }
  }
  source = newSource;
  if (held || !running) return;
  if (rate <= 1) {
    running = 0;
    position = 1.0f;
    return;
  }
  if (position < 1.0f && frame.allowed()) position += AutoTransition::stepSize(rate, frame.format);
  // A position within the end threshold counts as the end (single-precision sums fall short).
  if (position > AutoTransition::HIGH) {
    position = 1.0f;
    running = 0;
  }
}

void AuxTransition::stepChannel(int ch, int newSource, const FrameStep& frame) {
  if (!valid(ch)) return;
  Channel& c = channels[ch];
  u8 wasRunning = c.running;
  c.step(newSource, frame);
  if (!wasRunning && c.running) events[ch] = MIX_STARTED;
  if (wasRunning && !c.running) events[ch] = MIX_ENDED;
}

void AuxTransition::setRate(int ch, int rate) {
  if (!valid(ch)) return;
  channels[ch].rate = std::clamp(rate, 0, MAX_RATE);
}

void AuxTransition::getState(int ch, int& previous, int& current, float& position) const {
  if (!valid(ch)) return;
  const Channel& c = channels[ch];
  previous = c.previousSource == -1 ? c.source : c.previousSource;
  current = c.source;
  position = c.position;
}
