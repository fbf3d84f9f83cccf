#pragma once
// Records of the memories: event memory (type 14) with its status (16), macros (20), shot memory
// (21) with its status (22). Each is laid out so that a byte's offset in memory is its offset on
// the wire (a presence word, then bytes only).
#include "Lib/Include/records/plain.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

// Event memory (single). Byte 4 enables the event memory's link to an ME, byte 12 names that ME
// (1-based, 0 none); while both are non-zero the status sender rotates in 16 phases.
struct MxifEventMemory {
  static constexpr int TYPE_INDEX = category::TYPE_EVENT_MEMORY;
  u32 mask;
  u8 enable;      // bit 0
  u8 body[7];     // bit 1
  u8 linkedMe;    // bit 2
  u8 tail[3];     // bit 1

  template <class V, class R>
  static void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("enable", r.enable, r.mask, 0);
    v.field("body", r.body, r.mask, 1);
    v.field("linkedMe", r.linkedMe, r.mask, 2);
    v.field("tail", r.tail, r.mask, 1);
  }
};
static_assert(sizeof(MxifEventMemory) == 16);
static_assert(offsetof(MxifEventMemory, enable) == 4);
static_assert(offsetof(MxifEventMemory, linkedMe) == 12);

struct MxifEventMemoryStatus : MxifPlainRecord<category::TYPE_EVENT_MEMORY_STATUS, 1, 16> {};

// Macros (single): one attach flag per panel group 0..2 and macro 0..7, one presence bit each.
struct MxifMacro {
  static constexpr int TYPE_INDEX = category::TYPE_MACRO;
  static constexpr int N_GROUPS = 3;
  static constexpr int N_ATTACH = 8;
  u32 mask;
  u8 index;
  u8 body[3];                       // mask bit 0
  u32 attachMask;
  u8 attach[N_GROUPS * N_ATTACH];   // attachMask bit 8 g + i

  template <class V, class R>
  static void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("index", r.index);
    v.field("body", r.body, r.mask, 0);
    v.mask("attachMask", r.attachMask);
    v.each("attach", r.attach, r.attachMask, 0);
  }
};
static_assert(sizeof(MxifMacro) == 36);

struct MxifShotMemory : MxifPlainRecord<category::TYPE_SHOT_MEMORY, 1, 16> {};
struct MxifShotMemoryStatus : MxifPlainRecord<category::TYPE_SHOT_MEMORY_STATUS, 1, 16> {};
