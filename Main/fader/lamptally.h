#pragma once
// What the panel lamps read of the tally, in one place: the bus-tally byte of an ME's bus entry
// (type 52) and group 0's exclusion flag of the peripheral record (type 28, byte 37).
#include "Lib/Include/records/bus.h"

namespace category {

// The bus-tally byte of entry 0..88 of ME 0..3: non-zero while the entry is on air; 0 for any other
// entry or ME.
int busTally(int me, int entry);

// Group 0's exclusion flag: while set, a key or downstream-key lamp that would show 1 (tallied)
// shows 2.
bool tallyLampExclusion();

// A key or downstream key as its lamps show it: tallied while the bus-tally entry of its fill is on
// air and no exclusion applies. Key k (0..3) of an ME is filled from entry KEY_FILL_ENTRY + 2k of
// its ME; downstream key c from entry DSK_FILL_ENTRY + 2c of ME index DSK_TALLY_ME.
constexpr int KEY_FILL_ENTRY = buses::KEY_FILL_ENTRY;
constexpr int DSK_TALLY_ME = 1;
constexpr int DSK_FILL_ENTRY = buses::FIRST_DSK_ENTRY;
bool layerTallied(int me, int entry);
bool keyTallied(int me, int k);
bool dskTallied(int c);

}  // namespace category
