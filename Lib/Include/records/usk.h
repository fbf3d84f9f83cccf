#pragma once
// MxifUpStreamKey (type 7): the four up-stream keys of the mainframe, one 92-byte record each.
// MxifUpStreamKeyAssign (type 8): the up-stream keys' fill and key sources, which of the 150
// sources of the source list each keys, and their on/off flags, one 1224-byte record.
//
// Memory layout (that of the backup image) keeps the fields at the offsets the other areas read;
// on the wire the fields follow in the order of `fields`, big-endian, without padding.
#include <cstddef>

#include "Lib/Include/codec.h"
#include "Lib/Include/limits.h"
#include "Lib/Include/records/bus.h"
#include "Lib/Include/records/key.h"
#include "Lib/Include/records/names.h"
#include "Lib/Include/text.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

// One up-stream key (channel = key 0..3). Its body is 57 bytes plus the two text lengths.
struct MxifUpStreamKey {
  static constexpr int TYPE_INDEX = category::TYPE_UP_STREAM_KEY;
  static constexpr int N_CHANNELS = 4;
  static constexpr bool HAS_TEXTS = true;
  // Body bytes besides the two text lengths.
  static constexpr u32 WIRE_FIXED = 57;

  // Bits of `mask` (word 0).
  enum Word0Bit { W0_MATTE_COLOR = 0, W0_MASK_BOX = 1 };
  static constexpr u32 W0_ALL = 0x3;
  static constexpr u8 KEY_TYPE_MAX = 3;

  // Mask mode (0 off, 1 the preset area of the video format, 2 maskBox), flag A (the mask sense)
  // and flag B (the mask enable); the two texts.
  using MaskSet = MxifKey::MaskSet;
  using Texts = MxifKey::Names;

  u32 mask = 0;
  u16 channel = 0;
  KeyStyle style;          // keySource: 1 the key signal comes from this key's key source slot
  s16 matteColor[3] = {};  // hue, saturation, luminance in tenths
  KeyAdjust adjust;
  MaskSet maskSet;
  s16 maskBox[4] = {};  // left, top, bottom, right
  Texts texts;

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    codec::channelField(v, "channel", r.channel);
    v.sub("style", r.style);
    v.field("matteColor", r.matteColor, r.mask, W0_MATTE_COLOR);
    v.sub("adjust", r.adjust);
    v.sub("maskSet", r.maskSet);
    v.field("maskBox", r.maskBox, r.mask, W0_MASK_BOX);
    v.sub("texts", r.texts);
  }
  // What each field takes from a request (and from a backup image); the texts take what the escape
  // rule of texts allows.
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.style.keyType, 0, KEY_TYPE_MAX);
    l.sub(r.style);
    MxifBkgd::takeColor(l, r.matteColor);
    l.sub(r.adjust);
    l.sub(r.maskSet);
    l.take(r.maskBox, MxifBkgd::EDGE_MIN, MxifBkgd::EDGE_MAX);
  }
};

static_assert(sizeof(MxifUpStreamKey) == 92);
static_assert(codec::wireSize<MxifUpStreamKey>() == 81);
static_assert(offsetof(MxifUpStreamKey, channel) == 4 && offsetof(MxifUpStreamKey, style) == 8);
static_assert(offsetof(MxifUpStreamKey, style) + offsetof(KeyStyle, keyType) == 12);
static_assert(offsetof(MxifUpStreamKey, style) + offsetof(KeyStyle, keySource) == 15);
static_assert(offsetof(MxifUpStreamKey, matteColor) == 20 && offsetof(MxifUpStreamKey, adjust) == 28);
static_assert(offsetof(MxifUpStreamKey, adjust) + offsetof(KeyAdjust, modeFlag) == 38);
static_assert(offsetof(MxifUpStreamKey, maskSet) == 40 && offsetof(MxifUpStreamKey, maskBox) == 48);
static_assert(offsetof(MxifUpStreamKey, maskSet) + offsetof(MxifUpStreamKey::MaskSet, mode) == 44);
static_assert(offsetof(MxifUpStreamKey, maskSet) + offsetof(MxifUpStreamKey::MaskSet, enable) == 46);
static_assert(offsetof(MxifUpStreamKey, texts) == 56);
static_assert(offsetof(MxifUpStreamKey, texts) + offsetof(MxifUpStreamKey::Texts, name1) == 60);
static_assert(offsetof(MxifUpStreamKey, texts) + offsetof(MxifUpStreamKey::Texts, name2) == 76);

// Which up-stream key keys one source of the source list: 0 none, 1..4 key 1..4 while its on/off
// flag is 1, 5..8 key 1..4 always.
struct UskAttachment {
  static constexpr u8 VALUE_MAX = 8;
  u32 mask = 0;
  u8 value = 0;  // bit 0
  u8 reserved[3] = {};

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("value", r.value, r.mask, 0);
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.value, 0, VALUE_MAX);
  }
};
static_assert(sizeof(UskAttachment) == 8);

// The assignment of the four up-stream keys (one channel). Its body is 774 bytes.
struct MxifUpStreamKeyAssign {
  static constexpr int TYPE_INDEX = category::TYPE_UP_STREAM_KEY_ASSIGN;
  static constexpr int N_SLOTS = 8;  // slot 2k the fill, 2k + 1 the key source of key k + 1
  static constexpr int N_ENTRIES = 150;
  static constexpr int N_KEYS = 4;
  // ME 0's bus entries buses::USK_ENTRY + s follow the slots s, and the slots follow them: a slot
  // takes the sources of 10..223, those that its entry's list does not hold go back.
  static constexpr int SLOT_SOURCE_FIRST = 10, SLOT_SOURCE_LAST = 223;
  static constexpr limits::Runs SLOT_SOURCES = [] {
    limits::Runs runs;
    for (int s = SLOT_SOURCE_FIRST; s <= SLOT_SOURCE_LAST; ++s) {
      if (buses::listed(buses::USK_ENTRY, s)) runs.add(s, s);
    }
    return runs;
  }();
  static constexpr auto FOLLOWS_BUS_TEXT =
      rules::compose("slot s holds the source of ME 0's bus entry ", buses::USK_ENTRY, " + s (MxifBus me=0), which "
                     "follows the slot: a source that entry does not take leaves the slot at the entry's source");
  static constexpr rules::Rule FOLLOWS_BUS = {rules::Effect::MOVES, FOLLOWS_BUS_TEXT.chars};

  u32 mask = 0;        // carried, names no field
  u32 sourceMask = 0;  // bit s: slot s
  u8 source[N_SLOTS] = {};
  UskAttachment entries[N_ENTRIES];
  u32 onOffMask = 0;  // bit k: key k + 1
  u8 onOff[N_KEYS] = {};

  static constexpr auto ENTRY_NAMES = ElementNames<N_ENTRIES>::numbered("entry");

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.mask("sourceMask", r.sourceMask);
    v.each("source", r.source, r.sourceMask, 0);
    for (int e = 0; e < N_ENTRIES; ++e) v.sub(ENTRY_NAMES(e), r.entries[e]);
    v.mask("onOffMask", r.onOffMask);
    v.each("onOff", r.onOff, r.onOffMask, 0);
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.source, SLOT_SOURCE_FIRST, SLOT_SOURCE_LAST);
    l.rule(r.source, FOLLOWS_BUS, limits::refusesOutside(SLOT_SOURCES));
    for (const UskAttachment& e : r.entries) l.sub(e);
    l.take(r.onOff, 0, 1);
  }
};

static_assert(sizeof(MxifUpStreamKeyAssign) == 1224);
static_assert(MxifUpStreamKeyAssign::N_SLOTS == buses::N_USK_ENTRIES);
static_assert(codec::wireSize<MxifUpStreamKeyAssign>() == 774);
static_assert(offsetof(MxifUpStreamKeyAssign, sourceMask) == 4 && offsetof(MxifUpStreamKeyAssign, source) == 8);
static_assert(offsetof(MxifUpStreamKeyAssign, entries) == 16 && offsetof(MxifUpStreamKeyAssign, onOffMask) == 1216);
static_assert(offsetof(MxifUpStreamKeyAssign, entries) + offsetof(UskAttachment, value) == 20);
static_assert(offsetof(MxifUpStreamKeyAssign, onOff) == 1220);
