#pragma once
// Layout of the memory window shared with the front end (offsets from SHARED_WINDOW_BASE).
#include "Lib/Include/types.h"

// Still-valid words: one per still player, 1 while the player's still is valid.
constexpr u32 SMEM_STILL_VALID = 0x100;
// Lock slots: resource r's two words at SMEM_LOCK_SLOTS + 8 x r (count, then a word written 0).
constexpr u32 SMEM_LOCK_SLOTS = 0x600;

// Resources guarded by the resource locks.
constexpr int LOCK_SHOT_MEMORY = 11;
constexpr int LOCK_EVENT_MEMORY = 12;
constexpr int LOCK_STARTUP = 95;
constexpr int lockClipChannel(int channel) { return channel + 4; }
