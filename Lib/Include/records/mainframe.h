#pragma once
// Mainframe configuration (type 26): how each ME's clean feed and output points A and B are tapped
// from its key layers, how the four downstream keyers are wired to the two program outputs and the
// four clean-feed outputs, and which key or DSK the key fader drives. One channel, one instance.
// System initialise command (type 73).
//
// In memory every field keeps its natural alignment (416 bytes); on the wire the fields follow in
// the order of `fields` without gaps (348 bytes).
#include <cstddef>

#include "Lib/Include/codec.h"
#include "Lib/Include/limits.h"
#include "Lib/Include/records/names.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

// The taps of one ME row.
struct MainframeMeConfig {
  // Bits of `mask`.
  static constexpr u32 CLEAN_KEY = 1u << 0;
  static constexpr u32 CLEAN_TAP_MODE = 1u << 1;
  static constexpr u32 ME_OPTION = 1u << 2;
  static constexpr u32 TAP_B_IGNORE_CHROMA = 1u << 3;
  static constexpr u32 TAP_A_IGNORE_CHROMA = 1u << 4;
  static constexpr int N_KEYS = 4;
  static constexpr int N_CLEAN_TAP_MODES = 3;

  u32 mask = 0;
  u8 cleanKey = 0;      // the clean feed is taken at key 1..4
  u8 cleanTapMode = 0;  // at the key, at its layer point, at the clean point
  u8 meOption = 0;      // kept for the front end
  u32 tapBKeysMask = 0;
  u8 tapBKeys[N_KEYS] = {};   // keys that output point B includes
  u8 tapBIgnoreChroma = 0;    // output point B without the chroma-key rule
  u32 tapAKeysMask = 0;
  u8 tapAKeys[N_KEYS] = {};   // keys that output point A may include
  u8 tapAIgnoreChroma = 0;

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("cleanKey", r.cleanKey, r.mask, 0);
    v.field("cleanTapMode", r.cleanTapMode, r.mask, 1);
    v.field("meOption", r.meOption, r.mask, 2);
    v.mask("tapBKeysMask", r.tapBKeysMask);
    v.each("tapBKeys", r.tapBKeys, r.tapBKeysMask, 0);
    v.field("tapBIgnoreChroma", r.tapBIgnoreChroma, r.mask, 3);
    v.mask("tapAKeysMask", r.tapAKeysMask);
    v.each("tapAKeys", r.tapAKeys, r.tapAKeysMask, 0);
    v.field("tapAIgnoreChroma", r.tapAIgnoreChroma, r.mask, 4);
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.cleanKey, 0, N_KEYS - 1);
    l.take(r.cleanTapMode, 0, N_CLEAN_TAP_MODES - 1);
    l.take(r.meOption, 0, 1);
    l.take(r.tapBKeys, 0, 1);
    l.take(r.tapBIgnoreChroma, 0, 1);
    l.take(r.tapAKeys, 0, 1);
    l.take(r.tapAIgnoreChroma, 0, 1);
  }
};
static_assert(sizeof(MainframeMeConfig) == 32);
static_assert(offsetof(MainframeMeConfig, cleanKey) == 4 && offsetof(MainframeMeConfig, cleanTapMode) == 5);
static_assert(offsetof(MainframeMeConfig, meOption) == 6 && offsetof(MainframeMeConfig, tapBIgnoreChroma) == 16);
static_assert(offsetof(MainframeMeConfig, tapAKeys) == 24 && offsetof(MainframeMeConfig, tapAIgnoreChroma) == 28);

// The wiring of the four downstream keyers.
struct MainframeDskConfig {
  // Bits of `mask`.
  static constexpr u32 BACKGROUND1 = 1u << 0;
  static constexpr u32 BACKGROUND2 = 1u << 1;
  static constexpr u32 BACKGROUND2_OWN = 1u << 2;
  static constexpr u32 OPTION = 1u << 3;
  static constexpr u32 TOP_OPTION = 1u << 4;
  static constexpr u32 OUTPUT2_SOURCE = 1u << 5;
  static constexpr int N_DSK = 4;
  // Background values: ME outputs 0..7, and 8..15 the same outputs' companions.
  static constexpr int LAST_BACKGROUND = 15;
  // Companion sources: 0 its own, 1..4 the DSK clean points, 5 output point 2.
  static constexpr int LAST_OUTPUT2_SOURCE = 5;

  u32 mask = 0;
  u8 dskBackground1 = 0;     // ME output behind program output 1
  u8 dskBackground2 = 0;     // ME output behind program output 2
  u8 dskBackground2Own = 0;  // 0 = program output 2 takes program output 1's background
  u32 dskProgramMask = 0;
  u8 dskProgram[N_DSK] = {};  // DSK n feeds program output 1 (0) or 2 (1)
  u8 dskOption = 0;           // output option of the DSKs below the top one
  u32 dskFlagMask = 0;
  u8 dskFlag[N_DSK] = {};
  u8 dskTopOption = 0;        // 0 sets the option of the top DSK of each output
  u32 dskCleanAltMask = 0;
  u8 dskCleanAlt[N_DSK] = {};  // clean output n shows DSK n (0) or alternative feed n (1)
  u8 dskOutput2Source = 0;     // source of program output 2's companion output

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("dskBackground1", r.dskBackground1, r.mask, 0);
    v.field("dskBackground2", r.dskBackground2, r.mask, 1);
    v.field("dskBackground2Own", r.dskBackground2Own, r.mask, 2);
    v.mask("dskProgramMask", r.dskProgramMask);
    v.each("dskProgram", r.dskProgram, r.dskProgramMask, 0);
    v.field("dskOption", r.dskOption, r.mask, 3);
    v.mask("dskFlagMask", r.dskFlagMask);
    v.each("dskFlag", r.dskFlag, r.dskFlagMask, 0);
    v.field("dskTopOption", r.dskTopOption, r.mask, 4);
    v.mask("dskCleanAltMask", r.dskCleanAltMask);
    v.each("dskCleanAlt", r.dskCleanAlt, r.dskCleanAltMask, 0);
    v.field("dskOutput2Source", r.dskOutput2Source, r.mask, 5);
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.dskBackground1, 0, LAST_BACKGROUND);
    l.take(r.dskBackground2, 0, LAST_BACKGROUND);
    l.take(r.dskBackground2Own, 0, 1);
    l.take(r.dskProgram, 0, 1);
    l.take(r.dskOption, 0, 1);
    l.take(r.dskFlag, 0, 1);
    l.take(r.dskTopOption, 0, 1);
    l.take(r.dskCleanAlt, 0, 1);
    l.take(r.dskOutput2Source, 0, LAST_OUTPUT2_SOURCE);
  }
};
static_assert(sizeof(MainframeDskConfig) == 44);

// The keys (or DSKs) the key fader may drive: entry n 1 for key (DSK) n.
struct MainframeFaderList {
  static constexpr int N_ENTRIES = 4;

  u32 mask = 0;  // names no field
  u32 entryMask = 0;
  u8 entries[N_ENTRIES] = {};

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.mask("entryMask", r.entryMask);
    v.each("entries", r.entries, r.entryMask, 0);
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.entries, 0, 1);
  }
};
static_assert(sizeof(MainframeFaderList) == 12 && offsetof(MainframeFaderList, entries) == 8);

struct MxifMainframeConfig {
  static constexpr int TYPE_INDEX = category::TYPE_MAINFRAME_CONFIG;
  static constexpr int N_ROWS = 8;     // ME rows; rows 4..7 are carried and never applied
  static constexpr int N_ME_ROWS = 4;  // the rows a request may change
  // Bits of `mask`.
  static constexpr u32 FADER_SELECT = 1u << 0;
  static constexpr u32 FADER_SELECT_ENABLE = 1u << 1;
  // faderSelect: 4 m + n key n of ME m, FIRST_DSK_SELECT + n DSK n; 72..87 stored, select nothing.
  static constexpr int FIRST_DSK_SELECT = 16;
  static constexpr int LAST_SELECT = 19;
  static constexpr int FIRST_SPARE_SELECT = 72;
  static constexpr int LAST_SPARE_SELECT = 87;
  static constexpr rules::Range FADER_SELECTS[] = {{0, LAST_SELECT}, {FIRST_SPARE_SELECT, LAST_SPARE_SELECT}};

  u32 mask = 0;
  MainframeMeConfig meConfig[N_ROWS];
  MainframeDskConfig dskConfig;
  MainframeFaderList faderKeys[N_ROWS];
  MainframeFaderList faderDsks;
  u8 faderSelect = 0;
  u8 faderSelectEnable = 0;  // a truth value: the fader-select buttons write faderSelect

  static constexpr auto ME_CONFIG_NAMES = ElementNames<N_ROWS>::numbered("meConfig");
  static constexpr auto FADER_KEY_NAMES = ElementNames<N_ROWS>::numbered("faderKeys");

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    for (int m = 0; m < N_ROWS; ++m) v.sub(ME_CONFIG_NAMES(m), r.meConfig[m]);
    v.sub("dskConfig", r.dskConfig);
    for (int m = 0; m < N_ROWS; ++m) v.sub(FADER_KEY_NAMES(m), r.faderKeys[m]);
    v.sub("faderDsks", r.faderDsks);
    v.field("faderSelect", r.faderSelect, r.mask, 0);
    v.field("faderSelectEnable", r.faderSelectEnable, r.mask, 1);
  }
  // Any non-zero enable byte on the wire is taken as 1.
  static void afterRead(MxifMainframeConfig& r) { rules::takeAsTruth(r, r.faderSelectEnable); }

  static constexpr auto SPARE_ROWS_TEXT =
      rules::compose("rows ", N_ME_ROWS, "..", N_ROWS - 1, " of meConfig and faderKeys are never taken from a request");
  static constexpr rules::Rule SPARE_ROWS = {rules::Effect::REFUSES, SPARE_ROWS_TEXT.chars};

  // What each field takes from a request, and from the backup image, whose rows 4..7 a resume takes
  // through the same checks.
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    for (int m = 0; m < N_ROWS; ++m) {
      l.sub(r.meConfig[m]);
      if (m >= N_ME_ROWS) l.rule(r.meConfig[m], SPARE_ROWS, limits::REFUSES_ALL);
    }
    l.sub(r.dskConfig);
    for (int m = 0; m < N_ROWS; ++m) {
      l.sub(r.faderKeys[m]);
      if (m >= N_ME_ROWS) l.rule(r.faderKeys[m], SPARE_ROWS, limits::REFUSES_ALL);
    }
    l.sub(r.faderDsks);
    l.take(r.faderSelect, FADER_SELECTS);
    l.rule(r.faderSelectEnable, rules::TRUTH_VALUE);
  }
};
// Offsets that other areas read.
static_assert(offsetof(MxifMainframeConfig, meConfig) == 4 && sizeof(MxifMainframeConfig::meConfig[0]) == 32);
static_assert(offsetof(MxifMainframeConfig, dskConfig) == 260);
static_assert(offsetof(MxifMainframeConfig, dskConfig) + offsetof(MainframeDskConfig, dskBackground1) == 264);
static_assert(offsetof(MxifMainframeConfig, dskConfig) + offsetof(MainframeDskConfig, dskBackground2) == 265);
static_assert(offsetof(MxifMainframeConfig, dskConfig) + offsetof(MainframeDskConfig, dskBackground2Own) == 266);
static_assert(offsetof(MxifMainframeConfig, dskConfig) + offsetof(MainframeDskConfig, dskProgram) == 272);
static_assert(offsetof(MxifMainframeConfig, dskConfig) + offsetof(MainframeDskConfig, dskOption) == 276);
static_assert(offsetof(MxifMainframeConfig, dskConfig) + offsetof(MainframeDskConfig, dskTopOption) == 288);
static_assert(offsetof(MxifMainframeConfig, dskConfig) + offsetof(MainframeDskConfig, dskCleanAlt) == 296);
static_assert(offsetof(MxifMainframeConfig, dskConfig) + offsetof(MainframeDskConfig, dskOutput2Source) == 300);
static_assert(offsetof(MxifMainframeConfig, faderKeys) == 304 && sizeof(MxifMainframeConfig::faderKeys[0]) == 12);
static_assert(offsetof(MxifMainframeConfig, faderDsks) == 400);
static_assert(offsetof(MxifMainframeConfig, faderSelect) == 412 && offsetof(MxifMainframeConfig, faderSelectEnable) == 413);
static_assert(sizeof(MxifMainframeConfig) == 416);
static_assert(codec::wireSize<MxifMainframeConfig>() == 348);

namespace internal {

// System initialise command (type 73, 19 bytes): answered with the same body and its result.
struct SystemInitialCmd {
  static constexpr int TYPE_INDEX = category::TYPE_SYSTEM_INITIAL_CMD;
  static constexpr int WIRE_BYTES = 19;
  static constexpr int LAST_MODE = 2;

  u8 option1 = 0;  // the option bytes and the date are only echoed
  u8 option2 = 0;
  u16 mode = 0;    // the same resets for each
  s16 result = 0;  // 0 done, -2 a mode above LAST_MODE, -16 an event memory playing
  s16 date[6] = {};  // year, month, day, hour, minute, second
  u8 option3 = 0;

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.field("option1", r.option1);
    v.field("option2", r.option2);
    v.field("mode", r.mode);
    codec::tag(v, codec::REPLY);
    v.field("result", r.result);
    v.field("date", r.date);
    v.field("option3", r.option3);
  }
  // What the command's handler takes; the options and the date are only echoed.
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.mode, 0, LAST_MODE);
  }
};
static_assert(sizeof(SystemInitialCmd) == 20);
static_assert(codec::wireSize<SystemInitialCmd>() == 19);

}  // namespace internal
