#pragma once
// MxifImage (type 3, one record per ME): the image effects of the filter hardware (mosaic or
// defocus, posterize, colourise) on the four keys and the A and B background buses, and two
// sub-records for the background DVE that are kept and reported only.
//
// In memory the targets sit at the offsets that the background and key layers read (the enable
// bytes 12, 32, 92 and 112); on the wire the fields follow in the order of `fields`, big-endian,
// without the padding byte of the DVE sub-records: 148 bytes.
#include <cstddef>

#include "Lib/Include/codec.h"
#include "Lib/Include/limits.h"
#include "Lib/Include/records/bkgd.h"
#include "Lib/Include/records/panel.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

struct MxifImage {
  static constexpr int TYPE_INDEX = category::TYPE_IMAGE;
  static constexpr bool PER_ME = true;
  static constexpr int N_KEYS = 4;

  // Effect modes of `effectType`.
  static constexpr u8 EFFECT_NONE = 0, EFFECT_MOSAIC = 1, EFFECT_DEFOCUS = 2;

  // One image-effect target (20 bytes). Presence bits in the order of the fields' meaning: the
  // wire carries colourise before the effect type, as the bits go.
  struct Target {
    static constexpr int BIT_ENABLE = 0;
    u32 mask = 0;
    u8 enable = 0;        // bit 0: 1 the effect is on
    u8 posterize = 0;     // bit 1
    s16 posterizeY = 0;   // bit 2: luminance steps 0..7
    s16 posterizeC = 0;   // bit 3: chroma steps 0..7
    u8 option1 = 0;       // bit 4: kept and reported
    u8 option2 = 0;       // bit 5: kept and reported
    u8 effectType = 0;    // bit 9: EFFECT_*
    u8 colorize = 0;      // bit 6
    s16 hue = 0;          // bit 7: tenths of a degree
    s16 saturation = 0;   // bit 8: tenths of a percent
    s16 level = 0;        // bit 10: mosaic or defocus level in tenths

    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.field("enable", r.enable, r.mask, 0);
      v.field("posterize", r.posterize, r.mask, 1);
      v.field("posterizeY", r.posterizeY, r.mask, 2);
      v.field("posterizeC", r.posterizeC, r.mask, 3);
      v.field("option1", r.option1, r.mask, 4);
      v.field("option2", r.option2, r.mask, 5);
      v.field("colorize", r.colorize, r.mask, 6);
      v.field("hue", r.hue, r.mask, 7);
      v.field("saturation", r.saturation, r.mask, 8);
      v.field("effectType", r.effectType, r.mask, 9);
      v.field("level", r.level, r.mask, 10);
    }
    template <class L, class R>
    static constexpr void limits(L& l, R& r) {
      l.take(r.enable, 0, 1);
      l.take(r.posterize, 0, 1);
      l.take(r.posterizeY, 0, 7);
      l.take(r.posterizeC, 0, 7);
      l.take(r.option1, 0, 1);
      l.take(r.option2, 0, 1);
      l.take(r.colorize, 0, 1);
      l.take(r.hue, MxifBkgd::COLOR[0].lo, MxifBkgd::COLOR[0].hi);  // as a colour's hue
      l.take(r.saturation, MxifBkgd::COLOR[1].lo, MxifBkgd::COLOR[1].hi);
      l.take(r.effectType, 0, EFFECT_DEFOCUS);
      l.take(r.level, 0, 1000);
    }
  };

  // A background DVE sub-record (12 bytes, 11 on the wire): kept and reported.
  struct Dve {
    u32 mask = 0;
    u8 flagA = 0;     // bit 0
    u8 flagB = 0;     // bit 1
    u8 flagC = 0;     // bit 3
    u8 pad = 0;       // not on the wire
    s16 amount = 0;   // bit 4
    s16 steps = 0;    // bit 2

    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.field("flagA", r.flagA, r.mask, 0);
      v.field("flagB", r.flagB, r.mask, 1);
      v.field("steps", r.steps, r.mask, 2);
      v.field("flagC", r.flagC, r.mask, 3);
      v.field("amount", r.amount, r.mask, 4);
    }
    template <class L, class R>
    static constexpr void limits(L& l, R& r) {
      l.take(r.flagA, 0, 1);
      l.take(r.flagB, 0, 1);
      l.take(r.steps, 0, 60);
      l.take(r.flagC, 0, 1);
      l.take(r.amount, 0, 1000);
    }
  };

  u32 mask = 0;
  u8 me = 0;
  u8 recordFlag = 0;  // mask bit 0
  u8 pad[2] = {};     // not on the wire
  Target imageKey[N_KEYS];
  Target imageA;
  Target imageB;
  Dve bkgdDveA;
  Dve bkgdDveB;

  static constexpr ElementNames<N_KEYS> KEY_NAMES{"imageKey"};

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    codec::meField(v, "me", r.me);
    for (int k = 0; k < N_KEYS; ++k) v.sub(KEY_NAMES(k), r.imageKey[k]);
    v.sub("imageA", r.imageA);
    v.sub("imageB", r.imageB);
    v.field("recordFlag", r.recordFlag, r.mask, 0);
    v.sub("bkgdDveA", r.bkgdDveA);
    v.sub("bkgdDveB", r.bkgdDveB);
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    for (const Target& t : r.imageKey) l.sub(t);
    l.sub(r.imageA);
    l.sub(r.imageB);
    l.take(r.recordFlag, 0, 1);
    l.sub(r.bkgdDveA);
    l.sub(r.bkgdDveB);
  }
};
static_assert(sizeof(MxifImage::Target) == 20 && sizeof(MxifImage::Dve) == 12);
static_assert(sizeof(MxifImage) == 152);
static_assert(codec::wireSize<MxifImage>() == 148);
static_assert(offsetof(MxifImage, me) == 4 && offsetof(MxifImage, recordFlag) == 5);
// The enable bytes that the key and background layers read.
static_assert(offsetof(MxifImage, imageKey[0].enable) == 12 && offsetof(MxifImage, imageKey[1].enable) == 32);
static_assert(offsetof(MxifImage, imageA.enable) == 92 && offsetof(MxifImage, imageB.enable) == 112);
static_assert(offsetof(MxifImage, bkgdDveA) == 128 && offsetof(MxifImage, bkgdDveB) == 140);
