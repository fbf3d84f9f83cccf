#pragma once
// Key hardware settings: the writers that turn a keyer's processing, box mask, edge, colours and
// stacking order into key-driver settings of the ME context the caller selected. The key channels,
// the downstream keys and the up-stream keys share them; each record layout hands its keyer fields
// over through keyerFields.
#include "Lib/Include/records/dsk.h"
#include "Lib/Include/records/key.h"
#include "Lib/Include/records/usk.h"
#include "Lib/Include/rules.h"

namespace libmx {

// The keyer fields of one record layout, and the record they lie in (its type, ME and channel).
struct KeyerFields {
  KeyStyle* style;  // the key-source flag may be corrected in the live record
  const KeyAdjust* adjust;
  u8 maskMode;  // 0 off, 1 the fixed box of the video format, 2 maskBox
  u8 maskSense;
  u8 maskEnable;
  const s16* maskBox;  // left, top, bottom, right in ten-thousandths, y upwards
  int type;
  const void* record;
  int me, channel;
};
KeyerFields keyerFields(MxifKey& r, int me, int channel);
KeyerFields keyerFields(MxifDsk& r, int channel);
// Mask flag A is the sense byte, flag B the enable byte.
KeyerFields keyerFields(MxifUpStreamKey& r, int channel);

// A colour triple (hue, saturation, luminance in tenths) to 10-bit Y, Cb, Cr by the system format,
// written to a colour target of mxSetColor; ycc (three codes) receives them unless null.
void setKeyMatteColor(int target, const s16 hsl[3], u16* ycc = nullptr);

// Whether an on-air request (want; -1 none) asks a key or downstream key for a change. One equal to
// the layer's on-air byte changes nothing; in a run towards the other state, where it is the state the
// request asked for, the rule that says so is noted.
template <class R>
bool onAirRequestChanges(const R& r, s32 want, const rules::Rule& rule) {
  if (want == -1) return false;
  if (want != r.onAir) return true;
  if (r.inTransition == 1 && (r.reverse == 0) != (want == 1)) {
    rules::note(rule, r, r.onAir);
    rules::input(r, r.inTransition);
    rules::input(r, r.reverse);
  }
  return false;
}

// Key type 0 takes no key-source flag: a set flag is cleared in the live record and reported.
void correctKeySource(const KeyerFields& f);

// The style correction, the box mask and the key processing of one keyer target.
void writeKeyParams(const KeyerFields& f, int target);

// The edge of a key or downstream key target, when its sub-record carries changes or the system
// category applied a format change this frame.
void writeKeyEdgeIfChanged(const KeyEdge& edge, int target);
void applyKeyEdge(const KeyEdge& edge, int target);

// The soft window of an ME key: centre x, y (-5000..5000, y upwards), width and height
// (0..10000), kept inside the frame; the softness (0..1000) counts only while softOn is 1.
void applyKeyMask(int target, const s16 window[4], int softness, int softOn);

// The stacking order from the ranks of the four keys: per rank 0..2 the highest-numbered key that
// holds it, or MX_KEY1 + 2 x rank when none does.
void writeKeyPriority(const u8 rank[4]);
// The same for the four downstream keys, from MX_DSK1.
void writeDskPriority(const u8 rank[4]);

// The position, rotation and size of follower t (key channel 0..3, whose range the size is brought
// into) from key s by s's mirror mode, with their presence bits; false, copying nothing, for a
// mirror mode outside 0..3.
bool copyKeyGeometry(const MxifKey& s, MxifKey& t, int channel);

}  // namespace libmx
