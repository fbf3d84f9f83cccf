#pragma once
// MxifBus (type 47): the crosspoint selections of one ME's 89 bus entries and its program-bus
// selector. MxifBusStatus (type 48): per control panel, which bus entry each of the panel's five
// bus rows of the ME shows, and the panel-side switches.
#include <cstddef>

#include "Lib/Include/codec.h"
#include "Lib/Include/limits.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

// The crosspoint codes of a bus entry, and the sources that each entry takes: the bus's checks
// and the declaration of MxifBus's limits read them here.
namespace buses {

// A code is panel x 256 + button (buttons 0..N_BUTTONS - 1 of the panels 0..N_PANELS - 1, the
// button's source as MxifXptAssign assigns it) or DIRECT + source, for the sources of DIRECT_SOURCES.
constexpr int N_PANELS = 3;
constexpr int N_BUTTONS = 192;
constexpr int PANEL_CODES = N_PANELS * 256;
constexpr int DIRECT = 1024;
constexpr rules::Range DIRECT_SOURCES[] = {{10, 302}, {314, 329}};
// Entries 0..LAST_LOOP_ENTRY feed the ME (they may close a loop); SPARE_ENTRY takes any source;
// 16..23 the DSKs, USK_ENTRY.. the eight up-stream key slots.
constexpr int LAST_LOOP_ENTRY = 11;
constexpr int SPARE_ENTRY = 12;
constexpr int FIRST_DSK_ENTRY = 16, LAST_DSK_ENTRY = 23;
constexpr int USK_ENTRY = 72, N_USK_ENTRIES = 8;
// Key k (0..3) of an ME is filled from entry KEY_FILL_ENTRY + 2k and keyed from the next, downstream
// key c from FIRST_DSK_ENTRY + 2c and the next; the AUX buses follow the DSK entries, the first
// N_AUX_MIX of them mixing.
constexpr int KEY_FILL_ENTRY = 2;
constexpr int N_AUX_MIX = 4;
// Sources of the switcher's own: colour backgrounds 1 and 2 (220, 221), colour bars, black; black is
// the code written over an entry that does not take its code.
constexpr int SOURCE_COLOR_BACKGROUND = 220, SOURCE_BARS = 222, SOURCE_BLACK = 223;
constexpr int REPLACEMENT_CODE = DIRECT + SOURCE_BLACK;
// The outputs of ME m: sources FIRST_ME_OUTPUT + 4m .. + 3.
constexpr int FIRST_ME_OUTPUT = 150, ME_OUTPUTS = 4, LAST_ME_OUTPUT = 165;
constexpr bool isMeOutput(int source) { return FIRST_ME_OUTPUT <= source && source <= LAST_ME_OUTPUT; }
constexpr int meOfOutput(int source) { return (source - FIRST_ME_OUTPUT) / ME_OUTPUTS; }

// The source lists. A: entries 0..11; B (A without 151, 155): the DSK entries; C (A up to 223): the
// up-stream key slots; D (A's first 54, then 150..157, 170..178, 230..233): every other entry but 12.
constexpr s16 LIST_A[] = {10,  11,  12,  13,  14,  15,  16,  17,  18,  19,  20,  21,  22,  23,  24,
                          25,  26,  27,  28,  29,  30,  31,  32,  33,  34,  35,  36,  37,  38,  39,
                          40,  41,  140, 141, 181, 182, 184, 185, 187, 188, 190, 191, 201, 202, 204,
                          205, 207, 208, 210, 211, 222, 220, 221, 223, 150, 151, 152, 154, 155, 156};
static_assert(sizeof(LIST_A) / sizeof(LIST_A[0]) == 60);
constexpr int LIST_C_LENGTH = 54;
constexpr s16 LIST_D_TAIL[] = {150, 151, 152, 153, 154, 155, 156, 157, 170, 171, 172,
                               173, 174, 175, 176, 177, 178, 230, 231, 232, 233};
constexpr s16 NOT_IN_B[] = {151, 155};

// The lists as bits by source, so that a check is one load: every listed source lies below 256.
enum : u8 { IN_A = 1, IN_C = 2, IN_D = 4 };
constexpr int N_LISTED = 256;
struct ListBits {
  u8 bits[N_LISTED] = {};
};
constexpr ListBits LISTS = [] {
  ListBits l;
  for (int i = 0; i < static_cast<int>(sizeof(LIST_A) / sizeof(LIST_A[0])); ++i) {
    l.bits[LIST_A[i]] |= i < LIST_C_LENGTH ? IN_A | IN_C : IN_A;
  }
  for (s16 s : LIST_D_TAIL) l.bits[s] |= IN_D;
  return l;
}();
constexpr bool inLists(int source, u8 lists) { return 0 <= source && source < N_LISTED && (LISTS.bits[source] & lists) != 0; }

// Whether the entry's list holds the source (-1, no source, is in none).
constexpr bool listed(int entry, int source) {
  if (source == -1) return false;
  if (0 <= entry && entry <= LAST_LOOP_ENTRY) return inLists(source, IN_A);
  if (entry == SPARE_ENTRY) return true;
  if (FIRST_DSK_ENTRY <= entry && entry <= LAST_DSK_ENTRY) {
    return source != NOT_IN_B[0] && source != NOT_IN_B[1] && inLists(source, IN_A);
  }
  if (USK_ENTRY <= entry && entry < USK_ENTRY + N_USK_ENTRIES) return inLists(source, IN_C);
  return inLists(source, IN_C | IN_D);
}

// The codes that an entry takes on ME me: every panel button's (by the source the button is
// assigned: a rule), and DIRECT + each source of its list; on the entries that feed the ME, none
// of the ME's own outputs (a loop at once).
constexpr void entryCodes(int entry, int me, limits::Runs& out) {
  for (int p = 0; p < N_PANELS; ++p) out.add(256 * p, 256 * p + N_BUTTONS - 1);
  for (const rules::Range& r : DIRECT_SOURCES) {
    for (int s = r.lo; s <= r.hi; ++s) {
      const bool own = entry <= LAST_LOOP_ENTRY && isMeOutput(s) && meOfOutput(s) == me;
      if (listed(entry, s) && !own) out.add(DIRECT + s, DIRECT + s);
    }
  }
}
// The same as a computed range of each group of entries that take the same codes.
template <int ENTRY>
constexpr int entryCodesOf(const limits::Inputs& in, limits::Runs& out) {
  entryCodes(ENTRY, in.me, out);
  return 0;
}
constexpr limits::Computed LOOP_ENTRY_CODES = {&entryCodesOf<0>, true};
constexpr limits::Computed SPARE_ENTRY_CODES = {&entryCodesOf<SPARE_ENTRY>};
constexpr limits::Computed DSK_ENTRY_CODES = {&entryCodesOf<FIRST_DSK_ENTRY>};
constexpr limits::Computed USK_ENTRY_CODES = {&entryCodesOf<USK_ENTRY>};
constexpr limits::Computed OTHER_ENTRY_CODES = {&entryCodesOf<SPARE_ENTRY + 1>};
// The entries that feed an ME, on the ME that an element names (input 0: a command's bus.me).
constexpr int loopEntryCodesOfMe(const limits::Inputs& in, limits::Runs& out) {
  entryCodes(0, static_cast<int>(in.value[0]), out);
  return 1;
}
constexpr limits::Computed LOOP_ENTRY_CODES_OF_ME = {&loopEntryCodesOfMe};
constexpr const limits::Computed& codesOf(int entry) {
  if (entry <= LAST_LOOP_ENTRY) return LOOP_ENTRY_CODES;
  if (entry == SPARE_ENTRY) return SPARE_ENTRY_CODES;
  if (FIRST_DSK_ENTRY <= entry && entry <= LAST_DSK_ENTRY) return DSK_ENTRY_CODES;
  if (USK_ENTRY <= entry && entry < USK_ENTRY + N_USK_ENTRIES) return USK_ENTRY_CODES;
  return OTHER_ENTRY_CODES;
}

constexpr auto SOURCE_NOT_LISTED_TEXT =
    rules::compose("an entry takes a code only when the code's source is in the entry's list (a code 0..",
                   PANEL_CODES - 1, " is a panel button, whose source MxifXptAssign assigns); a code refused "
                   "keeps the entry's value");
constexpr rules::Rule SOURCE_NOT_LISTED = {rules::Effect::REFUSES, SOURCE_NOT_LISTED_TEXT.chars};
constexpr auto NO_LOOP_TEXT =
    rules::compose("entries 0..", LAST_LOOP_ENTRY, " take neither the ME's own output nor that of an ME that "
                   "takes this ME's output, directly or through another ME (a loop)");
constexpr rules::Rule NO_LOOP = {rules::Effect::REFUSES, NO_LOOP_TEXT.chars};

}  // namespace buses

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
  // An entry's panel button codes go by what MxifXptAssign assigns the buttons: the ranges shown
  // are those of the start, where every button holds its default source, which only the spare
  // entry's list holds.
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    takeFields<false>(l, r);
  }
  // The same with the ME that the record's `me` names rather than its instance (MxifSwitchingCmd's).
  template <bool ME_OF_FIELD, class L, class R>
  static constexpr void takeFields(L& l, R& r) {
    for (int e = 0; e < N_ENTRIES; ++e) {
      if (ME_OF_FIELD && e <= buses::LAST_LOOP_ENTRY) {
        l.take(r.entries[e], buses::LOOP_ENTRY_CODES_OF_ME, r.me);
      } else {
        l.take(r.entries[e], buses::codesOf(e));
      }
      if (e != buses::SPARE_ENTRY) l.rule(r.entries[e], buses::SOURCE_NOT_LISTED, limits::refuses(0, buses::PANEL_CODES - 1));
      if (e <= buses::LAST_LOOP_ENTRY) l.rule(r.entries[e], buses::NO_LOOP);
    }
    l.take(r.programBus, 0, 1);
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
