#pragma once
// Layout of the memory window shared with the front end (offsets from SHARED_WINDOW_BASE).
#include <cstddef>

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

// ---- Chroma key data blocks ---------------------------------------------------------------------
// The front end prepares one block per ME m and key channel c in unit 4 m + c (32 units of
// CHROMAKEY_UNIT bytes from SMEM_CHROMA_UNITS), and writes CHROMA_READY_MAGIC into the ready word of
// key channel c (1..3, at SMEM_CHROMA_READY + 4 (c - 1)) once that channel's blocks may be read.
constexpr int SMEM_CHROMA_UNITS = 0x60000;
constexpr int N_CHROMA_UNITS = 32;
constexpr int SMEM_CHROMA_READY = 0x300;
constexpr u32 CHROMA_READY_MAGIC = 0x3A9ACD6B;

constexpr int N_CHROMA_TABLE_ENTRIES = 1152;
// One data block: the two reference colours and the keyer table, which the keyer is loaded with (the
// first CHROMA_KEYER_BYTES), the loaded mark, and data of the front end carried as it is.
struct ChromaKeyBlock {
  s16 colorA[3];  // R, G, B
  s16 colorB[3];
  u16 table[N_CHROMA_TABLE_ENTRIES];
  u8 loaded;  // 1: the block came from a stored frame
  u8 frontEnd[819];
};
constexpr int CHROMA_KEYER_BYTES = 2316;
static_assert(sizeof(ChromaKeyBlock) == 3136);
static_assert(offsetof(ChromaKeyBlock, colorB) == 6 && offsetof(ChromaKeyBlock, table) == 12);
static_assert(offsetof(ChromaKeyBlock, loaded) == CHROMA_KEYER_BYTES);

// ---- Key source units ---------------------------------------------------------------------------
// One unit of KEY_SOURCE_UNIT bytes per key source (units 0..117), then units the system does not use,
// then the defaults unit KEY_SOURCE_DEFAULTS; the front end may read, save and reload any of them.
// A unit: its header, sixteen key slots (StoredKeyData, Lib/Include/stored.h) and four DSK slots
// (StoredDskData).
constexpr int SMEM_KEY_SOURCE = 0x06600000;
constexpr int SMEM_KEY_SOURCE_END = 0x08600000;
constexpr int KEY_SOURCE_UNIT = 0x10000;
constexpr int D_LIB_STORAGE_SECTORS_KEY_SRC = 126;
constexpr int D_LIB_STORAGE_DATA_PER_SECTOR_KEY_SRC = 1;
constexpr int KEY_SOURCE_DEFAULTS = D_LIB_STORAGE_SECTORS_KEY_SRC * D_LIB_STORAGE_DATA_PER_SECTOR_KEY_SRC;
constexpr int N_KEY_SOURCES = 118;
constexpr int KEY_SOURCE_KEY_SLOTS = 16;
constexpr int KEY_SOURCE_KEY_SLOT = 16;      // offset of key slot 0
constexpr int KEY_SOURCE_DSK_SLOT = 57232;   // offset of DSK slot 0
constexpr int KEY_SOURCE_DSK_REF = 16;       // reference index of DSK slot 0

struct KeySourceHeader {
  static constexpr u32 COUNTER = 0xFFF;       // write counter, modulo 4096
  static constexpr u32 INITIALISED = 0x1000;  // set by emptying the unit (or by the front end)
  static constexpr u32 WRITING = 0x2000;      // a slot is being replaced
  struct Enabled {
    static constexpr int SIZE = 2;
    u32 word[SIZE];  // bit r of the 64: the slot of reference index r holds data
  };
  u32 modified;  // bit k: the system rewrote enabled word k or a slot it covers
  Enabled enabled;
  u32 sequence;
};
constexpr int tsiEnabledBitSizePerUnit = 32;
static_assert(sizeof(KeySourceHeader) == 16 && offsetof(KeySourceHeader, sequence) == 12);
