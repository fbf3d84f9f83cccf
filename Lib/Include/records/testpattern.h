#pragma once
// Test pattern record (type 57): sixteen channels of twenty values per ME. Channel 0 of the ME 1
// instance selects a hardware test mode on every ME; everything else is only kept and reported.
#include <cstddef>

#include "Lib/Include/codec.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

struct MxifTest {
  static constexpr int TYPE_INDEX = category::TYPE_TEST;
  static constexpr int N_CHANNELS = 16;
  static constexpr bool PER_ME = true;
  static constexpr int N_VALUES = 20;

  // Test modes (values[0] of channel 0 of the ME 1 instance).
  static constexpr int MULTI_PATTERN = 1;
  static constexpr int WIPE_MODULATION = 2;

  u32 mask = 0;  // names no field
  u8 me = 0;
  u16 channel = 0;
  u32 valueMask = 0;  // bit n: values[n]
  s16 values[N_VALUES] = {};

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    codec::meField(v, "me", r.me);
    codec::channelField(v, "channel", r.channel);
    v.mask("valueMask", r.valueMask);
    v.each("values", r.values, r.valueMask, 0);
  }
};
static_assert(offsetof(MxifTest, me) == 4 && offsetof(MxifTest, values) == 12 && sizeof(MxifTest) == 52);
static_assert(codec::wireSize<MxifTest>() == 51);
