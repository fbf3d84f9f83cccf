#pragma once
// MxifBus (type 47): the crosspoint selections of one ME's 89 bus entries and its program-bus
// selector. MxifBusStatus (type 48): per control panel, which bus entry each of the panel's five
// bus rows of the ME shows, and the panel-side switches.
#include <cstddef>

#include "Lib/Include/codec.h"
#include "Lib/Include/limits.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

struct MxifBus {
  static constexpr int TYPE_INDEX = category::TYPE_BUS;
  static constexpr bool PER_ME = true;
  static constexpr int N_ENTRIES = 89;

  static constexpr u32 PROGRAM_BUS = 1u << 0;  // mask bit of programBus

  u32 mask = 0;           // bit 0: programBus present
  u8 me = 0;              // ME 0..3 of the instance
  u32 entryMask[3] = {};  // bit e % 32 of word e / 32: entry e present
  u16 entries[N_ENTRIES] = {};  // crosspoint code of entries 0..88
  u8 reserved[2] = {};
  u8 programBus = 0;      // 0: the A bus is on program, 1: the B bus

  bool hasEntry(int e) const { return (entryMask[e / 32] >> (e % 32)) & 1u; }
  void markEntry(int e) { entryMask[e / 32] |= 1u << (e % 32); }
  void clearEntry(int e) { entryMask[e / 32] &= ~(1u << (e % 32)); }
  // Sets entry e to code with its presence bit.
  void setEntry(int e, int code) {
    entries[e] = static_cast<u16>(code);
    markEntry(e);
  }

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    codec::meField(v, "me", r.me);
    v.mask("entryMask", r.entryMask);
    v.each("entries", r.entries, r.entryMask, 0);
    v.field("programBus", r.programBus, r.mask, 0);
  }
};
static_assert(sizeof(MxifBus) == 204);
static_assert(codec::wireSize<MxifBus>() == 196);
static_assert(offsetof(MxifBus, entryMask) == 8);
static_assert(offsetof(MxifBus, entries) == 20);
static_assert(offsetof(MxifBus, programBus) == 200);

struct MxifBusStatus {
  static constexpr int TYPE_INDEX = category::TYPE_BUS_STATUS;
  static constexpr int N_CHANNELS = 3;  // control panels
  static constexpr bool PER_ME = true;
  static constexpr int N_ROWS = 5;
  static constexpr int N_PAGES = 7;

  // maskA bits.
  static constexpr u32 SWITCH = 1u << 0;    // byte 20
  static constexpr u32 FLAG21 = 1u << 1;
  static constexpr u32 FLAG22 = 1u << 2;
  static constexpr u32 FLAG36 = 1u << 3;
  static constexpr u32 VALUE37 = 1u << 4;

  u32 maskA = 0;
  u16 channel = 0;  // panel 0..2
  u8 me = 0;
  u8 reserved7 = 0;
  u32 maskB = 0;    // bit r: rows[r]
  u8 rows[N_ROWS] = {};  // bus entry shown on row r; 102..109 and 255 name no entry
  u8 reserved17[3] = {};
  u8 switchLamp = 0;  // byte 20: the panel's special-lamp switch
  u8 flag21 = 0;
  u8 flag22 = 0;
  u8 reserved23 = 0;
  u32 maskC = 0;      // bit i: pages[i]
  u8 pages[N_PAGES] = {};  // bytes 28..31: the button page of rows 0..3
  u8 reserved35 = 0;
  u8 flag36 = 0;
  u8 value37 = 0;
  u8 reserved38[2] = {};

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("maskA", r.maskA);
    codec::meField(v, "me", r.me);
    codec::channelField(v, "channel", r.channel);
    v.mask("maskB", r.maskB);
    v.each("rows", r.rows, r.maskB, 0);
    v.field("switchLamp", r.switchLamp, r.maskA, 0);
    v.field("flag21", r.flag21, r.maskA, 1);
    v.field("flag22", r.flag22, r.maskA, 2);
    v.mask("maskC", r.maskC);
    v.each("pages", r.pages, r.maskC, 0);
    v.field("flag36", r.flag36, r.maskA, 3);
    v.field("value37", r.value37, r.maskA, 4);
  }
  // rows are stored as sent.
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.switchLamp, 0, 1);
    l.take(r.flag21, 0, 1);
    l.take(r.flag22, 0, 1);
    l.take(r.pages, 0, 3);
    l.take(r.flag36, 0, 1);
    l.take(r.value37, 0, 47);
  }
};
static_assert(sizeof(MxifBusStatus) == 40);
static_assert(codec::wireSize<MxifBusStatus>() == 32);
static_assert(offsetof(MxifBusStatus, channel) == 4);
static_assert(offsetof(MxifBusStatus, me) == 6);
static_assert(offsetof(MxifBusStatus, rows) == 12);
static_assert(offsetof(MxifBusStatus, switchLamp) == 20);
static_assert(offsetof(MxifBusStatus, maskC) == 24);
static_assert(offsetof(MxifBusStatus, pages) == 28);
static_assert(offsetof(MxifBusStatus, flag36) == 36);
static_assert(offsetof(MxifBusStatus, value37) == 37);
