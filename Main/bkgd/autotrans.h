#pragma once
// Progress of one background, key or downstream-key transition, stepped once per video frame.
#include "Lib/Include/types.h"

// What a per-frame stepper needs of the system settings in this frame: the system format code and
// whether the frame is one on which field-rate formats act (the system's field-phase predicate for
// field 1).
struct FrameStep {
  int format;
  bool fieldPhase;

  // Formats whose interrupt comes at field rate act only on the frames of field 1.
  static bool isFieldRate(int format) { return format == 2 || format == 3 || format == 8 || format == 9; }
  bool allowed() const { return !isFieldRate(format) || fieldPhase; }
  // The current frame as the system settings category sees it.
  static FrameStep current();
};

class AutoTransition {
 public:
  static constexpr int N_SLOTS = 84;
  static constexpr int N_ME = 4;
  static constexpr int N_KEY_CHANNELS = 4;
  static constexpr int N_DSK_CHANNELS = 4;
  static constexpr int N_CLIP_CHANNELS = 4;

  // Position thresholds and the limit-window bounds (2^-23 and 1 - 2^-23).
  static constexpr float LOW = 1e-5f;
  static constexpr float HIGH = 0.99999f;
  static constexpr float WINDOW_LOW = 1.1920929e-7f;
  static constexpr float WINDOW_HIGH = 0.99999988f;

  enum State { IDLE = 0, RUNNING = 1, PAUSED = 2, STOP_REQUEST = 3, RAMP = 4 };

  // Slot numbers inside the owner's table of N_SLOTS transitions.
  static int bkgdSlot(int me);
  static int keySlot(int me, int ch);
  static int dskSlot(int ch);
  static int clipSlot(int me, int ch);
  static int eventMemorySlot(int me);
  static bool isDualSlot(int slot);

  void start(int rate, int direction);
  void stop() { state = STOP_REQUEST; }
  void reverse() { direction = -direction; }
  void setDirection(int d) { direction = d; }
  void setMode(u8 m) { mode_ = m; }
  u8 mode() const { return mode_; }

  void setLimits(float a, float b);
  void setPartialEnd(float p, int rate, int format);
  void setPartialEnd(float p, int rate) { setPartialEnd(p, rate, FrameStep::current().format); }
  void setPosition(float p);
  void setPositions(float a, float b);
  float position(int which) const;
  // The limit-window mapping of a raw position (0 below the window, 1 above it).
  float windowMap(float v) const;

  void advanceSingle(const FrameStep& frame) { advance(frame, false); }
  void advanceDual(const FrameStep& frame) { advance(frame, true); }
  void advanceSingle() { advanceSingle(FrameStep::current()); }
  void advanceDual() { advanceDual(FrameStep::current()); }

  // Per-frame increment of a run of `rate` frames for a system format code.
  static float stepSize(int rate, int format);

  s32 rate = 1;
  s32 state = IDLE;
  u8 idle = 1;
  s32 flip = 1;
  float positionA = 0.0f;
  float positionB = 0.0f;
  s32 direction = 1;
  u8 hold = 0;
  float scale = 1.0f;
  float limitStart = 0.0f;
  float limitEnd = 1.0f;
  float rampStep = 0.0f;
  s32 rampFrames = -1;
  s32 directionMirror = 1;
  float savedPosition = 0.0f;

 private:
  void negateFlip() { flip = flip < 0 ? 1 : -1; }
  void setEndDirection(int d) {
    direction = d;
    directionMirror = d;
  }
  void advance(const FrameStep& frame, bool dual);
  void startRamp(float distance, int rate, int format, float newScale);

  u8 mode_ = 0;
};
