#pragma once
// Stored parameters of one keyer and of one downstream key: what the stored frames keep of them, and
// the slots of the key source units (Lib/Include/shared.h), which the front end reads and reloads as
// they are. Little-endian, no padding between the parts. The bus codes and the transition state are
// stored and compared, never applied.
#include <cstddef>

#include "Lib/Include/records/dsk.h"
#include "Lib/Include/records/key.h"
#include "Lib/Include/shared.h"
#include "Lib/Include/types.h"

struct StoredKeyData {
  MxifKey key;                // the key channel, presence words clear
  u16 bus[2];                 // crosspoint codes of bus entries 2k + 2 and 2k + 3
  float positionA;            // the key's auto transition
  s32 flip;
  s32 rangeBase;              // of the key's chroma key channel
  s32 rangeWidth;
  ChromaKeyBlock chroma;      // the chroma key channel's data block

  // Captures key channel `key` of ME `me` (0..3) as it stands.
  void store(int me, int key);
  // Puts the parameters back on key channel `key` of ME `me`: the key record through the key
  // category's validated assign with every presence bit but those of the priority, the group and
  // the status bytes (so neither the key's on-air state, its transition nor the ranks change), then
  // the chroma key settings (loadChroma).
  void recall(int me, int key) const;
  // The chroma key part alone: the range base and width assigned to chroma key channel `key` of ME
  // `me`, then its data block loaded (block, or this one when null).
  void loadChroma(int me, int key, const ChromaKeyBlock* block = nullptr) const;
  // Field by field.
  bool equals(const StoredKeyData& other) const;
};

static_assert(sizeof(StoredKeyData) == 3576);
static_assert(offsetof(StoredKeyData, bus) == 420 && offsetof(StoredKeyData, positionA) == 424);
static_assert(offsetof(StoredKeyData, flip) == 428 && offsetof(StoredKeyData, rangeBase) == 432);
static_assert(offsetof(StoredKeyData, rangeWidth) == 436 && offsetof(StoredKeyData, chroma) == 440);

struct StoredDskData {
  MxifDsk dsk;       // the downstream key channel, presence words clear
  u16 bus[2];        // codes of bus entries 16 + 2c and 17 + 2c of ME 1 (ME 0 when ME 1 has none)
  float positionA;   // auto transition 20 + c
  s32 flip;

  void store(int channel);
  // Through the downstream key category's validated assign, with every presence bit but those of the
  // priority, the group and the status bytes.
  void recall(int channel) const;
  bool equals(const StoredDskData& other) const;
};

static_assert(sizeof(StoredDskData) == 156);
static_assert(offsetof(StoredDskData, bus) == 144 && offsetof(StoredDskData, positionA) == 148);
static_assert(offsetof(StoredDskData, flip) == 152);
