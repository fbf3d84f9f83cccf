#pragma once
// Tally records: MxifBusTally (type 52, per ME) flags the bus entries whose selection is on an
// output that tally group 0 watches; MxifSourceTally (type 53, groups 0..3) flags the sources on the
// outputs each group watches; MxifDualSourceTally (type 54, sent only) carries a group's locally
// computed source tally beside the one last received from the front end. None is backed up.
#include <cstddef>

#include "Lib/Include/codec.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

struct MxifBusTally {
  static constexpr int TYPE_INDEX = category::TYPE_BUS_TALLY;
  static constexpr bool PER_ME = true;
  static constexpr int N_ENTRIES = 89;

  u32 mask = 0;  // names no field; the computation never sets it
  u8 me = 0;
  u32 presence[3] = {};  // bit e % 32 of word e / 32: entry e present
  u8 tally[N_ENTRIES] = {};  // 1: the selection of bus entry e is on air

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    codec::meField(v, "me", r.me);
    v.mask("presence", r.presence);
    v.each("tally", r.tally, r.presence, 0);
  }
};
static_assert(sizeof(MxifBusTally) == 112);
static_assert(codec::wireSize<MxifBusTally>() == 106);
static_assert(offsetof(MxifBusTally, presence) == 8 && offsetof(MxifBusTally, tally) == 20);

struct MxifSourceTally {
  static constexpr int TYPE_INDEX = category::TYPE_SOURCE_TALLY;
  static constexpr int N_CHANNELS = 4;  // tally groups
  static constexpr int N_INDEXES = 247;

  u32 mask = 0;  // names no field
  u16 index = 0;  // the tally group
  u32 presence[8] = {};  // bit i % 32 of word i / 32: tally index i present
  u8 tally[N_INDEXES] = {};  // 1: the source of tally index i is on an output the group watches

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    codec::channelField(v, "index", r.index);
    v.mask("presence", r.presence);
    v.each("tally", r.tally, r.presence, 0);
  }
  // A received flag is a truth value.
  static void afterRead(MxifSourceTally& r) {
    for (u8& t : r.tally) rules::takeAsTruth(r, t);
  }
};
static_assert(sizeof(MxifSourceTally) == 288);
static_assert(codec::wireSize<MxifSourceTally>() == 285);
static_assert(offsetof(MxifSourceTally, presence) == 8 && offsetof(MxifSourceTally, tally) == 40);

struct MxifDualSourceTally {
  static constexpr int TYPE_INDEX = category::TYPE_DUAL_SOURCE_TALLY;

  u32 mask = 0;
  u16 channel = 0;  // the tally group
  MxifSourceTally local;     // side A: as this system computes it
  MxifSourceTally received;  // side B: as the front end last sent it

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("channel", r.channel);
    v.sub("local", r.local);
    v.sub("received", r.received);
  }
};
static_assert(sizeof(MxifDualSourceTally) == 584);
static_assert(codec::wireSize<MxifDualSourceTally>() == 576);
