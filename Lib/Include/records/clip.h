#pragma once
// Records of the stills and clips: clip play (type 10), clip record (11), clip register (12), clip
// status (13), still memory (23) and still status (24). Each is laid out so that a byte's offset
// in memory is its offset on the wire (a presence word, then bytes only).
#include "Lib/Include/codec.h"
#include "Lib/Include/limits.h"
#include "Lib/Include/records/plain.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

// Clip play, one channel per clip player 0..3 (byte 4). Byte 20 = 7 with byte 21 = an ME links
// the player to that ME's transition.
struct MxifClipPlay {
  static constexpr int TYPE_INDEX = category::TYPE_CLIP_PLAY;
  static constexpr int N_CHANNELS = 4;
  static constexpr u8 MODE_TRANSITION = 7;
  u32 mask;
  u8 channel;
  u8 body[15];   // bit 0
  u8 mode;       // bit 1
  u8 linkedMe;   // bit 2
  u8 tail[2];    // bit 0

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    codec::channelField(v, "channel", r.channel);
    v.field("body", r.body, r.mask, 0);
    v.field("mode", r.mode, r.mask, 1);
    v.field("linkedMe", r.linkedMe, r.mask, 2);
    v.field("tail", r.tail, r.mask, 0);
  }
  // Every field takes what its width holds: the back end keeps it as sent.
  template <class L, class R>
  static constexpr void limits(L&, R&) {}
};
static_assert(sizeof(MxifClipPlay) == 24);
static_assert(codec::wireSize<MxifClipPlay>() == 24);
static_assert(offsetof(MxifClipPlay, mode) == 20);
static_assert(offsetof(MxifClipPlay, linkedMe) == 21);

// Clip record (single): byte 4 the clip channel 0..3, byte 13 = 1 while it records.
struct MxifClipRec {
  static constexpr int TYPE_INDEX = category::TYPE_CLIP_REC;
  u32 mask;
  u8 channel;    // bit 0
  u8 body[8];    // bit 1
  u8 recording;  // bit 2
  u8 tail[2];    // bit 1

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("channel", r.channel, r.mask, 0);
    v.field("body", r.body, r.mask, 1);
    v.field("recording", r.recording, r.mask, 2);
    v.field("tail", r.tail, r.mask, 1);
  }
  // Every field takes what its width holds: the back end keeps it as sent.
  template <class L, class R>
  static constexpr void limits(L&, R&) {}
};
static_assert(sizeof(MxifClipRec) == 16);
static_assert(codec::wireSize<MxifClipRec>() == 16);
static_assert(offsetof(MxifClipRec, recording) == 13);

struct MxifClipRegister : MxifPlainRecord<category::TYPE_CLIP_REGISTER, 1, 16> {};
static_assert(sizeof(MxifClipRegister) == 16);
static_assert(codec::wireSize<MxifClipRegister>() == 16);

// Clip status entries 0..84 (byte 4 the entry); entry 81 + c belongs to clip player c, whose byte
// 42 tells that the player is ready for a linked transition.
struct MxifClipStatus {
  static constexpr int TYPE_INDEX = category::TYPE_CLIP_STATUS;
  static constexpr int N_CHANNELS = 85;
  static constexpr int FIRST_PLAYER = 81;
  u32 mask;
  u8 entry;
  u8 body[37];  // bit 0
  u8 ready;     // bit 1
  u8 tail;      // bit 0

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    codec::channelField(v, "entry", r.entry);
    v.field("body", r.body, r.mask, 0);
    v.field("ready", r.ready, r.mask, 1);
    v.field("tail", r.tail, r.mask, 0);
  }
  // Every field takes what its width holds: the back end keeps it as sent.
  template <class L, class R>
  static constexpr void limits(L&, R&) {}
};
static_assert(sizeof(MxifClipStatus) == 44);
static_assert(codec::wireSize<MxifClipStatus>() == 44);
static_assert(offsetof(MxifClipStatus, ready) == 42);

// Still memory (single): byte 4 the still store 0..3, byte 14 = 1 while it captures.
struct MxifStillMemory {
  static constexpr int TYPE_INDEX = category::TYPE_STILL_MEMORY;
  u32 mask;
  u8 store;      // bit 0
  u8 body[9];    // bit 1
  u8 capturing;  // bit 2
  u8 tail;       // bit 1

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("store", r.store, r.mask, 0);
    v.field("body", r.body, r.mask, 1);
    v.field("capturing", r.capturing, r.mask, 2);
    v.field("tail", r.tail, r.mask, 1);
  }
  // Every field takes what its width holds: the back end keeps it as sent.
  template <class L, class R>
  static constexpr void limits(L&, R&) {}
};
static_assert(sizeof(MxifStillMemory) == 16);
static_assert(codec::wireSize<MxifStillMemory>() == 16);
static_assert(offsetof(MxifStillMemory, capturing) == 14);

// Still status, one channel per still store 0..3.
struct MxifStillStatus : MxifPlainRecord<category::TYPE_STILL_STATUS, 4, 16> {};
static_assert(sizeof(MxifStillStatus) == 16);
static_assert(codec::wireSize<MxifStillStatus>() == 16);
