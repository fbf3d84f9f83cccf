#pragma once
// Records of the panel periphery that this system checks, keeps and reports for the front end
// without acting on them: GPI port settings (type 31), button inhibit tables (type 34), the system
// and configuration menu locks (types 30 and 35) and the recently used colours (type 51).
#include <cstddef>

#include "Lib/Include/codec.h"
#include "Lib/Include/limits.h"
#include "Lib/Include/records/names.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

// One GPI port: its code (by the set of its group) and its mode.
struct GpiEntry {
  static constexpr int LAST_MODE = 3;
  u32 mask = 0;
  s16 code = 0;  // bit 0
  u8 mode = 0;   // bit 1
  u8 reserved = 0;

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("code", r.code, r.mask, 0);
    v.field("mode", r.mode, r.mask, 1);
  }
};
static_assert(sizeof(GpiEntry) == 8);

// GPI port settings: 136 ports in nine groups of 18, 8, 8, 8, 16, 48, 10, 10 and 10 entries.
// Groups 1..5 take the basic codes, groups 6..9 the extended code set.
struct MxifGpiInOut {
  static constexpr int TYPE_INDEX = category::TYPE_GPI_IN_OUT;
  static constexpr int N_ENTRIES = 136;
  static constexpr int FIRST_EXTENDED = 58;  // the first entry of group 6
  static constexpr int LAST_BASIC_CODE = 245;
  static constexpr rules::Range EXTENDED_CODES[] = {{0, 315},     {400, 615},   {700, 915},   {1000, 1215},
                                                    {1300, 1319}, {1400, 1479}, {1500, 1511}, {1600, 1611},
                                                    {1700, 1711}, {1800, 1811}};

  u32 mask = 0;  // names no field: always reported as 0
  GpiEntry entries[N_ENTRIES];

  static constexpr auto ENTRY_NAMES = ElementNames<N_ENTRIES>::numbered("entry");

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    for (int k = 0; k < N_ENTRIES; ++k) v.sub(ENTRY_NAMES(k), r.entries[k]);
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    for (int k = 0; k < N_ENTRIES; ++k) {
      if (k < FIRST_EXTENDED) {
        l.take(r.entries[k].code, 0, LAST_BASIC_CODE);
      } else {
        l.take(r.entries[k].code, EXTENDED_CODES);
      }
      l.take(r.entries[k].mode, 0, GpiEntry::LAST_MODE);
    }
  }
};
static_assert(sizeof(MxifGpiInOut) == 1092);
static_assert(codec::wireSize<MxifGpiInOut>() == 956);

// One entry of a panel's button inhibit table.
struct InhibitEntry {
  static constexpr int LAST_CODE = 224;
  static constexpr int LAST_SELECT = 10;
  static constexpr int LAST_MODE = 3;
  u32 mask = 0;
  u8 code = 0;    // bit 0
  u8 select = 0;  // bit 1
  u8 mode = 0;    // bit 2
  u8 reserved = 0;

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("code", r.code, r.mask, 0);
    v.field("select", r.select, r.mask, 1);
    v.field("mode", r.mode, r.mask, 2);
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.code, 0, LAST_CODE);
    l.take(r.select, 0, LAST_SELECT);
    l.take(r.mode, 0, LAST_MODE);
  }
};
static_assert(sizeof(InhibitEntry) == 8);

// Button inhibit table of one control panel (channel = panel 0..2).
struct MxifButtonInhibit {
  static constexpr int TYPE_INDEX = category::TYPE_BUTTON_INHIBIT;
  static constexpr int N_CHANNELS = 3;
  static constexpr int N_ENTRIES = 233;

  u32 mask = 0;
  u16 panel = 0;  // always carried; the channel
  u8 flag = 0;    // bit 0
  u8 reserved = 0;
  InhibitEntry entries[N_ENTRIES];

  static constexpr auto ENTRY_NAMES = ElementNames<N_ENTRIES>::numbered("entry");

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    codec::channelField(v, "panel", r.panel);
    v.field("flag", r.flag, r.mask, 0);
    for (int k = 0; k < N_ENTRIES; ++k) v.sub(ENTRY_NAMES(k), r.entries[k]);
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.flag, 0, 1);
    for (auto& e : r.entries) l.sub(e);
  }
};
static_assert(sizeof(MxifButtonInhibit) == 1872);
static_assert(codec::wireSize<MxifButtonInhibit>() == 1638);
static_assert(offsetof(MxifButtonInhibit, panel) == 4 && offsetof(MxifButtonInhibit, flag) == 6);

// Menu lock flags (0 unlocked, 1 locked), flag n under bit n.
template <int TYPE, int N>
struct MenuLockRecord {
  static constexpr int TYPE_INDEX = TYPE;
  static constexpr int N_FLAGS = N;

  u32 mask = 0;
  u8 flags[N] = {};

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.each("flags", r.flags, r.mask, 0);
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.flags, 0, 1);
  }
};
struct MxifSystemMenuLock : MenuLockRecord<category::TYPE_SYSTEM_MENU_LOCK, 6> {};
static_assert(sizeof(MxifSystemMenuLock) == 12);
static_assert(codec::wireSize<MxifSystemMenuLock>() == 10);
struct MxifConfigMenuLock : MenuLockRecord<category::TYPE_CONFIG_MENU_LOCK, 5> {};
static_assert(sizeof(MxifConfigMenuLock) == 12);
static_assert(codec::wireSize<MxifConfigMenuLock>() == 9);

// The eight most recently used colours, colour 0 the most recent.
struct MxifRecentColor {
  static constexpr int TYPE_INDEX = category::TYPE_RECENT_COLOR;
  static constexpr int N_COLORS = 8;

  u32 mask = 0;       // names no field
  u32 colorMask = 0;  // bit n: colour n
  s16 colors[N_COLORS][3] = {};  // three values, compared only for equality

  static constexpr const char* NAMES[N_COLORS] = {"color0", "color1", "color2", "color3",
                                                  "color4", "color5", "color6", "color7"};

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.mask("colorMask", r.colorMask);
    for (int n = 0; n < N_COLORS; ++n) v.field(NAMES[n], r.colors[n], r.colorMask, n);
  }

  static constexpr rules::Rule ALL_OR_JUST_USED = {
      rules::Effect::REFUSES, "the recent colours are taken all eight at once, or color0 alone (without color1) as the "
                              "colour just used; no other colour sent is taken"};
  // A colour takes any value; the colours after the first only in a whole list.
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    for (int n = 1; n < N_COLORS; ++n) l.rule(r.colors[n], ALL_OR_JUST_USED, limits::REFUSES_ALL);
  }
};
static_assert(sizeof(MxifRecentColor) == 56);
static_assert(codec::wireSize<MxifRecentColor>() == 56);
