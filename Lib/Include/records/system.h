#pragma once
// System settings record (type 29): video format and hardware mode, genlock reference and phase,
// output routing, display options and a few stored texts. One channel, one instance.
#include <cstddef>

#include "Lib/Include/codec.h"
#include "Lib/Include/limits.h"
#include "Lib/Include/text.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

// Output routing options. In memory the fields keep their wire order.
struct MxifSystemAncillary {
  // Bits of `mask`.
  static constexpr u32 AUX1_FOLLOWS = 1u << 0;
  static constexpr u32 ME_OUTPUT1_MODE = 1u << 1;
  static constexpr u32 ME_OUTPUT2_MODE = 1u << 2;
  static constexpr u32 KEY_SELECT = 1u << 3;
  static constexpr u32 PER_ME_KEY_SELECT = 1u << 4;
  static constexpr u32 DSK_STAGE_MODE = 1u << 5;
  // Bits of `dskMask`.
  static constexpr u32 DSK_SOURCE1 = 1u << 0;
  static constexpr u32 DSK_SOURCE2 = 1u << 1;
  static constexpr int N_ME_KEY_SELECTS = 8;
  static constexpr int N_DSK_SOURCES = 2;

  u32 mask = 0;
  u8 aux1Follows = 0;       // 0..1: AUX 1 follows its own source (else black)
  u8 meOutput1Mode = 0;     // 0..2: 0 off, 1 key always, 2 key while on air
  u8 meOutput2Mode = 0;     // 0..2
  u8 keySelect = 0;         // 0..4: common key select (0 the buses, 1..4 key 1..4)
  u8 perMeKeySelect = 0;    // 0..1: 1 takes meKeySelect[me] instead of keySelect
  u8 dskStageMode = 0;      // 0..2
  u32 dskMask = 0;
  u8 dskStageSource[N_DSK_SOURCES] = {};  // 0..4 each
  u32 meKeySelectMask = 0;                // bit n: meKeySelect[n] present
  u8 meKeySelect[N_ME_KEY_SELECTS] = {};  // 0..4 each; entries 0..3 for ME 1..4

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("aux1Follows", r.aux1Follows, r.mask, 0);
    v.field("meOutput1Mode", r.meOutput1Mode, r.mask, 1);
    v.field("meOutput2Mode", r.meOutput2Mode, r.mask, 2);
    v.field("keySelect", r.keySelect, r.mask, 3);
    v.field("perMeKeySelect", r.perMeKeySelect, r.mask, 4);
    v.field("dskStageMode", r.dskStageMode, r.mask, 5);
    v.mask("dskMask", r.dskMask);
    v.each("dskStageSource", r.dskStageSource, r.dskMask, 0);
    v.mask("meKeySelectMask", r.meKeySelectMask);
    v.each("meKeySelect", r.meKeySelect, r.meKeySelectMask, 0);
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.aux1Follows, 0, 1);
    l.take(r.meOutput1Mode, 0, 2);
    l.take(r.meOutput2Mode, 0, 2);
    l.take(r.keySelect, 0, 4);
    l.take(r.perMeKeySelect, 0, 1);
    l.take(r.dskStageMode, 0, 2);
    l.take(r.dskStageSource, 0, 4);
    l.take(r.meKeySelect, 0, 4);
  }
};
static_assert(sizeof(MxifSystemAncillary) == 32);

struct MxifSystemDisplay {
  static constexpr u32 TIMING_FLAG = 1u << 0;
  static constexpr u32 TIMING_SELECT = 1u << 1;
  static constexpr u32 OPTION = 1u << 2;
  static constexpr u32 TOGGLE1 = 1u << 3;
  static constexpr u32 TOGGLE2 = 1u << 4;

  u32 mask = 0;
  u8 timingFlag = 0;    // 0..1
  u8 timingSelect = 0;  // 0..2
  u8 option = 0;        // 0..1
  u8 toggle1 = 0;       // 0..1, panel button 2006
  u8 toggle2 = 0;       // 0..1, panel button 2013

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("timingFlag", r.timingFlag, r.mask, 0);
    v.field("timingSelect", r.timingSelect, r.mask, 1);
    v.field("option", r.option, r.mask, 2);
    v.field("toggle1", r.toggle1, r.mask, 3);
    v.field("toggle2", r.toggle2, r.mask, 4);
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.timingFlag, 0, 1);
    l.take(r.timingSelect, 0, 2);
    l.take(r.option, 0, 1);
    l.take(r.toggle1, 0, 1);
    l.take(r.toggle2, 0, 1);
  }
};

struct MxifSystem {
  static constexpr int TYPE_INDEX = category::TYPE_SYSTEM;
  static constexpr int N_CHANNELS = 1;
  static constexpr int N_FORMATS = 12;
  static constexpr int N_MULTIVIEW_SOURCES = 8;
  static constexpr int LAST_GENLOCK_REFERENCE = 3;  // references 0..2 external, 3 internal

  // Bits of `mask`.
  static constexpr u32 RECALL_PHASE_MODE = 1u << 0;
  static constexpr u32 BUS_REFRESH = 1u << 1;
  // Bits of `videoMask`.
  static constexpr u32 FORMAT = 1u << 0;
  static constexpr u32 MODE = 1u << 1;
  static constexpr u32 SD_SCALE = 1u << 2;
  // Bits of `phaseMask`.
  static constexpr u32 VERTICAL_OFFSET = 1u << 0;
  static constexpr u32 HORIZONTAL_PHASE = 1u << 1;
  static constexpr u32 VERTICAL_PHASE = 1u << 2;
  // Bits of `genlockMask`.
  static constexpr u32 GENLOCK_REFERENCE = 1u << 0;
  static constexpr u32 GENLOCK_SETUP = 1u << 1;
  static constexpr u32 GENLOCK_STATUS = 1u << 2;
  // Bits of `secondMask`.
  static constexpr u32 BKGD_LATENCY = 1u << 0;
  static constexpr u32 KEY_LATENCY = 1u << 1;
  static constexpr u32 SECOND_TEXT = 1u << 2;
  static constexpr u32 SDI_DELAY = 1u << 3;

  u32 mask = 0;
  u32 videoMask = 0;
  u8 format = 0;  // 0..11, the system format
  u8 mode = 0;    // hardware mode: selects the driver codes and the FPGA configuration
  u8 sdScale = 0; // 0..1: the standard-definition formats carry a 16:9 picture
  u32 phaseMask = 0;
  u8 verticalOffset = 0;    // 0..1, one line
  s16 horizontalPhase = 0;  // -50..49, percent of a line
  s16 verticalPhase = 0;    // -100..100 lines
  u32 genlockMask = 0;
  u8 genlockReference = 0;  // 0..2 external (black burst, 13059, tri-level), 3 internal
  u8 genlockSetup = 0;      // 0..1
  TextField<9> genlockStatus = {};  // "Locked" or "Unlocked"; never taken from a request
  u32 secondMask = 0;
  u8 bkgdLatency = 0;  // 0..1: background transition latency option
  u8 keyLatency = 0;   // 0..1: key transition latency option
  TextField<7> secondText = {};
  u8 sdiDelay = 0;  // 0..1
  MxifSystemAncillary ancillary;
  u32 multiviewMask = 0;                          // bit n: multiviewSource[n] present
  u8 multiviewSource[N_MULTIVIEW_SOURCES] = {};  // 0..10 each
  u8 recallPhaseMode = 0;                         // 0..2
  TextBlock addressTexts = {};
  MxifSystemDisplay display;
  u8 busRefresh = 0;  // 0..1: 1 asks every bus category to refresh its crosspoints

  // Fields in wire order. The texts make the wire form variable in length: it is read and written
  // by libmx::readTextRecord / writeTextRecord (text.h), not by the fixed-size record codec.
  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.mask("videoMask", r.videoMask);
    v.field("format", r.format, r.videoMask, 0);
    v.field("mode", r.mode, r.videoMask, 1);
    v.field("sdScale", r.sdScale, r.videoMask, 2);
    v.mask("phaseMask", r.phaseMask);
    v.field("verticalOffset", r.verticalOffset, r.phaseMask, 0);
    v.field("horizontalPhase", r.horizontalPhase, r.phaseMask, 1);
    v.field("verticalPhase", r.verticalPhase, r.phaseMask, 2);
    v.mask("genlockMask", r.genlockMask);
    v.field("genlockReference", r.genlockReference, r.genlockMask, 0);
    v.field("genlockSetup", r.genlockSetup, r.genlockMask, 1);
    codec::tag(v, codec::status("the genlock's lock on its reference"));
    MX_TEXT_FIELD(v, r, genlockStatus, genlockMask, 2);
    v.mask("secondMask", r.secondMask);
    v.field("bkgdLatency", r.bkgdLatency, r.secondMask, 0);
    v.field("keyLatency", r.keyLatency, r.secondMask, 1);
    MX_TEXT_FIELD(v, r, secondText, secondMask, 2);
    v.field("sdiDelay", r.sdiDelay, r.secondMask, 3);
    v.sub("ancillary", r.ancillary);
    v.mask("multiviewMask", r.multiviewMask);
    v.each("multiviewSource", r.multiviewSource, r.multiviewMask, 0);
    v.field("recallPhaseMode", r.recallPhaseMode, r.mask, 0);
    v.sub("addressTexts", r.addressTexts);
    v.sub("display", r.display);
    v.field("busRefresh", r.busRefresh, r.mask, 1);
  }

  // What each field takes from a request (and from a backup image); mode and the texts take what
  // they hold (a text as the escape rule of texts allows).
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.format, 0, N_FORMATS - 1);
    l.take(r.sdScale, 0, 1);
    l.take(r.verticalOffset, 0, 1);
    l.take(r.horizontalPhase, -50, 49);
    l.take(r.verticalPhase, -100, 100);
    l.take(r.genlockReference, 0, LAST_GENLOCK_REFERENCE);
    l.take(r.genlockSetup, 0, 1);
    l.take(r.bkgdLatency, 0, 1);
    l.take(r.keyLatency, 0, 1);
    l.take(r.sdiDelay, 0, 1);
    l.sub(r.ancillary);
    l.take(r.multiviewSource, 0, 10);
    l.take(r.recallPhaseMode, 0, 2);
    l.sub(r.display);
    l.take(r.busRefresh, 0, 1);
  }
};

// Byte offsets that other areas read.
static_assert(offsetof(MxifSystem, format) == 8);
static_assert(offsetof(MxifSystem, mode) == 9);
static_assert(offsetof(MxifSystem, sdScale) == 10);
static_assert(offsetof(MxifSystem, phaseMask) == 12);
static_assert(offsetof(MxifSystem, horizontalPhase) == 18);
static_assert(offsetof(MxifSystem, genlockStatus) == 30);
static_assert(offsetof(MxifSystem, bkgdLatency) == 48);
static_assert(offsetof(MxifSystem, keyLatency) == 49);
static_assert(offsetof(MxifSystem, sdiDelay) == 60);
static_assert(offsetof(MxifSystem, ancillary) == 64);
static_assert(offsetof(MxifSystem, multiviewMask) == 96);
static_assert(offsetof(MxifSystem, recallPhaseMode) == 108);
static_assert(offsetof(MxifSystem, addressTexts) == 112);
static_assert(offsetof(MxifSystem, display) == 192);
static_assert(offsetof(MxifSystem, display) + offsetof(MxifSystemDisplay, toggle1) == 199);
static_assert(offsetof(MxifSystem, display) + offsetof(MxifSystemDisplay, toggle2) == 200);
static_assert(offsetof(MxifSystem, busRefresh) == 204);
static_assert(sizeof(MxifSystem) == 208);
static_assert(codec::wireSize<MxifSystem>() == 184);
