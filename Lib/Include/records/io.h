#pragma once
// Records of the video inputs, outputs and multiview: extended display (type 32), custom
// information (33), source names (39), multiview (40), DVI inputs (41), video inputs (42) and
// outputs (43). Each is laid out so that a byte's offset in memory is its offset on the wire.
#include "Lib/Include/codec.h"
#include "Lib/Include/limits.h"
#include "Lib/Include/records/plain.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

// Extended display (single). Byte 4 non-zero: the extended display owns external output 3 (the
// bus does not route to it), fed from the assignment of AUX bus `aux` (1..24; 0 none).
struct MxifExtendedDisplay {
  static constexpr int TYPE_INDEX = category::TYPE_EXTENDED_DISPLAY;
  u32 mask;
  u8 display;   // bit 0
  u8 aux;       // bit 1
  u8 body[10];  // bit 2

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("display", r.display, r.mask, 0);
    v.field("aux", r.aux, r.mask, 1);
    v.field("body", r.body, r.mask, 2);
  }
  // Every field takes what its width holds: the back end keeps it as sent.
  template <class L, class R>
  static constexpr void limits(L&, R&) {}
};
static_assert(sizeof(MxifExtendedDisplay) == 16);
static_assert(codec::wireSize<MxifExtendedDisplay>() == 16);
static_assert(offsetof(MxifExtendedDisplay, display) == 4);

// Custom information (single): byte 4 enables it; one source per custom-information channel; eight
// ME slot words (bytes 56 + 4 s), each 0 or the number + 1 of an ME: the key preset rows 0..3 show
// the keys of ME row s on their own ME's lamps (0) or on the second lamp bank of the ME named.
struct MxifCustomInfo {
  static constexpr int TYPE_INDEX = category::TYPE_CUSTOM_INFO;
  static constexpr int N_SOURCES = 36;
  static constexpr int N_SLOTS = 8;
  u32 mask;
  u8 enable;             // bit 0
  u8 body[3];            // bit 1
  u32 sourceMask[2];
  u8 source[N_SOURCES];  // sourceMask bit c
  u32 slotMask;
  u32 meSlot[N_SLOTS];   // slotMask bit s

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("enable", r.enable, r.mask, 0);
    v.field("body", r.body, r.mask, 1);
    v.mask("sourceMask", r.sourceMask);
    v.each("source", r.source, r.sourceMask, 0);
    v.mask("slotMask", r.slotMask);
    v.each("meSlot", r.meSlot, r.slotMask, 0);
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.meSlot, 0, category::N_ME);  // 0, or the number + 1 of an ME
  }
};
static_assert(sizeof(MxifCustomInfo) == 88);
static_assert(codec::wireSize<MxifCustomInfo>() == 88);
static_assert(offsetof(MxifCustomInfo, slotMask) == 52 && offsetof(MxifCustomInfo, meSlot) == 56);

struct MxifSourceName : MxifPlainRecord<category::TYPE_SOURCE_NAME, 1, 16> {};
static_assert(sizeof(MxifSourceName) == 16);
static_assert(codec::wireSize<MxifSourceName>() == 16);

// Multiview, one channel per multiview window 0..7 (byte 4). Presence bit 7 carries the labels,
// so setting it re-sends what the window shows.
struct MxifMultiView {
  static constexpr int TYPE_INDEX = category::TYPE_MULTI_VIEW;
  static constexpr int N_CHANNELS = 8;
  static constexpr u32 REDRAW_BIT = 0x80;
  u32 mask;
  u8 channel;
  u8 format;      // bit 0, with formatFlag
  u8 formatFlag;
  u8 body;        // bit 1
  u8 labels[8];   // bit 7

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    codec::channelField(v, "channel", r.channel);
    v.field("format", r.format, r.mask, 0);
    v.field("formatFlag", r.formatFlag, r.mask, 0);
    v.field("body", r.body, r.mask, 1);
    v.field("labels", r.labels, r.mask, 7);
  }
  // Every field takes what its width holds: the back end keeps it as sent.
  template <class L, class R>
  static constexpr void limits(L&, R&) {}
};
static_assert(sizeof(MxifMultiView) == 16);
static_assert(codec::wireSize<MxifMultiView>() == 16);

// DVI inputs 0 and 1 (sources 140 and 141).
struct MxifInputDvi : MxifPlainRecord<category::TYPE_INPUT_DVI, 2, 16> {};
static_assert(sizeof(MxifInputDvi) == 16);
static_assert(codec::wireSize<MxifInputDvi>() == 16);

// Video inputs, one record per SDI input 0..127 (source 10 + n, byte 4). Byte 9 = 1 leaves the
// input out of tally; `state` is the input's state word.
struct MxifInputVideo {
  static constexpr int TYPE_INDEX = category::TYPE_INPUT_VIDEO;
  static constexpr int N_CHANNELS = 128;
  u32 mask;
  u8 input;
  u8 body[4];     // bit 0
  u8 tallyOff;    // bit 1
  u8 pad[2];      // bit 0
  u32 state;      // bit 2
  u8 byte16;      // bit 3
  u8 tail[51];    // bit 0

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    codec::channelField(v, "input", r.input);
    v.field("body", r.body, r.mask, 0);
    v.field("tallyOff", r.tallyOff, r.mask, 1);
    v.field("pad", r.pad, r.mask, 0);
    v.field("state", r.state, r.mask, 2);
    v.field("byte16", r.byte16, r.mask, 3);
    v.field("tail", r.tail, r.mask, 0);
  }
};
static_assert(sizeof(MxifInputVideo) == 68);
static_assert(codec::wireSize<MxifInputVideo>() == 68);
static_assert(offsetof(MxifInputVideo, tallyOff) == 9);
static_assert(offsetof(MxifInputVideo, byte16) == 16);

// Outputs (single): the source code of each output 0..15 (1..16: AUX bus 1..16; 0 and other codes
// leave the output as it is).
struct MxifOutput {
  static constexpr int TYPE_INDEX = category::TYPE_OUTPUT;
  static constexpr int N_OUTPUTS = 16;
  u32 mask;
  u8 index;
  u8 body[3];            // bit 0
  u32 sourceMask;
  u8 source[N_OUTPUTS];  // sourceMask bit n

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("index", r.index);
    v.field("body", r.body, r.mask, 0);
    v.mask("sourceMask", r.sourceMask);
    v.each("source", r.source, r.sourceMask, 0);
  }
  // Every field takes what its width holds: the back end keeps it as sent.
  template <class L, class R>
  static constexpr void limits(L&, R&) {}
};
static_assert(sizeof(MxifOutput) == 28);
static_assert(codec::wireSize<MxifOutput>() == 28);
