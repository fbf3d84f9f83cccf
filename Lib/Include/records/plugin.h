#pragma once
// Records that the front end keeps in this system and reads back: the plug-in settings (type 44),
// the 30 plug-in status slots (type 45) and the initial status (type 55).
#include <cstddef>

#include "Lib/Include/codec.h"
#include "Lib/Include/limits.h"
#include "Lib/Include/text.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

// Four plug-in settings, any value.
struct MxifPlugin {
  static constexpr int TYPE_INDEX = category::TYPE_PLUGIN;

  u32 mask = 0;
  u32 setting1 = 0;  // bit 0
  u32 setting2 = 0;  // bit 1
  u32 setting3 = 0;  // bit 2
  u32 setting4 = 0;  // bit 3

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("setting1", r.setting1, r.mask, 0);
    v.field("setting2", r.setting2, r.mask, 1);
    v.field("setting3", r.setting3, r.mask, 2);
    v.field("setting4", r.setting4, r.mask, 3);
  }
  // Every field takes what its width holds: the back end keeps it as sent.
  template <class L, class R>
  static constexpr void limits(L&, R&) {}
};
static_assert(sizeof(MxifPlugin) == 20);
static_assert(codec::wireSize<MxifPlugin>() == 20);

// One plug-in status slot (channel = slot 0..29). On the wire its length is 23 plus the two text
// lengths.
struct MxifPluginStatus {
  static constexpr int TYPE_INDEX = category::TYPE_PLUGIN_STATUS;
  static constexpr int N_CHANNELS = 30;
  static constexpr bool HAS_TEXTS = true;
  // The backup image keeps one state byte per slot; the records themselves start from their defaults.
  static constexpr int SAVED_BYTES = N_CHANNELS;

  // Bits of `mask`.
  static constexpr u32 TEXT1 = 1u << 0;
  static constexpr u32 TEXT2 = 1u << 1;
  static constexpr u32 STATE = 1u << 2;
  static constexpr u32 VALUE1 = 1u << 3;
  static constexpr u32 VALUE2 = 1u << 4;
  static constexpr u32 VALUE3 = 1u << 5;
  static constexpr u32 VALUE4 = 1u << 6;

  u32 mask = 0;
  s16 slot = 0;  // always carried
  TextField<32> text1 = {};
  TextField<32> text2 = {};
  u8 state = 0;
  s32 value1 = 0;
  s32 value2 = 0;
  u8 value3 = 0;
  u8 value4 = 0;

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    codec::channelField(v, "slot", r.slot);
    MX_TEXT_FIELD(v, r, text1, mask, 0);
    MX_TEXT_FIELD(v, r, text2, mask, 1);
    v.field("state", r.state, r.mask, 2);
    v.field("value1", r.value1, r.mask, 3);
    v.field("value2", r.value2, r.mask, 4);
    v.field("value3", r.value3, r.mask, 5);
    v.field("value4", r.value4, r.mask, 6);
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.state, 0, 1);
    l.take(r.value1, 0, 0x10000);
    l.take(r.value2, 0, 0x8000);
    l.take(r.value3, 0, 6);
    l.take(r.value4, 0, 1);
  }
};
static_assert(offsetof(MxifPluginStatus, slot) == 4);
static_assert(sizeof(MxifPluginStatus) == 92);
static_assert(codec::wireSize<MxifPluginStatus>() == 87);

namespace internal {

// Initial status: five fields the front end stores and reads back; status1 lasts one report.
struct MxifInitialStatus {
  static constexpr int TYPE_INDEX = category::TYPE_INITIAL_STATUS;

  u32 mask = 0;
  u8 status1 = 0;          // bit 0
  u8 status2 = 0;          // bit 1
  u8 status3 = 0;          // bit 2
  u8 status4Head = 0;      // bit 3, with the five words
  u16 status4Words[5] = {};
  u8 status5 = 0;          // bit 4: 0 or 1

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("status1", r.status1, r.mask, 0);
    v.field("status2", r.status2, r.mask, 1);
    v.field("status3", r.status3, r.mask, 2);
    v.field("status4Head", r.status4Head, r.mask, 3);
    v.field("status4Words", r.status4Words, r.mask, 3);
    v.field("status5", r.status5, r.mask, 4);
  }
  // Any non-zero status5 byte is taken as 1.
  static void afterRead(MxifInitialStatus& r) { rules::takeAsTruth(r, r.status5); }
};
static_assert(offsetof(MxifInitialStatus, status4Words) == 8 && offsetof(MxifInitialStatus, status5) == 18);
static_assert(sizeof(MxifInitialStatus) == 20);
static_assert(codec::wireSize<MxifInitialStatus>() == 19);

}  // namespace internal
