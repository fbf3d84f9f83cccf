#pragma once
// The clip driver's own state of a player, shared by its playback (clip.cpp), recording
// (record.cpp) and table (tables.cpp) sources.
#include "Lib/Include/shared.h"
#include "Lib/Include/types.h"

struct ClipPlayer {
  int index = 0;
  bool exists = true;  // players 2 and 3 have no hardware in paired-FPGA mode
  u32 encoder = 0, decoder = 0, stats = 0, audio = 0;
  u32 output = 0;      // output selector word, 0: none
  u32 controlBase = 0;  // playback control base
  u32 memoryBase = 0;   // clip memory
  ClipHeader header;    // working copy, read every frame
  // Playback.
  int playFrame = 0;
  int cue = 0;  // units still to show: -1 plays on, 0 holds
  bool frameMode = false;
  int lastSequence = -1;
  bool issued = false;
  int shown = 0;          // units shown since the header reset, up to 2
  u32 transferUs = 0;     // estimated transfer time of the issued unit
  bool overrun = false;   // the decoders are still busy: issue nothing this frame
  int passThrough = 0, passThroughPrevious = 0;
  // Recording.
  int recording = 0;
  bool continuous = false;
  int toRecord = 0;
  u32 recordCapacity = 0;
  bool encoderRunning = false;
  int encoderField = 0;   // output field when the running unit started
  int lastField = -1;     // field of the last stored unit, -1: none yet
  float target = 0, scale = 0;
  u32 activityBase = 0, activityStep = 0;
  s64 lastActivity = 0;
  u32 writeOffset = 0;
  int lastIndex = -1;
  // Audio.
  bool capture = false, wrapped = false, playArmed = false, playRunning = false;
  int lastAudioFrame = -10;
  u32 level[2] = {0, 0};
};

// Player 0..3, built on first use for the current format and board mode.
ClipPlayer& mxClipState(int player);
constexpr int CLIP_NO_AUDIO_FRAME = -10;

// Header access in the shared window; a header is used only when it passes mxClipHeaderValid.
void mxClipReadHeader(ClipPlayer& p);
void mxClipWriteHeader(const ClipPlayer& p);
bool mxClipHeaderValid(const ClipHeader& h);
// Interlaced formats store fields: every format but the 720-line codes 2 and 3.
bool mxClipInterlaced();
// Ends the player's audio capture and playback (mxClipStop, and the end of a recording).
void mxClipAudioFinish(ClipPlayer& p);
// Ends a running recording.
void mxClipFinishRecording(ClipPlayer& p);

// The default intra quantisation matrix, in row order.
extern const u8 MX_CLIP_INTRA_MATRIX[64];
