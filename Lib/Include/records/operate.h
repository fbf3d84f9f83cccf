#pragma once
// The operate record (type 36), which the bus, fader-event, key and
// wipe code read through the registry. Only its layout in memory is declared here; the wire field
// list (774 bytes, no padding) belongs with the category that receives the record, so it is not
// gathered into data_internal.h yet.
#include <cstddef>

#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

// Operate (single, 936 bytes). Each group starts with its presence word.
struct MxifOperate {
  static constexpr int TYPE_INDEX = category::TYPE_OPERATE;

  struct Bytes8 {  // one presence bit per entry
    u32 mask;
    u8 value[8];
  };
  struct Bytes4 {
    u32 mask;
    u8 value[4];
  };
  struct Words8 {
    u32 mask;
    u16 value[8];
  };
  struct Level {
    u32 mask;
    u16 value;
  };
  struct FadeToBlack {
    u32 mask;
    u8 target;
    u8 source;
    s16 rate;
    u8 onAir;
    u8 transitioning;
  };
  struct KeyMemory {
    u32 mask;
    u8 enable;
    u8 share;
  };
  struct KeyFaderButton {
    u32 mask;
    u8 mode;
    u8 mode2;
  };
  struct BusSetting {
    u32 mask;
    u32 codeMask;
    u8 code[4];
    u8 flag;
  };

  u32 mask;
  u32 mask2;
  u8 busOptionA;          // mask2 bit 0
  u8 busOptionB;          // mask2 bit 1
  u8 reserved[2];
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
  KeyMemory keyMemory;
  KeyFaderButton keyFaderButton;
  BusSetting busSettings[8][6];
  Bytes8 busSelectMain;
  Bytes8 busSelectSub1;
  Bytes8 busSelectSub2;
  u8 faderFlag;
  u8 faderDirectionMode;
};
static_assert(sizeof(MxifOperate) == 936);
static_assert(offsetof(MxifOperate, busOptionA) == 8 && offsetof(MxifOperate, faderMode) == 12);
static_assert(offsetof(MxifOperate, faderModeSelect) == 14);
static_assert(offsetof(MxifOperate, faderModePerMe.value) == 20);
static_assert(offsetof(MxifOperate, auxTransEnable.value) == 56);
static_assert(offsetof(MxifOperate, auxTransRate.value) == 68);
static_assert(offsetof(MxifOperate, wipeFlag) == 84 && offsetof(MxifOperate, meChangeMain.value) == 92);
static_assert(offsetof(MxifOperate, keyMemory) == 112 && offsetof(MxifOperate, keyFaderButton.mode) == 124);
static_assert(offsetof(MxifOperate, faderFlag) == 932);
