#pragma once
// Layout of the memory window shared with the front end (offsets from SHARED_WINDOW_BASE).
#include "Lib/Include/types.h"
#include "Lib/Include/check.h"

// Still-valid words: one per still player, 1 while the player's still is valid.
constexpr u32 SMEM_STILL_VALID = 0x100;
// Lock slots: resource r's two words at SMEM_LOCK_SLOTS + 8 x r (count, then a word written 0).
constexpr u32 SMEM_LOCK_SLOTS = 0x600;

// Resources guarded by the resource locks.
constexpr int LOCK_SHOT_MEMORY = 11;
constexpr int LOCK_EVENT_MEMORY = 12;
constexpr int LOCK_STARTUP = 95;
constexpr int lockClipChannel(int channel) { return channel + 4; }

// ---- Clip players -------------------------------------------------------------------------------
// Each of the four players keeps a 64-byte header at SMEM_CLIP_HEADERS + 64 c and a ring of
// CLIP_FRAMES frame index records of 16 bytes at (c x CLIP_FRAMES + i + SMEM_CLIP_FRAME_SLOT) x 16.
// The front end reads both and may rewrite the headers.
constexpr int N_CLIPS = 4;
constexpr int CLIP_FRAMES = 3604;
constexpr int SMEM_CLIP_HEADERS = 0x10000;
constexpr int SMEM_CLIP_FRAME_SLOT = 4160;

// Header words, as the processor stores them (little-endian).
struct ClipHeader {
  static constexpr u32 MAGIC = 0xA5F0C300;  // low byte: sequence number, renewed with every new clip
  static constexpr u32 MAGIC_MASK = 0xFFFFFF00;
  static constexpr u32 FLAG_BANK_C = 1u << 0;  // larger activity bases, third statistics bank
  static constexpr u32 FLAG_ALWAYS = 1u << 1;  // set in every header this system writes
  u32 magic = 0;
  u32 count = 0;     // stored frame units (fields, or frames in the 720-line formats)
  u32 first = 0;     // ring position of unit 0
  u32 format = 0;    // video format at recording, + 8 in paired-FPGA mode
  u32 capacity = 0;  // ring size in units
  u32 flags = 0;
  u32 in = 0;        // first unit played
  u32 length = 0;    // units played, 0: all
  u32 audioStart = 0;    // first sample in the audio ring
  u32 audioSamples = 0;  // 0: no audio
  u32 reserved[6] = {};
};
static_assert(sizeof(ClipHeader) == 64);

// One frame unit of a clip in clip memory.
struct ClipFrame {
  u32 address = 0;  // in clip memory
  u32 blocks = 0;   // 256-byte blocks
  u32 bytes = 0;
  float scale = 0;  // quantiser scale; -1.0 marks a placeholder for a unit the encoder did not finish
};
static_assert(sizeof(ClipFrame) == 16);

inline int smemClipHeader(int clip) {
  MX_CHECK(0 <= clip && clip < 4);
  return SMEM_CLIP_HEADERS + 64 * clip;
}

inline int smemClipFrame(int clip, int index) {
  MX_CHECK(0 <= clip && clip < 4);
  MX_CHECK(0 <= index && index < CLIP_FRAMES);
  return (clip * CLIP_FRAMES + index + SMEM_CLIP_FRAME_SLOT) * 16;
}

// ---- Extended display ---------------------------------------------------------------------------
// Status of the picture the display encoder produced last, rewritten every frame.
constexpr int SMEM_DISPLAY_STATUS = 512;
struct DisplayStatus {
  float chromaOffset = 0;  // 0.5, or 0.5625 on the other field
  u8 ready = 0;            // 1 after a JPEG frame
  u8 reserved[3] = {};
  u32 size = 0;            // bytes; 0 while no picture is valid
  float scale = 0;         // quantiser scale
  u32 width = 0;
  u32 height = 0;
  u32 parameter = 0;       // the mode parameter of the picture reported
};
static_assert(sizeof(DisplayStatus) == 28);
