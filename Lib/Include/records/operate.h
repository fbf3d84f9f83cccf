#pragma once
// The operate record (type 36): which ME each row of the three control panels drives, fade to
// black, the key source memory switches, the stored bus settings, and the single options that the
// bus, fader-event, key and wipe code read through the registry.
#include <cstddef>
#include <type_traits>

#include "Lib/Include/codec.h"
#include "Lib/Include/limits.h"
#include "Lib/Include/records/panel.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

// Operate (single, 936 bytes in memory, 774 on the wire). Each group starts with its presence word.
struct MxifOperate {
  static constexpr int TYPE_INDEX = category::TYPE_OPERATE;
  static constexpr int N_PANELS = 3;    // main, sub 1, sub 2
  static constexpr int N_ME_ROWS = 4;   // rows of a panel's ME map
  static constexpr int N_REQUEST_ME_ROWS = 2;  // the rows a request names the ME of
  static constexpr int N_GROUPS = 8;    // bus-setting groups
  static constexpr int N_SETTINGS = 6;  // bus settings per group
  static constexpr int N_FADER_MODES = 3;
  static constexpr int LAST_RATE = 999;  // frames

  // Bits of `mask`.
  static constexpr u32 FADER_MODE = 1u << 0, KEY_FADER_KIND = 1u << 1, FADER_MODE_SELECT = 1u << 2,
                       OPTION_FLAG = 1u << 3, WIPE_FLAG = 1u << 4, FADER_EVENT_FLAG = 1u << 5,
                       FADER_FLAG = 1u << 6, FADER_DIRECTION_MODE = 1u << 7;
  // Bits of `mask2`.
  static constexpr u32 BUS_OPTION_A = 1u << 0, BUS_OPTION_B = 1u << 1;

  template <int N>
  struct Bytes {  // one presence bit per entry
    u32 mask;
    u8 value[N];

    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.each("value", r.value, r.mask, 0);
    }
  };
  using Bytes8 = Bytes<8>;
  using Bytes4 = Bytes<4>;  // an ME map: entry r is the ME row r drives
  struct Words8 {
    u32 mask;
    u16 value[8];

    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.each("value", r.value, r.mask, 0);
    }
  };
  struct Level {
    static constexpr int FIRST = 50, LAST = 100;
    u32 mask;
    u16 value;

    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.field("value", r.value, r.mask, 0);
    }
  };
  struct FadeToBlack {
    static constexpr u32 TARGET = 1u << 0, SOURCE = 1u << 1, RATE = 1u << 2, ON_AIR = 1u << 3,
                         TRANSITIONING = 1u << 4;
    static constexpr int LAST_SOURCE = 11;
    u32 mask;
    u8 target;         // 0 clear, 1 faded
    u8 source;         // what the fade goes to
    s16 rate;          // frames
    u8 onAir;          // status: the fade level is above 1e-5
    u8 transitioning;  // status: the fade runs

    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.field("target", r.target, r.mask, 0);
      v.field("source", r.source, r.mask, 1);
      v.field("rate", r.rate, r.mask, 2);
      codec::tag(v, codec::status("the fade to black, which target starts"));
      v.field("onAir", r.onAir, r.mask, 3);
      codec::tag(v, codec::status("the fade to black, which target starts"));
      v.field("transitioning", r.transitioning, r.mask, 4);
    }
    template <class L, class R>
    static constexpr void limits(L& l, R& r) {
      l.take(r.target, 0, 1);
      l.take(r.source, 0, LAST_SOURCE);
      l.take(r.rate, 0, LAST_RATE);
      l.take(r.onAir, 0, 1);
      l.take(r.transitioning, 0, 1);
    }
  };
  struct KeyMemorySwitches {
    static constexpr u32 ENABLE = 1u << 0, SHARE = 1u << 1;
    u32 mask;
    u8 enable;  // 0 off, 1 on; a request's 2 and 3 hold and free the memory
    u8 share;

    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.field("enable", r.enable, r.mask, 0);
      v.field("share", r.share, r.mask, 1);
    }
  };
  struct KeyFaderButton {
    u32 mask;
    u8 mode;
    u8 mode2;

    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.field("mode", r.mode, r.mask, 0);
      v.field("mode2", r.mode2, r.mask, 1);
    }
  };
  struct BusSetting {
    static constexpr int LAST_CODE = 18;
    u32 mask;      // bit 0: flag
    u32 codeMask;  // bit k: code[k]
    u8 code[4];    // 0 in the backup image: a code never set
    u8 flag;

    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.mask("codeMask", r.codeMask);
      v.each("code", r.code, r.codeMask, 0);
      v.field("flag", r.flag, r.mask, 0);
    }
    static constexpr rules::Rule ZERO_DROPS_SETTING = {
        rules::Effect::REFUSES, "a bus setting's code of 0 refuses the whole setting sent with it: its codes and its flag"};
    template <class L, class R>
    static constexpr void limits(L& l, R& r) {
      l.take(r.code, 0, LAST_CODE);
      l.rule(r.code, ZERO_DROPS_SETTING, limits::refuses(0, 0));
      l.take(r.flag, 0, 1);
      l.rule(r.flag, ZERO_DROPS_SETTING);
    }
  };

  u32 mask;
  u32 mask2;
  u8 busOptionA;          // mask2 bit 0
  u8 busOptionB;          // mask2 bit 1
  u8 reserved[2];         // not on the wire
  u8 faderMode;           // A/B mode of every ME while faderModeSelect is 0
  u8 keyFaderKind;
  u8 faderModeSelect;     // 0: faderMode applies; 1: faderModePerMe; other: no mode
  Bytes8 faderModePerMe;  // per ME
  Level optionLevel;
  u8 optionFlag;
  FadeToBlack ftb;
  Bytes8 auxTransEnable;  // per AUX bus: source changes mix at auxTransRate
  Words8 auxTransRate;    // per AUX bus, frames
  u8 wipeFlag;
  u8 faderEventFlag;
  Bytes4 meChangeMain;
  Bytes4 meChangeSub1;
  Bytes4 meChangeSub2;
  KeyMemorySwitches keyMemory;
  KeyFaderButton keyFaderButton;
  BusSetting busSettings[N_GROUPS][N_SETTINGS];
  Bytes8 busSelectMain;  // per group: the entry the panel has selected
  Bytes8 busSelectSub1;
  Bytes8 busSelectSub2;
  u8 faderFlag;
  u8 faderDirectionMode;

  Bytes4& meChange(int panel) { return panel == 0 ? meChangeMain : (panel == 1 ? meChangeSub1 : meChangeSub2); }
  const Bytes4& meChange(int panel) const { return const_cast<MxifOperate*>(this)->meChange(panel); }
  Bytes8& busSelect(int panel) { return panel == 0 ? busSelectMain : (panel == 1 ? busSelectSub1 : busSelectSub2); }
  const Bytes8& busSelect(int panel) const { return const_cast<MxifOperate*>(this)->busSelect(panel); }
  // A/B mode of ME me (0..7): faderMode while faderModeSelect is 0, the ME's own while it is 1;
  // -1 (no mode) for any other select value.
  int abMode(int me) const {
    if (faderModeSelect == 0) return faderMode;
    return faderModeSelect == 1 ? faderModePerMe.value[me] : -1;
  }

  // Fields in wire order; the bus settings group by group.
  static constexpr ElementNames<N_GROUPS, N_SETTINGS> SETTING_NAMES{"busSettings"};

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.mask("mask2", r.mask2);
    v.field("busOptionA", r.busOptionA, r.mask2, 0);
    v.field("busOptionB", r.busOptionB, r.mask2, 1);
    v.field("faderMode", r.faderMode, r.mask, 0);
    v.field("keyFaderKind", r.keyFaderKind, r.mask, 1);
    v.field("faderModeSelect", r.faderModeSelect, r.mask, 2);
    v.sub("faderModePerMe", r.faderModePerMe);
    v.sub("optionLevel", r.optionLevel);
    v.field("optionFlag", r.optionFlag, r.mask, 3);
    v.sub("ftb", r.ftb);
    v.sub("auxTransEnable", r.auxTransEnable);
    v.sub("auxTransRate", r.auxTransRate);
    v.field("wipeFlag", r.wipeFlag, r.mask, 4);
    v.field("faderEventFlag", r.faderEventFlag, r.mask, 5);
    v.sub("meChangeMain", r.meChangeMain);
    v.sub("meChangeSub1", r.meChangeSub1);
    v.sub("meChangeSub2", r.meChangeSub2);
    v.sub("keyMemory", r.keyMemory);
    v.sub("keyFaderButton", r.keyFaderButton);
    for (int g = 0; g < N_GROUPS; ++g) {
      for (int e = 0; e < N_SETTINGS; ++e) v.sub(SETTING_NAMES(g, e), r.busSettings[g][e]);
    }
    v.sub("busSelectMain", r.busSelectMain);
    v.sub("busSelectSub1", r.busSelectSub1);
    v.sub("busSelectSub2", r.busSelectSub2);
    v.field("faderFlag", r.faderFlag, r.mask, 6);
    v.field("faderDirectionMode", r.faderDirectionMode, r.mask, 7);
  }

  // Only the MEs of this system take a fader mode of their own.
  static constexpr int N_PER_ME = static_cast<int>(std::extent_v<decltype(Bytes8::value)>);
  static constexpr auto NO_SUCH_ME_TEXT = rules::compose("faderModePerMe.value[", category::N_ME, "..", N_PER_ME - 1,
                                                         "] name MEs this system lacks: never taken");
  static constexpr rules::Rule NO_SUCH_ME = {rules::Effect::REFUSES, NO_SUCH_ME_TEXT.chars};
  static constexpr auto ROWS_BY_REPAIR_TEXT =
      rules::compose("a request names the ME (0..", N_REQUEST_ME_ROWS - 1, ") of rows 0..", N_REQUEST_ME_ROWS - 1,
                     " of a panel's ME map; rows ", N_REQUEST_ME_ROWS, "..", N_ME_ROWS - 1,
                     " follow from the repair of the map");
  static constexpr rules::Rule ROWS_BY_REPAIR = {rules::Effect::REFUSES, ROWS_BY_REPAIR_TEXT.chars};
  static constexpr rules::Rule HOLDS_KEY_MEMORY = {
      rules::Effect::REFUSES, "a keyMemory.enable of 2 holds the key source memory and 3 frees it: the record keeps the "
                              "value it holds"};

  // What each field takes from a request; the key-fader button modes take what they hold. A resume
  // takes the backup image's through the same checks, but for the ME maps, whose every row takes
  // any ME, 0..N_ME_ROWS - 1 (the image holds the repaired map).
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.busOptionA, 0, 1);
    l.take(r.busOptionB, 0, 1);
    l.take(r.faderMode, 0, N_FADER_MODES - 1);
    l.take(r.keyFaderKind, 0, 1);
    l.take(r.faderModeSelect, 0, 1);
    for (int m = 0; m < N_PER_ME; ++m) {
      if (m < category::N_ME) {
        l.take(r.faderModePerMe.value[m], 0, N_FADER_MODES - 1);
      } else {
        l.rule(r.faderModePerMe.value[m], NO_SUCH_ME, limits::REFUSES_ALL);
      }
    }
    l.take(r.optionLevel.value, Level::FIRST, Level::LAST);
    l.take(r.optionFlag, 0, 1);
    l.sub(r.ftb);
    l.take(r.auxTransEnable.value, 0, 1);
    l.take(r.auxTransRate.value, 0, LAST_RATE);
    l.take(r.wipeFlag, 0, 1);
    l.take(r.faderEventFlag, 0, 1);
    for (auto* map : {&r.meChangeMain, &r.meChangeSub1, &r.meChangeSub2}) {
      for (int row = 0; row < N_ME_ROWS; ++row) {
        if (row < N_REQUEST_ME_ROWS) {
          l.take(map->value[row], 0, N_REQUEST_ME_ROWS - 1);
        } else {
          l.rule(map->value[row], ROWS_BY_REPAIR, limits::REFUSES_ALL);
        }
      }
    }
    l.take(r.keyMemory.enable, 0, 1);
    l.rule(r.keyMemory.enable, HOLDS_KEY_MEMORY);
    l.take(r.keyMemory.share, 0, 1);
    for (auto& group : r.busSettings) {
      for (auto& setting : group) l.sub(setting);
    }
    for (auto* select : {&r.busSelectMain, &r.busSelectSub1, &r.busSelectSub2}) l.take(select->value, 0, N_SETTINGS - 1);
    l.take(r.faderFlag, 0, 1);
    l.take(r.faderDirectionMode, 0, 1);
  }
};
// Byte offsets that the bus, fader-event, key and tally code read.
static_assert(sizeof(MxifOperate) == 936 && sizeof(MxifOperate::BusSetting) == 16);
static_assert(codec::wireSize<MxifOperate>() == 774);
static_assert(offsetof(MxifOperate, busOptionA) == 8 && offsetof(MxifOperate, busOptionB) == 9);
static_assert(offsetof(MxifOperate, faderMode) == 12 && offsetof(MxifOperate, keyFaderKind) == 13);
static_assert(offsetof(MxifOperate, faderModeSelect) == 14);
static_assert(offsetof(MxifOperate, faderModePerMe.value) == 20);
static_assert(offsetof(MxifOperate, auxTransEnable.value) == 56);
static_assert(offsetof(MxifOperate, auxTransRate.value) == 68);
static_assert(offsetof(MxifOperate, wipeFlag) == 84 && offsetof(MxifOperate, faderEventFlag) == 85);
static_assert(offsetof(MxifOperate, meChangeMain.value) == 92 && offsetof(MxifOperate, meChangeSub1.value) == 100);
static_assert(offsetof(MxifOperate, meChangeSub2.value) == 108);
static_assert(offsetof(MxifOperate, keyMemory) == 112 && offsetof(MxifOperate, keyMemory.enable) == 116);
static_assert(offsetof(MxifOperate, keyMemory.share) == 117);
static_assert(offsetof(MxifOperate, keyFaderButton.mode) == 124 && offsetof(MxifOperate, keyFaderButton.mode2) == 125);
static_assert(offsetof(MxifOperate, faderFlag) == 932 && offsetof(MxifOperate, faderDirectionMode) == 933);
