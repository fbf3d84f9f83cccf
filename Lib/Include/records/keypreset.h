#pragma once
// MxifKeyPreset (type 19, single, 456 bytes): which key each panel's preset buttons address in each
// key group, the preset last stored or recalled for every key of the five groups (80 entries), the
// recall options that the stored-frame recall reads, and settings that are kept and reported only.
//
// In memory the fields sit at their record offsets; on the wire they follow in the order of
// `fields`, big-endian, without the bytes that hold no field: 429 bytes.
#include <cstddef>

#include "Lib/Include/codec.h"
#include "Lib/Include/limits.h"
#include "Lib/Include/records/panel.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

struct MxifKeyPreset {
  static constexpr int TYPE_INDEX = category::TYPE_KEY_PRESET;
  static constexpr int N_PANELS = 3;
  static constexpr int N_GROUPS = 10;   // 0..4 key groups, 5..8 targets only, 9 a second view of 2
  static constexpr int N_KEYS = 4;      // keys of a group
  static constexpr int N_COLUMNS = 8;   // entries per group row
  static constexpr int N_ENTRIES = 80;  // entry e = 8 x row + column
  static constexpr int N_RECALL = 3;
  static constexpr int N_PRESETS = 4;   // presets of a key
  static constexpr u8 TARGET_NONE = 4;  // a panel target: 0..3 key 1..4, 4 none

  // The targets of one panel.
  struct Panel {
    u32 mask = 0;          // neither set nor read by the system
    u32 targetMask = 0;    // bit g: target[g]
    u8 target[5] = {};     // groups 0..4
    u8 pad1[3] = {};
    u32 extraMask = 0;     // bit g: extra[g]
    u8 extra[4] = {};      // groups 5..8
    u32 group9Mask = 0;    // bit 0: group9
    u8 group9 = 0;         // group 9
    u8 pad2[3] = {};

    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.mask("targetMask", r.targetMask);
      v.each("target", r.target, r.targetMask, 0);
      v.mask("extraMask", r.extraMask);
      v.each("extra", r.extra, r.extraMask, 0);
      v.mask("group9Mask", r.group9Mask);
      v.field("group9", r.group9, r.group9Mask, 0);
    }
    template <class L, class R>
    static constexpr void limits(L& l, R& r) {
      l.take(r.target, 0, TARGET_NONE);
      l.take(r.extra, 0, TARGET_NONE);
      l.take(r.group9, 0, TARGET_NONE);
    }
  };

  u32 mask0 = 0;         // bit 0 setting12, bit 1 setting120
  u32 mask1 = 0;         // bit 0 setting8, bit 1 setting9
  u8 setting8 = 0;       // kept and reported
  u8 setting9 = 0;       // kept and reported
  u8 pad1[2] = {};
  u8 setting12 = 0;      // kept and reported
  u8 pad2[3] = {};
  u32 recallMask = 0;    // bit i: recall[i]
  u8 recall[N_RECALL] = {};  // read by the stored-frame recall of keys and downstream keys
  u8 pad3 = 0;
  Panel panel[N_PANELS];
  u8 setting120 = 0;     // kept and reported
  u8 pad4[3] = {};
  u32 entryMask[3] = {};  // bit e: entry[e]
  s32 entry[N_ENTRIES] = {};  // the preset selected, -1 none

  static constexpr ElementNames<N_PANELS> PANEL_NAMES{"panel"};

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask0", r.mask0);
    v.mask("mask1", r.mask1);
    v.field("setting8", r.setting8, r.mask1, 0);
    v.field("setting9", r.setting9, r.mask1, 1);
    v.field("setting12", r.setting12, r.mask0, 0);
    v.mask("recallMask", r.recallMask);
    v.each("recall", r.recall, r.recallMask, 0);
    for (int p = 0; p < N_PANELS; ++p) v.sub(PANEL_NAMES(p), r.panel[p]);
    v.field("setting120", r.setting120, r.mask0, 1);
    v.mask("entryMask", r.entryMask);
    codec::tag(v, codec::status("the key presets' selection table, which the back end reports every frame"));
    v.each("entry", r.entry, r.entryMask, 0);
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.setting8, 0, 4);
    l.take(r.setting9, 0, 3);
    l.take(r.setting12, 0, 3);
    l.take(r.recall, 0, 1);
    for (const Panel& p : r.panel) l.sub(p);
    l.take(r.setting120, 0, 1);
    l.take(r.entry, -1, N_PRESETS - 1);
  }
};
static_assert(sizeof(MxifKeyPreset::Panel) == 32 && sizeof(MxifKeyPreset) == 456);
static_assert(codec::wireSize<MxifKeyPreset>() == 429);
static_assert(offsetof(MxifKeyPreset, setting8) == 8 && offsetof(MxifKeyPreset, setting12) == 12);
static_assert(offsetof(MxifKeyPreset, recall) == 20 && offsetof(MxifKeyPreset, panel) == 24);
static_assert(offsetof(MxifKeyPreset, setting120) == 120 && offsetof(MxifKeyPreset, entryMask) == 124);
static_assert(offsetof(MxifKeyPreset, entry) == 136);
static_assert(offsetof(MxifKeyPreset::Panel, target) == 8 && offsetof(MxifKeyPreset::Panel, extra) == 20);
static_assert(offsetof(MxifKeyPreset::Panel, group9) == 28);
