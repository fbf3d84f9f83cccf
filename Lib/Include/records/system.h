#pragma once
// System settings record (type 29): video format and hardware mode, genlock reference and phase,
// output routing, display options and a few stored texts. One channel, one instance.
#include <cstddef>

#include "text.h"
#include "types.h"

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
};

struct MxifSystem {
  static constexpr int TYPE_INDEX = 29;
  static constexpr int N_CHANNELS = 1;
  static constexpr int N_FORMATS = 12;
  static constexpr int N_MULTIVIEW_SOURCES = 8;

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
