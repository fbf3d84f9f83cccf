#pragma once
// Records of the memories: event memory (type 14) with its status (16), macros (20), shot memory
// (21) with its status (22). Each is laid out so that a byte's offset in memory is its offset on
// the wire (a presence word, then bytes only).
#include "Lib/Include/codec.h"
#include "Lib/Include/limits.h"
#include "Lib/Include/records/plain.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

// Event memory (single). Byte 4 enables the event memory's link to an ME, byte 12 names that ME
// (1-based, 0 none); while both are non-zero the status sender rotates in phases (sendsInTurns).
struct MxifEventMemory {
  static constexpr int TYPE_INDEX = category::TYPE_EVENT_MEMORY;
  u32 mask;
  u8 enable;      // bit 0
  u8 body[7];     // bit 1
  u8 linkedMe;    // bit 2
  u8 tail[3];     // bit 1

  // While an event memory linked to an ME is on, the back end sends its status reports in turns
  // over TURN_FRAMES frames.
  constexpr bool sendsInTurns() const { return enable != 0 && linkedMe != 0; }
  static constexpr int TURN_FRAMES = 16;

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("enable", r.enable, r.mask, 0);
    v.field("body", r.body, r.mask, 1);
    v.field("linkedMe", r.linkedMe, r.mask, 2);
    v.field("tail", r.tail, r.mask, 1);
  }
  // Every field takes what its width holds: the back end keeps it as sent.
  template <class L, class R>
  static constexpr void limits(L&, R&) {}
};
static_assert(sizeof(MxifEventMemory) == 16);
static_assert(codec::wireSize<MxifEventMemory>() == 16);
static_assert(offsetof(MxifEventMemory, enable) == 4);
static_assert(offsetof(MxifEventMemory, linkedMe) == 12);

struct MxifEventMemoryStatus : MxifPlainRecord<category::TYPE_EVENT_MEMORY_STATUS, 1, 16> {};
static_assert(sizeof(MxifEventMemoryStatus) == 16);
static_assert(codec::wireSize<MxifEventMemoryStatus>() == 16);

// Macros (single). Each panel group 0..2 has a sub-record of macro attach flags with one presence
// bit per flag; flag i of group g lies at byte 36 + 12 g + i (the transition macro lamp of ME m on
// panel g shows flag m of group g).
struct MxifMacro {
  static constexpr int TYPE_INDEX = category::TYPE_MACRO;
  static constexpr int N_GROUPS = 3;
  static constexpr int N_ATTACH = 8;
  struct Attach {
    u32 mask;
    u8 flag[N_ATTACH];  // mask bit i

    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.each("flag", r.flag, r.mask, 0);
    }
  };
  u32 mask;
  u8 index;
  u8 body[27];                // mask bit 0
  Attach attach[N_GROUPS];

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("index", r.index);
    v.field("body", r.body, r.mask, 0);
    v.sub("attach0", r.attach[0]);
    v.sub("attach1", r.attach[1]);
    v.sub("attach2", r.attach[2]);
  }
  // Every field takes what its width holds: the back end keeps it as sent.
  template <class L, class R>
  static constexpr void limits(L&, R&) {}
};
static_assert(sizeof(MxifMacro::Attach) == 12);
static_assert(sizeof(MxifMacro) == 68);
static_assert(codec::wireSize<MxifMacro>() == 68);
static_assert(offsetof(MxifMacro, attach) + offsetof(MxifMacro::Attach, flag) == 36);
static_assert(offsetof(MxifMacro, attach) + sizeof(MxifMacro::Attach) + offsetof(MxifMacro::Attach, flag) == 48);
static_assert(offsetof(MxifMacro, attach) + 2 * sizeof(MxifMacro::Attach) + offsetof(MxifMacro::Attach, flag) == 60);

struct MxifShotMemory : MxifPlainRecord<category::TYPE_SHOT_MEMORY, 1, 16> {};
static_assert(sizeof(MxifShotMemory) == 16);
static_assert(codec::wireSize<MxifShotMemory>() == 16);
struct MxifShotMemoryStatus : MxifPlainRecord<category::TYPE_SHOT_MEMORY_STATUS, 1, 16> {};
static_assert(sizeof(MxifShotMemoryStatus) == 16);
static_assert(codec::wireSize<MxifShotMemoryStatus>() == 16);
