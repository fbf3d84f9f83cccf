#pragma once
// MxifDsk (type 5): the four downstream keys of the system, one 144-byte channel record each.
//
// Memory layout (that of the backup image) keeps the fields at the offsets the other areas read;
// on the wire the fields follow in the order of `fields`, big-endian, without padding, the two
// names in their text form, so a body is 102 bytes plus the two name lengths.
#include <cstddef>

#include "Lib/Include/codec.h"
#include "Lib/Include/records/key.h"
#include "Lib/Include/text.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

struct MxifDsk {
  static constexpr int TYPE_INDEX = category::TYPE_DSK;
  static constexpr int N_CHANNELS = 4;
  static constexpr bool PER_ME = false;
  static constexpr bool HAS_TEXTS = true;
  // Body bytes besides the two name lengths.
  static constexpr u32 WIRE_FIXED = 102;
  // What sets the status bytes of a downstream key's transition.
  static constexpr const char* TRANSITION =
      "the downstream key's transition (buttons dsk-cut, dsk-auto, dsk-trans, or onAir)";
  // What an onAir sent does (CategoryDsk's update).
  static constexpr const char* ON_AIR_REQUEST =
      "an onAir other than the downstream key's state ends its transition at once, as do downstream keys grouped with "
      "it that share its state: one at rest cuts, one in transition completes it";

  // Bits of `mask` (word 0).
  enum Word0Bit {
    W0_MATTE_COLOR = 0, W0_EDGE_COLOR = 1, W0_MASK_BOX = 2, W0_IN_OUT_LINK = 3, W0_REVERSE = 4,
    W0_PRIORITY = 5, W0_GROUP = 6, W0_ON_AIR = 7, W0_STOPPING = 8, W0_IN_TRANSITION = 9,
  };
  static constexpr u32 W0_ALL = 0x3FF;
  static constexpr u8 KEY_TYPE_MAX = 1, EDGE_FILL_MAX = 12;
  static constexpr u8 TRANS_MODE_MAX = 0;  // MIX alone

  // The sub-records the key record carries as well: transition setting (on, mode, rate in frames),
  // box mask, three flags and the two names.
  using Trans = MxifKey::Trans;
  using MaskSet = MxifKey::MaskSet;
  using Flags3 = MxifKey::Flags3;
  using Names = MxifKey::Names;

  u32 mask = 0;
  u16 channel = 0;
  KeyStyle style;
  KeyAdjust adjust;
  s16 matteColor[3] = {};  // hue, saturation, luminance in tenths
  KeyEdge edge;
  s16 edgeColor[3] = {};
  MaskSet maskSet;
  s16 maskBox[4] = {};  // left, top, bottom, right
  Trans transIn;        // setting A
  Trans transOut;       // setting B, used while the transition runs reversed unless linked
  u8 inOutLink = 0;
  u8 reverse = 0;  // status: the transition runs backwards
  u8 priority = 0;
  u8 group = 0;
  Flags3 flags;
  u8 onAir = 0;
  u8 stopping = 0;
  u8 inTransition = 0;
  Names names;

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    codec::channelField(v, "channel", r.channel);
    keyerFieldList(v, r);
    v.sub("transIn", r.transIn);
    v.sub("transOut", r.transOut);
    v.field("inOutLink", r.inOutLink, r.mask, W0_IN_OUT_LINK);
    codec::tag(v, codec::status(TRANSITION));
    v.field("reverse", r.reverse, r.mask, W0_REVERSE);
    v.field("priority", r.priority, r.mask, W0_PRIORITY);
    v.field("group", r.group, r.mask, W0_GROUP);
    v.sub("flags", r.flags);
    codec::tag(v, codec::onAirRequest(ON_AIR_REQUEST));
    v.field("onAir", r.onAir, r.mask, W0_ON_AIR);
    codec::tag(v, codec::status(TRANSITION));
    v.field("stopping", r.stopping, r.mask, W0_STOPPING);
    codec::tag(v, codec::status(TRANSITION));
    v.field("inTransition", r.inTransition, r.mask, W0_IN_TRANSITION);
    v.sub("names", r.names);
  }

  // What each field takes from a request (and from a backup image); the names take what they hold
  // (as the escape rule of texts allows).
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    keyerLimits(l, r);
    keyTransLimits(l, r);
    l.take(r.priority, 0, N_CHANNELS - 1);
    l.take(r.group, 0, 1);
    l.take(r.flags.flag, 0, 1);
    l.take(r.onAir, 0, 1);
    l.take(r.stopping, 0, 1);
    l.take(r.inTransition, 0, 1);
  }
};

static_assert(sizeof(MxifDsk) == 144);
static_assert(codec::wireSize<MxifDsk>() == 126);
static_assert(offsetof(MxifDsk, channel) == 4 && offsetof(MxifDsk, style) == 8 && offsetof(MxifDsk, adjust) == 20);
static_assert(offsetof(MxifDsk, matteColor) == 32 && offsetof(MxifDsk, edge) == 40);
static_assert(offsetof(MxifDsk, edgeColor) == 52 && offsetof(MxifDsk, maskSet) == 60 && offsetof(MxifDsk, maskBox) == 68);
static_assert(offsetof(MxifDsk, transIn) == 76 && offsetof(MxifDsk, transOut) == 84);
static_assert(offsetof(MxifDsk, inOutLink) == 92 && offsetof(MxifDsk, reverse) == 93);
static_assert(offsetof(MxifDsk, priority) == 94 && offsetof(MxifDsk, group) == 95 && offsetof(MxifDsk, flags) == 96);
static_assert(offsetof(MxifDsk, onAir) == 104 && offsetof(MxifDsk, stopping) == 105);
static_assert(offsetof(MxifDsk, inTransition) == 106 && offsetof(MxifDsk, names) == 108);
static_assert(offsetof(MxifDsk, names) + offsetof(MxifDsk::Names, name1) == 112);
static_assert(offsetof(MxifDsk, names) + offsetof(MxifDsk::Names, name2) == 128);

namespace libmx {

// Every field or group present in the source copied into the target with its presence bit, the
// names by the text copy rule; the channel index always.
inline void mergeDsk(MxifDsk& target, const MxifDsk& source) { mergeTextRecord(target, source); }

// Every field and presence word zeroed.
inline void clearDskRecord(MxifDsk& r) { r = MxifDsk{}; }

// The nine presence words zeroed, the values kept.
inline void clearDskPresence(MxifDsk& r) { codec::clearPresence(r); }

}  // namespace libmx
