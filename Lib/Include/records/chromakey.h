#pragma once
// MxifChromaKey (type 1): the chroma key settings of the four key channels of one ME, one 28-byte
// record per channel; MxifChromaKeyCmd (type 77): re-reads one channel's data block.
//
// On the wire both are big-endian without padding: the record's body is 25 bytes, the command's 11.
#include <cstddef>

#include "Lib/Include/codec.h"
#include "Lib/Include/limits.h"
#include "Lib/Include/shared.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

struct MxifChromaKey {
  static constexpr int TYPE_INDEX = category::TYPE_CHROMA_KEY;
  static constexpr int N_CHANNELS = 4;
  static constexpr bool PER_ME = true;
  // An instance keeps the keyer part of each channel's data block in the backup image, ahead of its
  // four records.
  static constexpr int BACKUP_BLOCK_BYTES = N_CHANNELS * CHROMA_KEYER_BYTES;

  // Bits of `mask`.
  enum Bit {
    RANGE_BASE = 0, RANGE_WIDTH = 1, SAMPLE_KEY = 2, MODE_SELECT = 3, OUTPUT_POINT = 4, SAMPLE_CENTRE = 5,
    SAMPLE_SIZE = 6, EXTRA = 7,  // extra[i] under bit 7 + i
  };
  static constexpr u32 ALL_BITS = 0x3FF;

  u32 mask = 0;
  u8 me = 0;
  u16 channel = 0;      // key channel 0..3
  u8 rangeBase = 0;
  s16 rangeWidth = 0;   // written to the keyer divided by 5
  u8 sampleKey = 0;     // 0 none, 1..4 the key channel whose sample box is in use (one value per ME)
  u8 modeSelect = 0;    // one value per ME
  u8 outputPoint = 0;   // non-zero: the channel's output-point flag is set
  s16 sampleX = 0;      // sample box centre in 1/10000 of the frame (one value per ME)
  s16 sampleY = 0;      // positive upwards
  s16 sampleSize = 0;
  s16 extra[3] = {};    // carried for the front end

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    codec::meField(v, "me", r.me);
    codec::channelField(v, "channel", r.channel);
    v.field("rangeBase", r.rangeBase, r.mask, RANGE_BASE);
    v.field("rangeWidth", r.rangeWidth, r.mask, RANGE_WIDTH);
    v.field("sampleKey", r.sampleKey, r.mask, SAMPLE_KEY);
    v.field("modeSelect", r.modeSelect, r.mask, MODE_SELECT);
    v.field("outputPoint", r.outputPoint, r.mask, OUTPUT_POINT);
    v.field("sampleX", r.sampleX, r.mask, SAMPLE_CENTRE);
    v.field("sampleY", r.sampleY, r.mask, SAMPLE_CENTRE);
    v.field("sampleSize", r.sampleSize, r.mask, SAMPLE_SIZE);
    v.each("extra", r.extra, r.mask, EXTRA);
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.rangeBase, 0, 3);
    l.take(r.rangeWidth, -40, 40);
    l.take(r.sampleKey, 0, N_CHANNELS);
    l.take(r.modeSelect, 0, 3);
    l.take(r.outputPoint, 0, 14);
    l.take(r.sampleX, -10000, 10000);
    l.take(r.sampleY, -10000, 10000);
    l.take(r.sampleSize, 100, 10000);
    l.take(r.extra, -1000, 1000);
  }
};

static_assert(sizeof(MxifChromaKey) == 28);
static_assert(codec::wireSize<MxifChromaKey>() == 25);
static_assert(offsetof(MxifChromaKey, me) == 4 && offsetof(MxifChromaKey, channel) == 6);
static_assert(offsetof(MxifChromaKey, rangeBase) == 8 && offsetof(MxifChromaKey, rangeWidth) == 10);
static_assert(offsetof(MxifChromaKey, sampleKey) == 12 && offsetof(MxifChromaKey, modeSelect) == 13);
static_assert(offsetof(MxifChromaKey, outputPoint) == 14 && offsetof(MxifChromaKey, sampleX) == 16);
static_assert(offsetof(MxifChromaKey, sampleY) == 18 && offsetof(MxifChromaKey, sampleSize) == 20);
static_assert(offsetof(MxifChromaKey, extra) == 22);

struct MxifChromaKeyCmd {
  static constexpr int TYPE_INDEX = category::TYPE_CHROMA_KEY_CMD;
  static constexpr s16 DONE = 0, REFUSED = -2;
  static constexpr s16 KIND_MAX = 3;

  u8 first = 0;   // echoed
  u8 second = 0;  // echoed
  s16 kind = 0;   // each re-reads the block
  s16 reply = 0;  // ignored on receipt
  u8 me = 0;
  s16 channel = 0;  // key channel
  u8 trailing[2] = {};  // echoed

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.field("first", r.first);
    v.field("second", r.second);
    v.field("kind", r.kind);
    codec::tag(v, codec::REPLY);
    v.field("reply", r.reply);
    v.field("me", r.me);
    v.field("channel", r.channel);
    v.field("trailing", r.trailing);
  }
  // What the command acts on (the first, second and trailing bytes are echoed whatever they hold): a
  // kind or channel outside these is refused; an ME outside them gets no answer.
  static constexpr auto NO_ANSWER_OUTSIDE = &MxifChromaKeyCmd::me;
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.kind, 0, KIND_MAX);
    l.take(r.me, 0, category::N_ME - 1);
    l.take(r.channel, 0, MxifChromaKey::N_CHANNELS - 1);
  }
};
static_assert(sizeof(MxifChromaKeyCmd) == 12);
static_assert(codec::wireSize<MxifChromaKeyCmd>() == 11);
