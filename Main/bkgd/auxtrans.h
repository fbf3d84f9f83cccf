#pragma once
// Mix of an AUX output from its previous to its newly selected source, one per AUX bus channel.
#include "Main/bkgd/autotrans.h"
#include "Lib/Include/types.h"

class AuxTransition {
 public:
  static constexpr int N_CHANNELS = 16;
  static constexpr int MAX_RATE = 999;

  enum Event : u8 { NO_EVENT = 0, MIX_STARTED = 1, MIX_ENDED = 2 };

  struct Channel {
    s32 previousSource = -1;
    s32 source = -1;
    float position = 1.0f;
    s32 rate = 0;
    u8 running = 0;
    u8 held = 0;

    // One frame of the channel with the source now selected on its bus.
    void step(int newSource, const FrameStep& frame);
  };

  AuxTransition() = default;
  ~AuxTransition() {}
  void reset() {}

  // Steps channel ch and records a started or ended mix in its event byte; other indexes do nothing.
  void stepChannel(int ch, int newSource, const FrameStep& frame);
  void stepChannel(int ch, int newSource) { stepChannel(ch, newSource, FrameStep::current()); }

  void setRate(int ch, int rate);
  void getState(int ch, int& previous, int& current, float& position) const;
  u8 isRunning(int ch) const { return valid(ch) ? channels[ch].running : 0; }
  u8 isHeld(int ch) const { return valid(ch) ? channels[ch].held : 0; }

  Channel channels[N_CHANNELS];
  // Per channel: MIX_STARTED or MIX_ENDED from its last step; the bus category reads and clears them.
  u8 events[N_CHANNELS] = {};

 private:
  static bool valid(int ch) { return 0 <= ch && ch < N_CHANNELS; }
};
