#pragma once
// One transition lever of a control panel: its raw values normalised through a calibration that
// widens itself, averaged over three samples, turned into strokes (every full stroke from one end to
// the other is one whole transition), and the pick-up state that the lever's lamp bar shows.
#include "Lib/Include/records/panel.h"
#include "Lib/Include/types.h"

class FaderLever {
 public:
  // Inputs before the first averaged position: the one that brings the countdown to 0 primes the
  // samples and the position.
  static constexpr u8 START_INPUTS = 5;
  // The top of a raw value (a fader event's), and the margin kept off each end of the calibrated range.
  static constexpr int RAW_TOP = limits::runOf(&internal::MxifFaderEvent::value).hi;
  static constexpr int END_MARGIN = 300;

  // The lamp bar beside the lever.
  static constexpr int BAR_LAMPS = 24;
  static constexpr u8 BAR_LIT = 2;

  // Pick-up states: 0 not fed yet this frame, 1 driven by this lever, 2 and 3 the lever must move to
  // reach the transition (2 one way, 3 the other), 4 both (or a transition at rest at an end), 5 a
  // transition that runs on its own.
  enum PickUp { PICK_NONE = 0, PICK_DRIVEN = 1, PICK_TOWARD_A = 2, PICK_TOWARD_B = 3, PICK_BOTH = 4, PICK_RUNNING = 5 };

  // The start state, on the calibration entry `cal`.
  void reset(LeverCalibration* cal);

  // Takes a raw value: widens the calibration toward it (the minimum not below `lowest`, the maximum
  // not above 4095 - `ceilingMargin`), normalises it with `percent` of the calibrated range in use,
  // and counts the start-up inputs down.
  void input(int raw, int percent, int lowest, int ceilingMargin);
  // The frame step: the latest value into the sample ring; on allowed frames the mean becomes the
  // position (oriented by the direction), and reaching the far end starts a new stroke the other way.
  void step(bool allowed);

  float getPosition() const { return position; }
  float getPrevPosition() const { return prevPosition; }

  // Starts the frame's pick-up survey (state 0); the remembered value, auxiliary and sign stay.
  void clearPickUp() { pickState = PICK_NONE; }
  // Feeds the pick-up machine with one transition this lever may drive: its position `value`, its
  // direction `dir` (0 when none counts), whether this lever did not drive it this frame, whether it
  // runs on its own (`force`), and the auxiliary value shown with it.
  void feedPickUp(float value, int dir, bool undriven, bool force, float aux);
  // The lamp bar (each lamp 0 or BAR_LIT) of the pick-up state: driven or running on its own, the
  // remembered position, and the held scale as one lamp of its own with the position scaled by it;
  // otherwise the way the lever must move to reach the transition (odd lamps 13..23 one way, even
  // lamps 0..10 the other, both when it rests at an end). Written in reverse for a negative sign.
  void bar(u8 (&lamps)[BAR_LAMPS]) const;

  LeverCalibration* calibration = nullptr;
  u8 countdown = START_INPUTS;
  float value = 0.0f;  // latest normalised input 0..1
  float prevPosition = 0.5f;
  float position = 0.5f;
  s32 direction = 1;
  u8 endFlag = 0;  // set in the frame the lever reached its far end
  s32 pickState = PICK_NONE;
  s32 pickSign = 1;
  float pickValue = 0.0f;
  float pickAux = 1.0f;
  float samples[3] = {};
  s32 sampleIndex = 0;

 private:
  void remember(float v, int dir, float aux);
};
