#pragma once
// MxifTransitionStatus (type 56, one channel, not in the backup image): the state of every
// transition of the switcher as the front end last heard it.
#include <cstddef>

#include "Lib/Include/codec.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

struct MxifTransitionStatus {
  static constexpr int TYPE_INDEX = category::TYPE_TRANSITION_STATUS;
  static constexpr bool IS_STATUS = true;
  static constexpr int N_GROUPS = 7;
  static constexpr int N_ENTRIES = 4;
  // Groups in record order.
  enum Group { BKGD = 0, KEY1 = 1, DSK = 5, AUX = 6 };

  // Four states with a presence bit each: auto transition states (0 idle, 1 running, 3 stop
  // requested, 4 timed ramp), or for the aux mixes 0 none, 1 running, 2 held.
  struct Entries {
    u32 mask = 0;
    u8 state[N_ENTRIES] = {};
    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.each("state", r.state, r.mask, 0);
    }
  };

  u32 mask = 0;
  Entries group[N_GROUPS];

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.sub("bkgd", r.group[0]);
    v.sub("key1", r.group[1]);
    v.sub("key2", r.group[2]);
    v.sub("key3", r.group[3]);
    v.sub("key4", r.group[4]);
    v.sub("dsk", r.group[5]);
    v.sub("aux", r.group[6]);
  }
};

static_assert(sizeof(MxifTransitionStatus) == 60);
static_assert(codec::wireSize<MxifTransitionStatus>() == 60);
static_assert(offsetof(MxifTransitionStatus, group) == 4);
