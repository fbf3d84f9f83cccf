#pragma once
// MxifPeripheral (type 28, one channel): the tally settings of the switcher. Four tally groups, each
// a list of up to eight outputs whose on-air sources make up the group's tally, with a colour and an
// exclusion flag for the multiview; the tally mode (0: follow the switcher state, else the hardware
// tally status), the report form (1: the source tally the front end sends is the tally) and an
// option flag. 112 bytes in memory, 100 on the wire.
#include <cstddef>

#include "Lib/Include/codec.h"
#include "Lib/Include/limits.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

struct TallyGroup {
  static constexpr int N_ENTRIES = 8;
  static constexpr int COLOR_BIT = 8;
  static constexpr int EXCLUSION_BIT = 9;
  static constexpr u32 ALL = 0x3FF;

  // Entry codes: 0 names no output, 1..6 the ME outputs, 13..20 the DSK outputs and 21..36 the bus
  // outputs; group 0 takes none of the preview outputs (2, 5, 15 and 16) that the others take.
  static constexpr rules::Range CODES[] = {{0, 6}, {13, 36}};
  static constexpr rules::Range MAIN_CODES[] = {{0, 1}, {3, 4}, {6, 6}, {13, 14}, {17, 36}};
  static constexpr int LAST_COLOR = 3;

  u32 mask = 0;  // bits 0..7: entries, 8: colour, 9: exclusion
  u16 entries[N_ENTRIES] = {};  // tally entry codes
  u8 color = 0;
  u8 exclusion = 0;             // a truth value: the multiview leaves the group out
  u8 reserved[2] = {};

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.each("entries", r.entries, r.mask, 0);
    v.field("color", r.color, r.mask, COLOR_BIT);
    v.field("exclusion", r.exclusion, r.mask, EXCLUSION_BIT);
  }
};
static_assert(sizeof(TallyGroup) == 24);

struct MxifPeripheral {
  static constexpr int TYPE_INDEX = category::TYPE_PERIPHERAL;
  static constexpr int N_GROUPS = 4;

  // Bits of maskA, and of maskB.
  static constexpr u32 FLAG_A0 = 1u << 0, REPORT_FORM = 1u << 1, TALLY_MODE = 1u << 2;
  static constexpr u32 OPTION = 1u << 0;

  u32 maskA = 0;
  u32 maskB = 0;
  u8 option = 0;  // maskB bit 0
  u8 reserved9[3] = {};
  u8 flagA0 = 0;      // bit 0: carried and kept, never taken from the front end
  u8 reportForm = 0;  // bit 1: 1 the source tally received from the front end is the tally
  u8 tallyMode = 0;   // bit 2: 0 the tally follows the switcher state, else the hardware status
  u8 reserved15 = 0;
  TallyGroup groups[N_GROUPS];

  static constexpr const char* NAMES[N_GROUPS] = {"group0", "group1", "group2", "group3"};

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("maskA", r.maskA);
    v.mask("maskB", r.maskB);
    v.field("option", r.option, r.maskB, 0);
    v.field("flagA0", r.flagA0, r.maskA, 0);
    v.field("reportForm", r.reportForm, r.maskA, 1);
    v.field("tallyMode", r.tallyMode, r.maskA, 2);
    for (int g = 0; g < N_GROUPS; ++g) v.sub(NAMES[g], r.groups[g]);
  }

  static constexpr rules::Rule FLAG_A0_KEPT = {rules::Effect::REFUSES, "flagA0 is carried and kept: a request never sets it"};
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.option, 0, 1);
    l.rule(r.flagA0, FLAG_A0_KEPT, limits::REFUSES_ALL);
    l.take(r.reportForm, 0, 1);
    l.take(r.tallyMode, 0, 1);
    for (int g = 0; g < N_GROUPS; ++g) {
      if (g == 0) {
        l.take(r.groups[g].entries, TallyGroup::MAIN_CODES);
      } else {
        l.take(r.groups[g].entries, TallyGroup::CODES);
      }
      l.take(r.groups[g].color, 0, TallyGroup::LAST_COLOR);
      l.rule(r.groups[g].exclusion, rules::TRUTH_VALUE);
    }
  }
  // A received exclusion flag is a truth value.
  static void afterRead(MxifPeripheral& r) {
    for (TallyGroup& g : r.groups) rules::takeAsTruth(r, g.exclusion);
  }
};
static_assert(sizeof(MxifPeripheral) == 112);
static_assert(codec::wireSize<MxifPeripheral>() == 100);
static_assert(offsetof(MxifPeripheral, flagA0) == 12 && offsetof(MxifPeripheral, reportForm) == 13);
static_assert(offsetof(MxifPeripheral, tallyMode) == 14 && offsetof(MxifPeripheral, groups) == 16);
static_assert(offsetof(MxifPeripheral, groups) + offsetof(TallyGroup, entries) == 20);
static_assert(offsetof(MxifPeripheral, groups) + offsetof(TallyGroup, exclusion) == 37);
