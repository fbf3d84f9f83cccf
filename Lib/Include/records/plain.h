#pragma once
// A record whose content this system keeps and echoes without reading it: the presence word, the
// index byte (byte 4: the channel of a record with several channels) and the body bytes under
// presence bit 0. SIZE is the record's size in memory and on the wire.
#include "Lib/Include/codec.h"
#include "Lib/Include/limits.h"
#include "Lib/Include/types.h"

template <int TYPE, int CHANNELS, int SIZE>
struct MxifPlainRecord {
  static_assert(SIZE > 5, "a record holds its presence word and index byte");
  static constexpr int TYPE_INDEX = TYPE;
  static constexpr int N_CHANNELS = CHANNELS;

  u32 mask;
  u8 index;
  u8 data[SIZE - 5];

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    if constexpr (CHANNELS > 1) {
      codec::channelField(v, "index", r.index);
    } else {
      v.field("index", r.index);
    }
    v.field("data", r.data, r.mask, 0);
  }
  // Every field takes what its width holds: the back end keeps it as sent.
  template <class L, class R>
  static constexpr void limits(L&, R&) {}
};
