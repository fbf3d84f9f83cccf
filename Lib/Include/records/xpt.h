#pragma once
// Crosspoint button assignment (type 38) and source link table (type 37).
#include <cstddef>

#include "Lib/Include/codec.h"
#include "Lib/Include/limits.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

// Which source each crosspoint button of a panel selects; one channel per panel 0..2.
struct MxifXptAssign {
  static constexpr int TYPE_INDEX = category::TYPE_XPT_ASSIGN;
  static constexpr int N_CHANNELS = 3;
  static constexpr int N_BUTTONS = 192;
  static constexpr int N_BUTTON_WORDS = N_BUTTONS / 32;
  // Bits of `mask`.
  static constexpr u32 PANEL_FLAG = 1u << 0;
  // Source values with a meaning of their own.
  static constexpr s16 MARKER_CLASS1 = 300;  // masks its column (class 1)
  static constexpr s16 MARKER_CLASS2 = 301;  // masks its column (class 2)
  static constexpr s16 DEFAULT_SOURCE = 302;
  // The sources a button takes; the outputs of ME 3 and ME 4 (158..165) are not among them.
  static constexpr rules::Range ASSIGNABLE[] = {
      {10, 41},    // SDI inputs 1..32
      {140, 141},  // DVI inputs
      {150, 157},  // outputs of ME 1 and ME 2
      {170, 178},  // DSK outputs
      {180, 191},  // stills
      {200, 211},  // clips
      {220, 223},  // colour backgrounds, colour bars, black
      {230, 237},  // multiview outputs
      {240, 255},  // bus outputs
      {290, 291},
      {300, 302},  // the two column markers and the default
  };

  u32 mask = 0;
  u16 panel = 0;                          // 0..2, the channel
  u32 buttonMask[N_BUTTON_WORDS] = {};    // bit i: source[i] present
  s16 source[N_BUTTONS] = {};
  u8 panelFlag = 0;                       // kept for the front end

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    codec::channelField(v, "panel", r.panel);
    v.mask("buttonMask", r.buttonMask);
    v.each("source", r.source, r.buttonMask, 0);
    v.field("panelFlag", r.panelFlag, r.mask, 0);
  }
  // Every button starts on the default source.
  static constexpr void atStart(MxifXptAssign& r) {
    for (s16& s : r.source) s = DEFAULT_SOURCE;
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.source, ASSIGNABLE);
    l.take(r.panelFlag, 0, 1);
  }
};
static_assert(sizeof(MxifXptAssign) == 420);
static_assert(codec::wireSize<MxifXptAssign>() == 415);

struct MxifAuxBusLink {
  static constexpr int N_PAIRS = 24;
  u32 mask = 0;            // bit p: flags[p] present
  u8 flags[N_PAIRS] = {};  // 1: AUX bus entries 24 + 2p and 25 + 2p are linked

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

// For each source of the source table, the source linked to it; one channel.
struct MxifSourceLink {
  static constexpr int TYPE_INDEX = category::TYPE_SOURCE_LINK;
  static constexpr int N_CHANNELS = 1;
  static constexpr int N_SOURCES = 195;
  static constexpr int N_ENTRY_WORDS = (N_SOURCES + 31) / 32;
  // Bits of `mask`.
  static constexpr u32 LINK_MODE = 1u << 0;
  static constexpr u32 TABLE_MODE = 1u << 1;
  // The sources of the table, in order: what a table entry links its source to.
  static constexpr rules::Range LINKABLE[] = {
      {10, 137},                                                  // SDI inputs
      {140, 141},                                                 // DVI inputs
      {150, 165},                                                 // ME outputs
      {170, 178},                                                 // DSK outputs
      {181, 182}, {184, 185}, {187, 188}, {190, 191},             // stills: video, key
      {201, 202}, {204, 205}, {207, 208}, {210, 211},             // clips: video, key
      {220, 223}, {230, 233}, {314, 329},
  };
  static constexpr rules::Rule RESERVED_ZERO = {rules::Effect::REFUSES, "reserved is always 0: a request never sets it"};

  u32 reserved = 0;                    // always 0, carried
  u32 mask = 0;
  u32 entryMask[N_ENTRY_WORDS] = {};   // bit i: linked[i] present
  s16 linked[N_SOURCES] = {};          // linked source of table source i
  u8 gap[2] = {};                      // not on the wire
  u8 linkMode = 0;                     // 0: the first bus of a pair drives, 1: the second
  u8 tableMode = 0;                    // 1: entries received link each source to itself
  MxifAuxBusLink auxBusLink;

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.field("reserved", r.reserved);
    v.mask("mask", r.mask);
    v.mask("entryMask", r.entryMask);
    v.each("linked", r.linked, r.entryMask, 0);
    v.field("linkMode", r.linkMode, r.mask, 0);
    v.field("tableMode", r.tableMode, r.mask, 1);
    v.sub("auxBusLink", r.auxBusLink);
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.reserved, 0, 0);
    l.rule(r.reserved, RESERVED_ZERO);
    l.take(r.linked, LINKABLE);
    l.take(r.linkMode, 0, 1);
    l.take(r.tableMode, 0, 1);
    l.sub(r.auxBusLink);
  }
};
static_assert(offsetof(MxifSourceLink, linkMode) == 428);
static_assert(offsetof(MxifSourceLink, auxBusLink) == 432);
static_assert(sizeof(MxifSourceLink) == 460);
static_assert(codec::wireSize<MxifSourceLink>() == 456);
