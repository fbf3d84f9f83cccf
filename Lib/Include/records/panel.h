#pragma once
// Panel operation records: the control panel configuration (type 25) with its key-fader tables, the
// lamp images of the panel-wide buttons (type 49) and of the ME rows (type 50), and the lever
// command of the transition faders (type 95).
#include <cstddef>
#include <iterator>

#include "Lib/Include/check.h"
#include "Lib/Include/codec.h"
#include "Lib/Include/limits.h"
#include "Lib/Include/records/names.h"
#include "Lib/Include/text.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

// ---- Key faders ------------------------------------------------------------------------------------

struct MxifKeyFader {
  static constexpr int N_FADERS = 8;
  static constexpr int KEY_FADER_BUTTON_NUM = 12;
  // ME select codes: 0 none, 1..4 a key of ME 1..4, 5 a downstream key, 6..9 a key of ME 1..4 B.
  static constexpr int ME_SEL_NONE = 0;
  static constexpr int ME_SEL_DSK = 5;
  static constexpr int ME_SEL_ME4B = 9;
  // Key select codes 0..7: keys 1 to 8.
  static constexpr int KEY_SEL_KEY8 = 7;
};

// The key one key-fader button drives (shared by the three panels).
struct KeyFaderButtonAssign {
  static constexpr u32 SEL_ME = 1u << 0;
  static constexpr u32 SEL_KEY_CH = 1u << 1;
  u32 mask = 0;
  u8 selMe = 0;
  u8 selKeyCh = 0;

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("selMe", r.selMe, r.mask, 0);
    v.field("selKeyCh", r.selKeyCh, r.mask, 1);
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.selMe, MxifKeyFader::ME_SEL_NONE, MxifKeyFader::ME_SEL_ME4B);
    l.take(r.selKeyCh, 0, MxifKeyFader::KEY_SEL_KEY8);
  }
};
static_assert(sizeof(KeyFaderButtonAssign) == 8);

// On/off of the twelve buttons of one fader on one panel.
struct KeyFaderButtonStates {
  // Presence of the entry as a whole: nothing sets it, it is cleared after each report and counts
  // as a pending change; it is not carried on the wire (so it is not in the field list).
  u32 entryMask = 0;
  u32 mask = 0;  // bit b: state[b] present
  u8 state[MxifKeyFader::KEY_FADER_BUTTON_NUM] = {};

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.each("state", r.state, r.mask, 0);
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.state, 0, 1);
  }
};
static_assert(sizeof(KeyFaderButtonStates) == 20);

// ---- Control panel configuration (type 25) ---------------------------------------------------------

struct MxifControlPanelConfig {
  static constexpr int TYPE_INDEX = category::TYPE_CONTROL_PANEL_CONFIG;
  static constexpr int N_PANELS = 3;  // 0 main, 1 and 2 the sub panels
  static constexpr int N_CODE_ENTRIES = 8;
  static constexpr int N_REQUEST_CODE_ENTRIES = 4;  // entries 4..7 are never taken from a request
  static constexpr int N_TRIPLES = 8;

  // Settings of one panel.
  struct Panel {
    static constexpr int N_SWITCHES = 6;
    static constexpr int N_LEVELS = 4;
    static constexpr int N_GROUP = 4;
    // Bits of `mask`: switches 1..6 bits 0..5, levels 1..4 bits 7..10.
    static constexpr int SWITCH_BIT = 0;
    static constexpr u32 SELECTOR = 1u << 6;
    static constexpr int LEVEL_BIT = 7;
    static constexpr u32 SWITCH7 = 1u << 11;
    static constexpr u32 REQUEST = 1u << 12;
    static constexpr int LAST_SELECTOR = 4;
    // Levels 1..4 of the main panel and of the sub panels.
    static constexpr rules::Range MAIN_LEVELS[N_LEVELS] = {{6, 13}, {7, 13}, {6, 14}, {0, 10}};
    static constexpr rules::Range SUB_LEVELS[N_LEVELS] = {{1, 50}, {1, 50}, {1, 50}, {0, 100}};

    u32 mask = 0;
    u8 switches[N_SWITCHES] = {};
    u8 selector = 0;
    s16 level[N_LEVELS] = {};
    u8 switch7 = 0;
    u8 request = 0;  // sub panels: set by the panel, read and cleared by the bus code
    u32 groupAMask = 0;
    u8 groupA[N_GROUP] = {};
    u32 groupBMask = 0;
    u8 groupB[N_GROUP] = {};

    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.each("switches", r.switches, r.mask, SWITCH_BIT);
      v.field("selector", r.selector, r.mask, 6);
      v.each("level", r.level, r.mask, LEVEL_BIT);
      v.field("switch7", r.switch7, r.mask, 11);
      v.field("request", r.request, r.mask, 12);
      v.mask("groupAMask", r.groupAMask);
      v.each("groupA", r.groupA, r.groupAMask, 0);
      v.mask("groupBMask", r.groupBMask);
      v.each("groupB", r.groupB, r.groupBMask, 0);
    }
    // What a panel takes, its levels by the table of its kind (MAIN_LEVELS or SUB_LEVELS).
    template <class L, class R>
    static constexpr void limits(L& l, R& r, const rules::Range (&levels)[N_LEVELS]) {
      l.take(r.switches, 0, 1);
      l.take(r.selector, 0, LAST_SELECTOR);
      for (int n = 0; n < N_LEVELS; ++n) l.take(r.level[n], levels[n].lo, levels[n].hi);
      l.take(r.switch7, 0, 1);
      l.take(r.request, 0, 1);
      l.take(r.groupA, 0, 1);
      l.take(r.groupB, 0, 1);
    }
  };

  // Values 1..3 (bits 0..2) and the lamp flag (bit 3) that the crosspoint lamps read.
  struct Options {
    static constexpr u32 LAMP_FLAG = 1u << 3;
    static constexpr int FIRST_VALUE = 1, LAST_VALUE = 12;
    u32 mask = 0;
    u8 value[3] = {};
    u8 lampFlag = 0;

    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.each("value", r.value, r.mask, 0);
      v.field("lampFlag", r.lampFlag, r.mask, 3);
    }
    template <class L, class R>
    static constexpr void limits(L& l, R& r) {
      l.take(r.value, FIRST_VALUE, LAST_VALUE);
      l.take(r.lampFlag, 0, 1);
    }
  };

  // Codes a, b, c, d (bits 0..3): code a 0 or FIRST..LAST, code b FIRST..its entry's last, codes c
  // and d FIRST..LAST.
  struct Codes {
    static constexpr int FIRST = 5, LAST = 12;
    static constexpr rules::Range CODE_A[] = {{0, 0}, {FIRST, LAST}};
    u32 mask = 0;
    u8 code[4] = {};

    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.each("code", r.code, r.mask, 0);
    }
    template <class L, class R>
    static constexpr void limits(L& l, R& r, int lastB) {
      l.take(r.code[0], CODE_A);
      l.take(r.code[1], FIRST, lastB);
      l.take(r.code[2], FIRST, LAST);
      l.take(r.code[3], FIRST, LAST);
    }
  };

  u32 mask = 0;  // presence of the record as a whole: nothing sets it
  Panel controlPanel;
  Panel subControlPanel1;
  TextBlock textBlock1;
  Panel subControlPanel2;
  TextBlock textBlock2;
  Options options;
  Codes codeEntries[N_CODE_ENTRIES];
  Codes codeGroup;
  u32 tripleMask = 0;  // bit n: triples[n]
  s16 triples[N_TRIPLES][3] = {};
  KeyFaderButtonAssign keyFaders[MxifKeyFader::N_FADERS][MxifKeyFader::KEY_FADER_BUTTON_NUM];
  KeyFaderButtonStates keyFaderStates[N_PANELS][MxifKeyFader::N_FADERS];

  Panel& panel(int n) { return n == 0 ? controlPanel : (n == 1 ? subControlPanel1 : subControlPanel2); }
  const Panel& panel(int n) const { return const_cast<MxifControlPanelConfig*>(this)->panel(n); }

  // Fields in wire order. The texts make the wire form variable in length: it is read and written
  // by libmx::readTextRecord / writeTextRecord (text.h).
  static constexpr ElementNames<N_CODE_ENTRIES> CODE_NAMES{"codeEntries"};
  static constexpr ElementNames<N_TRIPLES> TRIPLE_NAMES{"triples"};
  static constexpr ElementNames<MxifKeyFader::N_FADERS, MxifKeyFader::KEY_FADER_BUTTON_NUM> FADER_NAMES{"keyFaders"};
  static constexpr ElementNames<N_PANELS, MxifKeyFader::N_FADERS> STATE_NAMES{"keyFaderStates"};

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.sub("controlPanel", r.controlPanel);
    v.sub("subControlPanel1", r.subControlPanel1);
    v.sub("textBlock1", r.textBlock1);
    v.sub("subControlPanel2", r.subControlPanel2);
    v.sub("textBlock2", r.textBlock2);
    v.sub("options", r.options);
    for (int n = 0; n < N_CODE_ENTRIES; ++n) v.sub(CODE_NAMES(n), r.codeEntries[n]);
    v.sub("codeGroup", r.codeGroup);
    v.mask("tripleMask", r.tripleMask);
    for (int n = 0; n < N_TRIPLES; ++n) v.field(TRIPLE_NAMES(n), r.triples[n], r.tripleMask, n);
    for (int f = 0; f < MxifKeyFader::N_FADERS; ++f) {
      for (int b = 0; b < MxifKeyFader::KEY_FADER_BUTTON_NUM; ++b) v.sub(FADER_NAMES(f, b), r.keyFaders[f][b]);
    }
    for (int p = 0; p < N_PANELS; ++p) {
      for (int f = 0; f < MxifKeyFader::N_FADERS; ++f) v.sub(STATE_NAMES(p, f), r.keyFaderStates[p][f]);
    }
  }

  static constexpr int LAST_TRIPLE_VALUE = 15;
  static constexpr auto SPARE_CODE_ENTRIES_TEXT = rules::compose(
      "codeEntries ", N_REQUEST_CODE_ENTRIES, "..", N_CODE_ENTRIES - 1, " are never taken from a request");
  static constexpr rules::Rule SPARE_CODE_ENTRIES = {rules::Effect::REFUSES, SPARE_CODE_ENTRIES_TEXT.chars};
  static constexpr rules::Rule FIRST_TEXT_ONLY = {
      rules::Effect::REFUSES, "a text block takes text1 alone from a request: text2, text3 and text4 are never taken (a "
                              "start keeps them as the backup image holds them)"};

  // What each field takes from a request (a resume takes the backup image's through the same
  // checks, and keeps what it holds of the code entries and texts that a request never sets).
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    Panel::limits(l, r.controlPanel, Panel::MAIN_LEVELS);
    Panel::limits(l, r.subControlPanel1, Panel::SUB_LEVELS);
    Panel::limits(l, r.subControlPanel2, Panel::SUB_LEVELS);
    for (auto* block : {&r.textBlock1, &r.textBlock2}) {
      l.rule(block->text2, FIRST_TEXT_ONLY, limits::REFUSES_ALL);
      l.rule(block->text3, FIRST_TEXT_ONLY, limits::REFUSES_ALL);
      l.rule(block->text4, FIRST_TEXT_ONLY, limits::REFUSES_ALL);
    }
    l.sub(r.options);
    for (int n = 0; n < N_CODE_ENTRIES; ++n) {
      if (n < N_REQUEST_CODE_ENTRIES) {
        Codes::limits(l, r.codeEntries[n], Codes::LAST);
      } else {
        l.rule(r.codeEntries[n].code, SPARE_CODE_ENTRIES, limits::REFUSES_ALL);
      }
    }
    Codes::limits(l, r.codeGroup, Codes::LAST + 1);
    for (auto& t : r.triples) l.take(t, 0, LAST_TRIPLE_VALUE);
    for (auto& row : r.keyFaders) {
      for (auto& a : row) l.sub(a);
    }
    for (auto& row : r.keyFaderStates) {
      for (auto& s : row) l.sub(s);
    }
  }
};
static_assert(sizeof(MxifControlPanelConfig::Panel) == 40);
static_assert(offsetof(MxifControlPanelConfig::Panel, request) == 21);
// Byte offsets that the bus code reads.
static_assert(offsetof(MxifControlPanelConfig, subControlPanel1) == 44);
static_assert(offsetof(MxifControlPanelConfig, subControlPanel2) == 164);
static_assert(offsetof(MxifControlPanelConfig, subControlPanel1) + offsetof(MxifControlPanelConfig::Panel, request) == 65);
static_assert(offsetof(MxifControlPanelConfig, subControlPanel2) + offsetof(MxifControlPanelConfig::Panel, request) == 185);
static_assert(offsetof(MxifControlPanelConfig, options) + offsetof(MxifControlPanelConfig::Options, lampFlag) == 291);
static_assert(offsetof(MxifControlPanelConfig, keyFaders) == 416);
static_assert(sizeof(MxifControlPanelConfig) == 1664);
static_assert(codec::wireSize<MxifControlPanelConfig>() == 1363);

// ---- Lamp images (types 49 and 50) -----------------------------------------------------------------

// Button code to lamp index of the panel-wide lamps (type 49), and of the lamps of an ME row
// (type 50). A code outside the map fails "NeverReachHere".
struct LampRange {
  u16 first, last, index;
};

inline int lampIndexIn(const LampRange* ranges, int n, int code) {
  for (int i = 0; i < n; ++i) {
    if (ranges[i].first <= code && code <= ranges[i].last) return ranges[i].index + (code - ranges[i].first);
  }
  MX_FAIL("NeverReachHere");
  return 0;
}

// Button codes of the panel-wide lamps, in the order they are looked up.
inline constexpr LampRange LED_BUTTON_RANGES[] = {
    {200, 207, 0},     {212, 215, 8},     {712, 715, 12},    {2400, 2410, 16},  {2200, 2231, 27},
    {2900, 2913, 59},  {2000, 2047, 73},  {2050, 2097, 121}, {2100, 2110, 169}, {2450, 2450, 180},
    {2500, 2508, 181}, {2600, 2608, 190}, {2700, 2708, 199}, {2800, 2804, 208}, {3000, 3018, 227},
    {700, 707, 246},   {3100, 3143, 254}, {3300, 3351, 298},
};
// Button codes of the lamps of an ME row.
inline constexpr LampRange BUS_BUTTON_RANGES[] = {
    {0, 47, 0},      {50, 97, 48},    {100, 147, 96},  {150, 197, 144}, {208, 211, 192}, {216, 230, 196},
    {450, 453, 211}, {250, 268, 215}, {300, 318, 234}, {350, 381, 253}, {400, 423, 285},
};

// The same maps as tables by code (-1 outside the map), so that a lamp is found by one load; the
// ranges stay the reference, and a code outside the map still fails through them. `run` holds, for
// each code, how many codes from it on have lamps that follow one another (0 outside the map).
template <std::size_t N>
constexpr int lampMapSize(const LampRange (&ranges)[N]) {
  int size = 0;
  for (const LampRange& r : ranges) size = r.last + 1 > size ? r.last + 1 : size;
  return size;
}

template <int SIZE, std::size_t N>
struct LampMap {
  s16 index[SIZE];
  s16 run[SIZE];

  constexpr explicit LampMap(const LampRange (&ranges)[N]) : index(), run() {
    for (s16& i : index) i = -1;
    for (const LampRange& r : ranges) {
      for (int code = r.first; code <= r.last; ++code) {
        if (index[code] < 0) index[code] = static_cast<s16>(r.index + (code - r.first));
      }
    }
    for (int code = SIZE - 1; code >= 0; --code) {
      const bool next = code + 1 < SIZE && index[code] >= 0 && index[code + 1] == index[code] + 1;
      run[code] = static_cast<s16>(index[code] < 0 ? 0 : next ? run[code + 1] + 1 : 1);
    }
  }
  int find(int code) const { return 0 <= code && code < SIZE ? index[code] : -1; }
  // Whether codes code..code + n - 1 all have lamps, one after another.
  bool follow(int code, int n) const { return 0 <= code && code < SIZE && run[code] >= n; }
};

inline constexpr LampMap<lampMapSize(LED_BUTTON_RANGES), std::size(LED_BUTTON_RANGES)> LED_LAMP_MAP{LED_BUTTON_RANGES};
inline constexpr LampMap<lampMapSize(BUS_BUTTON_RANGES), std::size(BUS_BUTTON_RANGES)> BUS_LAMP_MAP{BUS_BUTTON_RANGES};

inline int ledIndexOfButton(int code) {
  const int i = LED_LAMP_MAP.find(code);
  return i >= 0 ? i : lampIndexIn(LED_BUTTON_RANGES, static_cast<int>(std::size(LED_BUTTON_RANGES)), code);
}

inline int busButtonIndex(int code) {
  const int i = BUS_LAMP_MAP.find(code);
  return i >= 0 ? i : lampIndexIn(BUS_BUTTON_RANGES, static_cast<int>(std::size(BUS_BUTTON_RANGES)), code);
}

namespace internal {

// The lamps of one panel (channel = panel 0..2). `lampMask` bit i: lamp i changed since the panel's
// image was last sent. Every lamp is carried; the mask tells which changed.
struct MxifLed {
  static constexpr int TYPE_INDEX = category::TYPE_LED;
  static constexpr int N_CHANNELS = 3;
  static constexpr int N_LED = 350;
  u32 mask = 0;
  u16 panel = 0;
  u32 lampMask[(N_LED + 31) / 32] = {};
  u8 lamps[N_LED] = {};

  static int lampIndex(int code) { return ledIndexOfButton(code); }
  static bool lampsFollow(int code, int n) { return LED_LAMP_MAP.follow(code, n); }

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    codec::channelField(v, "panel", r.panel);
    v.mask("lampMask", r.lampMask);
    v.each("lamps", r.lamps, r.lampMask, 0);
  }
};
static_assert(sizeof(MxifLed) == 404);
static_assert(codec::wireSize<MxifLed>() == 400);

// The lamps of one ME row as one panel shows them; one instance per ME, channel = panel 0..2.
struct MxifMeLed {
  static constexpr int TYPE_INDEX = category::TYPE_ME_LED;
  static constexpr int N_CHANNELS = 3;
  static constexpr bool PER_ME = true;
  static constexpr int N_LED = 309;
  u32 mask = 0;
  u8 me = 0;
  u16 panel = 0;
  u32 lampMask[(N_LED + 31) / 32] = {};
  u8 lamps[N_LED] = {};

  static int lampIndex(int code) { return busButtonIndex(code); }
  static bool lampsFollow(int code, int n) { return BUS_LAMP_MAP.follow(code, n); }

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    codec::meField(v, "me", r.me);
    codec::channelField(v, "panel", r.panel);
    v.mask("lampMask", r.lampMask);
    v.each("lamps", r.lamps, r.lampMask, 0);
  }
};
static_assert(offsetof(MxifMeLed, me) == 4);
static_assert(sizeof(MxifMeLed) == 360);
static_assert(codec::wireSize<MxifMeLed>() == 356);

// A transition lever's raw value from a control panel (command type 95), 13 bytes big-endian.
struct MxifFaderEvent {
  static constexpr int TYPE_INDEX = category::TYPE_FADER_EVENT;
  u16 word1 = 0;
  u8 flag = 0;
  u16 word2 = 0;
  u8 lever = 0;   // of the panel's levers, lever m drives ME m
  u16 value = 0;  // raw lever value
  u16 word3 = 0;
  u8 panel = 0;
  u8 byte1 = 0;
  u8 byte2 = 0;

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.field("word1", r.word1);
    v.field("flag", r.flag);
    v.field("word2", r.word2);
    v.field("lever", r.lever);
    v.field("value", r.value);
    v.field("word3", r.word3);
    v.field("panel", r.panel);
    v.field("byte1", r.byte1);
    v.field("byte2", r.byte2);
  }
  // An event of another lever or panel is dropped; a raw value above the lever's top reads as the top.
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.lever, 0, 3);
    l.take(r.value, 0, 4095);
    l.take(r.panel, 0, 2);
  }
};
static_assert(sizeof(MxifFaderEvent) == 16);
static_assert(codec::wireSize<MxifFaderEvent>() == 13);

}  // namespace internal

// The raw lever values of one lever's ends.
struct LeverCalibration {
  static constexpr s16 INITIAL_MAX = 2555;
  static constexpr s16 INITIAL_MIN = 1533;
  s16 max = INITIAL_MAX;
  s16 min = INITIAL_MIN;
};
static_assert(sizeof(LeverCalibration) == 4);

// What the fader events keep in the backup image: one calibration entry per main lever, index
// panel x 4 + lever.
struct FaderCalibration {
  static constexpr int N_ENTRIES = 12;
  LeverCalibration entries[N_ENTRIES];
};
static_assert(sizeof(FaderCalibration) == 48);
